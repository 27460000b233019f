#include "BridgeOptions.h"

#include <sdbus-c++/Error.h>

#include <functional>

namespace qb::emud {
namespace {

using emulator::BridgeConfig;
using emulator::PeerKind;

const PeerKind kPeers[] = {PeerKind::Loopback, PeerKind::Sink, PeerKind::Generator, PeerKind::Scripted};

[[noreturn]] void invalid(const std::string& what) {
    throw sdbus::Error("org.bluez.Error.InvalidArguments", what);
}

template <typename T>
T valueOf(const std::string& key, const sdbus::Variant& v) {
    if (!v.containsValueOfType<T>()) invalid("option " + key + " has the wrong type");
    return v.get<T>();
}

PeerKind peerNamed(const std::string& name) {
    for (PeerKind kind : kPeers) {
        if (name == emulator::peerKindName(kind)) return kind;
    }
    invalid("unknown peer " + name);
}

// One setter per key; the value's D-Bus type is that of the field.
using Setter = std::function<void(BridgeConfig&, const std::string&, const sdbus::Variant&)>;

template <typename T, typename Field>
Setter assign(Field field) {
    return [field](BridgeConfig& c, const std::string& key, const sdbus::Variant& v) {
        field(c) = valueOf<T>(key, v);
    };
}

const std::map<std::string, Setter>& setters() {
    static const std::map<std::string, Setter> table = {
        {"name", assign<std::string>([](BridgeConfig& c) -> auto& { return c.name; })},
        {"address", assign<std::uint64_t>([](BridgeConfig& c) -> auto& { return c.address; })},
        {"tag", assign<std::uint8_t>([](BridgeConfig& c) -> auto& { return c.tag; })},
        {"rssi", assign<std::int16_t>([](BridgeConfig& c) -> auto& { return c.rssi; })},
        {"mtu", assign<std::uint16_t>([](BridgeConfig& c) -> auto& { return c.mtu; })},
        {"transmitBufferSize", assign<std::uint64_t>([](BridgeConfig& c) -> auto& { return c.transmitBufferSize; })},
        {"pauseLevel", assign<std::uint64_t>([](BridgeConfig& c) -> auto& { return c.pauseLevel; })},
        {"resumeLevel", assign<std::uint64_t>([](BridgeConfig& c) -> auto& { return c.resumeLevel; })},
        {"baud", assign<std::uint32_t>([](BridgeConfig& c) -> auto& { return c.line.baud; })},
        {"dataBits", assign<std::uint8_t>([](BridgeConfig& c) -> auto& { return c.line.dataBits; })},
        {"stopBits", assign<std::uint8_t>([](BridgeConfig& c) -> auto& { return c.line.stopBits; })},
        {"parity", assign<std::uint8_t>([](BridgeConfig& c) -> auto& { return c.line.parity; })},
        {"flowControl", assign<bool>([](BridgeConfig& c) -> auto& { return c.modem.flowControl; })},
        {"dtr", assign<bool>([](BridgeConfig& c) -> auto& { return c.modem.dtr; })},
        {"rts", assign<bool>([](BridgeConfig& c) -> auto& { return c.modem.rts; })},
        {"dcd", assign<bool>([](BridgeConfig& c) -> auto& { return c.modemInputs.dcd; })},
        {"ri", assign<bool>([](BridgeConfig& c) -> auto& { return c.modemInputs.ri; })},
        {"dsr", assign<bool>([](BridgeConfig& c) -> auto& { return c.modemInputs.dsr; })},
        {"cts", assign<bool>([](BridgeConfig& c) -> auto& { return c.modemInputs.cts; })},
        {"generatorPattern", assign<std::vector<std::uint8_t>>([](BridgeConfig& c) -> auto& { return c.generatorPattern; })},
        {"generatorBytesPerSecond", assign<double>([](BridgeConfig& c) -> auto& { return c.generatorBytesPerSecond; })},
        {"readPieceSize", assign<std::uint64_t>([](BridgeConfig& c) -> auto& { return c.readPieceSize; })},
        {"linkEnabled", assign<bool>([](BridgeConfig& c) -> auto& { return c.link.enabled; })},
        {"linkPacketsPerInterval", assign<std::uint32_t>([](BridgeConfig& c) -> auto& { return c.link.packetsPerInterval; })},
        {"linkPhyBitsPerSecond", assign<std::uint32_t>([](BridgeConfig& c) -> auto& { return c.link.phyBitsPerSecond; })},
        {"peer", [](BridgeConfig& c, const std::string& key, const sdbus::Variant& v) {
             c.peer = peerNamed(valueOf<std::string>(key, v));
         }},
        {"advertisingIntervalMs", [](BridgeConfig& c, const std::string& key, const sdbus::Variant& v) {
             c.advertisingInterval = std::chrono::milliseconds(valueOf<std::int64_t>(key, v));
         }},
        {"linkConnectionIntervalUs", [](BridgeConfig& c, const std::string& key, const sdbus::Variant& v) {
             c.link.connectionInterval = std::chrono::microseconds(valueOf<std::int64_t>(key, v));
         }},
    };
    return table;
}

}  // namespace

BridgeOptions toBridgeOptions(const BridgeConfig& c) {
    return {
        {"name", sdbus::Variant(c.name)},
        {"address", sdbus::Variant(c.address)},
        {"tag", sdbus::Variant(c.tag)},
        {"rssi", sdbus::Variant(c.rssi)},
        {"mtu", sdbus::Variant(c.mtu)},
        {"transmitBufferSize", sdbus::Variant(static_cast<std::uint64_t>(c.transmitBufferSize))},
        {"pauseLevel", sdbus::Variant(static_cast<std::uint64_t>(c.pauseLevel))},
        {"resumeLevel", sdbus::Variant(static_cast<std::uint64_t>(c.resumeLevel))},
        {"baud", sdbus::Variant(c.line.baud)},
        {"dataBits", sdbus::Variant(c.line.dataBits)},
        {"stopBits", sdbus::Variant(c.line.stopBits)},
        {"parity", sdbus::Variant(c.line.parity)},
        {"flowControl", sdbus::Variant(c.modem.flowControl)},
        {"dtr", sdbus::Variant(c.modem.dtr)},
        {"rts", sdbus::Variant(c.modem.rts)},
        {"dcd", sdbus::Variant(c.modemInputs.dcd)},
        {"ri", sdbus::Variant(c.modemInputs.ri)},
        {"dsr", sdbus::Variant(c.modemInputs.dsr)},
        {"cts", sdbus::Variant(c.modemInputs.cts)},
        {"peer", sdbus::Variant(std::string(emulator::peerKindName(c.peer)))},
        {"generatorPattern", sdbus::Variant(c.generatorPattern)},
        {"generatorBytesPerSecond", sdbus::Variant(c.generatorBytesPerSecond)},
        {"readPieceSize", sdbus::Variant(static_cast<std::uint64_t>(c.readPieceSize))},
        {"advertisingIntervalMs", sdbus::Variant(static_cast<std::int64_t>(c.advertisingInterval.count()))},
        {"linkEnabled", sdbus::Variant(c.link.enabled)},
        {"linkConnectionIntervalUs",
         sdbus::Variant(static_cast<std::int64_t>(c.link.connectionInterval.count()))},
        {"linkPacketsPerInterval", sdbus::Variant(static_cast<std::uint32_t>(c.link.packetsPerInterval))},
        {"linkPhyBitsPerSecond", sdbus::Variant(c.link.phyBitsPerSecond)},
    };
}

BridgeConfig fromBridgeOptions(const BridgeOptions& options) {
    BridgeConfig config;
    for (const auto& [key, value] : options) {
        const auto it = setters().find(key);
        if (it == setters().end()) invalid("unknown option " + key);
        it->second(config, key, value);
    }
    return config;
}

}  // namespace qb::emud
