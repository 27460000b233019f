#include "Gatt.h"

#include "Await.h"
#include "Buffer.h"
#include "Com.h"
#include "Delegate.h"

namespace qb::winrt {
namespace {

using ValueChangedDelegate =
    wf::ITypedEventHandler<gatt::GattCharacteristic*, gatt::GattValueChangedEventArgs*>;

platform::GattCommunicationStatus toPlatform(gatt::GattCommunicationStatus status) {
    return static_cast<platform::GattCommunicationStatus>(status);
}

wdb::BluetoothCacheMode toAbi(platform::BluetoothCacheMode mode) {
    return mode == platform::BluetoothCacheMode::Uncached ? wdb::BluetoothCacheMode_Uncached
                                                          : wdb::BluetoothCacheMode_Cached;
}

}  // namespace

platform::Guid WinrtCharacteristic::uuid() {
    GUID value{};
    check(characteristic_->get_Uuid(&value), "GattCharacteristic.Uuid");
    return fromGuid(value);
}

std::uint32_t WinrtCharacteristic::characteristicProperties() {
    UINT32 value = 0;
    check(characteristic_->get_CharacteristicProperties(&value),
          "GattCharacteristic.CharacteristicProperties");
    return value;
}

std::uint16_t WinrtCharacteristic::attributeHandle() {
    UINT16 value = 0;
    check(characteristic_->get_AttributeHandle(&value), "GattCharacteristic.AttributeHandle");
    return value;
}

platform::GattCommunicationStatus WinrtCharacteristic::writeValueWithResult(
    const platform::Bytes& value, platform::GattWriteOption option) {
    auto characteristic3 = query<gatt::IGattCharacteristic3>(characteristic_, "GattCharacteristic3");
    ComPtr<wss::IBuffer> buffer = bufferFromBytes(value);
    ComPtr<wf::IAsyncOperation<gatt::GattWriteResult*>> operation;
    check(characteristic3->WriteValueWithResultAndOptionAsync(
              buffer.Get(), static_cast<gatt::GattWriteOption>(option), operation.GetAddressOf()),
          "GattCharacteristic.WriteValueWithResultAsync");
    auto result = await(operation, "GattCharacteristic.WriteValueWithResultAsync");
    if (!result) raise(E_POINTER, "GattCharacteristic.WriteValueWithResultAsync");
    gatt::GattCommunicationStatus status = gatt::GattCommunicationStatus_Unreachable;
    check(result->get_Status(&status), "GattWriteResult.Status");
    return toPlatform(status);
}

platform::GattReadResult WinrtCharacteristic::readValue(platform::BluetoothCacheMode mode) {
    ComPtr<wf::IAsyncOperation<gatt::GattReadResult*>> operation;
    check(characteristic_->ReadValueWithCacheModeAsync(toAbi(mode), operation.GetAddressOf()),
          "GattCharacteristic.ReadValueAsync");
    auto result = await(operation, "GattCharacteristic.ReadValueAsync");
    if (!result) raise(E_POINTER, "GattCharacteristic.ReadValueAsync");
    platform::GattReadResult read;
    gatt::GattCommunicationStatus status = gatt::GattCommunicationStatus_Unreachable;
    check(result->get_Status(&status), "GattReadResult.Status");
    read.status = toPlatform(status);
    if (read.status == platform::GattCommunicationStatus::Success) {
        ComPtr<wss::IBuffer> value;
        check(result->get_Value(value.GetAddressOf()), "GattReadResult.Value");
        read.value = bytesFromBuffer(value.Get());
    }
    return read;
}

platform::GattCommunicationStatus WinrtCharacteristic::writeClientCharacteristicConfigurationDescriptor(
    platform::GattClientCharacteristicConfigurationDescriptorValue value) {
    ComPtr<wf::IAsyncOperation<gatt::GattCommunicationStatus>> operation;
    check(characteristic_->WriteClientCharacteristicConfigurationDescriptorAsync(
              static_cast<gatt::GattClientCharacteristicConfigurationDescriptorValue>(value),
              operation.GetAddressOf()),
          "GattCharacteristic.WriteClientCharacteristicConfigurationDescriptorAsync");
    return toPlatform(
        await(operation, "GattCharacteristic.WriteClientCharacteristicConfigurationDescriptorAsync"));
}

platform::EventToken WinrtCharacteristic::addValueChanged(ValueChangedHandler handler) {
    // The sender the library sees is this wrapper: the one it keeps in its lists and compares.
    std::weak_ptr<WinrtCharacteristic> self = weak_from_this();
    auto delegate = EventDelegate<ValueChangedDelegate>::create(
        [self, handler = std::move(handler)](gatt::IGattCharacteristic*,
                                             gatt::IGattValueChangedEventArgs* args) {
            auto characteristic = self.lock();
            if (!characteristic || args == nullptr) return;
            ComPtr<wss::IBuffer> value;
            check(args->get_CharacteristicValue(value.GetAddressOf()),
                  "GattValueChangedEventArgs.CharacteristicValue");
            handler(*characteristic, bytesFromBuffer(value.Get()));
        });
    EventRegistrationToken t{};
    check(characteristic_->add_ValueChanged(delegate.Get(), &t), "GattCharacteristic.ValueChanged");
    return t.value;
}

void WinrtCharacteristic::removeValueChanged(platform::EventToken token) {
    EventRegistrationToken t{};
    t.value = token;
    check(characteristic_->remove_ValueChanged(t), "GattCharacteristic.ValueChanged");
}

platform::Guid WinrtService::uuid() {
    GUID value{};
    check(service_->get_Uuid(&value), "GattDeviceService.Uuid");
    return fromGuid(value);
}

platform::DeviceAccessStatus WinrtService::requestAccess() {
    auto service3 = query<gatt::IGattDeviceService3>(service_, "GattDeviceService3");
    ComPtr<wf::IAsyncOperation<wde::DeviceAccessStatus>> operation;
    check(service3->RequestAccessAsync(operation.GetAddressOf()), "GattDeviceService.RequestAccessAsync");
    return static_cast<platform::DeviceAccessStatus>(
        await(operation, "GattDeviceService.RequestAccessAsync"));
}

platform::GattCharacteristicsResult WinrtService::getCharacteristics(platform::BluetoothCacheMode mode) {
    auto service3 = query<gatt::IGattDeviceService3>(service_, "GattDeviceService3");
    ComPtr<wf::IAsyncOperation<gatt::GattCharacteristicsResult*>> operation;
    check(service3->GetCharacteristicsWithCacheModeAsync(toAbi(mode), operation.GetAddressOf()),
          "GattDeviceService.GetCharacteristicsAsync");
    auto result = await(operation, "GattDeviceService.GetCharacteristicsAsync");
    if (!result) raise(E_POINTER, "GattDeviceService.GetCharacteristicsAsync");
    platform::GattCharacteristicsResult characteristics;
    gatt::GattCommunicationStatus status = gatt::GattCommunicationStatus_Unreachable;
    check(result->get_Status(&status), "GattCharacteristicsResult.Status");
    characteristics.status = toPlatform(status);
    if (characteristics.status != platform::GattCommunicationStatus::Success) return characteristics;
    ComPtr<wfc::IVectorView<gatt::GattCharacteristic*>> list;
    check(result->get_Characteristics(list.GetAddressOf()), "GattCharacteristicsResult.Characteristics");
    UINT32 count = 0;
    if (list) check(list->get_Size(&count), "GattCharacteristicsResult.Characteristics");
    for (UINT32 i = 0; i < count; ++i) {
        ComPtr<gatt::IGattCharacteristic> characteristic;
        check(list->GetAt(i, characteristic.GetAddressOf()), "GattCharacteristicsResult.Characteristics");
        if (characteristic) {
            characteristics.characteristics.push_back(
                std::make_shared<WinrtCharacteristic>(std::move(characteristic)));
        }
    }
    return characteristics;
}

std::uint16_t WinrtSession::maxPduSize() {
    UINT16 value = 0;
    check(session_->get_MaxPduSize(&value), "GattSession.MaxPduSize");
    return value;
}

bool WinrtSession::canMaintainConnection() {
    boolean value = false;
    check(session_->get_CanMaintainConnection(&value), "GattSession.CanMaintainConnection");
    return value != 0;
}

bool WinrtSession::maintainConnection() {
    boolean value = false;
    check(session_->get_MaintainConnection(&value), "GattSession.MaintainConnection");
    return value != 0;
}

void WinrtSession::setMaintainConnection(bool value) {
    check(session_->put_MaintainConnection(value), "GattSession.MaintainConnection");
}

std::shared_ptr<platform::GattSession> gattSessionFromDeviceId(const std::string& bluetoothDeviceId) {
    auto idStatics = activationFactory<wdb::IBluetoothDeviceIdStatics>(
        RuntimeClass_Windows_Devices_Bluetooth_BluetoothDeviceId);
    HString text(bluetoothDeviceId);
    ComPtr<wdb::IBluetoothDeviceId> id;
    check(idStatics->FromId(text.get(), id.GetAddressOf()), "BluetoothDeviceId.FromId");
    auto statics = activationFactory<gatt::IGattSessionStatics>(
        RuntimeClass_Windows_Devices_Bluetooth_GenericAttributeProfile_GattSession);
    ComPtr<wf::IAsyncOperation<gatt::GattSession*>> operation;
    check(statics->FromDeviceIdAsync(id.Get(), operation.GetAddressOf()), "GattSession.FromDeviceIdAsync");
    auto session = await(operation, "GattSession.FromDeviceIdAsync");
    if (!session) return nullptr;
    return std::make_shared<WinrtSession>(std::move(session));
}

}  // namespace qb::winrt
