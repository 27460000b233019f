// The bridge's advertisement facts and the Bluetooth address type, as every user of them relies on.
#include <gtest/gtest.h>

#include "qb7720/platform/BluetoothAddress.h"
#include "qb7720/protocol/BridgeFacts.h"

namespace qb {
namespace {

using platform::BluetoothAddress;

TEST(BridgeManufacturerData, EncodedAsABridgeSendsItAndRecognised) {
    const protocol::Bytes data = protocol::encodeBridgeManufacturerData(0x30);
    EXPECT_EQ(data, (protocol::Bytes{0x01, 0x00, 'Q', 'B', '7', '7', '2', 0x30}));
    EXPECT_EQ(protocol::bridgeTag(0xAB57, data), 0x30);

    struct Case {
        const char* what;
        std::uint16_t company;
        protocol::Bytes data;
        std::optional<std::uint8_t> tag;
    };
    const Case cases[] = {
        {"any revision bytes", 0xAB57, {0xFF, 0xEE, 'Q', 'B', '7', '7', '2', 0x00}, 0x00},
        {"bytes after the tag", 0xAB57, {0, 0, 'Q', 'B', '7', '7', '2', 0xFE, 1, 2}, 0xFE},
        {"other company", 0x57AB, {0, 0, 'Q', 'B', '7', '7', '2', 0x30}, std::nullopt},
        {"other letters", 0xAB57, {0, 0, 'Q', 'B', '7', '7', '3', 0x30}, std::nullopt},
        {"lower case letters", 0xAB57, {0, 0, 'q', 'b', '7', '7', '2', 0x30}, std::nullopt},
        {"no tag byte", 0xAB57, {0, 0, 'Q', 'B', '7', '7', '2'}, std::nullopt},
        {"empty", 0xAB57, {}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(protocol::bridgeTag(c.company, c.data), c.tag) << c.what;
}

TEST(BluetoothAddress, TextAndBothByteOrders) {
    const auto address = BluetoothAddress::parse("C2:a1:B3:d4:E5:f6");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->value(), 0xC2A1B3D4E5F6ull);
    EXPECT_EQ(address->toString(), "c2:a1:b3:d4:e5:f6");
    EXPECT_EQ(address->toUpperString(), "C2:A1:B3:D4:E5:F6");
    const BluetoothAddress::ByteArray msb{0xC2, 0xA1, 0xB3, 0xD4, 0xE5, 0xF6};
    const BluetoothAddress::ByteArray lsb{0xF6, 0xE5, 0xD4, 0xB3, 0xA1, 0xC2};
    EXPECT_EQ(address->bytesMsbFirst(), msb);
    EXPECT_EQ(address->bytesLsbFirst(), lsb);
    EXPECT_EQ(BluetoothAddress::fromBytesMsbFirst(msb), *address);
    EXPECT_EQ(BluetoothAddress::fromBytesLsbFirst(lsb), *address);
    // Only 48 bits count.
    EXPECT_EQ(BluetoothAddress(0xFFFF000000000001ull).toString(), "00:00:00:00:00:01");
}

TEST(BluetoothAddress, ParseRefusesAnythingButSixPairs) {
    for (const char* text : {"", "c2:a1:b3:d4:e5", "c2:a1:b3:d4:e5:f6:", "c2:a1:b3:d4:e5:f", "c2-a1-b3-d4-e5-f6",
                             "c2:a1:b3:d4:e5:g6", "c2:a1:b3:d4:e5f6 ", " c2:a1:b3:d4:e5:f6", "c2a1b3d4e5f6"}) {
        EXPECT_FALSE(BluetoothAddress::parse(text)) << text;
    }
}

}  // namespace
}  // namespace qb
