// BluetoothLEDevice over the runtime's device class.
#pragma once

#include <memory>
#include <string>

#include "Abi.h"
#include "qb7720/platform/Device.h"

namespace qb::winrt {

class WinrtDevice final : public platform::BluetoothLEDevice,
                          public std::enable_shared_from_this<WinrtDevice> {
  public:
    explicit WinrtDevice(ComPtr<wdb::IBluetoothLEDevice> device) : device_(std::move(device)) {}

    platform::BluetoothConnectionStatus connectionStatus() override;
    platform::EventToken addConnectionStatusChanged(ConnectionStatusChangedHandler handler) override;
    void removeConnectionStatusChanged(platform::EventToken token) override;
    platform::GattDeviceServicesResult getGattServices(platform::BluetoothCacheMode mode) override;
    std::string bluetoothDeviceId() override;
    std::uint64_t bluetoothAddress() override;
    std::string name() override;
    void close() override;

  private:
    ComPtr<wdb::IBluetoothLEDevice> device_;
};

// BluetoothLEDevice.FromIdAsync / FromBluetoothAddressAsync: null when no device matches.
std::shared_ptr<platform::BluetoothLEDevice> deviceFromId(const std::string& id);
std::shared_ptr<platform::BluetoothLEDevice> deviceFromAddress(std::uint64_t address);

}  // namespace qb::winrt
