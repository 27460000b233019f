#include <gtest/gtest.h>

#include "qb7720/protocol/Replies.h"

namespace qb::protocol {
namespace {

TEST(WriteBlockAcknowledged, NeedsReplyCodeAndMatchingArea) {
    EXPECT_TRUE(writeBlockAcknowledged(Bytes{0x82, 0, 0, 0, 0x01}, BlockArea::CfgPara));
    EXPECT_TRUE(writeBlockAcknowledged(Bytes{0x82, 9, 9, 9, 0x03, 0xFF}, BlockArea::ExdCfg));
    EXPECT_FALSE(writeBlockAcknowledged(Bytes{0x82, 0, 0, 0, 0x03}, BlockArea::CfgPara));
    EXPECT_FALSE(writeBlockAcknowledged(Bytes{0x83, 0, 0, 0, 0x01}, BlockArea::CfgPara));
    EXPECT_FALSE(writeBlockAcknowledged(Bytes{0x02, 0, 0, 0, 0x01}, BlockArea::CfgPara));
}

TEST(WriteBlockAcknowledged, ShortRepliesAreRefusedWithoutReadingPastThem) {
    EXPECT_FALSE(writeBlockAcknowledged(Bytes{}, BlockArea::CfgPara));
    EXPECT_FALSE(writeBlockAcknowledged(Bytes{0x82}, BlockArea::CfgPara));
    EXPECT_FALSE(writeBlockAcknowledged(Bytes{0x82, 0, 0, 0}, BlockArea::ExdCfg));
    EXPECT_FALSE(writeBlockAcknowledged(ByteView(nullptr, 5), BlockArea::CfgPara));
}

// The configuration area accepts either sign of success, the extended area only both.
TEST(ResetBlockAcknowledged, AreasDifferInHowMuchTheyDemand) {
    const Bytes both1{0x83, 0, 0, 0, 0x01};
    const Bytes codeOnly{0x83, 0, 0, 0, 0x00};
    const Bytes area1Only{0x03, 0, 0, 0, 0x01};
    const Bytes both3{0x83, 0, 0, 0, 0x03};
    const Bytes area3Only{0x00, 0, 0, 0, 0x03};
    const Bytes neither{0x82, 0, 0, 0, 0x02};

    EXPECT_TRUE(resetBlockAcknowledged(both1, BlockArea::CfgPara));
    EXPECT_TRUE(resetBlockAcknowledged(codeOnly, BlockArea::CfgPara));
    EXPECT_TRUE(resetBlockAcknowledged(area1Only, BlockArea::CfgPara));
    EXPECT_TRUE(resetBlockAcknowledged(both3, BlockArea::CfgPara));
    EXPECT_FALSE(resetBlockAcknowledged(area3Only, BlockArea::CfgPara));
    EXPECT_FALSE(resetBlockAcknowledged(neither, BlockArea::CfgPara));

    EXPECT_TRUE(resetBlockAcknowledged(both3, BlockArea::ExdCfg));
    EXPECT_FALSE(resetBlockAcknowledged(codeOnly, BlockArea::ExdCfg));
    EXPECT_FALSE(resetBlockAcknowledged(area3Only, BlockArea::ExdCfg));
    EXPECT_FALSE(resetBlockAcknowledged(both1, BlockArea::ExdCfg));
    EXPECT_FALSE(resetBlockAcknowledged(neither, BlockArea::ExdCfg));
}

TEST(ResetBlockAcknowledged, ShortReplies) {
    // Byte 0 alone is enough for the configuration area, never for the extended one.
    EXPECT_TRUE(resetBlockAcknowledged(Bytes{0x83}, BlockArea::CfgPara));
    EXPECT_FALSE(resetBlockAcknowledged(Bytes{0x83, 0, 0, 0x03}, BlockArea::ExdCfg));
    EXPECT_FALSE(resetBlockAcknowledged(Bytes{}, BlockArea::CfgPara));
    EXPECT_FALSE(resetBlockAcknowledged(Bytes{}, BlockArea::ExdCfg));
}

Bytes report(std::uint8_t flags, std::uint8_t modem) {
    return {0x88, 0x11, 0x22, 0x33, flags, modem, 0x44};
}

TEST(StatusReport, PauseFlags) {
    EXPECT_EQ(decodeStatusReport(report(0x04, 0)).pause, PauseChange::Set);
    EXPECT_EQ(decodeStatusReport(report(0x05, 0)).pause, PauseChange::Set);  // pause wins over resume
    EXPECT_EQ(decodeStatusReport(report(0x01, 0)).pause, PauseChange::Cleared);
    EXPECT_EQ(decodeStatusReport(report(0x00, 0)).pause, PauseChange::Unchanged);
    EXPECT_EQ(decodeStatusReport(report(0xFA, 0)).pause, PauseChange::Unchanged);  // neither bit 2 nor bit 0
    EXPECT_EQ(decodeStatusReport(report(0xFF, 0)).pause, PauseChange::Set);
}

TEST(StatusReport, OnlySevenBytesStartingWith88MovePauseButModemBitsComeFromAnyByteFive) {
    Bytes six = report(0x04, 0x90);
    six.pop_back();
    Bytes eight = report(0x04, 0x90);
    eight.push_back(0);
    Bytes wrongCode = report(0x04, 0x90);
    wrongCode[0] = 0x08;

    for (const Bytes& value : {six, eight, wrongCode}) {
        const StatusReport decoded = decodeStatusReport(value);
        EXPECT_EQ(decoded.pause, PauseChange::Unchanged) << value.size();
        ASSERT_TRUE(decoded.modem) << value.size();
        EXPECT_EQ(decoded.modem->bits, 0x90);
    }
}

TEST(StatusReport, ModemInputs) {
    const ModemInputs inputs = *decodeStatusReport(report(0, 0x90)).modem;
    EXPECT_EQ(inputs.dcd(), 0x80);
    EXPECT_EQ(inputs.ri(), 0);
    EXPECT_EQ(inputs.dsr(), 0);
    EXPECT_EQ(inputs.cts(), 0x10);

    // The low nibble is not an input.
    const ModemInputs all = *decodeStatusReport(report(0, 0xFF)).modem;
    EXPECT_EQ(all.bits, 0xF0);
    EXPECT_EQ(all, ModemInputs::of(true, true, true, true));
    EXPECT_EQ(decodeStatusReport(report(0, 0x2F)).modem, ModemInputs::of(false, false, true, false));
}

TEST(StatusReport, ValuesWithoutByteFiveCarryNoModemInputs) {
    EXPECT_FALSE(decodeStatusReport(Bytes{}).modem);
    EXPECT_FALSE(decodeStatusReport(Bytes{0x88, 0, 0, 0, 0x04}).modem);
    EXPECT_EQ(decodeStatusReport(Bytes{0x88, 0, 0, 0, 0x04}).pause, PauseChange::Unchanged);
    EXPECT_TRUE(decodeStatusReport(Bytes{0, 0, 0, 0, 0, 0x40}).modem);
}

}  // namespace
}  // namespace qb::protocol
