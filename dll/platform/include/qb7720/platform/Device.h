// A Bluetooth LE device (Windows: BluetoothLEDevice).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qb7720/platform/Event.h"
#include "qb7720/platform/Gatt.h"

namespace qb::platform {

enum class BluetoothConnectionStatus : std::int32_t { Disconnected = 0, Connected = 1 };

struct GattDeviceServicesResult {
    GattCommunicationStatus status = GattCommunicationStatus::Unreachable;
    std::vector<std::shared_ptr<GattDeviceService>> services;
};

class BluetoothLEDevice {
  public:
    // Raised on a platform thread each time the connection status changes.
    using ConnectionStatusChangedHandler = std::function<void(BluetoothLEDevice& sender)>;

    virtual ~BluetoothLEDevice() = default;

    virtual BluetoothConnectionStatus connectionStatus() = 0;
    virtual EventToken addConnectionStatusChanged(ConnectionStatusChangedHandler handler) = 0;
    virtual void removeConnectionStatusChanged(EventToken token) = 0;

    // Connects when needed; the services in the device's order.
    virtual GattDeviceServicesResult getGattServices(BluetoothCacheMode mode) = 0;

    // The identifier GattSession::fromDeviceId takes.
    virtual std::string bluetoothDeviceId() = 0;
    // The 48-bit address in the low bits.
    virtual std::uint64_t bluetoothAddress() = 0;
    virtual std::string name() = 0;

    // IClosable::Close: drops the connection this object holds.
    virtual void close() = 0;
};

}  // namespace qb::platform
