#include <thread>

#include "qb7720/platform/Backends.h"

namespace qb::platform {
namespace {

class NullDeviceWatcher final : public DeviceWatcher {
  public:
    EventToken addAdded(AddedHandler h) override { return added_.add(std::move(h)); }
    void removeAdded(EventToken t) override { added_.remove(t); }
    EventToken addUpdated(UpdatedHandler h) override { return updated_.add(std::move(h)); }
    void removeUpdated(EventToken t) override { updated_.remove(t); }
    EventToken addRemoved(RemovedHandler h) override { return removed_.add(std::move(h)); }
    void removeRemoved(EventToken t) override { removed_.remove(t); }
    EventToken addEnumerationCompleted(SimpleHandler h) override { return completed_.add(std::move(h)); }
    void removeEnumerationCompleted(EventToken t) override { completed_.remove(t); }
    EventToken addStopped(SimpleHandler h) override { return stopped_.add(std::move(h)); }
    void removeStopped(EventToken t) override { stopped_.remove(t); }
    void start() override {}
    void stop() override {}

  private:
    EventSource<DeviceWatcher&, std::shared_ptr<DeviceInformation>> added_;
    EventSource<DeviceWatcher&, const DeviceInformationUpdate&> updated_, removed_;
    EventSource<DeviceWatcher&> completed_, stopped_;
};

class NullAdvertisementWatcher final : public BluetoothLEAdvertisementWatcher {
  public:
    EventToken addReceived(ReceivedHandler h) override { return received_.add(std::move(h)); }
    void removeReceived(EventToken t) override { received_.remove(t); }
    EventToken addStopped(StoppedHandler h) override { return stopped_.add(std::move(h)); }
    void removeStopped(EventToken t) override { stopped_.remove(t); }
    void start() override {}
    void stop() override {}

  private:
    EventSource<BluetoothLEAdvertisementWatcher&, const BluetoothLEAdvertisementReceivedEventArgs&> received_;
    EventSource<BluetoothLEAdvertisementWatcher&> stopped_;
};

class NullPlatform final : public Platform {
  public:
    std::shared_ptr<DeviceWatcher> deviceInformationCreateWatcher(const std::string&,
                                                                  const std::vector<std::string>&,
                                                                  DeviceInformationKind) override {
        return std::make_shared<NullDeviceWatcher>();
    }
    std::shared_ptr<BluetoothLEAdvertisementWatcher> createBluetoothLEAdvertisementWatcher() override {
        return std::make_shared<NullAdvertisementWatcher>();
    }
    std::shared_ptr<BluetoothLEDevice> bluetoothLEDeviceFromId(const std::string&) override {
        return nullptr;
    }
    std::shared_ptr<BluetoothLEDevice> bluetoothLEDeviceFromBluetoothAddress(std::uint64_t) override {
        return nullptr;
    }
    std::shared_ptr<GattSession> gattSessionFromDeviceId(const std::string&) override {
        throw PlatformError(hresult::kNotFound, "no such device");
    }
    std::unique_ptr<BluetoothRadioFind> bluetoothFindFirstRadio() override { return nullptr; }
    std::optional<int> localControllerVersion() override { return std::nullopt; }
    void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
    bool initializeApartment() override { return true; }
    void outputDebugString(const std::string&) override {}
};

}  // namespace

std::shared_ptr<Platform> createNullPlatform() {
    return std::make_shared<NullPlatform>();
}

}  // namespace qb::platform
