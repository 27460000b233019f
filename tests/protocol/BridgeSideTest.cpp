#include <gtest/gtest.h>

#include "qb7720/protocol/BridgeSide.h"
#include "qb7720/protocol/Frames.h"
#include "qb7720/protocol/Replies.h"

namespace qb::protocol {
namespace {

using bridge::FrameAssembler;
using bridge::FrameError;
using bridge::parseCommandFrame;

ParameterBlock patternBlock() {
    ParameterBlock block;
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(255 - i % 251);
    return block;
}

TEST(BridgeParse, EveryHostFrameRoundTrips) {
    const ParameterBlock block = patternBlock();
    const std::vector<CommandFrame> frames = {
        {BridgeCommand::ReadBlock, 0x01, {}},
        {BridgeCommand::ReadBlock, 0x03, {}},
        {BridgeCommand::WriteBlock, 0x03, Bytes(block.begin(), block.end())},
        {BridgeCommand::ResetBlock, 0x01, {}},
        {BridgeCommand::ResetChannel, 0x00, {}},
        {BridgeCommand::SetSerial, 0x00, {0x00, 0xC2, 0x01, 0x00, 0x08, 0x01, 0x00}},
        {BridgeCommand::SetModem, 0x00, {0x01, 0x00, 0x01}},
    };
    for (const CommandFrame& frame : frames) {
        SCOPED_TRACE(std::string(commandName(frame.code)));
        const auto parsed = parseCommandFrame(encode(frame));
        ASSERT_TRUE(parsed.ok()) << bridge::describe(parsed.error);
        EXPECT_EQ(parsed.frame, frame);
        EXPECT_TRUE(parsed.checksumValid);
        EXPECT_EQ(parsed.trailingBytes, 0u);
        EXPECT_EQ(parsed.lengthWord, lengthWord(frame.code));
    }
}

TEST(BridgeParse, TheHostEncodersAreUnderstood) {
    auto serial = parseCommandFrame(encodeSetSerial(9600, 7, 2, 1));
    ASSERT_TRUE(serial.ok());
    EXPECT_EQ(serial.frame.payload, (Bytes{0x80, 0x25, 0x00, 0x00, 7, 2, 1}));

    auto reset = parseCommandFrame(encodeResetBlock(BlockArea::ExdCfg));
    ASSERT_TRUE(reset.ok());
    EXPECT_EQ(reset.frame.code, BridgeCommand::ResetBlock);
    EXPECT_EQ(areaFromSelector(reset.frame.selector), BlockArea::ExdCfg);
}

TEST(BridgeParse, PaddingAfterAFrameIsCountedNotRejected) {
    Bytes padded = encodeSetModem(1, 1, 1);
    padded.insert(padded.end(), 4, 0x00);
    const auto parsed = parseCommandFrame(padded);
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed.trailingBytes, 4u);
    EXPECT_EQ(parsed.frame.payload, (Bytes{1, 1, 1}));
    EXPECT_TRUE(parsed.checksumValid);
}

TEST(BridgeParse, BadChecksumIsReportedWithTheFrame) {
    Bytes frame = encodeSetSerial(115200, 8, 1, 0);
    frame.back() ^= 0x01;
    const auto parsed = parseCommandFrame(frame);
    ASSERT_TRUE(parsed.ok());
    EXPECT_FALSE(parsed.checksumValid);
    EXPECT_EQ(parsed.checksum, 0xCD);
}

TEST(BridgeParse, Rejections) {
    struct Case {
        Bytes bytes;
        FrameError error;
    };
    const Case cases[] = {
        {{}, FrameError::Empty},
        {{0x05, 0x00, 0x02, 0x00, 0x00}, FrameError::UnknownCode},
        {{0x88, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00}, FrameError::UnknownCode},
        {{0x00}, FrameError::UnknownCode},
        {{0x01}, FrameError::Truncated},
        {{0x01, 0x00}, FrameError::Truncated},
        {{0x01, 0x00, 0x02, 0x01}, FrameError::Truncated},
        {{0x06, 0x09, 0x00, 0x00, 0x00, 0xC2, 0x01, 0x00, 0x08, 0x01, 0x00}, FrameError::Truncated},
        {{0x01, 0x02, 0x00, 0x01, 0x01}, FrameError::WrongLengthWord},  // byte order swapped
        {{0x04, 0x00, 0x00, 0x00, 0x00}, FrameError::WrongLengthWord},
        {{0x07, 0x09, 0x00, 0x00, 0x00, 0x01, 0x01, 0x02}, FrameError::WrongLengthWord},
        {{0x01, 0x00, 0x02, 0x02, 0x02}, FrameError::UnknownArea},
        {{0x03, 0x00, 0x02, 0x00, 0x00}, FrameError::UnknownArea},
    };
    for (const Case& c : cases) {
        const auto parsed = parseCommandFrame(c.bytes);
        EXPECT_EQ(parsed.error, c.error)
            << "frame of " << c.bytes.size() << " bytes starting " << (c.bytes.empty() ? -1 : c.bytes[0]);
        EXPECT_FALSE(bridge::describe(parsed.error).empty());
    }
}

TEST(BridgeFrameAssembler, WriteBlockFromTwentySixPieces) {
    const ParameterBlock block = patternBlock();
    const auto pieces = splitIntoPieces(encodeWriteBlock(BlockArea::CfgPara, block));
    FrameAssembler assembler;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i)
        ASSERT_EQ(assembler.feed(pieces[i]).progress, FrameAssembler::Progress::NeedMore) << i;
    const auto result = assembler.feed(pieces.back());
    ASSERT_EQ(result.progress, FrameAssembler::Progress::Frame);
    ASSERT_TRUE(result.parsed.ok());
    EXPECT_TRUE(result.parsed.checksumValid);
    EXPECT_EQ(result.parsed.frame.selector, 0x01);
    EXPECT_EQ(result.parsed.frame.payload, Bytes(block.begin(), block.end()));
    EXPECT_EQ(assembler.pendingBytes(), 0u);

    // The next command is taken on its own again.
    const auto next = assembler.feed(encodeResetBlock(BlockArea::CfgPara));
    ASSERT_EQ(next.progress, FrameAssembler::Progress::Frame);
    EXPECT_EQ(next.parsed.frame.code, BridgeCommand::ResetBlock);
}

TEST(BridgeFrameAssembler, SingleWriteCommandsAndWholeWriteBlock) {
    FrameAssembler assembler;
    for (const Bytes& frame : {encodeSetModem(0, 1, 1), encodeReadBlock(BlockArea::ExdCfg),
                               encodeWriteBlock(BlockArea::ExdCfg, patternBlock())}) {
        const auto result = assembler.feed(frame);
        ASSERT_EQ(result.progress, FrameAssembler::Progress::Frame);
        EXPECT_TRUE(result.parsed.ok());
        EXPECT_EQ(result.parsed.frame.code, static_cast<BridgeCommand>(frame[0]));
    }
}

TEST(BridgeFrameAssembler, GarbageAndWrongLengthWordsAreRefusedAtOnce) {
    FrameAssembler assembler;
    auto result = assembler.feed(Bytes{0x02, 0x00, 0x02, 0x01});
    ASSERT_EQ(result.progress, FrameAssembler::Progress::Frame);
    EXPECT_EQ(result.parsed.error, FrameError::WrongLengthWord);
    EXPECT_EQ(assembler.pendingBytes(), 0u);

    result = assembler.feed(Bytes{0x42, 0x42});
    ASSERT_EQ(result.progress, FrameAssembler::Progress::Frame);
    EXPECT_EQ(result.parsed.error, FrameError::UnknownCode);

    result = assembler.feed(Bytes{});
    EXPECT_EQ(result.parsed.error, FrameError::Empty);
}

TEST(BridgeFrameAssembler, OvershootingLastPieceAndReset) {
    const Bytes frame = encodeWriteBlock(BlockArea::CfgPara, patternBlock());
    FrameAssembler assembler;
    assembler.feed(ByteView(frame.data(), 500));
    Bytes tail(frame.begin() + 500, frame.end());
    tail.insert(tail.end(), 3, 0xEE);
    const auto result = assembler.feed(tail);
    ASSERT_EQ(result.progress, FrameAssembler::Progress::Frame);
    EXPECT_TRUE(result.parsed.ok());
    EXPECT_EQ(result.parsed.trailingBytes, 3u);

    assembler.feed(ByteView(frame.data(), 20));
    EXPECT_EQ(assembler.pendingBytes(), 20u);
    assembler.reset();
    const auto fresh = assembler.feed(encodeResetChannel());
    ASSERT_EQ(fresh.progress, FrameAssembler::Progress::Frame);
    EXPECT_EQ(fresh.parsed.frame.code, BridgeCommand::ResetChannel);
}

TEST(BridgeReplies, HostJudgesAcceptAndRefuseThem) {
    for (BlockArea area : {BlockArea::CfgPara, BlockArea::ExdCfg}) {
        const BlockArea other = area == BlockArea::CfgPara ? BlockArea::ExdCfg : BlockArea::CfgPara;
        EXPECT_TRUE(writeBlockAcknowledged(bridge::encodeWriteBlockReply(area, true), area));
        EXPECT_FALSE(writeBlockAcknowledged(bridge::encodeWriteBlockReply(area, false), area));
        EXPECT_FALSE(writeBlockAcknowledged(bridge::encodeWriteBlockReply(other, true), area));
        EXPECT_TRUE(resetBlockAcknowledged(bridge::encodeResetBlockReply(area, true), area));
        EXPECT_FALSE(resetBlockAcknowledged(bridge::encodeResetBlockReply(area, false), area));
    }
    EXPECT_EQ(bridge::encodeAcknowledgement(BridgeCommand::SetSerial)[0], 0x86);
    EXPECT_EQ(bridge::encodeAcknowledgement(BridgeCommand::SetModem)[0], 0x87);
}

TEST(BridgeReplies, StatusReportsDecodeOnTheHost) {
    struct Case {
        bool pause, resume;
        PauseChange expected;
    };
    const Case cases[] = {{true, false, PauseChange::Set},
                          {true, true, PauseChange::Set},
                          {false, true, PauseChange::Cleared},
                          {false, false, PauseChange::Unchanged}};
    for (const Case& c : cases) {
        const ModemInputs inputs = ModemInputs::of(c.pause, c.resume, !c.pause, true);
        const Bytes report = bridge::encodeStatusReport({c.pause, c.resume, inputs});
        ASSERT_EQ(report.size(), kStatusReportSize);
        const StatusReport decoded = decodeStatusReport(report);
        EXPECT_EQ(decoded.pause, c.expected);
        EXPECT_EQ(decoded.modem, inputs);
    }
}

TEST(BridgeReplies, ReadBlockReplyLayout) {
    const ParameterBlock block = patternBlock();
    const Bytes reply = bridge::encodeReadBlockReply(BlockArea::ExdCfg, block);
    ASSERT_EQ(reply.size(), kReadBlockReplySize);
    EXPECT_EQ(reply[3], 0x03);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), reply.begin() + 4));
    EXPECT_EQ(reply.back(), checksum(ByteView(reply).drop(3).first(1 + kBlockSize)));
}

}  // namespace
}  // namespace qb::protocol
