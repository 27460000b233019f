// Enumeration against emulated bridges. In process the clock is virtual: the library's scan sleep
// returns through a hook in which the test lets the devices advertise (and change) while both
// watchers really run. On the bus the scan lasts its real time, and what a test does during it runs
// on a thread of its own once the library's watchers are listening.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "EmulatorFixture.h"
#include "discovery/DeviceCollector.h"

namespace qb::test {
namespace {

using emulator::BridgeConfig;
using emulator::Operation;
using namespace std::chrono_literals;

constexpr char kUnwritten = '\x5A';
// Virtual in process, so any length will do; real on the bus, where bridges advertise every 100 ms.
constexpr std::uint32_t kScanMs = 5000;
constexpr std::uint32_t kBusScanMs = 2000;

bool untouched(const DeviceEntry& e) {
    const auto* bytes = reinterpret_cast<const char*>(&e);
    return std::all_of(bytes, bytes + sizeof e, [](char c) { return c == kUnwritten; });
}

BridgeConfig bridge(std::string name, std::uint64_t address = 0, std::int16_t rssi = -60,
                    std::uint8_t tag = 0x30) {
    BridgeConfig c;
    c.name = std::move(name);
    c.address = address;
    c.rssi = rssi;
    c.tag = tag;
    return c;
}

// Whether the enumeration under way lists this device, among the named devices or the unnamed ones.
bool listed(std::uint64_t address, bool named) {
    const auto text = emulator::World::addressText(address);
    std::lock_guard<std::mutex> lock(dll::discovery::enumerationListsLock());
    const auto& lists = dll::discovery::enumerationLists();
    const auto& devices = named ? lists.namedDevices : lists.unnamedDevices;
    return std::any_of(devices.begin(), devices.end(),
                       [&](const auto& d) { return d->id().find(text) != std::string::npos; });
}

// Whether the enumeration under way has kept an advertisement of this device.
bool recorded(std::uint64_t address) {
    const auto bytes = addressBytes(address);
    std::lock_guard<std::mutex> lock(dll::discovery::enumerationListsLock());
    const auto& records = dll::discovery::enumerationLists().advertRecords;
    return std::any_of(records.begin(), records.end(), [&](const auto& r) {
        const auto kept = dll::discovery::recordAddress(r);
        return std::equal(kept.begin(), kept.end(), bytes.begin());
    });
}

class EnumDevice : public EmulatorTest {
  protected:
    void SetUp() override {
        EmulatorTest::SetUp();
        if (!emu) return;
        emu->setSleepHook([this](std::chrono::milliseconds) {
            emu->waitIdle();  // every device the watcher found at its start has been added
            if (duringScan) {
                duringScan();
            } else {
                advertiseRound();
            }
        });
    }

    std::shared_ptr<TestBridge> add(BridgeConfig config) {
        auto b = addBridge(config);
        added.push_back(b);
        return b;
    }

    std::uint32_t scanTime() const { return emu ? kScanMs : kBusScanMs; }

    // Runs an enumeration into an array of `slots` entries, all bytes marked unwritten.
    std::uint32_t enumerate(std::uint32_t capacity, const char* filter = nullptr, std::size_t slots = 8) {
        entries.assign(slots, DeviceEntry{});
        for (auto& e : entries) std::memset(&e, kUnwritten, sizeof e);
        std::uint32_t count = capacity;
        if (emu || !duringScan) {
            QB7720EnumDevice(scanTime(), filter, entries.data(), &count);
            return count;
        }
        std::atomic<bool> over{false};
        bool inTime = false;
        std::thread during([&] {
            // As the hook does in process: first every device the watcher found at its start is listed
            // (discovery on: the lists are this enumeration's).
            const bool begun = eventually([&] {
                return scanning() && std::all_of(added.begin(), added.end(), [](const auto& b) {
                           return listed(b->address(), true) || listed(b->address(), false);
                       });
            });
            if (!begun) return;
            duringScan();
            inTime = !over.load();
        });
        QB7720EnumDevice(scanTime(), filter, entries.data(), &count);
        over.store(true);
        during.join();
        EXPECT_TRUE(inTime) << "what the test does during the scan did not happen within it";
        return count;
    }

    std::vector<std::string> names(std::uint32_t count) const {
        std::vector<std::string> result;
        for (std::uint32_t i = 0; i < count; ++i) result.emplace_back(entries[i].name);
        return result;
    }

    std::function<void()> duringScan;
    std::vector<DeviceEntry> entries;
    // The bridges of the test, including any it removed.
    std::vector<std::shared_ptr<TestBridge>> added;
};

TEST_F(EnumDevice, ReportsNamedBridgesThatAdvertised) {
    QB_NOT_ON_REAL_STACK(::qb::test::kChosenAddressOrSignal);
    add(bridge("QB7720-A", 0xC2A1B3D4E5F6, -55, 0x31));
    // The daemon serves bridges only.
    if (emu) {
        emulator::DeviceConfig headset;
        headset.name = "Headset";
        emu->addDevice(headset);
        emulator::DeviceConfig lookalike;  // the right company but not the bridge's letters
        lookalike.name = "Lookalike";
        lookalike.manufacturerData = {{0xAB57, {0, 0, 'Q', 'B', '7', '7', '3', 0x30}}};
        emu->addDevice(lookalike);
    }

    ASSERT_EQ(enumerate(8), 1u);
    const DeviceEntry& e = entries[0];
    EXPECT_STREQ(e.name, "QB7720-A");
    EXPECT_EQ(std::string(e.id), deviceId(0xC2A1B3D4E5F6));
    EXPECT_NE(std::string(e.id).find("c2:a1:b3:d4:e5:f6"), std::string::npos);
    EXPECT_EQ(e.rssi, -55);
    EXPECT_EQ(e.tagByte, 0x31);
    for (auto b : e.reserved) EXPECT_EQ(static_cast<char>(b), kUnwritten);
    EXPECT_TRUE(untouched(entries[1]));
}

TEST_F(EnumDevice, NameFilterIsACaseSensitiveSubstring) {
    add(bridge("BLE-UART-1"));
    add(bridge("ble-uart"));
    add(bridge("UART"));

    std::uint32_t count = enumerate(8, "UART");
    EXPECT_EQ(names(count), (std::vector<std::string>{"BLE-UART-1", "UART"}));
    count = enumerate(8, "");
    EXPECT_EQ(names(count), (std::vector<std::string>{"BLE-UART-1", "ble-uart", "UART"}));
    count = enumerate(8, nullptr);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(enumerate(8, "UART-2"), 0u);
}

TEST_F(EnumDevice, CapacityLimitsTheEntriesWritten) {
    for (int i = 1; i <= 5; ++i) add(bridge("Bridge-" + std::to_string(i)));

    std::uint32_t count = enumerate(2);
    EXPECT_EQ(names(count), (std::vector<std::string>{"Bridge-1", "Bridge-2"}));
    EXPECT_TRUE(untouched(entries[2]));

    EXPECT_EQ(enumerate(0), 0u);
    EXPECT_TRUE(untouched(entries[0]));
}

TEST_F(EnumDevice, FirstRecordedAdvertisementDecides) {
    QB_NOT_ON_REAL_STACK(::qb::test::kChosenAddressOrSignal);
    auto b = add(bridge("QB7720-A", 0, -60));
    duringScan = [&] {
        advertiseRound();
        EXPECT_TRUE(recorded(b->address()));
        b->setRssi(-30);
        advertiseRound();
        // The later value did reach the host while the scan ran.
        if (!emu) {
            EXPECT_EQ(lastHeard[b->address()], -30);
        }
    };
    ASSERT_EQ(enumerate(8), 1u);
    EXPECT_EQ(entries[0].rssi, -60);
}

TEST_F(EnumDevice, DeviceNamedDuringTheScanIsReported) {
    auto late = add(bridge("", 0xC05100000101));
    add(bridge("Named", 0xC05100000102));
    duringScan = [&] {
        EXPECT_TRUE(listed(late->address(), false));
        rename(*late, "Late-Bridge");
        advertiseRound();
    };
    std::uint32_t count = enumerate(8);
    std::vector<std::string> found = names(count);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"Late-Bridge", "Named"}));
}

TEST_F(EnumDevice, DeviceRemovedDuringTheScanIsNotReported) {
    auto gone = add(bridge("Gone", 0xC05100000102));
    add(bridge("Stays", 0xC05100000103));
    duringScan = [&] {
        advertiseRound();  // both are recorded before one goes
        EXPECT_TRUE(recorded(gone->address()));
        removeDevice(*gone);
        if (emu) emu->waitIdle();
    };
    std::uint32_t count = enumerate(8);
    EXPECT_EQ(names(count), std::vector<std::string>{"Stays"});
}

TEST_F(EnumDevice, LongNamesAreCutAtACharacterBoundary) {
    QB_NOT_ON_REAL_STACK("a name longer than an advertisement carries");
    std::string longName;
    while (longName.size() < 300) longName += "\xC3\xA9";  // two bytes each
    add(bridge(longName, 0xC05100000201));
    ASSERT_EQ(enumerate(8), 1u);
    EXPECT_EQ(std::string(entries[0].name), longName.substr(0, 258));
    EXPECT_EQ(std::string(entries[0].id), deviceId(0xC05100000201));
}

TEST_F(EnumDevice, CallbackRegisteredBeforeIsNotRestored) {
    auto b = add(bridge("QB7720-A"));
    QB7720RegisterRSSINotify(&recordA);
    ASSERT_EQ(enumerate(8), 1u);
    recorderA().clear();
    EXPECT_FALSE(scanning());

    // Heard all the same: in process sent to any watcher left, on the bus by a scan of the test's own.
    if (emu) {
        platform::BluetoothLEAdvertisementReceivedEventArgs a = emu->bridges()[0]->advertisements().at(0);
        emu->emitAdvertisement(a);
        emu->waitIdle();
    } else {
        hear({b->address()});
    }
    EXPECT_TRUE(recorderA().reports().empty());
}

TEST_F(EnumDevice, PlatformErrorEndsWithCountZeroAndNoScannerRunning) {
    QB_IN_PROCESS_ONLY("faults of the platform's device watcher");
    add(bridge("QB7720-A"));
    for (Operation op : {Operation::CreateDeviceWatcher, Operation::DeviceWatcherAddHandler,
                         Operation::DeviceWatcherStart, Operation::DeviceWatcherStop,
                         Operation::DeviceWatcherRemoveHandler, Operation::DeviceInformationId}) {
        SCOPED_TRACE(emulator::operationName(op));
        emu->injectError(op, platform::hresult::kFail);
        EXPECT_EQ(enumerate(8), 0u);
        EXPECT_EQ(emu->pendingFaults(), 0u);
        EXPECT_FALSE(emu->world()->scanning());
        // Nothing of the failed scan is left behind to spoil the next one.
        EXPECT_EQ(enumerate(8), 1u);
    }
}

TEST_F(EnumDevice, EntriesWrittenBeforeAnErrorStay) {
    QB_IN_PROCESS_ONLY("a device whose name cannot be read");
    add(bridge("First", 0xC05100000301));
    add(bridge("Second", 0xC05100000302));
    duringScan = [&] {
        advertiseRound();
        emulator::FaultTarget second;
        second.address = 0xC05100000302;
        emu->injectError(Operation::DeviceInformationName, platform::hresult::kFail, 1, second);
    };
    EXPECT_EQ(enumerate(8), 0u);
    EXPECT_STREQ(entries[0].name, "First");
    EXPECT_TRUE(untouched(entries[1]));
}

TEST_F(EnumDevice, SecondEnumerationWaitsForTheFirst) {
    add(bridge("QB7720-A"));
    std::atomic<int> inScan{0};
    std::atomic<int> overlap{0};
    duringScan = [&] {
        if (inScan.fetch_add(1) != 0) overlap.fetch_add(1);
        std::this_thread::sleep_for(20ms);  // widens the window another scan would fall into
        advertiseRound();
        inScan.fetch_sub(1);
    };
    // Over the bus the scans take real time: one after the other they last at least twice one.
    const std::uint32_t scanMs = emu ? 1000 : kBusScanMs;
    std::uint32_t counts[2] = {8, 8};
    std::vector<DeviceEntry> results[2] = {std::vector<DeviceEntry>(8), std::vector<DeviceEntry>(8)};
    const auto start = std::chrono::steady_clock::now();
    std::thread other([&] { QB7720EnumDevice(scanMs, nullptr, results[1].data(), &counts[1]); });
    QB7720EnumDevice(scanMs, nullptr, results[0].data(), &counts[0]);
    other.join();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(overlap.load(), 0);
    if (!emu) {
        EXPECT_GE(elapsed, 2 * std::chrono::milliseconds(scanMs));
    }
    EXPECT_EQ(counts[0], 1u);
    EXPECT_EQ(counts[1], 1u);
    EXPECT_STREQ(results[1][0].name, "QB7720-A");
}

}  // namespace
}  // namespace qb::test
