// Discovery through the header: what is reported, from where, and when it stops.
#include <algorithm>
#include <set>

#include "Api.h"
#include "EmulatorFixture.h"
#include "Scanner.h"

using namespace devicelib_test;
using qb::devicelib::BridgeSighting;
using qb::devicelib::Scanner;

namespace {

class ScanTest : public EmulatorTest {};

std::size_t sightingCount() {
    return recorder().count([](Recorder& r) { return r.sightings.size(); });
}

}  // namespace

TEST_F(ScanTest, ReportsBridgesOnlyWithAddressNameAndSignal) {
    QB_NOT_ON_REAL_STACK(::qb::test::kChosenAddressOrSignal);
    qb::emulator::BridgeConfig second;
    second.name = "Workshop";
    second.rssi = -71;
    auto other = radio->addBridge(second);
    // A device that is no bridge but carries the bridge's text under another company; the daemon
    // serves bridges only.
    std::string headphones;
    if (emu) {
        qb::emulator::DeviceConfig plain;
        plain.name = "Headphones";
        plain.manufacturerData = {{0x004C, {1, 2, 'Q', 'B', '7', '7', '2', 0x30}}};
        headphones = addressOf(emu->addDevice(plain));
    }

    ASSERT_EQ(QB7720Ble_BLE_Scan(1, onSighting), 0);
    // Names arrive in scan responses, apart from the bridge data: wait until both bridges were named.
    ASSERT_TRUE(eventually([&] {
        return recorder().count([&](Recorder& r) {
            std::set<std::string> named;
            for (const auto& s : r.sightings) {
                if (s.name) named.insert(s.address);
            }
            return named.size();
        }) == 2;
    }));
    ASSERT_EQ(QB7720Ble_BLE_Scan(0, nullptr), 0);

    std::lock_guard<std::mutex> lock(recorder().mutex);
    for (const auto& s : recorder().sightings) {
        EXPECT_NE(s.address, headphones);
        EXPECT_NE(s.thread, testThread);
        ASSERT_EQ(s.data.size(), 8u);
        EXPECT_EQ(std::string(s.data.begin() + 2, s.data.begin() + 7), "QB772");
        if (s.address == other->addressText()) {
            EXPECT_EQ(s.rssi, -71);
            if (s.name) {
                EXPECT_EQ(*s.name, "Workshop");
            }
        } else {
            EXPECT_EQ(s.address, bridgeAddress());
            EXPECT_EQ(s.rssi, bridgeConfig.rssi);
            if (s.name) {
                EXPECT_EQ(*s.name, bridgeConfig.name);
            }
        }
    }
    // The terminal keys its table by this exact text: upper-case, colon-separated.
    EXPECT_EQ(bridgeAddress().size(), 17u);
    EXPECT_EQ(bridgeAddress().find_first_of("abcdef"), std::string::npos);
}

TEST_F(ScanTest, StopNowEndsReports) {
    ASSERT_EQ(QB7720Ble_BLE_Scan(1, onSighting), 0);
    ASSERT_TRUE(eventually([] { return sightingCount() > 0; }));
    ASSERT_EQ(QB7720Ble_BLE_Scan(0, nullptr), 0);
    EXPECT_FALSE(qb::devicelib::processScanner().running());
    EXPECT_TRUE(eventually([&] { return !discovering(); }));
    settle();
    const auto afterStop = sightingCount();
    passAdvertisingTime(std::chrono::seconds(1));  // ten advertisements of the bridge, nobody listening
    EXPECT_EQ(sightingCount(), afterStop);
}

TEST_F(ScanTest, NoRadioAnswersOne) {
    radio->setRadioOn(false);
    EXPECT_EQ(QB7720Ble_BLE_Scan(1, onSighting), QB7720LIB_NO_RADIO);
    EXPECT_FALSE(qb::devicelib::processScanner().running());
}

TEST_F(ScanTest, AScannerThatCannotStartAnswersOne) {
    QB_IN_PROCESS_ONLY("fault injection of the watcher's start");
    emu->injectError(qb::emulator::Operation::AdvertisementWatcherStart, qb::platform::hresult::kFail);
    EXPECT_EQ(QB7720Ble_BLE_Scan(1, onSighting), QB7720LIB_NO_RADIO);
    // The failure was that one attempt's: the next call scans.
    EXPECT_EQ(QB7720Ble_BLE_Scan(1, onSighting), 0);
    EXPECT_TRUE(eventually([] { return sightingCount() > 0; }));
}

TEST_F(ScanTest, ANullCallbackIsRefused) {
    EXPECT_EQ(QB7720Ble_BLE_Scan(1, nullptr), QB7720LIB_E_ARGUMENT);
    EXPECT_FALSE(qb::devicelib::processScanner().running());
}

TEST_F(ScanTest, DiscoveryStopsWhenNotRenewedAndLastsWhileItIs) {
    QB_NOT_ON_REAL_STACK("a second scan's reports of a known bridge: bluetoothd signals a device it knows "
                         "only when its signal strength moves, and btvirt's never does");
    // The process scanner waits 2 s; this one is the same code with a shorter wait.
    std::atomic<int> reports{0};
    Scanner scanner([p = testPlatform()] { return p; }, std::chrono::milliseconds(400));
    auto count = [&](const BridgeSighting&) { ++reports; };

    ASSERT_EQ(scanner.request(count), Scanner::Result::Scanning);
    for (int i = 0; i < 20; ++i) {  // a second of renewals, more often than the wait
        std::this_thread::sleep_for(50ms);
        ASSERT_TRUE(scanner.running()) << "stopped although renewed, at renewal " << i;
        ASSERT_EQ(scanner.request(count), Scanner::Result::Scanning);
    }
    EXPECT_GT(reports.load(), 0);
    EXPECT_TRUE(eventually([&] { return !scanner.running(); }));
    EXPECT_TRUE(eventually([&] { return !discovering(); }));

    // Started again after stopping by itself.
    const int before = reports.load();
    ASSERT_EQ(scanner.request(count), Scanner::Result::Scanning);
    EXPECT_TRUE(eventually([&] { return reports.load() > before; }));
}

TEST_F(ScanTest, ARenewalFromInsideAReportAndAStopFromInsideOneAreSafe) {
    Scanner scanner([p = testPlatform()] { return p; }, std::chrono::milliseconds(2000));
    std::atomic<int> reports{0};
    std::function<void(const BridgeSighting&)> report = [&](const BridgeSighting&) {
        if (++reports == 3) {
            scanner.stop();
        } else {
            scanner.request(report);
        }
    };
    ASSERT_EQ(scanner.request(report), Scanner::Result::Scanning);
    EXPECT_TRUE(eventually([&] { return !scanner.running(); }));
    EXPECT_EQ(reports.load(), 3);
}

TEST_F(ScanTest, AConnectStopsDiscoveryAndTheNextScanResumesIt) {
    ASSERT_EQ(QB7720Ble_BLE_Scan(1, onSighting), 0);
    ASSERT_TRUE(eventually([] { return sightingCount() > 0; }));
    QB7720HANDLE* h = connectBridge();
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(qb::devicelib::processScanner().running());
    EXPECT_TRUE(eventually([&] { return !discovering(); }));

    auto other = radio->addBridge();
    ASSERT_EQ(QB7720Ble_BLE_Scan(1, onSighting), 0);
    EXPECT_TRUE(eventually([&] { return discovering(); }));
    EXPECT_TRUE(eventually([&] {
        return recorder().count([&](Recorder& r) {
            return static_cast<std::size_t>(
                std::count_if(r.sightings.begin(), r.sightings.end(),
                              [&](auto& s) { return s.address == other->addressText(); }));
        }) > 0;
    }));
}
