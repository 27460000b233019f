// What a bridge is, apart from its frames: its service, the handle hosts write serial data to, how
// long it takes to have a reply ready, and the manufacturer data of its advertisements. Every part
// that serves, finds or talks to a bridge takes these from here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "qb7720/protocol/Bytes.h"
#include "qb7720/protocol/Types.h"

namespace qb::protocol {

// The vendor service holding the three characteristics of BridgeCharacteristic.
inline constexpr std::uint16_t kBridgeServiceUuid = 0xFFF0;
// The attribute handle of Transmit's value, where the terminal writes without a lookup.
inline constexpr std::uint16_t kTransmitValueHandle = 19;
// A command's reply is read this long after the command was written.
inline constexpr std::chrono::milliseconds kReplyDelay{100};

// Manufacturer data: company 0xAB57; bytes 0..1 the firmware revision (not examined), 2..6 "QB772",
// 7 the tag byte; more bytes may follow.
inline constexpr std::uint16_t kBridgeCompanyId = 0xAB57;
inline constexpr std::string_view kBridgeMarker = "QB772";
inline constexpr std::size_t kBridgeMarkerOffset = 2;
inline constexpr std::size_t kBridgeTagOffset = kBridgeMarkerOffset + kBridgeMarker.size();
inline constexpr std::size_t kBridgeDataMinimum = kBridgeTagOffset + 1;

// The data bytes of the section (without the company id), as a bridge of this revision sends them.
Bytes encodeBridgeManufacturerData(std::uint8_t tag, std::uint16_t revision = 0x0001);
// The tag when the section marks a bridge, else nothing.
std::optional<std::uint8_t> bridgeTag(std::uint16_t companyId, ByteView data);

}  // namespace qb::protocol
