// Enumeration against the emulator. The clock is virtual: the library's scan sleep returns through a
// hook in which the test lets the devices advertise (and change) while both watchers really run.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "EmulatorFixture.h"

namespace qb::test {
namespace {

using emulator::BridgeConfig;
using emulator::Operation;
using namespace std::chrono_literals;

constexpr char kUnwritten = '\x5A';

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

class EnumDevice : public EmulatorTest {
  protected:
    void SetUp() override {
        EmulatorTest::SetUp();
        emu->setSleepHook([this](std::chrono::milliseconds) {
            emu->waitIdle();  // every device the watcher found at its start has been added
            if (duringScan) {
                duringScan();
            } else {
                advertiseRound();
            }
        });
    }

    // One advertising interval passes; every advertisement it brings has been delivered.
    void advertiseRound() {
        emu->clock().advance(100ms);
        emu->waitIdle();
    }

    // Runs an enumeration into an array of `slots` entries, all bytes marked unwritten.
    std::uint32_t enumerate(std::uint32_t capacity, const char* filter = nullptr, std::size_t slots = 8) {
        entries.assign(slots, DeviceEntry{});
        for (auto& e : entries) std::memset(&e, kUnwritten, sizeof e);
        std::uint32_t count = capacity;
        QB7720EnumDevice(5000, filter, entries.data(), &count);
        return count;
    }

    std::vector<std::string> names(std::uint32_t count) const {
        std::vector<std::string> result;
        for (std::uint32_t i = 0; i < count; ++i) result.emplace_back(entries[i].name);
        return result;
    }

    std::function<void()> duringScan;
    std::vector<DeviceEntry> entries;
};

TEST_F(EnumDevice, ReportsNamedBridgesThatAdvertised) {
    emu->addBridge(bridge("QB7720-A", 0xC2A1B3D4E5F6, -55, 0x31));
    emulator::DeviceConfig headset;
    headset.name = "Headset";
    emu->addDevice(headset);
    emulator::DeviceConfig lookalike;  // the right company but not the bridge's letters
    lookalike.name = "Lookalike";
    lookalike.manufacturerData = {{0xAB57, {0, 0, 'Q', 'B', '7', '7', '3', 0x30}}};
    emu->addDevice(lookalike);

    ASSERT_EQ(enumerate(8), 1u);
    const DeviceEntry& e = entries[0];
    EXPECT_STREQ(e.name, "QB7720-A");
    EXPECT_EQ(std::string(e.id), emu->deviceId(0xC2A1B3D4E5F6));
    EXPECT_NE(std::string(e.id).find("c2:a1:b3:d4:e5:f6"), std::string::npos);
    EXPECT_EQ(e.rssi, -55);
    EXPECT_EQ(e.tagByte, 0x31);
    for (auto b : e.reserved) EXPECT_EQ(static_cast<char>(b), kUnwritten);
    EXPECT_TRUE(untouched(entries[1]));
}

TEST_F(EnumDevice, NameFilterIsACaseSensitiveSubstring) {
    emu->addBridge(bridge("BLE-UART-1"));
    emu->addBridge(bridge("ble-uart"));
    emu->addBridge(bridge("UART"));

    std::uint32_t count = enumerate(8, "UART");
    EXPECT_EQ(names(count), (std::vector<std::string>{"BLE-UART-1", "UART"}));
    count = enumerate(8, "");
    EXPECT_EQ(names(count), (std::vector<std::string>{"BLE-UART-1", "ble-uart", "UART"}));
    count = enumerate(8, nullptr);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(enumerate(8, "UART-2"), 0u);
}

TEST_F(EnumDevice, CapacityLimitsTheEntriesWritten) {
    for (int i = 1; i <= 5; ++i) emu->addBridge(bridge("Bridge-" + std::to_string(i)));

    std::uint32_t count = enumerate(2);
    EXPECT_EQ(names(count), (std::vector<std::string>{"Bridge-1", "Bridge-2"}));
    EXPECT_TRUE(untouched(entries[2]));

    EXPECT_EQ(enumerate(0), 0u);
    EXPECT_TRUE(untouched(entries[0]));
}

TEST_F(EnumDevice, FirstRecordedAdvertisementDecides) {
    auto b = emu->addBridge(bridge("QB7720-A", 0, -60));
    duringScan = [&] {
        advertiseRound();
        b->setRssi(-30);
        advertiseRound();
    };
    ASSERT_EQ(enumerate(8), 1u);
    EXPECT_EQ(entries[0].rssi, -60);
}

TEST_F(EnumDevice, DeviceNamedDuringTheScanIsReported) {
    auto late = emu->addBridge(bridge("", 0xC05100000101));
    emu->addBridge(bridge("Named", 0xC05100000102));
    duringScan = [&] {
        late->setName("Late-Bridge");
        advertiseRound();
    };
    std::uint32_t count = enumerate(8);
    std::vector<std::string> found = names(count);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"Late-Bridge", "Named"}));
}

TEST_F(EnumDevice, DeviceRemovedDuringTheScanIsNotReported) {
    auto gone = emu->addBridge(bridge("Gone", 0xC05100000102));
    emu->addBridge(bridge("Stays", 0xC05100000103));
    duringScan = [&] {
        advertiseRound();  // both are recorded before one goes
        emu->removeDevice(gone->address());
        emu->waitIdle();
    };
    std::uint32_t count = enumerate(8);
    EXPECT_EQ(names(count), std::vector<std::string>{"Stays"});
}

TEST_F(EnumDevice, LongNamesAreCutAtACharacterBoundary) {
    std::string longName;
    while (longName.size() < 300) longName += "\xC3\xA9";  // two bytes each
    emu->addBridge(bridge(longName, 0xC05100000201));
    ASSERT_EQ(enumerate(8), 1u);
    EXPECT_EQ(std::string(entries[0].name), longName.substr(0, 258));
    EXPECT_EQ(std::string(entries[0].id), emu->deviceId(0xC05100000201));
}

TEST_F(EnumDevice, CallbackRegisteredBeforeIsNotRestored) {
    emu->addBridge(bridge("QB7720-A"));
    QB7720RegisterRSSINotify(&recordA);
    ASSERT_EQ(enumerate(8), 1u);
    recorderA().clear();
    EXPECT_FALSE(emu->world()->scanning());

    platform::BluetoothLEAdvertisementReceivedEventArgs a = emu->bridges()[0]->advertisements().at(0);
    emu->emitAdvertisement(a);
    emu->waitIdle();
    EXPECT_TRUE(recorderA().reports().empty());
}

TEST_F(EnumDevice, PlatformErrorEndsWithCountZeroAndNoScannerRunning) {
    emu->addBridge(bridge("QB7720-A"));
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
    emu->addBridge(bridge("First", 0xC05100000301));
    emu->addBridge(bridge("Second", 0xC05100000302));
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
    emu->addBridge(bridge("QB7720-A"));
    std::atomic<int> scanning{0};
    std::atomic<int> overlap{0};
    duringScan = [&] {
        if (scanning.fetch_add(1) != 0) overlap.fetch_add(1);
        std::this_thread::sleep_for(20ms);  // widens the window another scan would fall into
        advertiseRound();
        scanning.fetch_sub(1);
    };
    std::uint32_t counts[2] = {8, 8};
    std::vector<DeviceEntry> results[2] = {std::vector<DeviceEntry>(8), std::vector<DeviceEntry>(8)};
    std::thread other([&] { QB7720EnumDevice(1000, nullptr, results[1].data(), &counts[1]); });
    QB7720EnumDevice(1000, nullptr, results[0].data(), &counts[0]);
    other.join();
    EXPECT_EQ(overlap.load(), 0);
    EXPECT_EQ(counts[0], 1u);
    EXPECT_EQ(counts[1], 1u);
    EXPECT_STREQ(results[1][0].name, "QB7720-A");
}

}  // namespace
}  // namespace qb::test
