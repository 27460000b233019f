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
    // 16-bit UUIDs of descriptors after the client configuration (e.g. 0x2901, a user description).
    std::vector<std::uint16_t> descriptors;
};

struct ServiceSpec {
    Guid uuid;
    std::vector<CharacteristicSpec> characteristics;
    // What RequestAccess answers; anything but Allowed also makes GetCharacteristics answer AccessDenied.
    platform::DeviceAccessStatus access = platform::DeviceAccessStatus::Allowed;
};

// Handles as the device assigns them: service declaration, then per characteristic its declaration,
// its value, a client configuration descriptor when it notifies or indicates, then its other
// descriptors.
struct CharacteristicEntry {
    Guid uuid;
    std::uint32_t properties = 0;
    std::uint16_t declarationHandle = 0;
    std::uint16_t valueHandle = 0;
    std::uint16_t cccdHandle = 0;  // 0 when it has none
    std::uint16_t endHandle = 0;   // its last descriptor (or its value)
};

struct ServiceEntry {
    Guid uuid;
    std::uint16_t startHandle = 0;
    std::uint16_t endHandle = 0;
    platform::DeviceAccessStatus access = platform::DeviceAccessStatus::Allowed;
    std::vector<CharacteristicEntry> characteristics;
};

// Generic Access (0x1800: name, appearance, connection parameters) and Device Information (0x180A:
// manufacturer, model).
std::vector<ServiceSpec> standardServices(const std::string& deviceName);

// Assigns handles from 1 in order. Throws std::length_error past handle 0xFFFF.
std::vector<ServiceEntry> assignHandles(const std::vector<ServiceSpec>& services);

}  // namespace qb::emulator
