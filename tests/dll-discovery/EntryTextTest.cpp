// Fixed-size text fields of the enumeration result.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "discovery/EntryText.h"

namespace qb::dll::discovery {
namespace {

constexpr std::size_t kField = 260;

// A field with guard bytes on both sides, to see any write outside it.
struct GuardedField {
    static constexpr char kGuard = '\x5A';
    std::array<char, kField + 16> bytes;
    GuardedField() { bytes.fill(kGuard); }
    char* field() { return bytes.data() + 8; }
    bool guardsIntact() const {
        for (std::size_t i = 0; i < 8; ++i) {
            if (bytes[i] != kGuard || bytes[bytes.size() - 1 - i] != kGuard) return false;
        }
        return true;
    }
};

std::string copied(const std::string& text) {
    GuardedField f;
    copyToField(f.field(), kField, text);
    EXPECT_TRUE(f.guardsIntact());
    return std::string(f.field());
}

TEST(EntryText, ShortTextIsKeptWhole) {
    EXPECT_EQ(copied(""), "");
    EXPECT_EQ(copied("QB7720-UART"), "QB7720-UART");
    const std::string exact(259, 'n');
    EXPECT_EQ(copied(exact), exact);
}

TEST(EntryText, LongTextIsCutAtACharacterBoundary) {
    EXPECT_EQ(copied(std::string(400, 'a')), std::string(259, 'a'));

    // A two-byte character at bytes 258..259 would be split by a cut at 259.
    const std::string twoByte = std::string(258, 'a') + "\xC3\xA9" + "tail";
    EXPECT_EQ(copied(twoByte), std::string(258, 'a'));

    // Four-byte characters whose last one straddles the limit.
    std::string emoji;
    while (emoji.size() < 300) emoji += "\xF0\x9F\x98\x80";
    const std::string cut = copied(emoji);
    EXPECT_EQ(cut.size(), 256u);
    EXPECT_EQ(cut, emoji.substr(0, 256));

    // A three-byte character ending exactly at the limit is kept.
    const std::string threeByte = std::string(256, 'a') + "\xE4\xB8\xAD" + "more";
    EXPECT_EQ(copied(threeByte), threeByte.substr(0, 259));
}

TEST(EntryText, MalformedTextStillFits) {
    // A run of continuation bytes has no boundary to find; it is cut at the limit.
    const std::string junk(300, '\x80');
    EXPECT_EQ(copied(junk).size(), 259u);
    EXPECT_EQ(utf8PrefixLength(junk, 259), 259u);
    EXPECT_EQ(utf8PrefixLength(junk, 0), 0u);
}

TEST(EntryText, AddressTextIsLowerCaseWithColons) {
    EXPECT_EQ(addressText({0xC2, 0xA1, 0xB3, 0xD4, 0xE5, 0xF6}), "c2:a1:b3:d4:e5:f6");
    EXPECT_EQ(addressText({0, 1, 2, 3, 4, 0x0A}), "00:01:02:03:04:0a");
}

TEST(EntryText, IdentifiersMatchOnlyTheLowerCaseAddress) {
    const std::vector<std::string> addresses{addressText({0xC2, 0xA1, 0xB3, 0xD4, 0xE5, 0xF6}),
                                             addressText({0xC0, 0x51, 0, 0, 0, 1})};
    EXPECT_EQ(firstAddressIn("BluetoothLE#BluetoothLE00:11:22:33:44:55-c2:a1:b3:d4:e5:f6", addresses), 0u);
    EXPECT_EQ(firstAddressIn("BluetoothLE#BluetoothLE00:11:22:33:44:55-C2:A1:B3:D4:E5:F6", addresses), 2u);
    EXPECT_EQ(firstAddressIn("x-c0:51:00:00:00:01", addresses), 1u);
    EXPECT_EQ(firstAddressIn("", addresses), 2u);
    // When two recorded addresses occur, the earlier record decides.
    EXPECT_EQ(firstAddressIn("c0:51:00:00:00:01/c2:a1:b3:d4:e5:f6", addresses), 0u);
}

}  // namespace
}  // namespace qb::dll::discovery
