// UUIDs between the platform's form and the gattlib-typed one the terminal sees.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "QB7720lib.h"
#include "qb7720/platform/Guid.h"

namespace qb::devicelib {

// 16-bit SIG UUIDs become SDP_UUID16 (so 0xFFF1 reads "0xfff1"), everything else SDP_UUID128.
uuid_t toGattUuid(const platform::Guid& guid);

// "0xfff1" (case-insensitive, 1 to 4 hex digits) or a 128-bit UUID text. Nothing for anything else.
std::optional<platform::Guid> parseUuidText(std::string_view text);

// Whether a characteristic's UUID is the one the caller named: 16-bit names match on the short UUID,
// the way the bridge's characteristics are identified.
bool matchesUuid(const platform::Guid& characteristic, const platform::Guid& wanted);

}  // namespace qb::devicelib
