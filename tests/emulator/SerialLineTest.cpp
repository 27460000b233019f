// The serial line in virtual time: drain rate, pause and resume levels, flow control, peers.
#include <gtest/gtest.h>

#include "qb7720/emulator/World.h"
#include "qb7720/protocol/Protocol.h"

namespace qb::emulator {
namespace {

namespace proto = qb::protocol;
using namespace std::chrono_literals;

// Records what the bridge notifies, per characteristic.
class Recorder : public DeviceListener {
  public:
    void onNotification(std::uint16_t handle, const Bytes& value) override {
        std::lock_guard<std::mutex> lock(mutex);
        notifications.emplace_back(handle, value);
    }
    void onConnectionChanged(bool) override {}
    void onNameChanged(const std::string&) override {}
    void onRemoved() override {}

    std::vector<Bytes> on(std::uint16_t handle) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Bytes> out;
        for (const auto& n : notifications) {
            if (n.first == handle) out.push_back(n.second);
        }
        return out;
    }

    std::mutex mutex;
    std::vector<std::pair<std::uint16_t, Bytes>> notifications;
};

class SerialLineTest : public ::testing::Test {
  protected:
    void start(BridgeConfig config) {
        world = World::create(TimeMode::Virtual);
        bridge = world->addBridge(config);
        recorder = std::make_shared<Recorder>();
        bridge->addListener(recorder);
        ASSERT_EQ(bridge->connect(), AttStatus::Success);
        receive = bridge->findCharacteristic(VirtualBridge::kReceiveUuid)->valueHandle;
        transmit = bridge->findCharacteristic(VirtualBridge::kTransmitUuid)->valueHandle;
        command = bridge->findCharacteristic(VirtualBridge::kCommandUuid)->valueHandle;
        ASSERT_EQ(bridge->setClientConfiguration(receive, 1), AttStatus::Success);
        ASSERT_EQ(bridge->setClientConfiguration(command, 1), AttStatus::Success);
    }

    void send(std::size_t count, std::uint8_t first = 0) {
        const std::size_t piece = bridge->mtu() - 3u;
        for (std::size_t sent = 0; sent < count;) {
            const std::size_t n = std::min(piece, count - sent);
            Bytes value(n);
            for (std::size_t i = 0; i < n; ++i) value[i] = static_cast<std::uint8_t>(first + sent + i);
            ASSERT_EQ(bridge->write(transmit, value, false), AttStatus::Success);
            sent += n;
        }
    }

    void pass(std::chrono::nanoseconds d) {
        world->clock()->advance(d);
        world->settle();
    }

    std::vector<proto::StatusReport> reports() {
        std::vector<proto::StatusReport> out;
        for (const auto& value : recorder->on(command)) out.push_back(proto::decodeStatusReport(value));
        return out;
    }

    std::shared_ptr<World> world;
    std::shared_ptr<VirtualBridge> bridge;
    std::shared_ptr<Recorder> recorder;
    std::uint16_t receive = 0, transmit = 0, command = 0;
};

BridgeConfig sinkConfig() {
    BridgeConfig config;
    config.peer = PeerKind::Sink;
    config.transmitBufferSize = 1000;
    config.pauseLevel = 800;
    config.resumeLevel = 100;
    config.line.baud = 9600;  // 960 characters a second at 8-N-1
    return config;
}

TEST_F(SerialLineTest, DrainsAtTheCharacterRateOfTheLine) {
    start(sinkConfig());
    send(500);
    EXPECT_EQ(bridge->transmitFill(), 500u);
    pass(250ms);
    EXPECT_EQ(bridge->farSideReceived().size(), 240u);
    // 7-E-2 takes 11 bits a character: 9600 / 11 = 872.7 a second.
    bridge->clearFarSideReceived();
    const auto handle = command;
    ASSERT_EQ(bridge->write(handle, proto::encodeSetSerial(9600, 7, 2, 2), false), AttStatus::Success);
    pass(100ms);
    EXPECT_EQ(bridge->farSideReceived().size(), 87u);
}

TEST_F(SerialLineTest, PausesAtTheHighLevelAndResumesOnceDrainedToTheLowLevel) {
    start(sinkConfig());
    send(799);
    EXPECT_TRUE(reports().empty());
    send(1, 7);
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].pause, proto::PauseChange::Set);
    EXPECT_TRUE(bridge->pausing());

    // 700 characters at 960 a second: just short of the resume level after 729 ms, there after 730 ms.
    pass(729ms);
    EXPECT_EQ(bridge->transmitFill(), 101u);
    EXPECT_EQ(reports().size(), 1u);
    pass(1ms);
    ASSERT_EQ(reports().size(), 2u);
    EXPECT_EQ(reports()[1].pause, proto::PauseChange::Cleared);
    EXPECT_FALSE(bridge->pausing());
    EXPECT_EQ(bridge->droppedBytes(), 0u);
    EXPECT_EQ(bridge->statusReports().size(), 2u);
}

TEST_F(SerialLineTest, BytesBeyondTheBufferAreDroppedAndCounted) {
    start(sinkConfig());
    send(1200);
    EXPECT_EQ(bridge->transmitFill(), 1000u);
    EXPECT_EQ(bridge->droppedBytes(), 200u);
    pass(2s);
    const Bytes out = bridge->farSideReceived();
    ASSERT_EQ(out.size(), 1000u);
    // What went out is the first thousand bytes, in order.
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], static_cast<std::uint8_t>(i)) << i;
}

TEST_F(SerialLineTest, HardwareFlowControlLetsTheFarSidesCtsHoldTheLine) {
    BridgeConfig config = sinkConfig();
    config.peer = PeerKind::Scripted;
    start(config);
    ASSERT_EQ(bridge->write(command, proto::encodeSetModem(1, 1, 1), false), AttStatus::Success);
    ModemInputs inputs;
    inputs.cts = false;
    bridge->setModemInputs(inputs);
    send(100);
    pass(500ms);
    EXPECT_EQ(bridge->farSideReceived().size(), 0u);
    inputs.cts = true;
    bridge->setModemInputs(inputs);
    pass(50ms);
    EXPECT_EQ(bridge->farSideReceived().size(), 48u);
    // Without flow control CTS is not looked at.
    ASSERT_EQ(bridge->write(command, proto::encodeSetModem(0, 1, 1), false), AttStatus::Success);
    inputs.cts = false;
    bridge->setModemInputs(inputs);
    pass(50ms);
    EXPECT_EQ(bridge->farSideReceived().size(), 96u);
}

TEST_F(SerialLineTest, ModemInputChangesAreReportedInByteFive) {
    BridgeConfig config = sinkConfig();
    config.peer = PeerKind::Scripted;
    start(config);
    ModemInputs inputs = ModemInputs::fromStatusByte(0x90);  // DCD and CTS
    bridge->setModemInputs(inputs);
    bridge->setModemInputs(inputs);  // no change, no report
    bridge->sendStatusReport(0x05);
    bridge->sendStatusReport(0x01, 0x60);  // a modem byte the far side does not have
    const auto values = recorder->on(command);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[2][4], 0x01);
    EXPECT_EQ(values[2][5], 0x60);
    EXPECT_EQ(bridge->modemInputs().statusByte(), 0x90);
    ASSERT_EQ(values[0].size(), 7u);
    EXPECT_EQ(values[0][0], 0x88);
    EXPECT_EQ(values[0][4], 0x00);
    EXPECT_EQ(values[0][5], 0x90);
    const auto decoded = proto::decodeStatusReport(values[1]);
    EXPECT_EQ(decoded.pause, proto::PauseChange::Set);
    EXPECT_EQ(decoded.modem->bits, 0x90);
}

TEST_F(SerialLineTest, LoopbackReturnsEverythingInPiecesThatFitTheMtu) {
    BridgeConfig config;
    config.peer = PeerKind::Loopback;
    config.mtu = 23;
    config.line.baud = 1000000;
    start(config);
    const std::size_t total = 3000;
    for (int round = 0; round < 10; ++round) {
        send(total / 10, static_cast<std::uint8_t>(round * (total / 10)));
        pass(5ms);
    }
    pass(100ms);
    Bytes back;
    for (const auto& value : recorder->on(receive)) {
        EXPECT_LE(value.size(), 20u);
        back.insert(back.end(), value.begin(), value.end());
    }
    ASSERT_EQ(back.size(), total);
    for (std::size_t i = 0; i < total; ++i) ASSERT_EQ(back[i], static_cast<std::uint8_t>(i)) << i;
    EXPECT_EQ(bridge->droppedBytes(), 0u);
    EXPECT_EQ(bridge->receiveDropped(), 0u);
}

TEST_F(SerialLineTest, LoopbackWiresRtsToCtsAndDtrToDsrAndDcd) {
    BridgeConfig config;
    config.peer = PeerKind::Loopback;
    start(config);
    ASSERT_EQ(bridge->write(command, proto::encodeSetModem(0, 1, 0), false), AttStatus::Success);
    EXPECT_EQ(bridge->modemInputs().statusByte(), 0xA0);
    ASSERT_EQ(bridge->write(command, proto::encodeSetModem(0, 0, 1), false), AttStatus::Success);
    EXPECT_EQ(bridge->modemInputs().statusByte(), 0x10);
    const auto values = recorder->on(command);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[1][5], 0x10);
}

TEST_F(SerialLineTest, GeneratorSendsItsPatternAtItsRateWhileConnected) {
    BridgeConfig config;
    config.peer = PeerKind::Generator;
    config.generatorPattern = Bytes{'a', 'b', 'c'};
    config.generatorBytesPerSecond = 1000;
    start(config);
    for (int i = 0; i < 10; ++i) pass(10ms);
    Bytes got;
    for (const auto& value : recorder->on(receive)) got.insert(got.end(), value.begin(), value.end());
    ASSERT_EQ(got.size(), 100u);
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], "abc"[i % 3]);
    bridge->disconnect();
    pass(100ms);
    EXPECT_EQ(bridge->receiveDropped(), 0u);
}

TEST_F(SerialLineTest, ScriptedBytesReachOnlyAHostThatEnabledNotifications) {
    BridgeConfig config;
    config.peer = PeerKind::Scripted;
    start(config);
    bridge->injectSerial(Bytes{1, 2, 3});
    ASSERT_EQ(bridge->setClientConfiguration(receive, 0), AttStatus::Success);
    bridge->injectSerial(Bytes{4, 5});
    world->settle();
    const auto values = recorder->on(receive);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0], (Bytes{1, 2, 3}));
    EXPECT_EQ(bridge->receiveDropped(), 2u);
}

TEST_F(SerialLineTest, ResetChannelEmptiesTheBufferAndLetsAPausedHostGo) {
    start(sinkConfig());
    send(900);
    ASSERT_TRUE(bridge->pausing());
    ASSERT_EQ(bridge->write(command, proto::encodeResetChannel(), false), AttStatus::Success);
    EXPECT_EQ(bridge->transmitFill(), 0u);
    EXPECT_FALSE(bridge->pausing());
    ASSERT_EQ(reports().size(), 2u);
    EXPECT_EQ(reports()[1].pause, proto::PauseChange::Cleared);
}

TEST_F(SerialLineTest, AnUnlistedBaudRateKeepsTheLineMoving) {
    start(sinkConfig());
    ASSERT_EQ(bridge->write(command, proto::encodeSetSerial(proto::encodableBaudRate(300), 8, 1, 0), false),
              AttStatus::Success);
    EXPECT_EQ(bridge->lineSettings().baud, 0u);
    send(96);
    pass(100ms);
    EXPECT_EQ(bridge->farSideReceived().size(), 96u);
}

TEST(LinkModelTest, PresetsOrderTheirRatesAndTimeGrowsWithPackets) {
    const auto m1 = *LinkModel::preset("le-1m");
    const auto m2 = *LinkModel::preset("le-2m");
    const auto coded = *LinkModel::preset("le-coded");
    EXPECT_FALSE(LinkModel::preset("off")->enabled);
    EXPECT_FALSE(LinkModel::preset("le-3m"));
    EXPECT_GT(m2.airBytesPerSecond(247), m1.airBytesPerSecond(247));
    EXPECT_GT(m1.airBytesPerSecond(247), coded.airBytesPerSecond(247));
    // A small MTU wastes packets on headers.
    EXPECT_GT(m1.airBytesPerSecond(247), m1.airBytesPerSecond(23));
    EXPECT_GT(m1.pduTime(500), m1.pduTime(200));
    EXPECT_EQ(LinkModel{}.pduTime(500).count(), 0);
}

TEST(LinkModelTest, BothWaysAtOnceEachDirectionGetsLessThanTheAirAlone) {
    // 251-byte packets with 10 bytes of framing each way and two 150 us gaps: 4.476 ms an exchange on
    // LE 1M, 2.388 ms on LE 2M, each carrying 244 bytes both ways.
    const struct {
        const char* preset;
        double duplex;
    } cases[] = {{"le-1m", 244 / 4.476e-3}, {"le-2m", 244 / 2.388e-3}};
    for (const auto& c : cases) {
        const auto link = *LinkModel::preset(c.preset);
        EXPECT_NEAR(link.duplexBytesPerSecond(247), c.duplex, 1.0) << c.preset;
        EXPECT_LT(link.duplexBytesPerSecond(247), link.airBytesPerSecond(247)) << c.preset;
    }
    // A loopback at 921600 baud (92160 characters a second each way) is more than LE 1M carries.
    EXPECT_LT(LinkModel::preset("le-1m")->duplexBytesPerSecond(247), 92160.0);
    EXPECT_GT(LinkModel::preset("le-2m")->duplexBytesPerSecond(247), 92160.0);
}

TEST_F(SerialLineTest, WithTheLinkModelNotificationsTakeTheirAirTime) {
    BridgeConfig config;
    config.peer = PeerKind::Scripted;
    config.link = *LinkModel::preset("le-1m");
    start(config);
    const auto piece = config.link.pduTime(244);
    bridge->injectSerial(Bytes(244 * 3, 0x55));
    EXPECT_EQ(recorder->on(receive).size(), 1u);
    pass(piece);
    EXPECT_EQ(recorder->on(receive).size(), 2u);
    pass(piece);
    EXPECT_EQ(recorder->on(receive).size(), 3u);
    // A write without response is queued at once and reaches the line after its air time.
    const auto before = world->clock()->now();
    ASSERT_EQ(bridge->write(transmit, Bytes(244, 1), false), AttStatus::Success);
    EXPECT_EQ(world->clock()->now(), before);
    EXPECT_TRUE(bridge->writes().empty());
    pass(piece);
    EXPECT_EQ(bridge->writes().size(), 1u);
}

}  // namespace
}  // namespace qb::emulator
