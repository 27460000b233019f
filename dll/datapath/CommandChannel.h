// Command exchanges on the bridge's command characteristic, built on the data exports (each of
// which takes the library lock for itself).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "QB7720DLL.h"
#include "qb7720/protocol/Bytes.h"
#include "qb7720/protocol/Types.h"

namespace qb::dll {

inline constexpr std::uint16_t kReceiveUuid = static_cast<std::uint16_t>(protocol::BridgeCharacteristic::Receive);
inline constexpr std::uint16_t kTransmitUuid = static_cast<std::uint16_t>(protocol::BridgeCharacteristic::Transmit);
inline constexpr std::uint16_t kCommandUuid = static_cast<std::uint16_t>(protocol::BridgeCharacteristic::Command);
inline constexpr std::uint32_t kReplyCapacity = 512;

// Callers look at the low byte only.
inline bool succeeded(BridgeResult result) {
    return (result & 0xFF) == BridgeResultOk;
}

void platformSleep(std::chrono::milliseconds duration);

bool writeCommand(QB7720DeviceHandle handle, const protocol::Bytes& frame, bool withResponse);

// One read into a cleared buffer of the given capacity.
struct Reply {
    std::array<std::uint8_t, kReplyCapacity> bytes{};
    std::uint32_t length = 0;
    protocol::ByteView view() const { return {bytes.data(), length}; }
};
bool readReply(QB7720DeviceHandle handle, Reply& reply, std::uint32_t capacity = kReplyCapacity);

// Waits the bridge's 100 ms and reads the one reply.
bool awaitReply(QB7720DeviceHandle handle, Reply& reply);

}  // namespace qb::dll
