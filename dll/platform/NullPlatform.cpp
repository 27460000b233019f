#include <thread>

#include "qb7720/platform/Backends.h"
#include "qb7720/platform/WatcherEvents.h"

namespace qb::platform {
namespace {

class NullDeviceWatcher final : public DeviceWatcherEvents {
  public:
    void start() override {}
    void stop() override {}
};

class NullAdvertisementWatcher final : public AdvertisementWatcherEvents {
  public:
    void start() override {}
    void stop() override {}
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
