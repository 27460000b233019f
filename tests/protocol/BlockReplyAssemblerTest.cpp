#include <gtest/gtest.h>

#include <string>

#include "qb7720/protocol/BlockReplyAssembler.h"
#include "qb7720/protocol/BridgeSide.h"
#include "qb7720/protocol/Frames.h"

namespace qb::protocol {
namespace {

using Progress = BlockReplyAssembler::Progress;

ParameterBlock patternBlock() {
    ParameterBlock block;
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return block;
}

// Feeds the reply stream in pieces of the given sizes (the last size repeats) until the assembler stops.
Progress feedInPieces(BlockReplyAssembler& assembler, const Bytes& stream, std::vector<std::size_t> sizes) {
    std::size_t offset = 0;
    for (std::size_t i = 0; assembler.progress() == Progress::NeedMore; ++i) {
        const std::size_t size = sizes[std::min(i, sizes.size() - 1)];
        const std::size_t n = std::min(size, stream.size() - offset);
        assembler.feed(ByteView(stream.data() + offset, n));
        offset += n;
    }
    return assembler.progress();
}

TEST(BlockReplyAssembler, TwentyBytePiecesYieldTheBlockWithoutChecksum) {
    const ParameterBlock block = patternBlock();
    const Bytes stream = bridge::encodeReadBlockReply(BlockArea::CfgPara, block);
    const auto pieces = splitIntoPieces(stream);
    ASSERT_EQ(pieces.size(), 26u);

    BlockReplyAssembler assembler;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        ASSERT_EQ(assembler.feed(pieces[i]), Progress::NeedMore) << "piece " << i;
        EXPECT_EQ(assembler.stored(), 16 + 20 * i);
    }
    EXPECT_EQ(assembler.feed(pieces.back()), Progress::Complete);
    EXPECT_EQ(assembler.stored(), kBlockSize);
    EXPECT_EQ(assembler.block(), block);
}

TEST(BlockReplyAssembler, WholeStreamInOnePiece) {
    const ParameterBlock block = patternBlock();
    BlockReplyAssembler assembler;
    EXPECT_EQ(assembler.feed(bridge::encodeReadBlockReply(BlockArea::ExdCfg, block)), Progress::Complete);
    EXPECT_EQ(assembler.block(), block);
}

// However the reads split the stream, exactly the 4 header bytes are dropped.
TEST(BlockReplyAssembler, HeaderSplitAcrossShortPieces) {
    const ParameterBlock block = patternBlock();
    const Bytes stream = bridge::encodeReadBlockReply(BlockArea::CfgPara, block);
    const std::vector<std::vector<std::size_t>> splits = {{1}, {3, 20}, {4, 20}, {2, 1, 1, 509}, {5, 7, 300}};
    for (const auto& sizes : splits) {
        BlockReplyAssembler assembler;
        EXPECT_EQ(feedInPieces(assembler, stream, sizes), Progress::Complete) << "first piece " << sizes[0];
        EXPECT_EQ(assembler.block(), block) << "first piece " << sizes[0];
    }
}

TEST(BlockReplyAssembler, EmptyPieceFailsAtAnyPoint) {
    const Bytes stream = bridge::encodeReadBlockReply(BlockArea::CfgPara, patternBlock());
    for (std::size_t before : {0u, 1u, 4u, 100u, 515u}) {
        BlockReplyAssembler assembler;
        if (before > 0) assembler.feed(ByteView(stream.data(), before));
        EXPECT_EQ(assembler.feed(ByteView()), Progress::Failed) << before;
        // A failure sticks: later data does not revive the gathering.
        EXPECT_EQ(assembler.feed(stream), Progress::Failed) << before;
        EXPECT_EQ(assembler.stored(), before > 4 ? before - 4 : 0u) << before;
    }
}

TEST(BlockReplyAssembler, FailedReadEndsGathering) {
    BlockReplyAssembler assembler;
    assembler.feed(Bytes(20, 0x11));
    EXPECT_EQ(assembler.fail(), Progress::Failed);
    EXPECT_EQ(assembler.stored(), 16u);
    EXPECT_EQ(assembler.block()[15], 0x11);
    EXPECT_EQ(assembler.block()[16], 0x00);
}

// Only a whole stream whose checksum holds is a block: a damaged piece must not pass for one.
TEST(BlockReplyAssembler, DamagedOrOverlongStreamsFail) {
    const Bytes good = bridge::encodeReadBlockReply(BlockArea::CfgPara, patternBlock());
    struct Case {
        const char* what;
        Bytes stream;
    };
    auto flipped = [&](std::size_t at) {
        Bytes b = good;
        b[at] ^= 0x40;
        return b;
    };
    Bytes longer = good;
    longer.push_back(0x00);
    const Bytes cut(good.begin(), good.end() - 1);
    const Case cases[] = {
        {"block byte changed", flipped(4 + 300)},
        {"selector changed", flipped(3)},
        {"checksum changed", flipped(good.size() - 1)},
        {"one byte past the checksum", longer},
        {"checksum missing", cut},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {20u, 517u, 1000u}) {
            // A first piece that is the whole reply ends it; a byte after it is never read.
            if (piece == BlockReplyAssembler::kStreamSize && c.stream.size() > piece) continue;
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            BlockReplyAssembler assembler;
            EXPECT_EQ(feedInPieces(assembler, c.stream, {piece}), Progress::Failed);
        }
    }
}

TEST(BlockReplyAssembler, FinishedGatheringsTakeNothingMore) {
    const ParameterBlock block = patternBlock();
    BlockReplyAssembler assembler;
    ASSERT_EQ(assembler.feed(bridge::encodeReadBlockReply(BlockArea::ExdCfg, block)), Progress::Complete);
    EXPECT_EQ(assembler.feed(Bytes(600, 0xEE)), Progress::Complete);
    EXPECT_EQ(assembler.fail(), Progress::Complete);
    EXPECT_EQ(assembler.block(), block);
}

TEST(BlockReplyAssembler, BoundedNumberOfPiecesForOneByteReads) {
    // The slowest possible bridge still finishes after the whole stream, never loops. Every byte 0x5A
    // makes a valid stream: 513 times 0x5A is 0x5A modulo 256.
    BlockReplyAssembler assembler;
    const std::uint8_t one = 0x5A;
    std::size_t feeds = 0;
    while (assembler.feed(ByteView(&one, 1)) == Progress::NeedMore) ASSERT_LT(++feeds, 1000u);
    EXPECT_EQ(assembler.progress(), Progress::Complete);
    EXPECT_EQ(feeds + 1, BlockReplyAssembler::kStreamSize);
}

TEST(BlockReplyAssembler, ResetStartsOver) {
    BlockReplyAssembler assembler;
    assembler.feed(Bytes(3, 1));
    assembler.fail();
    assembler.reset();
    EXPECT_EQ(assembler.progress(), Progress::NeedMore);
    const ParameterBlock block = patternBlock();
    EXPECT_EQ(assembler.feed(bridge::encodeReadBlockReply(BlockArea::CfgPara, block)), Progress::Complete);
    EXPECT_EQ(assembler.block(), block);
}

}  // namespace
}  // namespace qb::protocol
