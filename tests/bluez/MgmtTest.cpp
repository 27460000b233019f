#include <gtest/gtest.h>

#include <vector>

#include "Mgmt.h"

namespace qb::bluez::mgmt {
namespace {

// A Command Complete for Read Controller Information on index 0 with version 9 (5.0).
std::vector<std::uint8_t> readInfoReply(std::uint16_t index, std::uint8_t status, std::uint8_t version) {
    std::vector<std::uint8_t> params = {kOpReadInfo & 0xFF,
                                        kOpReadInfo >> 8,
                                        status,
                                        0x11,
                                        0x22,
                                        0x33,
                                        0x44,
                                        0x55,
                                        0x66,  // address
                                        version,
                                        0x02,
                                        0x00};
    params.resize(3 + 280, 0);  // the rest of the record: settings, class, names
    std::vector<std::uint8_t> packet = {kEvCommandComplete & 0xFF,
                                        kEvCommandComplete >> 8,
                                        static_cast<std::uint8_t>(index),
                                        static_cast<std::uint8_t>(index >> 8),
                                        static_cast<std::uint8_t>(params.size()),
                                        static_cast<std::uint8_t>(params.size() >> 8)};
    // Appended byte by byte: GCC 12 at -O2 misreads a range insert here as an overrun.
    for (std::uint8_t b : params) packet.push_back(b);
    return packet;
}

TEST(Mgmt, ReadsTheVersionByteOfTheAskedController) {
    auto packet = readInfoReply(0, 0, 9);
    auto reply = parseReadInfoReply(packet.data(), packet.size(), 0);
    EXPECT_EQ(reply.kind, ReplyKind::Version);
    EXPECT_EQ(reply.version, 9);
    // Another controller's answer is not ours.
    EXPECT_EQ(parseReadInfoReply(packet.data(), packet.size(), 1).kind, ReplyKind::Unrelated);
}

TEST(Mgmt, FailuresAreReportedAsSuch) {
    auto packet = readInfoReply(0, 0x11, 9);  // invalid index
    EXPECT_EQ(parseReadInfoReply(packet.data(), packet.size(), 0).kind, ReplyKind::Failed);
    const std::vector<std::uint8_t> status = {kEvCommandStatus, 0, 0, 0, 3, 0, kOpReadInfo, 0, 0x0C};
    EXPECT_EQ(parseReadInfoReply(status.data(), status.size(), 0).kind, ReplyKind::Failed);
}

TEST(Mgmt, TruncatedOrForeignPacketsAreIgnoredSafely) {
    auto packet = readInfoReply(0, 0, 9);
    // Every prefix: the declared length no longer fits, so nothing is read past the end.
    for (std::size_t n = 0; n < packet.size(); ++n) {
        SCOPED_TRACE(n);
        EXPECT_NE(parseReadInfoReply(packet.data(), n, 0).kind, ReplyKind::Version);
    }
    EXPECT_EQ(parseReadInfoReply(nullptr, 100, 0).kind, ReplyKind::Unrelated);
    auto other = packet;
    other[6] = 0x05;  // another command's completion
    EXPECT_EQ(parseReadInfoReply(other.data(), other.size(), 0).kind, ReplyKind::Unrelated);
    // A completion too short to hold the version byte.
    const std::vector<std::uint8_t> shortReply = {kEvCommandComplete, 0, 0, 0, 4, 0, kOpReadInfo, 0, 0, 0x11};
    EXPECT_EQ(parseReadInfoReply(shortReply.data(), shortReply.size(), 0).kind, ReplyKind::Failed);
}

}  // namespace
}  // namespace qb::bluez::mgmt
