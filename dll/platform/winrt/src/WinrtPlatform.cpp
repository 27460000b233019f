// The Windows Runtime platform: entry points of the runtime classes, the classic radio search and the
// kernel services.
#include <windows.h>

#include "Advertisement.h"
#include "Com.h"
#include "Device.h"
#include "Enumeration.h"
#include "Gatt.h"
#include "Radio.h"
#include "Sleep.h"
#include "qb7720/platform/Backends.h"

namespace qb::winrt {
namespace {

class WinrtPlatform final : public platform::Platform {
  public:
    std::shared_ptr<platform::DeviceWatcher> deviceInformationCreateWatcher(
        const std::string& aqsFilter, const std::vector<std::string>& additionalProperties,
        platform::DeviceInformationKind kind) override {
        return createDeviceWatcher(aqsFilter, additionalProperties, kind);
    }

    std::shared_ptr<platform::BluetoothLEAdvertisementWatcher> createBluetoothLEAdvertisementWatcher()
        override {
        return createAdvertisementWatcher();
    }

    std::shared_ptr<platform::BluetoothLEDevice> bluetoothLEDeviceFromId(
        const std::string& deviceId) override {
        return deviceFromId(deviceId);
    }

    std::shared_ptr<platform::BluetoothLEDevice> bluetoothLEDeviceFromBluetoothAddress(
        std::uint64_t address) override {
        return deviceFromAddress(address);
    }

    std::shared_ptr<platform::GattSession> gattSessionFromDeviceId(
        const std::string& bluetoothDeviceId) override {
        return winrt::gattSessionFromDeviceId(bluetoothDeviceId);
    }

    std::unique_ptr<platform::BluetoothRadioFind> bluetoothFindFirstRadio() override {
        return findFirstRadio();
    }

    std::optional<int> localControllerVersion() override { return winrt::localControllerVersion(); }

    void sleep(std::chrono::milliseconds duration) override { preciseSleep(duration); }

    bool initializeApartment() override {
        // S_FALSE (already multithreaded on this thread) counts as success.
        return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    }

    void outputDebugString(const std::string& line) override {
        std::wstring wide;
        try {
            wide = toWide(line);
        } catch (const platform::PlatformError&) {
            return;
        }
        OutputDebugStringW(wide.c_str());
    }
};

}  // namespace

std::shared_ptr<platform::Platform> createPlatform() {
    return std::make_shared<WinrtPlatform>();
}

}  // namespace qb::winrt
