// The command channel driven with frames the protocol library encodes, and judged by it.
#include <gtest/gtest.h>

#include <random>

#include "qb7720/emulator/World.h"
#include "qb7720/protocol/Protocol.h"

namespace qb::emulator {
namespace {

namespace proto = qb::protocol;

class BridgeCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        world = World::create(TimeMode::Virtual);
        bridge = world->addBridge();
        ASSERT_EQ(bridge->connect(), AttStatus::Success);
        command = bridge->findCharacteristic(VirtualBridge::kCommandUuid)->valueHandle;
    }

    void write(const Bytes& frame, bool withResponse = true) {
        ASSERT_EQ(bridge->write(command, frame, withResponse), AttStatus::Success);
    }
    Bytes read() {
        auto result = bridge->read(command);
        EXPECT_EQ(result.status, AttStatus::Success);
        return result.value;
    }
    void writeBlock(BlockArea area, const ParameterBlock& block) {
        for (const auto& piece : proto::splitIntoPieces(proto::encodeWriteBlock(area, block))) write(piece);
    }
    // Reads the block stream as the library does, piece by piece, until the assembler is done.
    proto::BlockReplyAssembler readBlock(BlockArea area) {
        write(proto::encodeReadBlock(area));
        proto::BlockReplyAssembler assembler;
        for (int i = 0; i < 100 && assembler.progress() == proto::BlockReplyAssembler::Progress::NeedMore;
             ++i) {
            assembler.feed(read());
        }
        return assembler;
    }

    std::shared_ptr<World> world;
    std::shared_ptr<VirtualBridge> bridge;
    std::uint16_t command = 0;
};

ParameterBlock pattern(std::uint8_t seed) {
    ParameterBlock block{};
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i ^ seed);
    return block;
}

TEST_F(BridgeCommandTest, WriteBlockInPiecesIsStoredAndAcknowledgedPerArea) {
    for (BlockArea area : {BlockArea::CfgPara, BlockArea::ExdCfg}) {
        const auto block = pattern(static_cast<std::uint8_t>(area) * 0x11);
        writeBlock(area, block);
        const Bytes reply = read();
        EXPECT_TRUE(proto::writeBlockAcknowledged(reply, area));
        EXPECT_EQ(bridge->block(area), block);
    }
    // The other area's block stays apart.
    EXPECT_EQ(bridge->block(BlockArea::CfgPara), pattern(0x11));
    EXPECT_EQ(bridge->malformedFrames(), 0u);
    const auto frames = bridge->frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes.size(), proto::kWriteBlockFrameSize);
    EXPECT_TRUE(frames[0].valid);
}

TEST_F(BridgeCommandTest, ReadBlockStreamYieldsTheBlockInTwentyBytePieces) {
    const auto block = pattern(0x5A);
    bridge->setBlock(BlockArea::ExdCfg, block);
    write(proto::encodeReadBlock(BlockArea::ExdCfg));
    std::vector<std::size_t> sizes;
    proto::BlockReplyAssembler assembler;
    for (int i = 0; i < 100 && assembler.progress() == proto::BlockReplyAssembler::Progress::NeedMore; ++i) {
        const Bytes piece = read();
        sizes.push_back(piece.size());
        assembler.feed(piece);
    }
    ASSERT_EQ(assembler.progress(), proto::BlockReplyAssembler::Progress::Complete);
    EXPECT_EQ(assembler.block(), block);
    // 517 bytes: 25 full pieces and one of 17, the assembler stopping once 512 block bytes are in.
    ASSERT_EQ(sizes.size(), 26u);
    EXPECT_EQ(sizes.front(), 20u);
    EXPECT_EQ(sizes.back(), 17u);
    // Past the end of the stream a read gives nothing rather than starting over.
    EXPECT_TRUE(read().empty());
}

TEST_F(BridgeCommandTest, ReadPieceSizeFollowsConfiguration) {
    BridgeConfig config;
    config.readPieceSize = 100;
    auto other = world->addBridge(config);
    ASSERT_EQ(other->connect(), AttStatus::Success);
    const auto handle = other->findCharacteristic(VirtualBridge::kCommandUuid)->valueHandle;
    ASSERT_EQ(other->write(handle, proto::encodeReadBlock(BlockArea::CfgPara), true), AttStatus::Success);
    EXPECT_EQ(other->read(handle).value.size(), 100u);
}

TEST_F(BridgeCommandTest, ResetBlockRestoresFirmwareDefaultsAndIsJudgedAccepted) {
    for (BlockArea area : {BlockArea::CfgPara, BlockArea::ExdCfg}) {
        bridge->setBlock(area, pattern(0x77));
        write(proto::encodeResetBlock(area));
        EXPECT_TRUE(proto::resetBlockAcknowledged(read(), area));
        EXPECT_EQ(bridge->block(area), VirtualBridge::firmwareDefaults(area));
        auto assembler = readBlock(area);
        EXPECT_EQ(assembler.block(), VirtualBridge::firmwareDefaults(area));
    }
}

TEST_F(BridgeCommandTest, SetSerialAndSetModemChangeTheLineAndAreAnswered) {
    write(proto::encodeSetSerial(9600, 7, 2, 2), false);
    EXPECT_FALSE(read().empty());
    const LineSettings line = bridge->lineSettings();
    EXPECT_EQ(line.baud, 9600u);
    EXPECT_EQ(line.dataBits, 7);
    EXPECT_EQ(line.stopBits, 2);
    EXPECT_EQ(line.parity, 2);
    EXPECT_EQ(line.bitsPerCharacter(), 11u);

    // The modem setter pads its frame with four zero bytes.
    Bytes padded = proto::encodeSetModem(1, 0, 1);
    padded.insert(padded.end(), 4, 0);
    write(padded, false);
    const ModemOutputs modem = bridge->modemOutputs();
    EXPECT_TRUE(modem.flowControl);
    EXPECT_FALSE(modem.dtr);
    EXPECT_TRUE(modem.rts);
    EXPECT_EQ(bridge->malformedFrames(), 0u);
}

TEST_F(BridgeCommandTest, MalformedFramesAreIgnoredAndCounted) {
    const LineSettings before = bridge->lineSettings();
    Bytes badChecksum = proto::encodeSetSerial(9600, 8, 1, 0);
    badChecksum.back() ^= 0xFF;
    Bytes badLength = proto::encodeSetSerial(9600, 8, 1, 0);
    badLength[1] = 0x0A;
    Bytes unknownCode = proto::encodeResetChannel();
    unknownCode[0] = 0x05;
    Bytes trailingGarbage = proto::encodeSetSerial(9600, 8, 1, 0);
    trailingGarbage.push_back(0x42);
    Bytes badArea = proto::encodeResetBlock(BlockArea::CfgPara);
    badArea[3] = 0x02;
    badArea[4] = 0x02;
    for (const auto& frame : {badChecksum, badLength, unknownCode, trailingGarbage, badArea, Bytes{}})
        write(frame);
    EXPECT_EQ(bridge->malformedFrames(), 6u);
    EXPECT_EQ(bridge->lineSettings(), before);
    EXPECT_EQ(bridge->block(BlockArea::CfgPara), VirtualBridge::firmwareDefaults(BlockArea::CfgPara));
}

TEST_F(BridgeCommandTest, AHostThatReadsInTheMiddleOfAWriteBlockLosesOnlyThatFrame) {
    const auto pieces = proto::splitIntoPieces(proto::encodeWriteBlock(BlockArea::CfgPara, pattern(1)));
    for (std::size_t i = 0; i < 10; ++i) write(pieces[i]);
    read();
    EXPECT_EQ(bridge->malformedFrames(), 1u);
    // The next command is understood on its own, not swallowed into the abandoned frame.
    write(proto::encodeSetSerial(57600, 8, 1, 0), false);
    EXPECT_EQ(bridge->lineSettings().baud, 57600u);
    EXPECT_EQ(bridge->block(BlockArea::CfgPara), VirtualBridge::firmwareDefaults(BlockArea::CfgPara));
}

TEST_F(BridgeCommandTest, AWriteBlockLeftHalfWayIsAbandonedAfterAPause) {
    const auto pieces = proto::splitIntoPieces(proto::encodeWriteBlock(BlockArea::CfgPara, pattern(5)));
    for (std::size_t i = 0; i < 4; ++i) write(pieces[i]);
    world->clock()->advance(std::chrono::milliseconds(1001));
    writeBlock(BlockArea::CfgPara, pattern(6));
    EXPECT_TRUE(proto::writeBlockAcknowledged(read(), BlockArea::CfgPara));
    EXPECT_EQ(bridge->block(BlockArea::CfgPara), pattern(6));
    EXPECT_EQ(bridge->malformedFrames(), 1u);
}

TEST_F(BridgeCommandTest, ALinkDropAbandonsAHalfWrittenBlock) {
    const auto pieces = proto::splitIntoPieces(proto::encodeWriteBlock(BlockArea::CfgPara, pattern(2)));
    for (std::size_t i = 0; i < 5; ++i) write(pieces[i]);
    bridge->dropLink();
    ASSERT_EQ(bridge->connect(), AttStatus::Success);
    writeBlock(BlockArea::CfgPara, pattern(3));
    EXPECT_TRUE(proto::writeBlockAcknowledged(read(), BlockArea::CfgPara));
    EXPECT_EQ(bridge->block(BlockArea::CfgPara), pattern(3));
}

TEST_F(BridgeCommandTest, ReplyOverridesAndIgnoredCommandsFailTheHostsJudgement) {
    bridge->overrideReply(0x02, Bytes{0x82, 0, 0, 0, 0x09});
    writeBlock(BlockArea::CfgPara, pattern(4));
    EXPECT_FALSE(proto::writeBlockAcknowledged(read(), BlockArea::CfgPara));

    bridge->overrideReply(0x03, Bytes{});
    write(proto::encodeResetBlock(BlockArea::ExdCfg));
    EXPECT_FALSE(proto::resetBlockAcknowledged(read(), BlockArea::ExdCfg));

    bridge->clearCommandFaults();
    bridge->setIgnoreCommand(0x06, true);
    write(proto::encodeSetSerial(1200, 8, 1, 0), false);
    EXPECT_NE(bridge->lineSettings().baud, 1200u);
    EXPECT_EQ(bridge->frames().back().bytes, proto::encodeSetSerial(1200, 8, 1, 0));

    bridge->setIgnoreCommand(0x01, true);
    write(proto::encodeReadBlock(BlockArea::CfgPara));
    proto::BlockReplyAssembler assembler;
    // The stale reply of the last command does not pass for a block.
    EXPECT_NE(assembler.feed(read()), proto::BlockReplyAssembler::Progress::Complete);
}

TEST_F(BridgeCommandTest, ArbitraryWritesNeverBreakTheChannel) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> length(0, 600);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::uint16_t transmit = bridge->findCharacteristic(VirtualBridge::kTransmitUuid)->valueHandle;
    for (int i = 0; i < 2000; ++i) {
        Bytes value(static_cast<std::size_t>(length(random)));
        for (auto& b : value) b = static_cast<std::uint8_t>(byte(random));
        // Start some with a real command code so the parser goes deep.
        if (!value.empty() && i % 3 == 0) value[0] = static_cast<std::uint8_t>(1 + i % 7);
        const AttStatus status = bridge->write(i % 5 == 0 ? transmit : command, value, true);
        EXPECT_TRUE(status == AttStatus::Success || status == AttStatus::InvalidAttributeLength);
        if (i % 11 == 0) read();
    }
    // Still a working bridge afterwards (the read lets go of any half frame, as a host's would).
    read();
    writeBlock(BlockArea::ExdCfg, pattern(9));
    EXPECT_TRUE(proto::writeBlockAcknowledged(read(), BlockArea::ExdCfg));
    EXPECT_EQ(bridge->block(BlockArea::ExdCfg), pattern(9));
}

}  // namespace
}  // namespace qb::emulator
