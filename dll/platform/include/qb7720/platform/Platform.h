// The platform the library runs on: the static entry points of the Windows Runtime classes it uses,
// the classic radio search, and the kernel services (sleep, debug output, apartment set-up).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qb7720/platform/Advertisement.h"
#include "qb7720/platform/Device.h"
#include "qb7720/platform/Enumeration.h"
#include "qb7720/platform/Gatt.h"
#include "qb7720/platform/PlatformError.h"
#include "qb7720/platform/Radio.h"

namespace qb::platform {

class Platform {
  public:
    virtual ~Platform() = default;

    // DeviceInformation::CreateWatcher(aqsFilter, additionalProperties, kind).
    virtual std::shared_ptr<DeviceWatcher> deviceInformationCreateWatcher(
        const std::string& aqsFilter, const std::vector<std::string>& additionalProperties,
        DeviceInformationKind kind) = 0;

    // new BluetoothLEAdvertisementWatcher() with default settings.
    virtual std::shared_ptr<BluetoothLEAdvertisementWatcher> createBluetoothLEAdvertisementWatcher() = 0;

    // BluetoothLEDevice::FromIdAsync: null when no device matches.
    virtual std::shared_ptr<BluetoothLEDevice> bluetoothLEDeviceFromId(const std::string& deviceId) = 0;
    // BluetoothLEDevice::FromBluetoothAddressAsync: null when no device matches.
    virtual std::shared_ptr<BluetoothLEDevice> bluetoothLEDeviceFromBluetoothAddress(
        std::uint64_t address) = 0;

    // GattSession::FromDeviceIdAsync(BluetoothDeviceId).
    virtual std::shared_ptr<GattSession> gattSessionFromDeviceId(const std::string& bluetoothDeviceId) = 0;

    // BluetoothFindFirstRadio: null when the search finds nothing.
    virtual std::unique_ptr<BluetoothRadioFind> bluetoothFindFirstRadio() = 0;

    // The local controller's HCI version number (0 = 1.0b ... 12 = 5.3), or nothing when no radio answers.
    virtual std::optional<int> localControllerVersion() = 0;

    // Sleep(ms). Every fixed wait of the libraries goes through here.
    virtual void sleep(std::chrono::milliseconds duration) = 0;

    // CoInitializeEx(COINIT_MULTITHREADED) on the calling thread: true on success.
    virtual bool initializeApartment() = 0;

    // OutputDebugStringW, or its stand-in.
    virtual void outputDebugString(const std::string& line) = 0;
};

// The platform of this process: the emulator when QB7720_EMULATOR is set (its value is the emulator's
// configuration), else the real platform of this system. Created on first use.
Platform& current();
std::shared_ptr<Platform> currentShared();
// Replaces the platform of this process (tests). Objects already obtained keep their old backend.
void setCurrent(std::shared_ptr<Platform> platform);

}  // namespace qb::platform
