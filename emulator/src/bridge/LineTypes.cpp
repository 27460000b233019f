#include <algorithm>
#include <cmath>

#include "qb7720/emulator/Bridge.h"

namespace qb::emulator {

unsigned LineSettings::bitsPerCharacter() const {
    // Out-of-range fields are what a host may send; the UART clamps them rather than stalling.
    const unsigned data = std::clamp<unsigned>(dataBits, 5, 8);
    const unsigned stop = stopBits >= 2 ? 2 : 1;
    const unsigned parityBit = parity == 0 ? 0 : 1;
    return 1 + data + parityBit + stop;
}

bool operator==(const LineSettings& a, const LineSettings& b) {
    return a.baud == b.baud && a.dataBits == b.dataBits && a.stopBits == b.stopBits && a.parity == b.parity;
}

bool operator==(const ModemOutputs& a, const ModemOutputs& b) {
    return a.flowControl == b.flowControl && a.dtr == b.dtr && a.rts == b.rts;
}

std::uint8_t ModemInputs::statusByte() const {
    return static_cast<std::uint8_t>((dcd ? 0x80 : 0) | (ri ? 0x40 : 0) | (dsr ? 0x20 : 0) |
                                     (cts ? 0x10 : 0));
}

ModemInputs ModemInputs::fromStatusByte(std::uint8_t byte) {
    ModemInputs in;
    in.dcd = (byte & 0x80) != 0;
    in.ri = (byte & 0x40) != 0;
    in.dsr = (byte & 0x20) != 0;
    in.cts = (byte & 0x10) != 0;
    return in;
}

bool operator==(const ModemInputs& a, const ModemInputs& b) {
    return a.statusByte() == b.statusByte();
}

const char* peerKindName(PeerKind kind) {
    switch (kind) {
        case PeerKind::Loopback:
            return "loopback";
        case PeerKind::Sink:
            return "sink";
        case PeerKind::Generator:
            return "generator";
        case PeerKind::Scripted:
            return "scripted";
    }
    return "?";
}

namespace {

// Link-layer payload with data length extension, and the ATT (3) plus L2CAP (4) headers of a PDU.
constexpr std::size_t kLinkPayload = 251;
constexpr std::size_t kPduOverhead = 7;

// Seconds one PDU with this many value bytes occupies the link: its packets back to back (each with
// preamble, access address, header and CRC, the empty acknowledgement and two 150 us gaps), and no
// more than packetsPerInterval of them per connection interval.
// With bothWays, the other side's packet of each exchange carries as much as this one instead of
// being an empty acknowledgement.
double pduSeconds(const LinkModel& link, std::size_t valueBytes, bool bothWays = false) {
    const double phy = std::max<std::uint32_t>(link.phyBitsPerSecond, 1000);
    const std::size_t bytes = valueBytes + kPduOverhead;
    const std::size_t packets = (bytes + kLinkPayload - 1) / kLinkPayload;
    double air = 0;
    for (std::size_t i = 0; i < packets; ++i) {
        const std::size_t payload = std::min(kLinkPayload, bytes - i * kLinkPayload);
        const double answer = bothWays ? static_cast<double>(payload + 10) : 10.0;
        air += static_cast<double>(payload + 10) * 8 / phy + answer * 8 / phy + 300e-6;
    }
    const double interval = std::max(static_cast<double>(link.connectionInterval.count()) * 1e-6, 1e-4);
    const double byInterval = static_cast<double>(packets) * interval / std::max(1u, link.packetsPerInterval);
    return std::max(air, byInterval);
}

}  // namespace

double LinkModel::airBytesPerSecond(std::uint16_t mtu) const {
    const std::size_t value = static_cast<std::size_t>(std::max(1, static_cast<int>(mtu) - 3));
    return static_cast<double>(value) / pduSeconds(*this, value);
}

double LinkModel::duplexBytesPerSecond(std::uint16_t mtu) const {
    const std::size_t value = static_cast<std::size_t>(std::max(1, static_cast<int>(mtu) - 3));
    return static_cast<double>(value) / pduSeconds(*this, value, true);
}

std::chrono::nanoseconds LinkModel::pduTime(std::size_t valueBytes) const {
    if (!enabled) return std::chrono::nanoseconds{0};
    return std::chrono::nanoseconds(static_cast<std::int64_t>(pduSeconds(*this, valueBytes) * 1e9));
}

std::optional<LinkModel> LinkModel::preset(const std::string& name) {
    LinkModel link;
    if (name == "off") return link;
    link.enabled = true;
    link.connectionInterval = std::chrono::microseconds(7500);
    if (name == "le-1m") {
        link.packetsPerInterval = 4;
        link.phyBitsPerSecond = 1000000;
    } else if (name == "le-2m") {
        link.packetsPerInterval = 6;
        link.phyBitsPerSecond = 2000000;
    } else if (name == "le-coded") {
        link.connectionInterval = std::chrono::microseconds(30000);
        link.packetsPerInterval = 1;
        link.phyBitsPerSecond = 125000;
    } else {
        return std::nullopt;
    }
    return link;
}

}  // namespace qb::emulator
