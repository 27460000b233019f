#include "BridgeAdvert.h"

#include "qb7720/platform/BluetoothAddress.h"
#include "qb7720/protocol/BridgeFacts.h"

namespace qb::devicelib {

const platform::BluetoothLEManufacturerData* findBridgeData(
    const std::vector<platform::BluetoothLEManufacturerData>& sections) {
    for (const auto& section : sections) {
        if (protocol::bridgeTag(section.companyId, section.data)) return &section;
    }
    return nullptr;
}

std::string formatAddress(std::uint64_t address) {
    return platform::BluetoothAddress(address).toUpperString();
}

std::optional<std::uint64_t> parseAddress(std::string_view text) {
    const auto address = platform::BluetoothAddress::parse(text);
    if (!address) return std::nullopt;
    return address->value();
}

}  // namespace qb::devicelib
