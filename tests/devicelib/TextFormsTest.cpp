// The text forms the terminal compares and displays: UUIDs and device addresses.
#include <gtest/gtest.h>

#include <cstring>

#include "BridgeAdvert.h"
#include "QB7720lib.h"
#include "UuidText.h"

using qb::devicelib::formatAddress;
using qb::devicelib::matchesUuid;
using qb::devicelib::parseAddress;
using qb::devicelib::parseUuidText;
using qb::devicelib::toGattUuid;
using qb::platform::Guid;

namespace {

std::string text(const uuid_t& uuid) {
    char buffer[38];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(gatt_uuid_to_string(&uuid, buffer, sizeof buffer), 0);
    return buffer;
}

}  // namespace

TEST(UuidText, EachTypeInGattlibsForm) {
    uuid_t u{};
    u.type = SDP_UUID16;
    u.value.uuid16 = 0xFFF1;
    EXPECT_EQ(text(u), "0xfff1");
    u.value.uuid16 = 0x2a;
    EXPECT_EQ(text(u), "0x002a");

    u = {};
    u.type = SDP_UUID32;
    u.value.uuid32 = 0x1234ABCD;
    EXPECT_EQ(text(u), "0x1234abcd");

    u = {};
    u.type = SDP_UUID128;
    const std::uint8_t bytes[16] = {0x6e, 0x40, 0x00, 0x01, 0xb5, 0xa3, 0xf3, 0x93,
                                    0xe0, 0xa9, 0xe5, 0x0e, 0x24, 0xdc, 0xca, 0x9e};
    std::memcpy(u.value.uuid128.data, bytes, 16);
    EXPECT_EQ(text(u), "6e400001-b5a3-f393-e0a9-e50e24dcca9e");
}

TEST(UuidText, RefusesWhatItCannotWriteWhole) {
    uuid_t u{};
    u.type = SDP_UUID16;
    u.value.uuid16 = 0xFFF3;
    char small[6];
    EXPECT_NE(gatt_uuid_to_string(&u, small, sizeof small), 0);  // "0xfff3" needs 7 with its NUL
    EXPECT_EQ(small[0], '\0');
    char exact[7];
    EXPECT_EQ(gatt_uuid_to_string(&u, exact, sizeof exact), 0);
    EXPECT_STREQ(exact, "0xfff3");

    u.type = 0x42;
    char buffer[38];
    EXPECT_NE(gatt_uuid_to_string(&u, buffer, sizeof buffer), 0);
    EXPECT_NE(gatt_uuid_to_string(nullptr, buffer, sizeof buffer), 0);
    EXPECT_NE(gatt_uuid_to_string(&u, nullptr, sizeof buffer), 0);
}

TEST(UuidText, PlatformUuidsReachTheTerminalInTheFormItCompares) {
    EXPECT_EQ(text(toGattUuid(Guid::fromShortUuid(0xFFF1))), "0xfff1");
    EXPECT_EQ(text(toGattUuid(Guid::fromShortUuid(0xFFF3))), "0xfff3");
    const auto vendor = Guid::parse("6e400001-b5a3-f393-e0a9-e50e24dcca9e");
    ASSERT_TRUE(vendor);
    EXPECT_EQ(text(toGattUuid(*vendor)), "6e400001-b5a3-f393-e0a9-e50e24dcca9e");
}

TEST(UuidText, ParsesTheNamesCallersOpenNotificationsBy) {
    EXPECT_EQ(parseUuidText("0xfff1"), Guid::fromShortUuid(0xFFF1));
    EXPECT_EQ(parseUuidText("0XFFF3"), Guid::fromShortUuid(0xFFF3));
    EXPECT_EQ(parseUuidText("0000fff2-0000-1000-8000-00805f9b34fb"), Guid::fromShortUuid(0xFFF2));
    EXPECT_FALSE(parseUuidText(""));
    EXPECT_FALSE(parseUuidText("0x"));
    EXPECT_FALSE(parseUuidText("0x1fff1"));
    EXPECT_FALSE(parseUuidText("0xfffg"));
    EXPECT_FALSE(parseUuidText("fff1"));
}

TEST(UuidText, ShortNamesMatchOnTheShortUuidAlone) {
    const auto vendorFff1 = Guid::parse("0000fff1-1111-2222-3333-444455556666");
    ASSERT_TRUE(vendorFff1);
    EXPECT_TRUE(matchesUuid(*vendorFff1, Guid::fromShortUuid(0xFFF1)));
    EXPECT_FALSE(matchesUuid(*vendorFff1, Guid::fromShortUuid(0xFFF2)));
    EXPECT_FALSE(matchesUuid(Guid::fromShortUuid(0xFFF1), *vendorFff1));
    EXPECT_TRUE(matchesUuid(*vendorFff1, *vendorFff1));
}

TEST(Address, UpperCaseMostSignificantByteFirst) {
    EXPECT_EQ(formatAddress(0xC2A1B3D4E5F6ull), "C2:A1:B3:D4:E5:F6");
    EXPECT_EQ(formatAddress(0x000000000001ull), "00:00:00:00:00:01");
    EXPECT_EQ(formatAddress(0xFFFF0A0B0C0D0E0Full), "0A:0B:0C:0D:0E:0F");  // only the low 48 bits
}

TEST(Address, ParsesEitherCaseAndNothingElse) {
    EXPECT_EQ(parseAddress("C2:A1:B3:D4:E5:F6"), 0xC2A1B3D4E5F6ull);
    EXPECT_EQ(parseAddress("c2:a1:b3:d4:e5:f6"), 0xC2A1B3D4E5F6ull);
    for (const char* bad : {"", "C2:A1:B3:D4:E5", "C2:A1:B3:D4:E5:F6:", "C2-A1-B3-D4-E5-F6",
                            "C2:A1:B3:D4:E5:G6", " C2:A1:B3:D4:E5:F"}) {
        EXPECT_FALSE(parseAddress(bad)) << bad;
    }
}
