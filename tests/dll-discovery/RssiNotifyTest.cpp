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
                                                        std::int16_t rssi = -70,
                                                        std::uint64_t address = kAddress) {
    BluetoothLEAdvertisementReceivedEventArgs a;
    a.bluetoothAddress = address;
    a.rawSignalStrengthInDBm = rssi;
    a.advertisementType = BluetoothLEAdvertisementType::ConnectableUndirected;
    a.manufacturerData = std::move(sections);
    return a;
}

RssiReport report(std::int32_t rssi, std::int32_t tag, std::uint64_t address = kAddress) {
    RssiReport r;
    r.address = addressBytes(address);
    r.rssi = rssi;
    r.tagByte = tag;
    return r;
}

// A bridge that advertises only when the test says so.
struct Sender {
    std::uint64_t address;
    std::int16_t rssi;
    std::uint8_t tag;
    std::shared_ptr<TestBridge> bridge;  // on the bus
};

class RssiNotify : public EmulatorTest {
  protected:
    void send(const BluetoothLEAdvertisementReceivedEventArgs& a) {
        emu->emitAdvertisement(a);
        emu->waitIdle();
    }

    // In process its advertisements are sent by hand; on the bus the daemon's bridge stays out of
    // range until then.
    Sender sender(std::uint64_t address, std::int16_t rssi, std::uint8_t tag) {
        Sender s{address, rssi, tag, nullptr};
        if (!emu) {
            emulator::BridgeConfig config;
            config.address = address;
            config.rssi = rssi;
            config.tag = tag;
            s.bridge = addBridge(config);
            s.bridge->setInRange(false);
            if (qb::test::onRealStack()) {
                // The controller's own address, and no measured signal strength.
                s.address = s.bridge->address();
                s.rssi = 127;
            }
        }
        return s;
    }

    // In process one advertisement, to whichever watcher listens; on the bus the bridge comes into
    // range and stays, and returns once a watcher of the test's own has heard it (so the library's
    // has had it too).
    void advertise(const Sender& s) {
        if (emu) {
            send(advertisement({section(0xAB57, bridgeData(s.tag))}, s.rssi, s.address));
            return;
        }
        s.bridge->setInRange(true);
        hear({s.address});
    }

    // What the callback reported of this sender: in process one report per advertisement sent;
    // on the bus the bridge is heard for as long as anyone scans, so at least one, each as expected.
    void expectReports(const RssiRecorder& recorder, const Sender& s, std::size_t sent) {
        const auto got = recorder.reportsFrom(s.address);
        const auto want = report(s.rssi, s.tag, s.address);
        if (emu) {
            EXPECT_EQ(got, std::vector<RssiReport>(sent, want));
            return;
        }
        EXPECT_FALSE(got.empty());
        for (const auto& r : got) EXPECT_EQ(r, want);
    }
};

TEST_F(RssiNotify, BridgeAdvertisementReachesTheCallback) {
    QB_NOT_ON_REAL_STACK(::qb::test::kChosenAddressOrSignal);
    const Sender first = sender(kAddress, -70, 0x30);
    const Sender edge = sender(0xC2A1B3D4E5F7, -128, 0xFF);
    EXPECT_EQ(QB7720RegisterRSSINotify(&recordA), 0);
    advertise(first);
    // The address arrives most significant byte first, the signal strength keeps its sign.
    const auto heard = recorderA().reports();
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front().address, kAddressBytes);
    EXPECT_EQ(heard.front().rssi, -70);
    expectReports(recorderA(), first, 1);

    advertise(edge);
    expectReports(recorderA(), edge, 1);
    if (emu) {
        EXPECT_EQ(recorderA().reports(),
                  (std::vector<RssiReport>{report(-70, 48), report(-128, 255, edge.address)}));
    }
}

TEST_F(RssiNotify, OtherAdvertisementsAreIgnored) {
    QB_IN_PROCESS_ONLY("advertisements of other types and companies");
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
    QB_IN_PROCESS_ONLY("an advertisement of several sections");
    QB7720RegisterRSSINotify(&recordA);
    send(advertisement(
        {section(0xAB57, bridgeData(1)), section(0x0059, bridgeData(2)), section(0xAB57, bridgeData(3))},
        -40));
    EXPECT_EQ(recorderA().reports(), (std::vector<RssiReport>{report(-40, 1), report(-40, 3)}));
}

TEST_F(RssiNotify, ReplacingTheCallbackKeepsTheWatcher) {
    const Sender bridge = sender(kAddress, -70, 7);
    QB7720RegisterRSSINotify(&recordA);
    QB7720RegisterRSSINotify(&recordB);
    advertise(bridge);
    EXPECT_TRUE(recorderA().reports().empty());
    expectReports(recorderB(), bridge, 1);
    if (emu) {
        EXPECT_EQ(emu->callCount(Operation::CreateAdvertisementWatcher), 1u);
        EXPECT_EQ(emu->callCount(Operation::AdvertisementWatcherStart), 1u);
    }
}

TEST_F(RssiNotify, NullStopsTheWatcherAndTheCalls) {
    const Sender bridge = sender(kAddress, -70, 7);
    QB7720RegisterRSSINotify(nullptr);  // while idle: nothing to stop
    if (emu) {
        EXPECT_EQ(emu->callCount(Operation::CreateAdvertisementWatcher), 0u);
    }
    EXPECT_FALSE(scanning());

    QB7720RegisterRSSINotify(&recordA);
    EXPECT_TRUE(scanning());
    EXPECT_EQ(QB7720RegisterRSSINotify(nullptr), 0);
    EXPECT_FALSE(scanning());
    // Heard all the same: in process sent to any watcher left, on the bus by a scan of the test's own.
    advertise(bridge);
    EXPECT_TRUE(recorderA().reports().empty());

    // A new registration makes a new watcher.
    QB7720RegisterRSSINotify(&recordB);
    if (emu) {
        EXPECT_EQ(emu->callCount(Operation::CreateAdvertisementWatcher), 2u);
    }
    EXPECT_TRUE(scanning());
    advertise(bridge);
    expectReports(recorderB(), bridge, 1);
}

TEST_F(RssiNotify, WatcherThatFailedToStartStaysUntilReleased) {
    // On the bus the start fails because the adapter is off; it is on again before the second
    // registration, which therefore scans only if it starts a watcher.
    if (emu) {
        emu->injectError(Operation::AdvertisementWatcherStart, platform::hresult::kFail);
    } else {
        radio->setRadioOn(false);
    }
    EXPECT_EQ(QB7720RegisterRSSINotify(&recordA), 0);
    if (!emu) radio->setRadioOn(true);
    QB7720RegisterRSSINotify(&recordB);
    if (emu) {
        EXPECT_EQ(emu->callCount(Operation::AdvertisementWatcherStart), 1u);
    }
    EXPECT_FALSE(scanning());

    QB7720RegisterRSSINotify(nullptr);
    QB7720RegisterRSSINotify(&recordB);
    if (emu) {
        EXPECT_EQ(emu->callCount(Operation::AdvertisementWatcherStart), 2u);
    }
    EXPECT_TRUE(scanning());
}

TEST_F(RssiNotify, FailedStopStillReleasesTheWatcher) {
    QB_IN_PROCESS_ONLY("a watcher whose stop fails");
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
