// The platform on BlueZ: connects to the bus on first use, so a process that never touches the
// radio never needs the system bus.
#pragma once

#include <memory>
#include <mutex>

#include "Context.h"
#include "qb7720/platform/Platform.h"

namespace qb::bluez {

class BluezPlatform : public platform::Platform {
  public:
    std::shared_ptr<platform::DeviceWatcher> deviceInformationCreateWatcher(
        const std::string& aqsFilter, const std::vector<std::string>& additionalProperties,
        platform::DeviceInformationKind kind) override;
    std::shared_ptr<platform::BluetoothLEAdvertisementWatcher> createBluetoothLEAdvertisementWatcher()
        override;
    std::shared_ptr<platform::BluetoothLEDevice> bluetoothLEDeviceFromId(
        const std::string& deviceId) override;
    std::shared_ptr<platform::BluetoothLEDevice> bluetoothLEDeviceFromBluetoothAddress(
        std::uint64_t address) override;
    std::shared_ptr<platform::GattSession> gattSessionFromDeviceId(
        const std::string& bluetoothDeviceId) override;
    std::unique_ptr<platform::BluetoothRadioFind> bluetoothFindFirstRadio() override;
    std::optional<int> localControllerVersion() override;
    void sleep(std::chrono::milliseconds duration) override;
    bool initializeApartment() override { return true; }
    void outputDebugString(const std::string& line) override;

    // Throws PlatformError when the bus cannot be reached.
    std::shared_ptr<Context> context();

  private:
    std::mutex mutex_;
    std::shared_ptr<Context> context_;
};

// The controller version of the adapter at this path: the kernel's management socket first, the
// adapter's Version property (newer daemons) second.
std::optional<int> adapterVersion(Context& context, const std::string& adapterPath);

}  // namespace qb::bluez
