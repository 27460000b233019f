// Signal-strength notification: which advertisements reach the registered callback, and how.
#include "EmulatorFixture.h"

namespace qb::test {
namespace {

using emulator::Operation;
using platform::BluetoothLEAdvertisementReceivedEventArgs;
using platform::BluetoothLEAdvertisementType;
using platform::BluetoothLEManufacturerData;
using platform::Bytes;

constexpr std::uint64_t kAddress = 0xC2A1B3D4E5F6;
const std::array<std::uint8_t, 6> kAddressBytes{0xC2, 0xA1, 0xB3, 0xD4, 0xE5, 0xF6};

BluetoothLEManufacturerData section(std::uint16_t company, Bytes data) {
    BluetoothLEManufacturerData s;
    s.companyId = company;
    s.data = std::move(data);
    return s;
}

Bytes bridgeData(std::uint8_t tag) {
    return {0x12, 0x34, 'Q', 'B', '7', '7', '2', tag, 0x99};
}

BluetoothLEAdvertisementReceivedEventArgs advertisement(std::vector<BluetoothLEManufacturerData> sections,
                                                        std::int16_t rssi = -70) {
    BluetoothLEAdvertisementReceivedEventArgs a;
    a.bluetoothAddress = kAddress;
    a.rawSignalStrengthInDBm = rssi;
    a.advertisementType = BluetoothLEAdvertisementType::ConnectableUndirected;
    a.manufacturerData = std::move(sections);
    return a;
}

RssiReport report(std::int32_t rssi, std::int32_t tag) {
    RssiReport r;
    r.address = kAddressBytes;
    r.rssi = rssi;
    r.tagByte = tag;
    return r;
}

class RssiNotify : public EmulatorTest {
  protected:
    void send(const BluetoothLEAdvertisementReceivedEventArgs& a) {
        emu->emitAdvertisement(a);
        emu->waitIdle();
    }
};

TEST_F(RssiNotify, BridgeAdvertisementReachesTheCallback) {
    EXPECT_EQ(QB7720RegisterRSSINotify(&recordA), 0);
    send(advertisement({section(0xAB57, bridgeData(0x30))}, -70));
    // The address arrives most significant byte first, the signal strength keeps its sign.
    EXPECT_EQ(recorderA().reports(), std::vector<RssiReport>{report(-70, 48)});

    send(advertisement({section(0xAB57, bridgeData(0xFF))}, -128));
    EXPECT_EQ(recorderA().reports().back(), report(-128, 255));
}

TEST_F(RssiNotify, OtherAdvertisementsAreIgnored) {
    QB7720RegisterRSSINotify(&recordA);
    auto scanResponse = advertisement({section(0xAB57, bridgeData(0x30))});
    scanResponse.advertisementType = BluetoothLEAdvertisementType::ScanResponse;
    send(scanResponse);
    send(advertisement({section(0xAB57, {0x12, 0x34, 'Q', 'B', '7', '7', '3', 0x30})}));
    send(advertisement({section(0x0059, bridgeData(0x30))}));
    send(advertisement({section(0xAB57, {0x12, 0x34, 'Q', 'B', '7', '7', '2'})}));
    send(advertisement({}));
    EXPECT_TRUE(recorderA().reports().empty());
}

TEST_F(RssiNotify, EveryMatchingSectionIsReported) {
    QB7720RegisterRSSINotify(&recordA);
    send(advertisement(
        {section(0xAB57, bridgeData(1)), section(0x0059, bridgeData(2)), section(0xAB57, bridgeData(3))},
        -40));
    EXPECT_EQ(recorderA().reports(), (std::vector<RssiReport>{report(-40, 1), report(-40, 3)}));
}

TEST_F(RssiNotify, ReplacingTheCallbackKeepsTheWatcher) {
    QB7720RegisterRSSINotify(&recordA);
    QB7720RegisterRSSINotify(&recordB);
    send(advertisement({section(0xAB57, bridgeData(7))}));
    EXPECT_TRUE(recorderA().reports().empty());
    EXPECT_EQ(recorderB().reports(), std::vector<RssiReport>{report(-70, 7)});
    EXPECT_EQ(emu->callCount(Operation::CreateAdvertisementWatcher), 1u);
    EXPECT_EQ(emu->callCount(Operation::AdvertisementWatcherStart), 1u);
}

TEST_F(RssiNotify, NullStopsTheWatcherAndTheCalls) {
    QB7720RegisterRSSINotify(nullptr);  // while idle: nothing to stop
    EXPECT_EQ(emu->callCount(Operation::CreateAdvertisementWatcher), 0u);

    QB7720RegisterRSSINotify(&recordA);
    EXPECT_TRUE(emu->world()->scanning());
    EXPECT_EQ(QB7720RegisterRSSINotify(nullptr), 0);
    EXPECT_FALSE(emu->world()->scanning());
    send(advertisement({section(0xAB57, bridgeData(7))}));
    EXPECT_TRUE(recorderA().reports().empty());

    // A new registration makes a new watcher.
    QB7720RegisterRSSINotify(&recordB);
    EXPECT_EQ(emu->callCount(Operation::CreateAdvertisementWatcher), 2u);
    send(advertisement({section(0xAB57, bridgeData(7))}));
    EXPECT_EQ(recorderB().reports().size(), 1u);
}

TEST_F(RssiNotify, WatcherThatFailedToStartStaysUntilReleased) {
    emu->injectError(Operation::AdvertisementWatcherStart, platform::hresult::kFail);
    EXPECT_EQ(QB7720RegisterRSSINotify(&recordA), 0);
    QB7720RegisterRSSINotify(&recordB);
    EXPECT_EQ(emu->callCount(Operation::AdvertisementWatcherStart), 1u);
    EXPECT_FALSE(emu->world()->scanning());

    QB7720RegisterRSSINotify(nullptr);
    QB7720RegisterRSSINotify(&recordB);
    EXPECT_EQ(emu->callCount(Operation::AdvertisementWatcherStart), 2u);
    EXPECT_TRUE(emu->world()->scanning());
}

TEST_F(RssiNotify, FailedStopStillReleasesTheWatcher) {
    QB7720RegisterRSSINotify(&recordA);
    emu->injectError(Operation::AdvertisementWatcherStop, platform::hresult::kFail);
    QB7720RegisterRSSINotify(nullptr);
    send(advertisement({section(0xAB57, bridgeData(7))}));
    EXPECT_TRUE(recorderA().reports().empty());

    // Not mistaken for a running watcher: the next registration scans again.
    QB7720RegisterRSSINotify(&recordB);
    EXPECT_EQ(emu->callCount(Operation::CreateAdvertisementWatcher), 2u);
    send(advertisement({section(0xAB57, bridgeData(7))}));
    EXPECT_EQ(recorderB().reports().size(), 1u);
}

}  // namespace
}  // namespace qb::test
