// The recogniser behind the advertisement scanner, at the edges the emulator does not reach.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "discovery/BridgeAdvertisement.h"

namespace qb::dll::discovery {
namespace {

using platform::BluetoothLEAdvertisementReceivedEventArgs;
using platform::BluetoothLEAdvertisementType;
using platform::BluetoothLEManufacturerData;
using platform::Bytes;

BluetoothLEManufacturerData section(std::uint16_t company, Bytes data) {
    BluetoothLEManufacturerData s;
    s.companyId = company;
    s.data = std::move(data);
    return s;
}

Bytes bridgeData(std::uint8_t tag) {
    return {0xEE, 0xFF, 'Q', 'B', '7', '7', '2', tag};
}

using Report = std::tuple<BridgeAddress, std::int32_t, std::uint8_t>;

std::vector<Report> reportsOf(const BluetoothLEAdvertisementReceivedEventArgs& args) {
    std::vector<Report> reports;
    forEachBridgeReport(args, [&](const BridgeAddress& a, std::int32_t rssi, std::uint8_t tag) {
        reports.emplace_back(a, rssi, tag);
    });
    return reports;
}

TEST(BridgeAdvertisement, AddressIsTheLow48BitsMostSignificantFirst) {
    EXPECT_EQ(addressBytes(0xC2A1B3D4E5F6), (BridgeAddress{0xC2, 0xA1, 0xB3, 0xD4, 0xE5, 0xF6}));
    EXPECT_EQ(addressBytes(0xFFFF'0000'0000'0001), (BridgeAddress{0, 0, 0, 0, 0, 1}));
}

TEST(BridgeAdvertisement, SectionLengthsAroundTheTag) {
    Bytes data = bridgeData(0x7F);
    EXPECT_EQ(bridgeTag(section(kBridgeCompanyId, data)), 0x7F);
    data.push_back(0x01);  // trailing bytes are not examined
    EXPECT_EQ(bridgeTag(section(kBridgeCompanyId, data)), 0x7F);
    data.resize(7);  // letters complete, tag missing
    EXPECT_FALSE(bridgeTag(section(kBridgeCompanyId, data)));
    EXPECT_FALSE(bridgeTag(section(kBridgeCompanyId, {})));
    EXPECT_FALSE(bridgeTag(section(kBridgeCompanyId, {'Q', 'B', '7', '7', '2', 0x30, 0x30, 0x30})));
}

TEST(BridgeAdvertisement, OnlyConnectableUndirectedReportsCount) {
    BluetoothLEAdvertisementReceivedEventArgs args;
    args.bluetoothAddress = 0x112233445566;
    args.rawSignalStrengthInDBm = -127;
    args.manufacturerData = {section(0x004C, bridgeData(1)), section(kBridgeCompanyId, bridgeData(2)),
                             section(kBridgeCompanyId, {1, 2, 3}), section(kBridgeCompanyId, bridgeData(3))};
    const BridgeAddress address{0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    EXPECT_EQ(reportsOf(args), (std::vector<Report>{{address, -127, 2}, {address, -127, 3}}));

    for (auto type :
         {BluetoothLEAdvertisementType::ScanResponse, BluetoothLEAdvertisementType::ConnectableDirected,
          BluetoothLEAdvertisementType::NonConnectableUndirected}) {
        args.advertisementType = type;
        EXPECT_TRUE(reportsOf(args).empty()) << static_cast<int>(type);
    }
}

}  // namespace
}  // namespace qb::dll::discovery
