// The standard services and characteristics an open leaves out, and the filter that uses them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "qb7720/platform/Guid.h"

namespace qb::dll {

struct KnownUuid {
    std::uint16_t value;
    std::string_view name;
};

// Built once, never changed.
const std::vector<KnownUuid>& knownServices();         // 22 rows
const std::vector<KnownUuid>& knownCharacteristics();  // 101 rows

// False only for a Bluetooth SIG 16-bit UUID listed in the table; vendor UUIDs always pass.
bool passesUuidFilter(const platform::Guid& uuid, const std::vector<KnownUuid>& table);

}  // namespace qb::dll
