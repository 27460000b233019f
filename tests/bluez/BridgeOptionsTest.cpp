// The control object's bridge options: what a test sends is the bridge the daemon builds.
#include <gtest/gtest.h>
#include <sdbus-c++/Error.h>

#include "BridgeOptions.h"

namespace qb::emud {
namespace {

using emulator::BridgeConfig;

// Every field differs from its default, so a field left out of either direction shows.
BridgeConfig unusual() {
    BridgeConfig c;
    c.name = "桥 7";
    c.address = 0xC05100ABCDEFull;
    c.tag = 0x31;
    c.rssi = -99;
    c.advertisingInterval = std::chrono::milliseconds(250);
    c.mtu = 23;
    c.transmitBufferSize = 1u << 20;
    c.pauseLevel = 1000;
    c.resumeLevel = 10;
    c.line = {9600, 7, 2, 3};
    c.modem = {true, true, true};
    c.modemInputs.dcd = true;
    c.modemInputs.ri = true;
    c.modemInputs.dsr = false;
    c.modemInputs.cts = false;
    c.peer = emulator::PeerKind::Generator;
    c.generatorPattern = {1, 2, 3};
    c.generatorBytesPerSecond = 1234.5;
    c.readPieceSize = 7;
    c.link = *emulator::LinkModel::preset("le-coded");
    c.link.packetsPerInterval = 2;
    return c;
}

TEST(BridgeOptions, EveryFieldSurvivesTheTrip) {
    const BridgeConfig sent = unusual();
    const BridgeConfig got = fromBridgeOptions(toBridgeOptions(sent));
    EXPECT_EQ(got.name, sent.name);
    EXPECT_EQ(got.address, sent.address);
    EXPECT_EQ(got.tag, sent.tag);
    EXPECT_EQ(got.rssi, sent.rssi);
    EXPECT_EQ(got.advertisingInterval, sent.advertisingInterval);
    EXPECT_EQ(got.mtu, sent.mtu);
    EXPECT_EQ(got.transmitBufferSize, sent.transmitBufferSize);
    EXPECT_EQ(got.pauseLevel, sent.pauseLevel);
    EXPECT_EQ(got.resumeLevel, sent.resumeLevel);
    EXPECT_EQ(got.line, sent.line);
    EXPECT_EQ(got.modem, sent.modem);
    EXPECT_EQ(got.modemInputs, sent.modemInputs);
    EXPECT_EQ(got.peer, sent.peer);
    EXPECT_EQ(got.generatorPattern, sent.generatorPattern);
    EXPECT_EQ(got.generatorBytesPerSecond, sent.generatorBytesPerSecond);
    EXPECT_EQ(got.readPieceSize, sent.readPieceSize);
    EXPECT_EQ(got.link.enabled, sent.link.enabled);
    EXPECT_EQ(got.link.connectionInterval, sent.link.connectionInterval);
    EXPECT_EQ(got.link.packetsPerInterval, sent.link.packetsPerInterval);
    EXPECT_EQ(got.link.phyBitsPerSecond, sent.link.phyBitsPerSecond);
}

TEST(BridgeOptions, MissingFieldsKeepTheirDefaults) {
    const BridgeConfig got = fromBridgeOptions({{"name", sdbus::Variant(std::string("Only"))}});
    const BridgeConfig defaults;
    EXPECT_EQ(got.name, "Only");
    EXPECT_EQ(got.mtu, defaults.mtu);
    EXPECT_EQ(got.peer, defaults.peer);
    EXPECT_EQ(got.line, defaults.line);
}

TEST(BridgeOptions, BadOptionsAreRefusedByName) {
    const std::pair<BridgeOptions, const char*> bad[] = {
        {{{"colour", sdbus::Variant(std::string("red"))}}, "colour"},
        {{{"mtu", sdbus::Variant(std::string("247"))}}, "mtu"},
        {{{"mtu", sdbus::Variant(std::uint32_t{247})}}, "mtu"},
        {{{"peer", sdbus::Variant(std::string("printer"))}}, "printer"},
    };
    for (const auto& [options, named] : bad) {
        try {
            fromBridgeOptions(options);
            ADD_FAILURE() << named << " was taken";
        } catch (const sdbus::Error& e) {
            EXPECT_EQ(e.getName(), "org.bluez.Error.InvalidArguments");
            EXPECT_NE(e.getMessage().find(named), std::string::npos) << e.getMessage();
        }
    }
}

}  // namespace
}  // namespace qb::emud
