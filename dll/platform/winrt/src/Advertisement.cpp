#include "Advertisement.h"

#include "Buffer.h"
#include "Com.h"
#include "Delegate.h"

namespace qb::winrt {
namespace {

using ReceivedDelegate = wf::ITypedEventHandler<adv::BluetoothLEAdvertisementWatcher*,
                                                adv::BluetoothLEAdvertisementReceivedEventArgs*>;
using StoppedDelegate = wf::ITypedEventHandler<adv::BluetoothLEAdvertisementWatcher*,
                                               adv::BluetoothLEAdvertisementWatcherStoppedEventArgs*>;

EventRegistrationToken token(platform::EventToken value) {
    EventRegistrationToken t{};
    t.value = value;
    return t;
}

}  // namespace

platform::BluetoothLEAdvertisementReceivedEventArgs readAdvertisement(
    adv::IBluetoothLEAdvertisementReceivedEventArgs* args) {
    platform::BluetoothLEAdvertisementReceivedEventArgs result;
    UINT64 address = 0;
    check(args->get_BluetoothAddress(&address), "BluetoothLEAdvertisementReceivedEventArgs.BluetoothAddress");
    result.bluetoothAddress = address;
    INT16 rssi = 0;
    check(args->get_RawSignalStrengthInDBm(&rssi),
          "BluetoothLEAdvertisementReceivedEventArgs.RawSignalStrengthInDBm");
    result.rawSignalStrengthInDBm = rssi;
    adv::BluetoothLEAdvertisementType type = adv::BluetoothLEAdvertisementType_ConnectableUndirected;
    check(args->get_AdvertisementType(&type), "BluetoothLEAdvertisementReceivedEventArgs.AdvertisementType");
    result.advertisementType = static_cast<platform::BluetoothLEAdvertisementType>(type);

    ComPtr<adv::IBluetoothLEAdvertisement> advertisement;
    check(args->get_Advertisement(advertisement.GetAddressOf()),
          "BluetoothLEAdvertisementReceivedEventArgs.Advertisement");
    if (!advertisement) return result;
    HString name;
    check(advertisement->get_LocalName(name.put()), "BluetoothLEAdvertisement.LocalName");
    result.localName = name.utf8();

    ComPtr<wfc::IVector<adv::BluetoothLEManufacturerData*>> sections;
    check(advertisement->get_ManufacturerData(sections.GetAddressOf()),
          "BluetoothLEAdvertisement.ManufacturerData");
    if (!sections) return result;
    UINT32 count = 0;
    check(sections->get_Size(&count), "BluetoothLEAdvertisement.ManufacturerData");
    for (UINT32 i = 0; i < count; ++i) {
        ComPtr<adv::IBluetoothLEManufacturerData> section;
        check(sections->GetAt(i, section.GetAddressOf()), "BluetoothLEAdvertisement.ManufacturerData");
        if (!section) continue;
        platform::BluetoothLEManufacturerData data;
        check(section->get_CompanyId(&data.companyId), "BluetoothLEManufacturerData.CompanyId");
        ComPtr<wss::IBuffer> bytes;
        check(section->get_Data(bytes.GetAddressOf()), "BluetoothLEManufacturerData.Data");
        data.data = bytesFromBuffer(bytes.Get());
        result.manufacturerData.push_back(std::move(data));
    }
    return result;
}

platform::EventToken WinrtAdvertisementWatcher::addReceived(ReceivedHandler handler) {
    std::weak_ptr<WinrtAdvertisementWatcher> self = weak_from_this();
    auto delegate = EventDelegate<ReceivedDelegate>::create(
        [self, handler = std::move(handler)](adv::IBluetoothLEAdvertisementWatcher*,
                                             adv::IBluetoothLEAdvertisementReceivedEventArgs* args) {
            auto watcher = self.lock();
            if (!watcher || args == nullptr) return;
            // An advertisement that cannot be read is dropped; the delegate swallows the error.
            handler(*watcher, readAdvertisement(args));
        });
    EventRegistrationToken t{};
    check(watcher_->add_Received(delegate.Get(), &t), "BluetoothLEAdvertisementWatcher.Received");
    return t.value;
}

void WinrtAdvertisementWatcher::removeReceived(platform::EventToken t) {
    check(watcher_->remove_Received(token(t)), "BluetoothLEAdvertisementWatcher.Received");
}

platform::EventToken WinrtAdvertisementWatcher::addStopped(StoppedHandler handler) {
    std::weak_ptr<WinrtAdvertisementWatcher> self = weak_from_this();
    auto delegate = EventDelegate<StoppedDelegate>::create(
        [self, handler = std::move(handler)](adv::IBluetoothLEAdvertisementWatcher*,
                                             adv::IBluetoothLEAdvertisementWatcherStoppedEventArgs*) {
            if (auto watcher = self.lock()) handler(*watcher);
        });
    EventRegistrationToken t{};
    check(watcher_->add_Stopped(delegate.Get(), &t), "BluetoothLEAdvertisementWatcher.Stopped");
    return t.value;
}

void WinrtAdvertisementWatcher::removeStopped(platform::EventToken t) {
    check(watcher_->remove_Stopped(token(t)), "BluetoothLEAdvertisementWatcher.Stopped");
}

void WinrtAdvertisementWatcher::start() {
    check(watcher_->Start(), "BluetoothLEAdvertisementWatcher.Start");
}

void WinrtAdvertisementWatcher::stop() {
    check(watcher_->Stop(), "BluetoothLEAdvertisementWatcher.Stop");
}

std::shared_ptr<platform::BluetoothLEAdvertisementWatcher> createAdvertisementWatcher() {
    auto watcher = activateInstance<adv::IBluetoothLEAdvertisementWatcher>(
        RuntimeClass_Windows_Devices_Bluetooth_Advertisement_BluetoothLEAdvertisementWatcher);
    return std::make_shared<WinrtAdvertisementWatcher>(std::move(watcher));
}

}  // namespace qb::winrt
