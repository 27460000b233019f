// A peripheral's GATT database as the emulator models it: services in the device's order, each
// characteristic with its properties and attribute handles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qb7720/platform/Device.h"
#include "qb7720/platform/Gatt.h"
#include "qb7720/platform/Guid.h"

namespace qb::emulator {

using platform::Bytes;
using platform::Guid;

struct CharacteristicSpec {
    Guid uuid;
    std::uint32_t properties = 0;  // platform::gatt_property bits
    Bytes value;                   // what a read returns until something writes it
};

struct ServiceSpec {
    Guid uuid;
    std::vector<CharacteristicSpec> characteristics;
    // What RequestAccess answers; anything but Allowed also makes GetCharacteristics answer AccessDenied.
    platform::DeviceAccessStatus access = platform::DeviceAccessStatus::Allowed;
};

// Handles as the device assigns them: service declaration, then per characteristic its declaration,
// its value, and a client configuration descriptor when it notifies or indicates.
struct CharacteristicEntry {
    Guid uuid;
    std::uint32_t properties = 0;
    std::uint16_t declarationHandle = 0;
    std::uint16_t valueHandle = 0;
    std::uint16_t cccdHandle = 0;  // 0 when it has none
};

struct ServiceEntry {
    Guid uuid;
    std::uint16_t startHandle = 0;
    std::uint16_t endHandle = 0;
    platform::DeviceAccessStatus access = platform::DeviceAccessStatus::Allowed;
    std::vector<CharacteristicEntry> characteristics;
};

// Generic Access (0x1800) with the device name, and Device Information (0x180A).
std::vector<ServiceSpec> standardServices(const std::string& deviceName);

}  // namespace qb::emulator
