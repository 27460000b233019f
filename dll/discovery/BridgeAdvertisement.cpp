#include "BridgeAdvertisement.h"

#include "qb7720/platform/BluetoothAddress.h"

namespace qb::dll::discovery {

BridgeAddress addressBytes(std::uint64_t bluetoothAddress) {
    return platform::BluetoothAddress(bluetoothAddress).bytesMsbFirst();
}

std::optional<std::uint8_t> bridgeTag(const platform::BluetoothLEManufacturerData& section) {
    return protocol::bridgeTag(section.companyId, section.data);
}

}  // namespace qb::dll::discovery
