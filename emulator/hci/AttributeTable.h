// The model's GATT database laid out as the attribute table an ATT server serves: one row per
// handle, with the declarations' values worked out (service UUIDs, characteristic properties, value
// handles). Values of characteristics stay with the model and are read from it on demand.
#pragma once

#include <cstdint>
#include <vector>

#include "Wire.h"
#include "qb7720/emulator/Device.h"

namespace qb::hci {

struct Attribute {
    enum class Kind { Service, CharacteristicDeclaration, Value, ClientConfiguration, Descriptor };
    std::uint16_t handle = 0;
    Kind kind = Kind::Service;
    platform::Guid type;
    Bytes declaration;             // the value of a service or characteristic declaration
    std::uint16_t valueHandle = 0;  // the characteristic it belongs to (0 for a service)
    std::uint32_t properties = 0;   // that characteristic's properties
    std::uint16_t groupEnd = 0;     // a service's last handle
};

// Rows in handle order; handles the model left unassigned have no row.
std::vector<Attribute> attributeTable(const emulator::VirtualDevice& device);

}  // namespace qb::hci
