// Making and releasing the link to a bridge, on whatever thread the caller can afford to block.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "Connection.h"
#include "qb7720/protocol/Types.h"

namespace qb::devicelib {

inline constexpr std::uint16_t kReceiveUuid = static_cast<std::uint16_t>(protocol::BridgeCharacteristic::Receive);
inline constexpr std::uint16_t kTransmitUuid = static_cast<std::uint16_t>(protocol::BridgeCharacteristic::Transmit);
inline constexpr std::uint16_t kCommandUuid = static_cast<std::uint16_t>(protocol::BridgeCharacteristic::Command);

// The device connected, its characteristics discovered (all three of the bridge's among them) and its
// session obtained; nothing when any of it fails, with whatever was obtained released.
std::optional<Link> establishLink(const std::shared_ptr<platform::Platform>& platform, std::uint64_t address);

// Lets the device go; platform errors are swallowed, nothing more can be done about them. The objects
// stay, so that an operation still running on another thread fails cleanly instead of touching freed ones.
void dropLink(Link& link);

// The first characteristic (in discovery order) with this short UUID.
const Characteristic* findShortUuid(const std::vector<Characteristic>& characteristics,
                                    std::uint16_t shortUuid);

}  // namespace qb::devicelib
