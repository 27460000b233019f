// The ATT server over the bridge model, asked as a GATT client (bluetoothd, the Windows stack) asks.
#include <gtest/gtest.h>

#include <map>

#include "AttServer.h"
#include "qb7720/emulator/World.h"
#include "qb7720/protocol/BridgeFacts.h"
#include "qb7720/protocol/Frames.h"

namespace qb::hci {
namespace {

using emulator::World;
using protocol::BlockArea;

Bytes hex(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

std::uint16_t le16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

class AttServerTest : public ::testing::Test {
  protected:
    void SetUp() override { make({}); }

    void make(emulator::BridgeConfig config, std::uint16_t serverMtu = 517) {
        world = World::create(emulator::TimeMode::Virtual);
        bridge = world->addBridge(config);
        server = std::make_unique<AttServer>(bridge, serverMtu, [this](Bytes pdu) { sent.push_back(pdu); });
        server->linkUp();
        bridge->connect();
    }

    // The one response to a request (or nothing).
    std::optional<Bytes> ask(const Bytes& request) {
        sent.clear();
        server->receive(request);
        if (sent.empty()) return std::nullopt;
        EXPECT_EQ(sent.size(), 1u);
        return sent.back();
    }

    std::shared_ptr<World> world;
    std::shared_ptr<emulator::VirtualBridge> bridge;
    std::unique_ptr<AttServer> server;
    std::vector<Bytes> sent;
};

TEST_F(AttServerTest, DiscoveryAsAClientWalksItFindsTheBridgeLayout) {
    // Primary services, continuing after the last group end until nothing is left.
    std::vector<std::tuple<std::uint16_t, std::uint16_t, std::uint16_t>> services;
    for (std::uint16_t start = 1;;) {
        const auto rsp = ask(hex({0x10, start & 0xFF, start >> 8, 0xFF, 0xFF, 0x00, 0x28}));
        ASSERT_TRUE(rsp);
        if ((*rsp)[0] == 0x01) {
            EXPECT_EQ(*rsp, hex({0x01, 0x10, start & 0xFF, start >> 8, 0x0A}));
            break;
        }
        ASSERT_EQ((*rsp)[0], 0x11);
        ASSERT_EQ((*rsp)[1], 6);  // 16-bit UUIDs only
        for (std::size_t at = 2; at + 6 <= rsp->size(); at += 6) {
            services.emplace_back(le16(*rsp, at), le16(*rsp, at + 2), le16(*rsp, at + 4));
            start = static_cast<std::uint16_t>(le16(*rsp, at + 2) + 1);
        }
        ASSERT_LT(services.size(), 10u);
    }
    ASSERT_EQ(services.size(), 3u);
    EXPECT_EQ(services[2], std::make_tuple(std::uint16_t{13}, std::uint16_t{24}, protocol::kBridgeServiceUuid));

    // Characteristics of the vendor service.
    std::map<std::uint16_t, std::pair<std::uint8_t, std::uint16_t>> found;  // uuid: properties, value handle
    for (std::uint16_t start = 13;;) {
        const auto rsp = ask(hex({0x08, start & 0xFF, start >> 8, 24, 0x00, 0x03, 0x28}));
        ASSERT_TRUE(rsp);
        if ((*rsp)[0] == 0x01) break;
        ASSERT_EQ((*rsp)[1], 7);
        for (std::size_t at = 2; at + 7 <= rsp->size(); at += 7) {
            found[le16(*rsp, at + 5)] = {(*rsp)[at + 2], le16(*rsp, at + 3)};
            start = static_cast<std::uint16_t>(le16(*rsp, at) + 1);
        }
    }
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0xFFF1], std::make_pair(std::uint8_t{0x10}, std::uint16_t{15}));
    EXPECT_EQ(found[0xFFF2], std::make_pair(std::uint8_t{0x0C}, protocol::kTransmitValueHandle));
    EXPECT_EQ(found[0xFFF3], std::make_pair(std::uint8_t{0x1E}, std::uint16_t{22}));

    // Descriptors after Receive's value: its client configuration, then its user description.
    EXPECT_EQ(ask(hex({0x04, 16, 0, 17, 0})), hex({0x05, 0x01, 16, 0, 0x02, 0x29, 17, 0, 0x01, 0x29}));
    // By UUID, as the Windows stack finds a service.
    EXPECT_EQ(ask(hex({0x06, 1, 0, 0xFF, 0xFF, 0x00, 0x28, 0xF0, 0xFF})), hex({0x07, 13, 0, 24, 0}));
}

TEST_F(AttServerTest, MtuExchangeTakesTheSmallerAndTheModelFollows) {
    struct Case {
        std::uint16_t server, client, agreed;
    };
    for (const Case c : {Case{517, 517, 517}, Case{247, 517, 247}, Case{517, 100, 100}, Case{517, 10, 23}}) {
        emulator::BridgeConfig config;
        make(config, c.server);
        EXPECT_EQ(ask(hex({0x02, c.client & 0xFF, c.client >> 8})), hex({0x03, c.server & 0xFF, c.server >> 8}));
        EXPECT_EQ(server->mtu(), c.agreed);
        EXPECT_EQ(bridge->mtu(), c.agreed);
        // The largest write without response the agreed MTU carries reaches the model (an
        // attribute value is at most 512 bytes).
        const std::size_t largest = std::min<std::size_t>(c.agreed - 3u, 512);
        Bytes fits(3 + largest, 'x');
        fits[0] = 0x52;
        fits[1] = 19;
        fits[2] = 0;
        server->receive(fits);
        ASSERT_FALSE(bridge->writes().empty());
        EXPECT_EQ(bridge->writes().back().value.size(), largest);
    }
}

TEST_F(AttServerTest, ReadBlobContinuesTheValueAReadTook) {
    // The command channel hands out its next piece on each read: a blob must continue the piece read,
    // not take a new one.
    emulator::BridgeConfig config;
    config.readPieceSize = 60;
    make(config);
    ASSERT_EQ(ask([] {
                  Bytes w{0x12, 22, 0};
                  const Bytes frame = protocol::encodeReadBlock(BlockArea::CfgPara);
                  w.insert(w.end(), frame.begin(), frame.end());
                  return w;
              }()),
              hex({0x13}));
    const auto first = ask(hex({0x0A, 22, 0}));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), 23u);  // MTU 23: 22 value bytes
    const auto second = ask(hex({0x0C, 22, 0, 22, 0}));
    const auto third = ask(hex({0x0C, 22, 0, 44, 0}));
    ASSERT_TRUE(second && third);
    Bytes piece(first->begin() + 1, first->end());
    piece.insert(piece.end(), second->begin() + 1, second->end());
    piece.insert(piece.end(), third->begin() + 1, third->end());
    ASSERT_EQ(piece.size(), 60u);
    const auto block = emulator::VirtualBridge::firmwareDefaults(BlockArea::CfgPara);
    EXPECT_EQ(Bytes(piece.begin() + 4, piece.end()), Bytes(block.begin(), block.begin() + 56));
    // The next read is the next piece.
    const auto next = ask(hex({0x0A, 22, 0}));
    ASSERT_TRUE(next);
    EXPECT_EQ(Bytes(next->begin() + 1, next->begin() + 5), Bytes(block.begin() + 56, block.begin() + 60));
}

TEST_F(AttServerTest, RefusalsAsARealServerGivesThem) {
    struct Case {
        const char* what;
        Bytes request;
        std::optional<Bytes> response;
    };
    const Case cases[] = {
        {"read of handle 0", hex({0x0A, 0, 0}), hex({0x01, 0x0A, 0, 0, 0x01})},
        {"read past the table", hex({0x0A, 0, 1}), hex({0x01, 0x0A, 0, 1, 0x01})},
        {"read of the transmit value", hex({0x0A, 19, 0}), hex({0x01, 0x0A, 19, 0, 0x02})},
        {"write to a declaration", hex({0x12, 18, 0, 1}), hex({0x01, 0x12, 18, 0, 0x03})},
        {"write to the receive value", hex({0x12, 15, 0, 1}), hex({0x01, 0x12, 15, 0, 0x03})},
        {"client configuration of one byte", hex({0x12, 16, 0, 1}), hex({0x01, 0x12, 16, 0, 0x0D})},
        {"grouping by characteristic", hex({0x10, 1, 0, 0xFF, 0xFF, 0x03, 0x28}), hex({0x01, 0x10, 1, 0, 0x10})},
        {"information from 0", hex({0x04, 0, 0, 5, 0}), hex({0x01, 0x04, 0, 0, 0x01})},
        {"range backwards", hex({0x08, 5, 0, 4, 0, 0x03, 0x28}), hex({0x01, 0x08, 5, 0, 0x01})},
        {"type not in range", hex({0x08, 13, 0, 24, 0, 0x00, 0x2A}), hex({0x01, 0x08, 13, 0, 0x0A})},
        {"read offset past the end", hex({0x0C, 3, 0, 0x40, 0}), hex({0x01, 0x0C, 3, 0, 0x07})},
        {"prepare write", hex({0x16, 22, 0, 0, 0, 1}), hex({0x01, 0x16, 0, 0, 0x06})},
        {"read with a stray byte", hex({0x0A, 3, 0, 0}), hex({0x01, 0x0A, 0, 0, 0x04})},
        {"uuid of 3 bytes", hex({0x08, 1, 0, 5, 0, 1, 2, 3}), hex({0x01, 0x08, 0, 0, 0x04})},
        {"write command to a declaration", hex({0x52, 18, 0, 1}), std::nullopt},
        {"write command without a handle", hex({0x52, 19}), std::nullopt},
        {"unknown command", hex({0x7F, 1, 2}), std::nullopt},
        {"signed write", hex({0xD2, 19, 0, 1}), std::nullopt},
        {"the client's error response", hex({0x01, 0x0A, 1, 0, 0x0A}), std::nullopt},
        {"a confirmation nobody waits for", hex({0x1E}), std::nullopt},
        {"empty", {}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ask(c.request), c.response) << c.what;
    // The client is a server too: its indications are confirmed.
    EXPECT_EQ(ask(hex({0x1D, 3, 0, 1})), hex({0x1E}));
    EXPECT_TRUE(bridge->writes().empty());
}

// A refusal answers read and write requests in the model's place; write commands and discovery pass.
TEST_F(AttServerTest, ARefusalAnswersRequestsInsteadOfTheModel) {
    std::vector<std::pair<int, int>> asked;
    server->setRefusal([&](std::uint8_t opcode, std::uint16_t handle) -> std::optional<std::uint8_t> {
        asked.emplace_back(opcode, handle);
        return 0x80;
    });
    struct Case {
        const char* what;
        Bytes request;
        std::optional<Bytes> response;
    };
    const Case cases[] = {
        {"write request", hex({0x12, 19, 0, 'x'}), hex({0x01, 0x12, 19, 0, 0x80})},
        {"client configuration", hex({0x12, 16, 0, 1, 0}), hex({0x01, 0x12, 16, 0, 0x80})},
        {"read", hex({0x0A, 3, 0}), hex({0x01, 0x0A, 3, 0, 0x80})},
        {"read blob", hex({0x0C, 3, 0, 1, 0}), hex({0x01, 0x0C, 3, 0, 0x80})},
        {"unknown handle", hex({0x0A, 0xFF, 0}), hex({0x01, 0x0A, 0xFF, 0, 0x01})},
        {"write command", hex({0x52, 19, 0, 'y'}), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ask(c.request), c.response) << c.what;
    const std::vector<std::pair<int, int>> expected{{0x12, 19}, {0x12, 16}, {0x0A, 3}, {0x0C, 3}};
    EXPECT_EQ(asked, expected);
    ASSERT_EQ(bridge->writes().size(), 1u);
    EXPECT_EQ(bridge->writes().back().value, hex({'y'}));
    EXPECT_EQ(ask(hex({0x10, 1, 0, 0xFF, 0xFF, 0x00, 0x28})).value_or(Bytes{}).at(0), 0x11);
}

TEST_F(AttServerTest, WritesReachTheModel) {
    Bytes serial{0x52, 22, 0};
    const Bytes frame = protocol::encodeSetSerial(9600, 7, 2, 2);
    serial.insert(serial.end(), frame.begin(), frame.end());
    EXPECT_FALSE(ask(serial));
    EXPECT_EQ(bridge->lineSettings().baud, 9600u);
    EXPECT_EQ(bridge->lineSettings().dataBits, 7);

    EXPECT_EQ(ask(hex({0x12, 19, 0, 'h', 'i'})), hex({0x13}));
    EXPECT_EQ(bridge->writes().back().value, hex({'h', 'i'}));
    EXPECT_TRUE(bridge->writes().back().withResponse);
}

TEST_F(AttServerTest, NotificationsGoOnlyWhereTheClientAskedForThem) {
    server->notifyFromModel(15, hex({1, 2, 3}));
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(ask(hex({0x12, 16, 0, 0x01, 0x00})), hex({0x13}));
    EXPECT_EQ(ask(hex({0x0A, 16, 0})), hex({0x0B, 0x01, 0x00}));
    sent.clear();
    server->notifyFromModel(15, hex({1, 2, 3}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], hex({0x1B, 15, 0, 1, 2, 3}));
    // Switched off again, and gone with the link.
    EXPECT_EQ(ask(hex({0x12, 16, 0, 0x00, 0x00})), hex({0x13}));
    EXPECT_EQ(ask(hex({0x12, 23, 0, 0x01, 0x00})), hex({0x13}));
    bridge->disconnect();
    server->linkDown();
    server->linkUp();
    bridge->connect();
    EXPECT_EQ(ask(hex({0x0A, 23, 0})), hex({0x0B, 0x00, 0x00}));
}

TEST(AttServerIndications, WaitForTheConfirmationOfTheOneBefore) {
    // A device of its own whose characteristic indicates.
    auto world = World::create(emulator::TimeMode::Virtual);
    emulator::DeviceConfig config;
    config.name = "indicator";
    emulator::ServiceSpec service;
    service.uuid = platform::Guid::fromShortUuid(0xAAA0);
    service.characteristics = {{platform::Guid::fromShortUuid(0xAAA1), platform::gatt_property::kIndicate, {}, {}}};
    config.services = {service};
    auto device = world->addDevice(config);
    std::vector<Bytes> sent;
    AttServer server(device, 23, [&](Bytes pdu) { sent.push_back(pdu); });
    server.linkUp();
    device->connect();
    const std::uint16_t value = device->findCharacteristic(0xAAA1)->valueHandle;
    const std::uint8_t cccd = static_cast<std::uint8_t>(value + 1);
    server.receive(hex({0x12, cccd, 0, 0x02, 0x00}));
    sent.clear();
    server.notifyFromModel(value, hex({1}));
    server.notifyFromModel(value, hex({2}));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], hex({0x1D, value, 0, 1}));
    server.receive(hex({0x1E}));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], hex({0x1D, value, 0, 2}));
}

}  // namespace
}  // namespace qb::hci
