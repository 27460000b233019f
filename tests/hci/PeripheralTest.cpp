// The peripheral against a controller that answers as btvirt's do, with an ATT client behind it.
#include <gtest/gtest.h>

#include "AdvertisingData.h"
#include "FakeController.h"
#include "qb7720/emulator/World.h"
#include "qb7720/protocol/BridgeFacts.h"

namespace qb::hci {
namespace {

using emulator::World;
using test::FakeController;
using test::JobQueue;

Bytes hex(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

struct Advertisement {
    std::optional<std::uint8_t> tag;
    std::string name;
};

// An LE Set Advertising Data command's parameters, read as a scanner reads them.
Advertisement readAdvertisement(const Bytes& data) {
    Advertisement seen;
    for (std::size_t at = 1; !data.empty() && at < 1u + data[0] && at < data.size();) {
        const std::size_t length = data[at];
        if (length == 0 || at + 1 + length > 1u + data[0]) {
            ADD_FAILURE() << "malformed section at " << at;
            break;
        }
        const std::uint8_t type = data[at + 1];
        if (type == 0xFF) {
            const auto company = static_cast<std::uint16_t>(data[at + 2] | data[at + 3] << 8);
            seen.tag = protocol::bridgeTag(company, protocol::ByteView(data.data() + at + 4, length - 3));
        } else if (type == 0x09) {
            seen.name.assign(data.begin() + static_cast<std::ptrdiff_t>(at + 2),
                             data.begin() + static_cast<std::ptrdiff_t>(at + 1 + length));
        }
        at += 1 + length;
    }
    return seen;
}

constexpr std::uint16_t kHandle = Peripheral::kVirtualControllerHandle;
constexpr std::uint16_t kReceiveValue = 15;
constexpr std::uint16_t kReceiveConfig = 16;

class PeripheralTest : public ::testing::Test {
  protected:
    void SetUp() override {
        world = World::create(emulator::TimeMode::Real);
        emulator::BridgeConfig config;
        config.name = "QB7720-UART-1";
        config.tag = 0x30;
        config.mtu = 517;
        config.advertisingInterval = std::chrono::milliseconds(100);
        bridge = world->addBridge(config);
        peripheral = std::make_unique<Peripheral>(controller, bridge, jobs.poster(),
                                                  [this](const std::string& line) { log.push_back(line); });
    }
    void TearDown() override { peripheral.reset(); }

    bool runUntil(const std::function<bool()>& done) { return jobs.runUntil(*peripheral, controller, done); }
    // Whatever is due now is delivered and handled.
    void settle() { jobs.runUntil(*peripheral, controller, [] { return false; }, std::chrono::milliseconds(30)); }

    void startAdvertising() {
        peripheral->start();
        ASSERT_TRUE(runUntil([&] { return peripheral->advertising(); }));
    }
    void connectLink() {
        startAdvertising();
        controller.connect(kHandle);
        ASSERT_TRUE(runUntil([&] { return peripheral->state() == Peripheral::State::Connected; }));
    }
    // One request over the link, and the peripheral's answer to it.
    Bytes request(const Bytes& pdu) {
        const std::size_t before = controller.attSent().size();
        controller.frameFromHost(kHandle, cid::kAtt, pdu);
        EXPECT_TRUE(runUntil([&] { return controller.attSent().size() > before; }));
        const auto after = controller.attSent(before);
        return after.empty() ? Bytes{} : after.front();
    }
    std::size_t count(std::uint16_t opcode) const {
        std::size_t n = 0;
        for (auto op : controller.opcodes()) n += op == opcode;
        return n;
    }

    std::shared_ptr<World> world;
    std::shared_ptr<emulator::VirtualBridge> bridge;
    FakeController controller;
    JobQueue jobs;
    std::unique_ptr<Peripheral> peripheral;
    std::vector<std::string> log;
};

TEST_F(PeripheralTest, SetsTheControllerUpAndAdvertisesAsABridge) {
    startAdvertising();
    EXPECT_EQ(controller.opcodes(),
              (std::vector<std::uint16_t>{opcode::kReset, opcode::kSetEventMask, opcode::kLeSetEventMask,
                                          opcode::kReadBdAddr, opcode::kReadLocalVersion,
                                          opcode::kLeReadBufferSize,
                                          opcode::kLeSetAdvertisingParameters, opcode::kLeSetAdvertisingData,
                                          opcode::kLeSetScanResponseData, opcode::kLeSetAdvertiseEnable}));
    EXPECT_EQ(peripheral->controllerAddress(), controller.address);
    EXPECT_EQ(peripheral->aclBuffers(), 1u);
    // LE meta events are asked for: without them no connection would ever be seen.
    const Bytes& mask = controller.commands[1].parameters;
    ASSERT_EQ(mask.size(), 8u);
    EXPECT_TRUE(mask[7] & 0x20);

    // Connectable undirected, 100 ms (160 units), public address, all channels.
    EXPECT_EQ(controller.commands[6].parameters, hex({0xA0, 0x00, 0xA0, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0x07, 0x00}));

    // The advertisement read back as a scanner reads it: a bridge section with the tag, and the name.
    const Bytes& data = controller.commands[7].parameters;
    ASSERT_EQ(data.size(), 32u);
    const auto seen = readAdvertisement(data);
    EXPECT_EQ(seen.tag, 0x30);
    EXPECT_EQ(seen.name, "QB7720-UART-1");
    EXPECT_EQ(controller.commands[8].parameters[0], 15);  // the name in the scan response too
}

TEST_F(PeripheralTest, OnAVirtualControllerTheAdvertisementIsRepeated) {
    startAdvertising();
    ASSERT_TRUE(peripheral->repeatsAdvertising());
    const auto due = peripheral->nextTick();
    ASSERT_TRUE(due);
    EXPECT_GE(*due - Peripheral::Clock::now(), std::chrono::milliseconds(400));
    const std::size_t before = controller.commands.size();
    peripheral->tick(*due - std::chrono::milliseconds(1));
    EXPECT_EQ(controller.commands.size(), before);
    peripheral->tick(*due);
    settle();
    ASSERT_EQ(controller.commands.size(), before + 2);
    EXPECT_EQ(controller.commands[before].parameters, hex({0x00}));
    EXPECT_EQ(controller.commands[before + 1].parameters, hex({0x01}));
    EXPECT_TRUE(peripheral->advertising());
    ASSERT_TRUE(peripheral->nextTick());
    EXPECT_GT(*peripheral->nextTick(), *due);
    // Never beside a link.
    controller.connect(kHandle);
    settle();
    EXPECT_FALSE(peripheral->nextTick());
    peripheral->tick(Peripheral::Clock::now() + std::chrono::hours(1));
    settle();
    EXPECT_EQ(controller.commands.size(), before + 2);
}

TEST_F(PeripheralTest, ARadioRepeatsItsAdvertisementItself) {
    controller.manufacturer = 0x000F;
    startAdvertising();
    EXPECT_FALSE(peripheral->repeatsAdvertising());
    EXPECT_FALSE(peripheral->nextTick());
}

TEST_F(PeripheralTest, ARenamedBridgeAdvertisesItsNewName) {
    for (bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "connected" : "advertising");
        if (linked) controller.connect(kHandle);
        if (!linked) startAdvertising();
        settle();
        const std::size_t before = controller.commands.size();
        const std::string name = linked ? "Bench-B" : "Bench-A";
        bridge->setName(name);
        ASSERT_TRUE(runUntil([&] { return count(opcode::kLeSetScanResponseData) >= (linked ? 3u : 2u); }));
        std::optional<Advertisement> data;
        for (std::size_t i = before; i < controller.commands.size(); ++i) {
            if (controller.commands[i].opcode == opcode::kLeSetAdvertisingData)
                data = readAdvertisement(controller.commands[i].parameters);
        }
        ASSERT_TRUE(data);
        EXPECT_EQ(data->name, name);
        EXPECT_EQ(data->tag, 0x30);
    }
}

TEST(AdvertisingData, LongNamesAreShortenedToFit) {
    const Bytes data = bridgeAdvertisingData(std::string(40, 'N'), 7);
    EXPECT_EQ(data.size(), kLegacyAdvertisingPayload);
    EXPECT_EQ(data[15 + 1], 0x08);  // after flags (3) and the bridge section (12): a shortened name
    const Bytes response = bridgeScanResponseData(std::string(40, 'N'));
    EXPECT_EQ(response.size(), kLegacyAdvertisingPayload);
    EXPECT_EQ(response[1], 0x08);
    EXPECT_EQ(bridgeScanResponseData(""), Bytes{});
    EXPECT_EQ(advertisingIntervalUnits(20), 0x20);
    EXPECT_EQ(advertisingIntervalUnits(1), 0x20);
    EXPECT_EQ(advertisingIntervalUnits(10240), 0x4000);
    EXPECT_EQ(advertisingIntervalUnits(100000), 0x4000);
}

TEST_F(PeripheralTest, SharedBuffersWhenTheControllerHasNoneForLe) {
    controller.aclMtu = 0;
    controller.aclBuffers = 0;
    controller.statusFor = [](std::uint16_t) -> std::optional<std::uint8_t> { return std::nullopt; };
    peripheral->start();
    // LE Read Buffer Size answers 0 (as a controller sharing its buffers does); this controller's
    // BR/EDR answer is 0 too, which leaves nothing to send with.
    ASSERT_TRUE(runUntil([&] { return peripheral->finished(); }));
    EXPECT_EQ(peripheral->state(), Peripheral::State::Failed);
    EXPECT_EQ(count(opcode::kReadBufferSize), 1u);
    EXPECT_EQ(count(opcode::kLeSetAdvertiseEnable), 0u);
}

TEST_F(PeripheralTest, AFailedResetFailsTheController) {
    controller.statusFor = [](std::uint16_t op) -> std::optional<std::uint8_t> {
        if (op == opcode::kReset) return 0x03;
        return std::nullopt;
    };
    peripheral->start();
    ASSERT_TRUE(runUntil([&] { return peripheral->finished(); }));
    EXPECT_EQ(peripheral->state(), Peripheral::State::Failed);
    EXPECT_EQ(controller.opcodes(), std::vector<std::uint16_t>{opcode::kReset});
}

TEST_F(PeripheralTest, LoopbackBytesComeBackAsNotificationsInMtuPieces) {
    connectLink();
    EXPECT_TRUE(bridge->connected());
    EXPECT_EQ(request(hex({0x02, 0x00, 0x01})), hex({0x03, 0x05, 0x02}));  // client 256, server 517
    EXPECT_EQ(peripheral->attMtu(), 256);
    EXPECT_EQ(request(hex({0x12, kReceiveConfig, 0, 0x01, 0x00})), hex({0x13}));

    // 600 bytes written without response in MTU-sized pieces, as the terminal writes handle 19.
    Bytes sentBytes(600);
    for (std::size_t i = 0; i < sentBytes.size(); ++i) sentBytes[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t at = 0; at < sentBytes.size(); at += 253) {
        Writer pdu;
        pdu.u8(0x52).u16(protocol::kTransmitValueHandle);
        pdu.bytes(ByteView(sentBytes.data() + at, std::min<std::size_t>(253, sentBytes.size() - at)));
        controller.frameFromHost(kHandle, cid::kAtt, pdu.take());
    }
    const std::size_t start = controller.attSent().size();
    Bytes back;
    ASSERT_TRUE(runUntil([&] {
        back.clear();
        for (const auto& pdu : controller.attSent(start)) {
            if (pdu.size() < 3 || pdu[0] != 0x1B) continue;
            EXPECT_EQ(pdu[1] | pdu[2] << 8, kReceiveValue);
            EXPECT_LE(pdu.size(), 256u);
            back.insert(back.end(), pdu.begin() + 3, pdu.end());
        }
        return back.size() >= sentBytes.size();
    }));
    EXPECT_EQ(back, sentBytes);
    // Every ACL packet fits the controller's buffer.
    for (const auto& packet : controller.aclSent) EXPECT_LE(packet.size(), 5u + 192u);
}

TEST_F(PeripheralTest, SendsNoMorePacketsThanTheControllerHasBuffers) {
    connectLink();
    controller.autoComplete = false;
    const std::size_t before = controller.aclSent.size();
    controller.frameFromHost(kHandle, cid::kAtt, hex({0x0A, 3, 0}));
    controller.frameFromHost(kHandle, cid::kAtt, hex({0x0A, 3, 0}));
    settle();
    EXPECT_EQ(controller.aclSent.size(), before + 1);
    EXPECT_EQ(peripheral->queuedPackets(), 1u);
    // A completion for another link frees nothing here.
    controller.completed(kHandle + 1, 1);
    settle();
    EXPECT_EQ(controller.aclSent.size(), before + 1);
    controller.completed(kHandle, 1);
    settle();
    EXPECT_EQ(controller.aclSent.size(), before + 2);
    EXPECT_EQ(peripheral->queuedPackets(), 0u);
    // A controller that reports more completions than it had buffers does not make room for more.
    controller.completed(kHandle, 5);
    controller.frameFromHost(kHandle, cid::kAtt, hex({0x0A, 3, 0}));
    controller.frameFromHost(kHandle, cid::kAtt, hex({0x0A, 3, 0}));
    settle();
    EXPECT_EQ(controller.aclSent.size(), before + 3);
}

TEST_F(PeripheralTest, RequestsSplitAcrossAclPacketsAreJoined) {
    connectLink();
    // A write of 100 bytes at the default MTU would not fit; after the exchange it does, and the
    // central's controller sends it in 27-byte packets.
    EXPECT_EQ(request(hex({0x02, 0xF7, 0x00})), hex({0x03, 0x05, 0x02}));
    Writer write;
    write.u8(0x12).u16(protocol::kTransmitValueHandle).bytes(Bytes(100, 'z'));
    EXPECT_EQ(request(write.take()), hex({0x13}));
    ASSERT_FALSE(bridge->writes().empty());
    EXPECT_EQ(bridge->writes().back().value, Bytes(100, 'z'));
}

TEST_F(PeripheralTest, AnswersSignallingAndSecurityOnTheirChannels) {
    connectLink();
    controller.frameFromHost(kHandle, cid::kLeSignalling, hex({0x12, 0x05, 0x00, 0x00}));
    controller.frameFromHost(kHandle, cid::kSecurityManager, hex({0x01, 0x03, 0x00, 0x01, 0x10, 0x07, 0x07}));
    ASSERT_TRUE(runUntil([&] { return controller.framesSent.size() >= 2; }));
    EXPECT_EQ(controller.framesSent[0].cid, cid::kLeSignalling);
    EXPECT_EQ(controller.framesSent[0].payload, hex({0x01, 0x05, 0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(controller.framesSent[1].cid, cid::kSecurityManager);
    EXPECT_EQ(controller.framesSent[1].payload, hex({0x05, 0x05}));
}

TEST_F(PeripheralTest, AdvertisesAgainAfterTheCentralLeaves) {
    connectLink();
    EXPECT_EQ(request(hex({0x12, kReceiveConfig, 0, 0x01, 0x00})), hex({0x13}));
    controller.disconnectionComplete(kHandle, hci_error::kRemoteUserTerminated);
    ASSERT_TRUE(runUntil([&] { return peripheral->advertising(); }));
    EXPECT_EQ(peripheral->state(), Peripheral::State::Ready);
    EXPECT_FALSE(bridge->connected());
    EXPECT_EQ(count(opcode::kLeSetAdvertiseEnable), 2u);
    // Packets of the old link are not served any more; a new link starts over at the default MTU.
    const std::size_t sent = controller.aclSent.size();
    controller.frameFromHost(kHandle, cid::kAtt, hex({0x0A, 3, 0}));
    settle();
    EXPECT_EQ(controller.aclSent.size(), sent);
    controller.connect(kHandle, 0x01, true);
    ASSERT_TRUE(runUntil([&] { return peripheral->state() == Peripheral::State::Connected; }));
    EXPECT_EQ(peripheral->attMtu(), 23);
    EXPECT_EQ(bridge->clientConfiguration(kReceiveValue), 0);
}

// btvirt numbers a link for its peripheral as the central does: another number than the controller's
// own once the central holds a second link, and nothing sent on it would arrive.
TEST_F(PeripheralTest, AVirtualControllersMisnumberedLinkIsRefused) {
    startAdvertising();
    controller.connect(kHandle + 1);
    ASSERT_TRUE(runUntil([&] { return count(opcode::kDisconnect) == 1; }));
    for (const auto& command : controller.commands) {
        if (command.opcode == opcode::kDisconnect) {
            EXPECT_EQ(command.parameters, hex({kHandle & 0xFF, kHandle >> 8, 0x13}));
        }
    }
    ASSERT_TRUE(runUntil([&] { return peripheral->advertising(); }));
    EXPECT_EQ(peripheral->state(), Peripheral::State::Ready);
    EXPECT_FALSE(bridge->connected());
}

TEST_F(PeripheralTest, OneLinkAtATime) {
    connectLink();
    controller.connect(kHandle + 1);
    ASSERT_TRUE(runUntil([&] { return count(opcode::kDisconnect) == 1; }));
    const auto& disconnect = controller.commands.back();
    EXPECT_EQ(disconnect.parameters, hex({(kHandle + 1) & 0xFF, (kHandle + 1) >> 8, 0x13}));
    settle();
    EXPECT_EQ(peripheral->state(), Peripheral::State::Connected);
    EXPECT_EQ(peripheral->connectionHandle(), kHandle);
}

TEST_F(PeripheralTest, DropLinkDisconnectsAndAdvertisesAgain) {
    connectLink();
    peripheral->dropLink();
    ASSERT_TRUE(runUntil([&] { return peripheral->advertising(); }));
    EXPECT_EQ(count(opcode::kDisconnect), 1u);
    EXPECT_FALSE(bridge->connected());
}

TEST_F(PeripheralTest, OutOfRangeStaysSilentUntilBack) {
    connectLink();
    peripheral->setOutOfRange(true);
    ASSERT_TRUE(runUntil([&] { return peripheral->state() == Peripheral::State::Ready; }));
    settle();
    EXPECT_FALSE(peripheral->advertising());
    EXPECT_FALSE(bridge->inRange());
    EXPECT_EQ(count(opcode::kLeSetAdvertiseEnable), 1u);
    peripheral->setOutOfRange(false);
    ASSERT_TRUE(runUntil([&] { return peripheral->advertising(); }));
    EXPECT_TRUE(bridge->inRange());
    // Out of range while only advertising: advertising stops.
    peripheral->setOutOfRange(true);
    ASSERT_TRUE(runUntil([&] { return !peripheral->advertising(); }));
}

TEST_F(PeripheralTest, StopDisconnectsAndEnds) {
    connectLink();
    peripheral->stop();
    ASSERT_TRUE(runUntil([&] { return peripheral->finished(); }));
    EXPECT_EQ(peripheral->state(), Peripheral::State::Stopped);
    // The link ended advertising; nothing is switched off twice.
    EXPECT_EQ(controller.opcodes().back(), opcode::kDisconnect);
    EXPECT_EQ(controller.commands.back().parameters[2], 0x15);
    EXPECT_EQ(count(opcode::kLeSetAdvertiseEnable), 1u);
    EXPECT_FALSE(bridge->connected());
}

TEST_F(PeripheralTest, StopWhileAdvertisingSwitchesItOff) {
    startAdvertising();
    peripheral->stop();
    ASSERT_TRUE(runUntil([&] { return peripheral->finished(); }));
    EXPECT_EQ(peripheral->state(), Peripheral::State::Stopped);
    EXPECT_EQ(controller.opcodes().back(), opcode::kLeSetAdvertiseEnable);
    EXPECT_EQ(controller.commands.back().parameters, hex({0x00}));
    EXPECT_FALSE(peripheral->advertising());
}

TEST_F(PeripheralTest, StopDuringSetUpEndsWithoutAdvertising) {
    peripheral->start();
    peripheral->stop();
    ASSERT_TRUE(runUntil([&] { return peripheral->finished(); }));
    EXPECT_EQ(peripheral->state(), Peripheral::State::Stopped);
    EXPECT_EQ(count(opcode::kLeSetAdvertiseEnable), 0u);
}

}  // namespace
}  // namespace qb::hci
