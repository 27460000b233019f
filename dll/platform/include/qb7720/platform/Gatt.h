// GATT client objects: characteristic, service, session. Names follow the Windows Runtime classes
// (GattCharacteristic, GattDeviceService, GattSession); every "...Async" operation is awaited inside
// the backend, so callers get the result or a PlatformError.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qb7720/platform/Event.h"
#include "qb7720/platform/Guid.h"

namespace qb::platform {

using Bytes = std::vector<std::uint8_t>;

enum class GattCommunicationStatus : std::int32_t {
    Success = 0,
    Unreachable = 1,
    ProtocolError = 2,
    AccessDenied = 3,
};

enum class GattWriteOption : std::int32_t { WriteWithResponse = 0, WriteWithoutResponse = 1 };

enum class BluetoothCacheMode : std::int32_t { Cached = 0, Uncached = 1 };

enum class GattClientCharacteristicConfigurationDescriptorValue : std::int32_t {
    None = 0,
    Notify = 1,
    Indicate = 2,
};

enum class DeviceAccessStatus : std::int32_t {
    Unspecified = 0,
    Allowed = 1,
    DeniedByUser = 2,
    DeniedBySystem = 3,
};

// GattCharacteristicProperties bits.
namespace gatt_property {
inline constexpr std::uint32_t kBroadcast = 0x01;
inline constexpr std::uint32_t kRead = 0x02;
inline constexpr std::uint32_t kWriteWithoutResponse = 0x04;
inline constexpr std::uint32_t kWrite = 0x08;
inline constexpr std::uint32_t kNotify = 0x10;
inline constexpr std::uint32_t kIndicate = 0x20;
}  // namespace gatt_property

struct GattReadResult {
    GattCommunicationStatus status = GattCommunicationStatus::Unreachable;
    Bytes value;
};

class GattCharacteristic {
  public:
    // sender, CharacteristicValue. Raised on a platform thread, once per notified value.
    using ValueChangedHandler = std::function<void(GattCharacteristic& sender, const Bytes& value)>;

    virtual ~GattCharacteristic() = default;

    virtual Guid uuid() = 0;
    virtual std::uint32_t characteristicProperties() = 0;
    // The attribute handle of the characteristic's value (what gattlib-style callers address).
    virtual std::uint16_t attributeHandle() = 0;

    virtual GattCommunicationStatus writeValueWithResult(const Bytes& value, GattWriteOption option) = 0;
    virtual GattReadResult readValue(BluetoothCacheMode mode) = 0;
    virtual GattCommunicationStatus writeClientCharacteristicConfigurationDescriptor(
        GattClientCharacteristicConfigurationDescriptorValue value) = 0;

    virtual EventToken addValueChanged(ValueChangedHandler handler) = 0;
    virtual void removeValueChanged(EventToken token) = 0;
};

struct GattCharacteristicsResult {
    GattCommunicationStatus status = GattCommunicationStatus::Unreachable;
    std::vector<std::shared_ptr<GattCharacteristic>> characteristics;
};

class GattDeviceService {
  public:
    virtual ~GattDeviceService() = default;

    virtual Guid uuid() = 0;
    virtual DeviceAccessStatus requestAccess() = 0;
    virtual GattCharacteristicsResult getCharacteristics(BluetoothCacheMode mode) = 0;
};

class GattSession {
  public:
    virtual ~GattSession() = default;

    // The ATT MTU of the connection.
    virtual std::uint16_t maxPduSize() = 0;
    virtual bool canMaintainConnection() = 0;
    virtual bool maintainConnection() = 0;
    virtual void setMaintainConnection(bool value) = 0;
};

}  // namespace qb::platform
