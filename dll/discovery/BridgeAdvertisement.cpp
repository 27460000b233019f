#include "BridgeAdvertisement.h"

#include <cstring>

namespace qb::dll::discovery {
namespace {
constexpr char kMarker[] = "QB772";
constexpr std::size_t kMarkerOffset = 2;
constexpr std::size_t kMarkerLength = sizeof kMarker - 1;
constexpr std::size_t kTagOffset = kMarkerOffset + kMarkerLength;
}  // namespace

BridgeAddress addressBytes(std::uint64_t bluetoothAddress) {
    BridgeAddress bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(bluetoothAddress >> (8 * (bytes.size() - 1 - i)));
    }
    return bytes;
}

std::optional<std::uint8_t> bridgeTag(const platform::BluetoothLEManufacturerData& section) {
    if (section.companyId != kBridgeCompanyId) return std::nullopt;
    const auto& data = section.data;
    if (data.size() <= kTagOffset) return std::nullopt;
    if (std::memcmp(data.data() + kMarkerOffset, kMarker, kMarkerLength) != 0) return std::nullopt;
    return data[kTagOffset];
}

}  // namespace qb::dll::discovery
