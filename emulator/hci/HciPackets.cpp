#include "HciPackets.h"

// GCC 12 with optimisation and sanitizers takes the moves of an event into the nested variant for
// reads of the vectors of alternatives that are not there (a known false positive).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace qb::hci {
namespace {

constexpr std::uint8_t kEventDisconnectionComplete = 0x05;
constexpr std::uint8_t kEventCommandComplete = 0x0E;
constexpr std::uint8_t kEventCommandStatus = 0x0F;
constexpr std::uint8_t kEventHardwareError = 0x10;
constexpr std::uint8_t kEventCompletedPackets = 0x13;
constexpr std::uint8_t kEventLeMeta = 0x3E;
constexpr std::uint8_t kLeConnectionComplete = 0x01;
constexpr std::uint8_t kLeEnhancedConnectionComplete = 0x0A;
constexpr std::size_t kLeConnectionCompleteSize = 18;
constexpr std::size_t kLeEnhancedExtra = 12;  // local and peer resolvable private addresses

platform::BluetoothAddress readAddress(Reader& r) {
    const ByteView raw = r.take(6);
    platform::BluetoothAddress::ByteArray bytes{};
    for (std::size_t i = 0; i < raw.size(); ++i) bytes[i] = raw[i];
    return platform::BluetoothAddress::fromBytesLsbFirst(bytes);
}

Inbound decodeLeMeta(ByteView params) {
    Reader r(params);
    const std::uint8_t sub = r.u8();
    if (!r.ok()) return PacketError::LengthMismatch;
    if (sub != kLeConnectionComplete && sub != kLeEnhancedConnectionComplete) return Event{OtherEvent{kEventLeMeta, sub}};
    const std::size_t need =
        kLeConnectionCompleteSize + (sub == kLeEnhancedConnectionComplete ? kLeEnhancedExtra : 0);
    if (r.remaining() < need) return PacketError::LengthMismatch;
    LeConnectionComplete c;
    c.status = r.u8();
    c.handle = r.u16() & 0x0FFF;
    c.role = r.u8();
    c.peerAddressType = r.u8();
    c.peer = readAddress(r);
    if (sub == kLeEnhancedConnectionComplete) r.take(kLeEnhancedExtra);
    c.interval = r.u16();
    c.latency = r.u16();
    c.supervisionTimeout = r.u16();
    return Event{c};
}

Inbound decodeEvent(std::uint8_t code, ByteView params) {
    Reader r(params);
    switch (code) {
        case kEventCommandComplete: {
            CommandComplete c;
            c.credits = r.u8();
            c.opcode = r.u16();
            if (!r.ok()) return PacketError::LengthMismatch;
            const ByteView rest = r.rest();
            c.returned.assign(rest.begin(), rest.end());
            return Event{std::move(c)};
        }
        case kEventCommandStatus: {
            CommandStatus c;
            c.status = r.u8();
            c.credits = r.u8();
            c.opcode = r.u16();
            if (!r.ok()) return PacketError::LengthMismatch;
            return Event{c};
        }
        case kEventDisconnectionComplete: {
            DisconnectionComplete d;
            d.status = r.u8();
            d.handle = r.u16() & 0x0FFF;
            d.reason = r.u8();
            if (!r.ok()) return PacketError::LengthMismatch;
            return Event{d};
        }
        case kEventCompletedPackets: {
            const std::uint8_t n = r.u8();
            if (!r.ok() || r.remaining() != std::size_t{n} * 4) return PacketError::LengthMismatch;
            CompletedPackets p;
            for (std::uint8_t i = 0; i < n; ++i) {
                const std::uint16_t handle = r.u16() & 0x0FFF;
                p.counts.emplace_back(handle, r.u16());
            }
            return Event{std::move(p)};
        }
        case kEventHardwareError: {
            HardwareError e{r.u8()};
            if (!r.ok()) return PacketError::LengthMismatch;
            return Event{e};
        }
        case kEventLeMeta:
            return decodeLeMeta(params);
        default:
            return Event{OtherEvent{code, 0}};
    }
}

}  // namespace

std::optional<Bytes> encodeCommand(std::uint16_t opcode, ByteView parameters) {
    if (parameters.size() > 255) return std::nullopt;
    Writer w;
    w.u8(static_cast<std::uint8_t>(PacketType::Command)).u16(opcode);
    w.u8(static_cast<std::uint8_t>(parameters.size())).bytes(parameters);
    return w.take();
}

std::optional<Bytes> encodeAcl(std::uint16_t handle, AclBoundary boundary, ByteView data) {
    if (handle > 0x0EFF || data.size() > 0xFFFF) return std::nullopt;
    Writer w;
    w.u8(static_cast<std::uint8_t>(PacketType::Acl));
    w.u16(static_cast<std::uint16_t>(handle | static_cast<unsigned>(boundary) << 12));
    w.u16(static_cast<std::uint16_t>(data.size())).bytes(data);
    return w.take();
}

std::string describe(PacketError error) {
    switch (error) {
        case PacketError::Empty:
            return "empty packet";
        case PacketError::UnknownType:
            return "unknown packet type";
        case PacketError::Truncated:
            return "truncated packet";
        case PacketError::LengthMismatch:
            return "length does not match the header";
        case PacketError::BadBoundary:
            return "reserved ACL boundary flags";
    }
    return "bad packet";
}

Inbound decodePacket(ByteView h4) {
    if (h4.empty()) return PacketError::Empty;
    const std::uint8_t type = h4[0];
    Reader r(h4.drop(1));
    switch (type) {
        case static_cast<std::uint8_t>(PacketType::Event): {
            const std::uint8_t code = r.u8();
            const std::uint8_t length = r.u8();
            if (!r.ok() || r.remaining() < length) return PacketError::Truncated;
            if (r.remaining() > length) return PacketError::LengthMismatch;
            return decodeEvent(code, r.take(length));
        }
        case static_cast<std::uint8_t>(PacketType::Acl): {
            const std::uint16_t word = r.u16();
            const std::uint16_t length = r.u16();
            if (!r.ok() || r.remaining() < length) return PacketError::Truncated;
            if (r.remaining() > length) return PacketError::LengthMismatch;
            const unsigned flags = (word >> 12) & 0x3;
            if (flags == 0x3) return PacketError::BadBoundary;
            AclData acl;
            acl.handle = word & 0x0FFF;
            acl.boundary = static_cast<AclBoundary>(flags);
            const ByteView data = r.take(length);
            acl.data.assign(data.begin(), data.end());
            return acl;
        }
        case static_cast<std::uint8_t>(PacketType::Command):
        case static_cast<std::uint8_t>(PacketType::Sco):
        case static_cast<std::uint8_t>(PacketType::Iso):
            return Ignored{static_cast<PacketType>(type)};
        default:
            return PacketError::UnknownType;
    }
}

}  // namespace qb::hci
