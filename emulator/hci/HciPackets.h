// HCI packets as they cross the user channel (H4: one type byte, then the packet): the commands the
// peripheral sends, and the events and ACL data it receives, decoded into plain structs. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "Wire.h"
#include "qb7720/platform/BluetoothAddress.h"

namespace qb::hci {

enum class PacketType : std::uint8_t { Command = 0x01, Acl = 0x02, Sco = 0x03, Event = 0x04, Iso = 0x05 };

namespace opcode {
inline constexpr std::uint16_t kDisconnect = 0x0406;
inline constexpr std::uint16_t kSetEventMask = 0x0C01;
inline constexpr std::uint16_t kReset = 0x0C03;
inline constexpr std::uint16_t kReadLocalVersion = 0x1001;
inline constexpr std::uint16_t kReadBufferSize = 0x1005;
inline constexpr std::uint16_t kReadBdAddr = 0x1009;
inline constexpr std::uint16_t kLeSetEventMask = 0x2001;
inline constexpr std::uint16_t kLeReadBufferSize = 0x2002;
inline constexpr std::uint16_t kLeSetAdvertisingParameters = 0x2006;
inline constexpr std::uint16_t kLeSetAdvertisingData = 0x2008;
inline constexpr std::uint16_t kLeSetScanResponseData = 0x2009;
inline constexpr std::uint16_t kLeSetAdvertiseEnable = 0x200A;
}  // namespace opcode

// HCI error codes the peripheral gives or meets.
namespace hci_error {
inline constexpr std::uint8_t kSuccess = 0x00;
inline constexpr std::uint8_t kUnknownConnection = 0x02;
inline constexpr std::uint8_t kCommandDisallowed = 0x0C;
inline constexpr std::uint8_t kRemoteUserTerminated = 0x13;
inline constexpr std::uint8_t kLocalHostTerminated = 0x16;
}  // namespace hci_error

// Packet-boundary flags of an ACL header.
enum class AclBoundary : std::uint8_t {
    FirstNonFlushable = 0x0,  // host to controller, start of an L2CAP frame
    Continuing = 0x1,
    FirstFlushable = 0x2,  // controller to host, start of an L2CAP frame
};

// The H4 command packet; nothing when the parameters do not fit the one-byte length.
std::optional<Bytes> encodeCommand(std::uint16_t opcode, ByteView parameters);
// The H4 ACL packet; nothing when the data does not fit the 16-bit length or the handle 12 bits.
std::optional<Bytes> encodeAcl(std::uint16_t handle, AclBoundary boundary, ByteView data);

struct CommandComplete {
    std::uint8_t credits = 0;  // commands the controller takes now
    std::uint16_t opcode = 0;
    Bytes returned;  // return parameters, status first (when there are any)
    std::uint8_t status() const { return returned.empty() ? 0xFF : returned[0]; }
};
struct CommandStatus {
    std::uint8_t status = 0;
    std::uint8_t credits = 0;
    std::uint16_t opcode = 0;
};
struct DisconnectionComplete {
    std::uint8_t status = 0;
    std::uint16_t handle = 0;
    std::uint8_t reason = 0;
};
struct CompletedPackets {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> counts;  // handle, packets
};
// LE Connection Complete and its enhanced form, which differs only in the addresses appended.
struct LeConnectionComplete {
    std::uint8_t status = 0;
    std::uint16_t handle = 0;
    std::uint8_t role = 0;  // 0 central, 1 peripheral
    std::uint8_t peerAddressType = 0;
    platform::BluetoothAddress peer;
    std::uint16_t interval = 0;  // 1.25 ms units
    std::uint16_t latency = 0;
    std::uint16_t supervisionTimeout = 0;  // 10 ms units
};
struct HardwareError {
    std::uint8_t code = 0;
};
// Any other well-formed event; the peripheral ignores it.
struct OtherEvent {
    std::uint8_t code = 0;
    std::uint8_t subevent = 0;  // for LE meta events
};

using Event = std::variant<CommandComplete, CommandStatus, DisconnectionComplete, CompletedPackets,
                           LeConnectionComplete, HardwareError, OtherEvent>;

struct AclData {
    std::uint16_t handle = 0;
    AclBoundary boundary = AclBoundary::FirstFlushable;
    Bytes data;
};

enum class PacketError {
    Empty,
    UnknownType,
    Truncated,       // shorter than its header says
    LengthMismatch,  // longer than its header says, or a parameter block of the wrong size
    BadBoundary,     // ACL packet-boundary flags of value 3
};
std::string describe(PacketError error);

// A packet the controller sent: an event, ACL data, or something else of a type the peripheral does
// not use (SCO, ISO, commands echoed back).
struct Ignored {
    PacketType type;
};
using Inbound = std::variant<Event, AclData, Ignored, PacketError>;

Inbound decodePacket(ByteView h4);

}  // namespace qb::hci
