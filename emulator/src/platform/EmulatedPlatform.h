// The Platform the emulator hands out.
#pragma once

#include <memory>

#include "Core.h"

namespace qb::emulator::detail {

class EmulatedPlatform : public platform::Platform {
  public:
    explicit EmulatedPlatform(std::shared_ptr<Emulator> emulator) : emulator_(std::move(emulator)) {}

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
    bool initializeApartment() override;
    void outputDebugString(const std::string& line) override;

    const std::shared_ptr<Emulator>& emulator() const { return emulator_; }

  private:
    std::shared_ptr<VirtualDevice> deviceById(const std::string& id) const;

    std::shared_ptr<Emulator> emulator_;
};

}  // namespace qb::emulator::detail
