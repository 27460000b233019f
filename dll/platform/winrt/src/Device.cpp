#include "Device.h"

#include "Await.h"
#include "Com.h"
#include "Delegate.h"
#include "Gatt.h"

namespace qb::winrt {
namespace {

using StatusDelegate = wf::ITypedEventHandler<wdb::BluetoothLEDevice*, IInspectable*>;

ComPtr<wdb::IBluetoothLEDeviceStatics> statics() {
    return activationFactory<wdb::IBluetoothLEDeviceStatics>(
        RuntimeClass_Windows_Devices_Bluetooth_BluetoothLEDevice);
}

std::shared_ptr<platform::BluetoothLEDevice> wrap(ComPtr<wdb::IBluetoothLEDevice> device) {
    if (!device) return nullptr;
    return std::make_shared<WinrtDevice>(std::move(device));
}

}  // namespace

platform::BluetoothConnectionStatus WinrtDevice::connectionStatus() {
    wdb::BluetoothConnectionStatus status = wdb::BluetoothConnectionStatus_Disconnected;
    check(device_->get_ConnectionStatus(&status), "BluetoothLEDevice.ConnectionStatus");
    return status == wdb::BluetoothConnectionStatus_Connected
               ? platform::BluetoothConnectionStatus::Connected
               : platform::BluetoothConnectionStatus::Disconnected;
}

platform::EventToken WinrtDevice::addConnectionStatusChanged(ConnectionStatusChangedHandler handler) {
    // The library finds its session by comparing the sender with the object it holds: pass this wrapper.
    std::weak_ptr<WinrtDevice> self = weak_from_this();
    auto delegate = EventDelegate<StatusDelegate>::create(
        [self, handler = std::move(handler)](wdb::IBluetoothLEDevice*, IInspectable*) {
            if (auto device = self.lock()) handler(*device);
        });
    EventRegistrationToken t{};
    check(device_->add_ConnectionStatusChanged(delegate.Get(), &t),
          "BluetoothLEDevice.ConnectionStatusChanged");
    return t.value;
}

void WinrtDevice::removeConnectionStatusChanged(platform::EventToken token) {
    EventRegistrationToken t{};
    t.value = token;
    check(device_->remove_ConnectionStatusChanged(t), "BluetoothLEDevice.ConnectionStatusChanged");
}

platform::GattDeviceServicesResult WinrtDevice::getGattServices(platform::BluetoothCacheMode mode) {
    auto device3 = query<wdb::IBluetoothLEDevice3>(device_, "BluetoothLEDevice3");
    ComPtr<wf::IAsyncOperation<gatt::GattDeviceServicesResult*>> operation;
    check(device3->GetGattServicesWithCacheModeAsync(mode == platform::BluetoothCacheMode::Uncached
                                                         ? wdb::BluetoothCacheMode_Uncached
                                                         : wdb::BluetoothCacheMode_Cached,
                                                     operation.GetAddressOf()),
          "BluetoothLEDevice.GetGattServicesAsync");
    auto result = await(operation, "BluetoothLEDevice.GetGattServicesAsync");
    if (!result) raise(E_POINTER, "BluetoothLEDevice.GetGattServicesAsync");
    platform::GattDeviceServicesResult services;
    gatt::GattCommunicationStatus status = gatt::GattCommunicationStatus_Unreachable;
    check(result->get_Status(&status), "GattDeviceServicesResult.Status");
    services.status = static_cast<platform::GattCommunicationStatus>(status);
    if (services.status != platform::GattCommunicationStatus::Success) return services;
    ComPtr<wfc::IVectorView<gatt::GattDeviceService*>> list;
    check(result->get_Services(list.GetAddressOf()), "GattDeviceServicesResult.Services");
    UINT32 count = 0;
    if (list) check(list->get_Size(&count), "GattDeviceServicesResult.Services");
    for (UINT32 i = 0; i < count; ++i) {
        ComPtr<gatt::IGattDeviceService> service;
        check(list->GetAt(i, service.GetAddressOf()), "GattDeviceServicesResult.Services");
        if (service) services.services.push_back(std::make_shared<WinrtService>(std::move(service)));
    }
    return services;
}

std::string WinrtDevice::bluetoothDeviceId() {
    auto device4 = query<wdb::IBluetoothLEDevice4>(device_, "BluetoothLEDevice4");
    ComPtr<wdb::IBluetoothDeviceId> id;
    check(device4->get_BluetoothDeviceId(id.GetAddressOf()), "BluetoothLEDevice.BluetoothDeviceId");
    if (!id) raise(E_POINTER, "BluetoothLEDevice.BluetoothDeviceId");
    HString text;
    check(id->get_Id(text.put()), "BluetoothDeviceId.Id");
    return text.utf8();
}

std::uint64_t WinrtDevice::bluetoothAddress() {
    UINT64 address = 0;
    check(device_->get_BluetoothAddress(&address), "BluetoothLEDevice.BluetoothAddress");
    return address;
}

std::string WinrtDevice::name() {
    HString text;
    check(device_->get_Name(text.put()), "BluetoothLEDevice.Name");
    return text.utf8();
}

void WinrtDevice::close() {
    auto closable = query<wf::IClosable>(device_, "IClosable");
    check(closable->Close(), "BluetoothLEDevice.Close");
}

std::shared_ptr<platform::BluetoothLEDevice> deviceFromId(const std::string& id) {
    HString text(id);
    ComPtr<wf::IAsyncOperation<wdb::BluetoothLEDevice*>> operation;
    check(statics()->FromIdAsync(text.get(), operation.GetAddressOf()), "BluetoothLEDevice.FromIdAsync");
    return wrap(await(operation, "BluetoothLEDevice.FromIdAsync"));
}

std::shared_ptr<platform::BluetoothLEDevice> deviceFromAddress(std::uint64_t address) {
    ComPtr<wf::IAsyncOperation<wdb::BluetoothLEDevice*>> operation;
    check(statics()->FromBluetoothAddressAsync(address, operation.GetAddressOf()),
          "BluetoothLEDevice.FromBluetoothAddressAsync");
    return wrap(await(operation, "BluetoothLEDevice.FromBluetoothAddressAsync"));
}

}  // namespace qb::winrt
