// Which advertisements are bridges: the manufacturer data decides, nothing else.
#include <gtest/gtest.h>

#include "BridgeAdvert.h"

using qb::devicelib::findBridgeData;
using qb::platform::BluetoothLEManufacturerData;
using qb::platform::Bytes;

namespace {

BluetoothLEManufacturerData section(std::uint16_t company, Bytes data) {
    return BluetoothLEManufacturerData{company, std::move(data)};
}

const Bytes kBridge = {0x01, 0x02, 'Q', 'B', '7', '7', '2', 0x30};

}  // namespace

TEST(BridgeData, MarkAtBytesTwoToSixUnderTheCompany) {
    std::vector<BluetoothLEManufacturerData> sections{section(0xAB57, kBridge)};
    ASSERT_NE(findBridgeData(sections), nullptr);
    EXPECT_EQ(findBridgeData(sections)->data, kBridge);

    Bytes longer = kBridge;
    longer.push_back(0xEE);
    EXPECT_NE(findBridgeData({section(0xAB57, longer)}), nullptr);
}

TEST(BridgeData, OthersAreNotBridges) {
    EXPECT_EQ(findBridgeData({}), nullptr);
    EXPECT_EQ(findBridgeData({section(0x004C, kBridge)}), nullptr);
    Bytes otherLetters = kBridge;
    otherLetters[6] = '3';
    EXPECT_EQ(findBridgeData({section(0xAB57, otherLetters)}), nullptr);
    // Without the tag byte the section is too short to be a bridge's.
    EXPECT_EQ(findBridgeData({section(0xAB57, Bytes(kBridge.begin(), kBridge.end() - 1))}), nullptr);
    EXPECT_EQ(findBridgeData({section(0xAB57, Bytes{'Q', 'B', '7', '7', '2', 0, 0, 0})}), nullptr);
}

TEST(BridgeData, TheFirstMatchingSectionAmongOthers) {
    Bytes second = kBridge;
    second[7] = 0x31;
    std::vector<BluetoothLEManufacturerData> sections{section(0x004C, kBridge), section(0xAB57, {1, 2, 3}),
                                                      section(0xAB57, kBridge), section(0xAB57, second)};
    const auto* found = findBridgeData(sections);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, &sections[2]);
}
