#include <gtest/gtest.h>

#include <numeric>

#include "qb7720/protocol/BaudRate.h"
#include "qb7720/protocol/Frames.h"

namespace qb::protocol {
namespace {

TEST(Frames, BlockCommandsWithoutPayloadRepeatTheSelectorAsChecksum) {
    EXPECT_EQ(encodeReadBlock(BlockArea::CfgPara), (Bytes{0x01, 0x00, 0x02, 0x01, 0x01}));
    EXPECT_EQ(encodeReadBlock(BlockArea::ExdCfg), (Bytes{0x01, 0x00, 0x02, 0x03, 0x03}));
    EXPECT_EQ(encodeResetBlock(BlockArea::CfgPara), (Bytes{0x03, 0x00, 0x02, 0x01, 0x01}));
    EXPECT_EQ(encodeResetBlock(BlockArea::ExdCfg), (Bytes{0x03, 0x00, 0x02, 0x03, 0x03}));
    EXPECT_EQ(encodeResetChannel(), (Bytes{0x04, 0x00, 0x02, 0x00, 0x00}));
}

TEST(Frames, SetSerialVectors) {
    EXPECT_EQ(encodeSetSerial(115200, 8, 1, 0),
              (Bytes{0x06, 0x09, 0x00, 0x00, 0x00, 0xC2, 0x01, 0x00, 0x08, 0x01, 0x00, 0xCC}));
    EXPECT_EQ(encodeSetSerial(9600, 8, 1, 0),
              (Bytes{0x06, 0x09, 0x00, 0x00, 0x80, 0x25, 0x00, 0x00, 0x08, 0x01, 0x00, 0xAE}));
    // An unlisted rate goes out as 0 and the checksum covers only the line settings.
    EXPECT_EQ(encodeSetSerial(encodableBaudRate(300), 8, 1, 0),
              (Bytes{0x06, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x01, 0x00, 0x09}));
    // All four baud bytes are little-endian and summed.
    EXPECT_EQ(encodeSetSerial(1000000, 7, 2, 2),
              (Bytes{0x06, 0x09, 0x00, 0x00, 0x40, 0x42, 0x0F, 0x00, 0x07, 0x02, 0x02, 0x9C}));
}

TEST(Frames, SetModemVectors) {
    EXPECT_EQ(encodeSetModem(1, 1, 1), (Bytes{0x07, 0x05, 0x00, 0x00, 0x01, 0x01, 0x01, 0x03}));
    EXPECT_EQ(encodeSetModem(0, 1, 1), (Bytes{0x07, 0x05, 0x00, 0x00, 0x00, 0x01, 0x01, 0x02}));
}

TEST(Frames, OneByteFieldsKeepTheirLowEightBits) {
    EXPECT_EQ(encodeSetModem(0x101, 0xFF02, 0xFFFFFFFF),
              (Bytes{0x07, 0x05, 0x00, 0x00, 0x01, 0x02, 0xFF, 0x02}));
    const Bytes serial = encodeSetSerial(0x12345678, 0x108, 0x201, 0x304);
    EXPECT_EQ(serial, (Bytes{0x06, 0x09, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0x08, 0x01, 0x04,
                             static_cast<std::uint8_t>(0x78 + 0x56 + 0x34 + 0x12 + 0x08 + 0x01 + 0x04)}));
}

TEST(Frames, ChecksumWrapsAtByte) {
    EXPECT_EQ(checksum(Bytes{}), 0x00);
    EXPECT_EQ(checksum(Bytes{0xFF, 0x01}), 0x00);
    EXPECT_EQ(checksum(Bytes{0xFF, 0xFF, 0xFF}), 0xFD);

    ParameterBlock ones;
    ones.fill(0xFF);
    const Bytes frame = encodeWriteBlock(BlockArea::CfgPara, ones);
    EXPECT_EQ(frame.back(), 0x01);  // (1 + 512 * 255) mod 256
}

TEST(Frames, WriteBlockCarriesTheBlockUnchanged) {
    ParameterBlock block;
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const Bytes frame = encodeWriteBlock(BlockArea::ExdCfg, block);
    ASSERT_EQ(frame.size(), kWriteBlockFrameSize);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0x02, 0x02, 0x02, 0x03}));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), frame.begin() + 4));
    const unsigned sum = std::accumulate(block.begin(), block.end(), 3u);
    EXPECT_EQ(frame.back(), static_cast<std::uint8_t>(sum));
}

TEST(Frames, WriteBlockGoesOutInTwentySixPieces) {
    ParameterBlock block;
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
    const Bytes frame = encodeWriteBlock(BlockArea::CfgPara, block);
    const auto pieces = splitIntoPieces(frame);
    ASSERT_EQ(pieces.size(), 26u);
    Bytes joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].size(), i < 25 ? 20u : 17u) << "piece " << i;
        joined.insert(joined.end(), pieces[i].begin(), pieces[i].end());
    }
    EXPECT_EQ(joined, frame);
}

TEST(Frames, SplitEdges) {
    EXPECT_TRUE(splitIntoPieces(Bytes{}).empty());
    EXPECT_TRUE(splitIntoPieces(Bytes{1, 2, 3}, 0).empty());
    EXPECT_EQ(splitIntoPieces(Bytes(40, 0xAA)).size(), 2u);
    EXPECT_EQ(splitIntoPieces(Bytes{1, 2, 3}, 2), (std::vector<Bytes>{{1, 2}, {3}}));
}

TEST(Frames, LengthWordsAndSizesOfEveryCommand) {
    struct Case {
        BridgeCommand command;
        std::uint16_t word;
        std::size_t size;
    };
    const Case cases[] = {
        {BridgeCommand::ReadBlock, 0x0200, 5},  {BridgeCommand::WriteBlock, 0x0202, 517},
        {BridgeCommand::ResetBlock, 0x0200, 5}, {BridgeCommand::ResetChannel, 0x0200, 5},
        {BridgeCommand::SetSerial, 0x0009, 12}, {BridgeCommand::SetModem, 0x0005, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(commandName(c.command)));
        EXPECT_EQ(lengthWord(c.command), c.word);
        EXPECT_EQ(frameSize(c.command), c.size);
        const Bytes encoded = encode({c.command, 0x01, Bytes(payloadSize(c.command), 0x00)});
        EXPECT_EQ(encoded.size(), c.size);
        EXPECT_EQ(encoded[1] | (encoded[2] << 8), c.word);
    }
}

TEST(BaudRate, ListedRatesAreKeptOthersBecomeZero) {
    for (std::uint32_t rate : kListedBaudRates) EXPECT_EQ(encodableBaudRate(rate), rate);
    for (std::uint32_t rate : {0u, 300u, 600u, 9601u, 28800u, 460800u, 921600u, 0xFFFFFFFFu})
        EXPECT_EQ(encodableBaudRate(rate), 0u) << rate;
    // A negative rate from a 32-bit signed caller arrives as a large unsigned value.
    EXPECT_EQ(encodableBaudRate(static_cast<std::uint32_t>(-9600)), 0u);
}

TEST(Characteristics, ShortUuidsAndTheirLongForm) {
    EXPECT_EQ(characteristicFromShortUuid(0xFFF1), BridgeCharacteristic::Receive);
    EXPECT_EQ(characteristicFromShortUuid(0xFFF2), BridgeCharacteristic::Transmit);
    EXPECT_EQ(characteristicFromShortUuid(0xFFF3), BridgeCharacteristic::Command);
    EXPECT_FALSE(characteristicFromShortUuid(0xFFF0));
    EXPECT_FALSE(characteristicFromShortUuid(0xFFF4));
    EXPECT_EQ(characteristicUuidText(BridgeCharacteristic::Receive), "0000FFF1-0000-1000-8000-00805F9B34FB");
    EXPECT_EQ(characteristicUuidText(BridgeCharacteristic::Command), "0000FFF3-0000-1000-8000-00805F9B34FB");
}

}  // namespace
}  // namespace qb::protocol
