// Recognising a bridge in an advertisement. Pure: the manufacturer data comes from any radio in range
// and is untrusted, so every read is bounds-checked.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "qb7720/platform/Advertisement.h"
#include "qb7720/protocol/BridgeFacts.h"

namespace qb::dll::discovery {

inline constexpr std::uint16_t kBridgeCompanyId = protocol::kBridgeCompanyId;

// The 48-bit address, most significant byte first.
using BridgeAddress = std::array<std::uint8_t, 6>;

BridgeAddress addressBytes(std::uint64_t bluetoothAddress);

// The tag byte when the section marks a bridge.
std::optional<std::uint8_t> bridgeTag(const platform::BluetoothLEManufacturerData& section);

// Calls sink(const BridgeAddress&, std::int32_t rssi, std::uint8_t tag) once for every bridge section
// of a connectable undirected advertisement, in section order.
template <typename Sink>
void forEachBridgeReport(const platform::BluetoothLEAdvertisementReceivedEventArgs& args, Sink&& sink) {
    if (args.advertisementType != platform::BluetoothLEAdvertisementType::ConnectableUndirected) return;
    const BridgeAddress address = addressBytes(args.bluetoothAddress);
    const std::int32_t rssi = args.rawSignalStrengthInDBm;
    for (const auto& section : args.manufacturerData) {
        if (auto tag = bridgeTag(section)) sink(address, rssi, *tag);
    }
}

}  // namespace qb::dll::discovery
