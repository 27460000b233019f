// The advertising and scan response payloads of a bridge, as AD structures of at most 31 bytes:
// flags, the bridge's manufacturer data and its name in the advertisement; the name again in the
// scan response. Pure.
#pragma once

#include <cstdint>
#include <string>

#include "Wire.h"

namespace qb::hci {

inline constexpr std::size_t kLegacyAdvertisingPayload = 31;

Bytes bridgeAdvertisingData(const std::string& name, std::uint8_t tag);
Bytes bridgeScanResponseData(const std::string& name);

// The LE Set Advertising Data / Scan Response Data parameters: the length, then 31 bytes.
Bytes advertisingCommandParameters(ByteView payload);

// The advertising interval in 0.625 ms units, within what legacy advertising allows.
std::uint16_t advertisingIntervalUnits(unsigned milliseconds);

}  // namespace qb::hci
