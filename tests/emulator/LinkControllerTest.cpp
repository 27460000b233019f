// The link model as a host's controller sees it, in virtual time: a few packets in flight, writes
// without response that return once queued, write requests that wait for their answer, order kept.
#include <gtest/gtest.h>

#include "qb7720/emulator/World.h"

namespace qb::emulator {
namespace {

using namespace std::chrono_literals;

class LinkControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        world = World::create(TimeMode::Virtual);
        BridgeConfig config;
        config.peer = PeerKind::Sink;
        config.line.baud = 1000000;
        config.transmitBufferSize = 1 << 20;
        config.pauseLevel = config.transmitBufferSize;
        config.link = *LinkModel::preset("le-1m");
        link = config.link;
        bridge = world->addBridge(config);
        ASSERT_EQ(bridge->connect(), AttStatus::Success);
        transmit = bridge->findCharacteristic(VirtualBridge::kTransmitUuid)->valueHandle;
        piece = bridge->mtu() - 3u;
    }

    Bytes pieceNumbered(std::uint8_t n) const { return Bytes(piece, n); }
    Clock& clock() { return *world->clock(); }

    std::shared_ptr<World> world;
    std::shared_ptr<VirtualBridge> bridge;
    LinkModel link;
    std::uint16_t transmit = 0;
    std::size_t piece = 0;
};

TEST_F(LinkControllerTest, WritesWithoutResponseReturnAtOnceUntilTheBuffersAreFull) {
    const auto start = clock().now();
    for (unsigned i = 0; i < link.aclBuffers; ++i) {
        ASSERT_EQ(bridge->write(transmit, pieceNumbered(static_cast<std::uint8_t>(i)), false), AttStatus::Success);
    }
    EXPECT_EQ(clock().now(), start) << "a queued packet must not cost its writer the air time";
    EXPECT_EQ(bridge->packetsInFlight(), link.aclBuffers);
    EXPECT_GT(bridge->writeWait(), 0ns);
    EXPECT_TRUE(bridge->writes().empty()) << "nothing reaches the bridge before its air time is over";

    // One more waits for the oldest packet, and only for that one.
    ASSERT_EQ(bridge->write(transmit, pieceNumbered(9), false), AttStatus::Success);
    EXPECT_EQ(clock().now() - start, link.pduTime(piece));
    EXPECT_EQ(bridge->writes().size(), 1u);
    EXPECT_EQ(bridge->packetsInFlight(), link.aclBuffers);
}

TEST_F(LinkControllerTest, AWriteRequestWaitsForEveryEarlierPacketAndItsAnswer) {
    const auto start = clock().now();
    for (std::uint8_t i = 0; i < 3; ++i) ASSERT_EQ(bridge->write(transmit, pieceNumbered(i), false), AttStatus::Success);
    ASSERT_EQ(bridge->write(transmit, Bytes{0xEE}, true), AttStatus::Success);
    EXPECT_GE(clock().now() - start, link.pduTime(piece) * 3 + link.pduTime(1) + link.connectionInterval);

    const auto writes = bridge->writes();
    ASSERT_EQ(writes.size(), 4u);
    for (std::uint8_t i = 0; i < 3; ++i) {
        EXPECT_EQ(writes[i].value, pieceNumbered(i));
        EXPECT_FALSE(writes[i].withResponse);
    }
    EXPECT_EQ(writes[3].value, Bytes{0xEE});
    EXPECT_EQ(bridge->packetsInFlight(), 0u);
}

TEST_F(LinkControllerTest, CommandFramesKeepTheirPlaceBehindQueuedData) {
    const auto command = bridge->findCharacteristic(VirtualBridge::kCommandUuid)->valueHandle;
    ASSERT_EQ(bridge->write(transmit, pieceNumbered(1), false), AttStatus::Success);
    ASSERT_EQ(bridge->write(command, Bytes{0x0A, 0x01}, false), AttStatus::Success);
    ASSERT_EQ(bridge->write(transmit, pieceNumbered(2), false), AttStatus::Success);
    world->clock()->advance(100ms);
    world->settle();
    const auto writes = bridge->writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].value, pieceNumbered(1));
    EXPECT_EQ(writes[1].valueHandle, command);
    EXPECT_EQ(writes[2].value, pieceNumbered(2));
}

TEST_F(LinkControllerTest, AStreamKeepsTheAirBusy) {
    // A writer that never waits on its own leaves no gap: n pieces take n air times.
    const auto start = clock().now();
    constexpr int kPieces = 400;
    for (int i = 0; i < kPieces; ++i) ASSERT_EQ(bridge->write(transmit, pieceNumbered(1), false), AttStatus::Success);
    ASSERT_EQ(bridge->write(transmit, Bytes{2}, true), AttStatus::Success);
    const auto took = clock().now() - start;
    const auto air = link.pduTime(piece) * kPieces + link.pduTime(1) + link.connectionInterval;
    EXPECT_EQ(took, air);
    EXPECT_EQ(bridge->farSideReceived().size() + bridge->transmitFill(), piece * kPieces + 1);
}

TEST_F(LinkControllerTest, PacketsInTheAirAreLostWithTheLink) {
    for (std::uint8_t i = 0; i < 3; ++i) ASSERT_EQ(bridge->write(transmit, pieceNumbered(i), false), AttStatus::Success);
    bridge->dropLink();
    EXPECT_EQ(bridge->packetsInFlight(), 0u);
    EXPECT_EQ(bridge->writeWait(), 0ns);
    world->clock()->advance(100ms);
    world->settle();
    EXPECT_TRUE(bridge->writes().empty());
    ASSERT_EQ(bridge->connect(), AttStatus::Success);
    ASSERT_EQ(bridge->write(transmit, pieceNumbered(7), true), AttStatus::Success);
    ASSERT_EQ(bridge->writes().size(), 1u);
    EXPECT_EQ(bridge->writes()[0].value, pieceNumbered(7));
}

TEST_F(LinkControllerTest, WithoutTheModelWritesArriveAtOnce) {
    ASSERT_EQ(bridge->write(transmit, pieceNumbered(1), false), AttStatus::Success);
    bridge->setLinkModel(LinkModel{});
    // What was still queued goes before the first write that meets no model.
    ASSERT_EQ(bridge->write(transmit, pieceNumbered(2), false), AttStatus::Success);
    const auto writes = bridge->writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].value, pieceNumbered(1));
    EXPECT_EQ(writes[1].value, pieceNumbered(2));
}

}  // namespace
}  // namespace qb::emulator
