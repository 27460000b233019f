// The configuration text of the demo run.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "qb7720/emulator/Config.h"
#include "qb7720/platform/Backends.h"

namespace qb::emulator {
namespace {

TEST(ConfigTest, ItemsSetWhatTheySay) {
    const auto config = parseConfig(
        "bridges=3 peer=generator link=le-2m mtu=23 baud=9600 names=A,B tag=0x31 rssi=-80 interval=50 "
        "buffer=1000 piece=40 rate=500 radios=2 version=11 time=fast");
    EXPECT_EQ(config.bridges, 3u);
    EXPECT_EQ(config.bridge.peer, PeerKind::Generator);
    EXPECT_TRUE(config.bridge.link.enabled);
    EXPECT_EQ(config.bridge.link.phyBitsPerSecond, 2000000u);
    EXPECT_EQ(config.bridge.mtu, 23);
    EXPECT_EQ(config.bridge.line.baud, 9600u);
    EXPECT_EQ(config.names, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(config.bridge.tag, 0x31);
    EXPECT_EQ(config.bridge.rssi, -80);
    EXPECT_EQ(config.bridge.advertisingInterval, std::chrono::milliseconds(50));
    EXPECT_EQ(config.bridge.transmitBufferSize, 1000u);
    EXPECT_EQ(config.bridge.pauseLevel, 500u);
    EXPECT_EQ(config.bridge.resumeLevel, 125u);
    EXPECT_EQ(config.bridge.readPieceSize, 40u);
    EXPECT_EQ(config.bridge.generatorBytesPerSecond, 500.0);
    EXPECT_EQ(config.radios, 2u);
    EXPECT_EQ(config.version, 11);
    EXPECT_EQ(config.timeMode, TimeMode::Fast);
    EXPECT_EQ(parseConfig("").bridges, 1u);
}

TEST(ConfigTest, ABadItemIsNamedInTheError) {
    for (const std::string bad :
         {"bridges=x", "bridges=65", "peer=echo", "link=le-5m", "mtu=22", "colour=red", "bridges", "=3",
          "names=a,,b", "tag=256", "rssi=-", "time=slow", "baud=0x"}) {
        try {
            parseConfig("bridges=2 " + bad + " peer=sink");
            ADD_FAILURE() << "accepted " << bad;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find("\"" + bad + "\""), std::string::npos) << e.what();
        }
    }
}

TEST(ConfigTest, ThePlatformFromConfigurationHasTheBridgesItNames) {
    auto platform = createPlatformFromConfig("bridges=3 peer=loopback names=Left,Right version=7");
    auto emulator = Emulator::of(platform);
    ASSERT_TRUE(emulator);
    const auto bridges = emulator->bridges();
    ASSERT_EQ(bridges.size(), 3u);
    EXPECT_EQ(bridges[0]->name(), "Left");
    EXPECT_EQ(bridges[1]->name(), "Right");
    EXPECT_EQ(bridges[2]->name(), "QB7720-UART-3");
    EXPECT_EQ(platform->localControllerVersion(), 7);
    auto host = test::openHost(*platform, emulator->deviceId(bridges[2]->address()));
    EXPECT_TRUE(host.transmit);
    EXPECT_THROW(createPlatformFromConfig("bridges=2 peer=loud"), std::invalid_argument);
    EXPECT_FALSE(Emulator::of(platform::createNullPlatform()));
}

}  // namespace
}  // namespace qb::emulator
