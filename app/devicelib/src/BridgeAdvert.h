// Recognising a bridge in an advertisement, and the address text the terminal keys devices by.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qb7720/platform/Advertisement.h"
#include "qb7720/protocol/BridgeFacts.h"

namespace qb::devicelib {

inline constexpr std::uint16_t kBridgeCompanyId = protocol::kBridgeCompanyId;

// The first manufacturer section that marks a bridge: company 0xAB57, at least 8 bytes, "QB772" at
// bytes 2..6. Null when the advertisement has none.
const platform::BluetoothLEManufacturerData* findBridgeData(
    const std::vector<platform::BluetoothLEManufacturerData>& sections);

// "AA:BB:CC:DD:EE:FF" from the low 48 bits, most significant byte first.
std::string formatAddress(std::uint64_t address);
// The reverse; either case. Nothing unless the text is exactly six colon-separated hex pairs.
std::optional<std::uint64_t> parseAddress(std::string_view text);

}  // namespace qb::devicelib
