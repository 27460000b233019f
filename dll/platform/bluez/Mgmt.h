// The local controller's Bluetooth version through the kernel's management socket
// (Read Controller Information; no privileges needed).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace qb::bluez::mgmt {

inline constexpr std::uint16_t kOpReadInfo = 0x0004;
inline constexpr std::uint16_t kEvCommandComplete = 0x0001;
inline constexpr std::uint16_t kEvCommandStatus = 0x0002;

enum class ReplyKind { Unrelated, Failed, Version };

struct Reply {
    ReplyKind kind = ReplyKind::Unrelated;
    int version = 0;
};

// Judges one packet read from the socket: the answer to Read Controller Information for this
// controller index, a failure of it, or something else. Bounds-checked; any bytes are safe.
Reply parseReadInfoReply(const std::uint8_t* data, std::size_t size, std::uint16_t index);

// Asks controller hciN; nothing when the socket or the controller does not answer in time.
std::optional<int> readControllerVersion(std::uint16_t index, std::chrono::milliseconds timeout);

}  // namespace qb::bluez::mgmt
