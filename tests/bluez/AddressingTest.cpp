#include <gtest/gtest.h>

#include "Addressing.h"

namespace qb::bluez {
namespace {

TEST(Addressing, AddressesRoundTripInLowerCase) {
    auto parsed = parseAddress("C2:A1:B3:D4:E5:F6");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, 0xC2A1B3D4E5F6u);
    EXPECT_EQ(formatAddress(*parsed), "c2:a1:b3:d4:e5:f6");
    EXPECT_EQ(parseAddress("c2:a1:b3:d4:e5:f6"), parsed);
}

TEST(Addressing, MalformedAddressesAreRefused) {
    for (const char* text : {"", "C2:A1:B3:D4:E5", "C2:A1:B3:D4:E5:F6:", "C2-A1-B3-D4-E5-F6",
                             "G2:A1:B3:D4:E5:F6", "C2:A1:B3:D4:E5:F", "C2A1:B3:D4:E5:F6:"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseAddress(text));
    }
}

TEST(Addressing, DeviceIdsCarryTheLowerCaseAddressAndParseBack) {
    const std::string id = makeDeviceId("hci0", 0xC2A1B3D4E5F6u);
    EXPECT_NE(id.find("c2:a1:b3:d4:e5:f6"), std::string::npos);
    EXPECT_EQ(id.find("C2:A1"), std::string::npos);
    auto parts = parseDeviceId(id);
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->adapterName, "hci0");
    EXPECT_EQ(parts->address, 0xC2A1B3D4E5F6u);

    auto bare = parseDeviceId("C2:A1:B3:D4:E5:F6");
    ASSERT_TRUE(bare);
    EXPECT_TRUE(bare->adapterName.empty());
    EXPECT_EQ(bare->address, 0xC2A1B3D4E5F6u);
}

TEST(Addressing, ForeignOrHostileIdsAreRefused) {
    for (const char* id :
         {"BluezLE#", "BluezLE##c2:a1:b3:d4:e5:f6", "BluezLE#hci0#", "BluezLE#../x#c2:a1:b3:d4:e5:f6",
          "BluezLE#hci0/dev#c2:a1:b3:d4:e5:f6", "BluetoothLE#BluetoothLE00:11:22:33:44:55-c2:a1:b3:d4:e5:f6",
          "BluezLE#hci0#c2:a1:b3:d4:e5:f6x"}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(parseDeviceId(id));
    }
}

TEST(Addressing, PathsFollowTheDaemonsLayout) {
    EXPECT_EQ(devicePath("/org/bluez/hci0", 0xC2A1B3D4E5F6u), "/org/bluez/hci0/dev_C2_A1_B3_D4_E5_F6");
    EXPECT_EQ(adapterNameOf("/org/bluez/hci1"), "hci1");
}

TEST(Addressing, ValueHandleIsOneAfterTheDeclarationInThePath) {
    EXPECT_EQ(valueHandleFromPath("/org/bluez/hci0/dev_X/service0010/char0012"), 19);
    EXPECT_EQ(valueHandleFromPath("/a/char00ff"), 256);
    EXPECT_FALSE(valueHandleFromPath("/a/char12"));
    EXPECT_FALSE(valueHandleFromPath("/a/desc0012"));
    EXPECT_FALSE(valueHandleFromPath("/a/charzzzz"));
    EXPECT_FALSE(valueHandleFromPath("/a/charffff"));  // no room for a value handle after it
}

}  // namespace
}  // namespace qb::bluez
