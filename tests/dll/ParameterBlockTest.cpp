// The parameter-block exports against the emulated bridge's command channel.
#include <algorithm>
#include <array>

#include "DllTestSupport.h"
#include "qb7720/protocol/BridgeSide.h"

namespace qb::dll::test {
namespace {

using emulator::BlockArea;
using emulator::VirtualBridge;

class ParameterBlockTest : public DllTest {
  protected:
    void SetUp() override {
        DllTest::SetUp();
        handle = open(bridge);
        ASSERT_NE(handle, nullptr);
        writesBefore = bridgeWriteCount();
    }
    QB7720DeviceHandle openBridgeWithPieces(std::size_t pieceSize) {
        emulator::BridgeConfig config;
        config.readPieceSize = pieceSize;
        return open(addBridge(config));
    }
    // Writes to the command characteristic since the set-up.
    std::vector<emulator::WriteRecord> commands() { return writesTo(*bridge, 0xFFF3, writesBefore); }
    static emulator::ParameterBlock pattern(std::uint8_t seed) {
        emulator::ParameterBlock block;
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(seed + i * 13);
        return block;
    }
    QB7720DeviceHandle handle = nullptr;
    std::size_t writesBefore = 0;
};

TEST_F(ParameterBlockTest, ReadFillsExactly512BytesOfEachArea) {
    std::array<uint8_t, 513> buffer;
    buffer.fill(0xA5);
    EXPECT_EQ(QB7720GetCfgPara(handle, buffer.data()), 1);
    const auto cfg = VirtualBridge::firmwareDefaults(BlockArea::CfgPara);
    EXPECT_TRUE(std::equal(cfg.begin(), cfg.end(), buffer.begin()));
    EXPECT_EQ(buffer[512], 0xA5);

    buffer.fill(0xA5);
    EXPECT_EQ(QB7720GetExdCfg(handle, buffer.data()), 1);
    const auto exd = VirtualBridge::firmwareDefaults(BlockArea::ExdCfg);
    EXPECT_TRUE(std::equal(exd.begin(), exd.end(), buffer.begin()));
    EXPECT_EQ(buffer[512], 0xA5);

    EXPECT_EQ(bridgeWriteCount() - writesBefore, 2u);
    const auto sent = commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].value, (Bytes{0x01, 0x00, 0x02, 0x01, 0x01}));
    EXPECT_TRUE(sent[0].withResponse);
    EXPECT_EQ(sent[1].value, (Bytes{0x01, 0x00, 0x02, 0x03, 0x03}));
}

// Every read asks for the whole capacity, so neither a short first piece nor a short piece later on
// cuts the pieces that follow it.
TEST_F(ParameterBlockTest, ReadWorksForEveryPieceSize) {
    QB_NOT_ON_REAL_STACK(::qb::test::kTwoLinksAtOnce);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{5},
                                    std::size_t{20}, std::size_t{244}, std::size_t{512}}) {
        SCOPED_TRACE(piece);
        const auto other = openBridgeWithPieces(piece);
        ASSERT_NE(other, nullptr);
        std::array<uint8_t, 512> block{};
        EXPECT_EQ(QB7720GetCfgPara(other, block.data()), 1);
        EXPECT_EQ(block, VirtualBridge::firmwareDefaults(BlockArea::CfgPara));
        QB7720CloseDevice(other);
    }
}

// A reply that is not header, 512 bytes and a checksum that holds gives 0, and the caller's block
// keeps every byte it had.
TEST_F(ParameterBlockTest, DamagedRepliesFailAndLeaveTheBlockAlone) {
    const Bytes genuine = qb::protocol::bridge::encodeReadBlockReply(
        BlockArea::ExdCfg, VirtualBridge::firmwareDefaults(BlockArea::ExdCfg));
    auto changed = [&](std::size_t at) {
        Bytes b = genuine;
        b[at] ^= 0x21;
        return b;
    };
    Bytes longer = genuine;
    longer.push_back(0);
    struct Case {
        const char* what;
        Bytes reply;
    };
    const Case cases[] = {
        {"empty", {}},
        {"header only", Bytes(genuine.begin(), genuine.begin() + 4)},
        {"no checksum", Bytes(genuine.begin(), genuine.end() - 1)},
        {"a block byte changed", changed(200)},
        {"the checksum changed", changed(genuine.size() - 1)},
        {"a byte past the checksum", longer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bridge->overrideReply(0x01, c.reply);
        std::array<uint8_t, 512> block;
        block.fill(0x6B);
        EXPECT_EQ(QB7720GetExdCfg(handle, block.data()), 0);
        EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0x6B; }));
    }
    // The genuine reply given back as an override is taken, so the damage is what was refused.
    bridge->overrideReply(0x01, genuine);
    std::array<uint8_t, 512> block{};
    EXPECT_EQ(QB7720GetExdCfg(handle, block.data()), 1);
    EXPECT_EQ(block, VirtualBridge::firmwareDefaults(BlockArea::ExdCfg));
}

TEST_F(ParameterBlockTest, ReadFailsWhenTheRequestOrAReadFails) {
    std::array<uint8_t, 512> block{};
    if (emu) {
        emu->injectGattStatus(Operation::CharacteristicWriteValue,
                              platform::GattCommunicationStatus::ProtocolError);
    } else {
        radio->failWrites(*bridge, 1);
    }
    EXPECT_EQ(QB7720GetCfgPara(handle, block.data()), 0);
    EXPECT_EQ(bridgeWriteCount(), writesBefore) << "the refused request reached the bridge";
    failNext(Operation::CharacteristicReadValue, hresult::kFail);
    EXPECT_EQ(QB7720GetCfgPara(handle, block.data()), 0);
    EXPECT_EQ(QB7720GetCfgPara(handle, nullptr), 0);
    EXPECT_EQ(QB7720GetCfgPara(handle, block.data()), 1) << "a fault outlived its call";
}

TEST_F(ParameterBlockTest, WriteSends26PiecesAndTheBridgeStoresTheBlock) {
    const auto block = pattern(3);
    EXPECT_EQ(QB7720SetExdCfg(handle, block.data()), 1);
    EXPECT_EQ(bridgeWriteCount() - writesBefore, 26u);
    EXPECT_EQ(bridge->block(BlockArea::ExdCfg), block);
    const auto sent = commands();
    ASSERT_EQ(sent.size(), 26u);
    Bytes joined;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].value.size(), i < 25 ? 20u : 17u) << i;
        EXPECT_TRUE(sent[i].withResponse);
        joined.insert(joined.end(), sent[i].value.begin(), sent[i].value.end());
    }
    EXPECT_EQ(Bytes(joined.begin(), joined.begin() + 4), (Bytes{0x02, 0x02, 0x02, 0x03}));

    std::array<uint8_t, 512> readBack{};
    EXPECT_EQ(QB7720GetExdCfg(handle, readBack.data()), 1);
    EXPECT_EQ(readBack, block);
    EXPECT_EQ(QB7720SetCfgPara(handle, pattern(9).data()), 1);
    EXPECT_EQ(QB7720GetCfgPara(handle, readBack.data()), 1);
    EXPECT_EQ(readBack, pattern(9));
    EXPECT_EQ(bridge->block(BlockArea::CfgPara), pattern(9));
}

TEST_F(ParameterBlockTest, RefusedPieceStopsTheWriteWithoutReading) {
    if (!emu) {
        // Over the bus, where calls cannot be counted: no later piece reaches the bridge, and a read
        // fault set beside the write fault is still there for the next read.
        failNext(Operation::CharacteristicWriteValue, hresult::kFail);
        failNext(Operation::CharacteristicReadValue, hresult::kFail);
        EXPECT_EQ(QB7720SetCfgPara(handle, pattern(1).data()), 0);
        EXPECT_EQ(bridgeWriteCount(), writesBefore);
        std::array<uint8_t, 512> block{};
        EXPECT_EQ(QB7720GetCfgPara(handle, block.data()), 0) << "the refused write was followed by a read";
        EXPECT_EQ(QB7720GetCfgPara(handle, block.data()), 1);
        return;
    }
    emu->injectGattStatus(Operation::CharacteristicWriteValue,
                          platform::GattCommunicationStatus::ProtocolError);
    const auto readsBefore = emu->callCount(Operation::CharacteristicReadValue);
    EXPECT_EQ(QB7720SetCfgPara(handle, pattern(1).data()), 0);
    EXPECT_EQ(emu->callCount(Operation::CharacteristicWriteValue), 1u);
    EXPECT_EQ(emu->callCount(Operation::CharacteristicReadValue), readsBefore);
}

TEST_F(ParameterBlockTest, WriteReplyMustNameTheArea) {
    bridge->overrideReply(0x02, Bytes{0x82, 0, 0, 0, 0x03});
    EXPECT_EQ(QB7720SetCfgPara(handle, pattern(1).data()), 0);
    EXPECT_EQ(QB7720SetExdCfg(handle, pattern(1).data()), 1);
    bridge->overrideReply(0x02, Bytes{0x02, 0, 0, 0, 0x01});
    EXPECT_EQ(QB7720SetCfgPara(handle, pattern(1).data()), 0);
}

struct ResetCase {
    const char* name;
    Bytes reply;
    int cfgAccepted;
    int exdAccepted;
};

class ResetAcceptanceTest : public ParameterBlockTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(ResetAcceptanceTest, CfgParaTakesEitherSignExdCfgNeedsBoth) {
    bridge->overrideReply(0x03, GetParam().reply);
    EXPECT_EQ(QB7720ResetCfgPara(handle), GetParam().cfgAccepted);
    EXPECT_EQ(QB7720ResetExdCfg(handle), GetParam().exdAccepted);
}

INSTANTIATE_TEST_SUITE_P(Replies, ResetAcceptanceTest,
                         ::testing::Values(ResetCase{"CodeOnly", {0x83}, 1, 0},
                                           ResetCase{"AreaOneOnly", {0, 0, 0, 0, 0x01}, 1, 0},
                                           ResetCase{"CodeAndAreaThree", {0x83, 0, 0, 0, 0x03}, 1, 1},
                                           ResetCase{"AreaThreeOnly", {0, 0, 0, 0, 0x03}, 0, 0},
                                           ResetCase{"Empty", {}, 0, 0}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ParameterBlockTest, GenuineResetsAreAcceptedAndRestoreDefaults) {
    if (model) {
        model->setBlock(BlockArea::CfgPara, pattern(5));
    } else {
        ASSERT_EQ(QB7720SetCfgPara(handle, pattern(5).data()), 1);
        writesBefore = bridgeWriteCount();
    }
    ASSERT_EQ(bridge->block(BlockArea::CfgPara), pattern(5));
    EXPECT_EQ(QB7720ResetCfgPara(handle), 1);
    EXPECT_EQ(bridge->block(BlockArea::CfgPara), VirtualBridge::firmwareDefaults(BlockArea::CfgPara));
    EXPECT_EQ(QB7720ResetExdCfg(handle), 1);
    const auto sent = commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].value, (Bytes{0x03, 0x00, 0x02, 0x03, 0x03}));
    failNext(Operation::CharacteristicReadValue, hresult::kFail);
    EXPECT_EQ(QB7720ResetCfgPara(handle), 0);
}

TEST_F(ParameterBlockTest, ChannelResetIsOneUnansweredWriteAndAlwaysOne) {
    const auto readsBefore = emu ? emu->callCount(Operation::CharacteristicReadValue) : 0;
    EXPECT_EQ(QB7720ResetCh(handle), 1);
    EXPECT_EQ(bridgeWriteCount() - writesBefore, 1u);
    const auto sent = commands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].value, (Bytes{0x04, 0x00, 0x02, 0x00, 0x00}));
    EXPECT_FALSE(sent[0].withResponse);
    // Over the bus a write without response goes through the socket the backend holds, which the
    // daemon cannot fail; reads are counted in process only.
    if (!emu) return;
    EXPECT_EQ(emu->callCount(Operation::CharacteristicReadValue), readsBefore);
    // A refused write still reports 1.
    emu->injectError(Operation::CharacteristicWriteValue, hresult::kFail);
    EXPECT_EQ(QB7720ResetCh(handle), 1);
    EXPECT_EQ(bridgeWriteCount() - writesBefore, 1u);
}

}  // namespace
}  // namespace qb::dll::test
