#include "qb7720/protocol/BridgeFacts.h"

#include <algorithm>

namespace qb::protocol {

Bytes encodeBridgeManufacturerData(std::uint8_t tag, std::uint16_t revision) {
    Bytes data(kBridgeDataMinimum, 0);
    data[0] = static_cast<std::uint8_t>(revision & 0xFF);
    data[1] = static_cast<std::uint8_t>(revision >> 8);
    std::copy(kBridgeMarker.begin(), kBridgeMarker.end(), data.begin() + kBridgeMarkerOffset);
    data[kBridgeTagOffset] = tag;
    return data;
}

std::optional<std::uint8_t> bridgeTag(std::uint16_t companyId, ByteView data) {
    if (companyId != kBridgeCompanyId || data.size() < kBridgeDataMinimum) return std::nullopt;
    if (!std::equal(kBridgeMarker.begin(), kBridgeMarker.end(), data.begin() + kBridgeMarkerOffset)) {
        return std::nullopt;
    }
    return data[kBridgeTagOffset];
}

}  // namespace qb::protocol
