#include <gtest/gtest.h>

#include "qb7720/platform/Guid.h"

using qb::platform::Guid;

TEST(Guid, ShortUuidExpandsOverTheBaseAndRoundTripsThroughText) {
    Guid g = Guid::fromShortUuid(0xFFF1);
    EXPECT_EQ(g.toString(), "0000fff1-0000-1000-8000-00805f9b34fb");
    auto parsed = Guid::parse("0000FFF1-0000-1000-8000-00805F9B34FB");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, g);
    EXPECT_EQ(parsed->shortUuid(), 0xFFF1);
    EXPECT_TRUE(parsed->isSigShortUuid());
    EXPECT_EQ(Guid::parse("{0000fff1-0000-1000-8000-00805f9b34fb}"), g);
}

TEST(Guid, SigShortUuidNeedsTheWholeBase) {
    // Vendor UUIDs whose low 16 bits look like a standard value are not standard UUIDs.
    auto vendor = Guid::parse("12342a00-0000-1000-8000-00805f9b34fb");
    ASSERT_TRUE(vendor);
    EXPECT_FALSE(vendor->isSigShortUuid());
    EXPECT_EQ(vendor->shortUuid(), 0x2A00);
    auto otherTail = Guid::parse("00002a00-0000-1000-8000-00805f9b34fc");
    ASSERT_TRUE(otherTail);
    EXPECT_FALSE(otherTail->isSigShortUuid());
}

TEST(Guid, MalformedTextIsRejected) {
    for (const char* bad :
         {"", "0000fff1", "0000fff1-0000-1000-8000-00805f9b34f", "0000fff1-0000-1000-8000-00805f9b34fbb",
          "0000fff1x0000-1000-8000-00805f9b34fb", "0000fffg-0000-1000-8000-00805f9b34fb",
          "{0000fff1-0000-1000-8000-00805f9b34fb"}) {
        EXPECT_FALSE(Guid::parse(bad)) << bad;
    }
}
