// Radios, device enumeration and advertisements through the emulated platform.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "TestSupport.h"

namespace qb::emulator {
namespace {

using platform::BluetoothLEAdvertisementReceivedEventArgs;
using platform::BluetoothLEAdvertisementType;
using test::eventually;

TEST(RadioTest, VersionsAndFailuresOfEachLocalRadio) {
    auto emulator = Emulator::create();
    auto platform = emulator->platform();
    emulator->setRadios(
        {RadioConfig{6, false, false}, RadioConfig{8, true, true}, RadioConfig{11, false, false}});
    auto find = platform->bluetoothFindFirstRadio();
    ASSERT_TRUE(find);
    std::vector<std::shared_ptr<platform::BluetoothRadio>> radios{find->first()};
    std::shared_ptr<platform::BluetoothRadio> next;
    while (find->findNext(next)) radios.push_back(next);
    ASSERT_EQ(radios.size(), 3u);
    platform::LocalRadioInfo info{};
    EXPECT_TRUE(radios[0]->getRadioInfo());
    EXPECT_TRUE(radios[0]->getLocalInfo(info));
    EXPECT_EQ(info[291], 6);
    EXPECT_FALSE(radios[1]->getRadioInfo());
    info.fill(0);
    EXPECT_FALSE(radios[1]->getLocalInfo(info));
    EXPECT_EQ(info[291], 0);
    EXPECT_TRUE(radios[2]->getLocalInfo(info));
    EXPECT_EQ(info[291], 11);

    emulator->setRadios({});
    EXPECT_FALSE(platform->bluetoothFindFirstRadio());
    emulator->setControllerVersion(std::nullopt);
    EXPECT_FALSE(platform->localControllerVersion());
    emulator->setControllerVersion(12);
    EXPECT_EQ(platform->localControllerVersion(), 12);
}

// Collects advertisements and the threads they came on.
struct AdvertisementLog {
    std::mutex mutex;
    std::vector<BluetoothLEAdvertisementReceivedEventArgs> items;
    std::set<std::thread::id> threads;

    void attach(platform::BluetoothLEAdvertisementWatcher& watcher) {
        watcher.addReceived([this](platform::BluetoothLEAdvertisementWatcher&,
                                   const BluetoothLEAdvertisementReceivedEventArgs& args) {
            std::lock_guard<std::mutex> lock(mutex);
            items.push_back(args);
            threads.insert(std::this_thread::get_id());
        });
    }
    std::vector<BluetoothLEAdvertisementReceivedEventArgs> of(std::uint64_t address) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<BluetoothLEAdvertisementReceivedEventArgs> out;
        for (const auto& a : items) {
            if (a.bluetoothAddress == address) out.push_back(a);
        }
        return out;
    }
};

TEST(AdvertisementTest, BridgesAdvertiseManufacturerDataAndAnswerScansWithTheirName) {
    auto emulator = Emulator::create();
    BridgeConfig config;
    config.name = "BLE-UART-1";
    config.tag = 0x30;
    config.rssi = -70;
    config.advertisingInterval = std::chrono::milliseconds(20);
    auto bridge = emulator->addBridge(config);
    auto watcher = emulator->platform()->createBluetoothLEAdvertisementWatcher();
    AdvertisementLog log;
    log.attach(*watcher);
    watcher->start();
    ASSERT_TRUE(eventually([&] { return log.of(bridge->address()).size() >= 6; }));
    watcher->stop();
    const auto seen = log.of(bridge->address());
    std::size_t reports = 0, responses = 0;
    for (const auto& a : seen) {
        EXPECT_EQ(a.rawSignalStrengthInDBm, -70);
        if (a.advertisementType == BluetoothLEAdvertisementType::ConnectableUndirected) {
            ++reports;
            ASSERT_EQ(a.manufacturerData.size(), 1u);
            EXPECT_EQ(a.manufacturerData[0].companyId, 0xAB57);
            const auto& data = a.manufacturerData[0].data;
            ASSERT_GE(data.size(), 8u);
            EXPECT_EQ(std::string(data.begin() + 2, data.begin() + 7), "QB772");
            EXPECT_EQ(data[7], 0x30);
        } else {
            ++responses;
            EXPECT_EQ(a.advertisementType, BluetoothLEAdvertisementType::ScanResponse);
            EXPECT_EQ(a.localName, "BLE-UART-1");
        }
    }
    EXPECT_GE(reports, 3u);
    EXPECT_GE(responses, 3u);
    EXPECT_EQ(log.threads.count(std::this_thread::get_id()), 0u);
}

TEST(AdvertisementTest, ExactAdvertisementsReachOnlyStartedWatchers) {
    auto emulator = Emulator::create();
    auto watcher = emulator->platform()->createBluetoothLEAdvertisementWatcher();
    auto idle = emulator->platform()->createBluetoothLEAdvertisementWatcher();
    AdvertisementLog log, idleLog;
    log.attach(*watcher);
    idleLog.attach(*idle);
    watcher->start();
    BluetoothLEAdvertisementReceivedEventArgs args;
    args.bluetoothAddress = 0xC2A1B3D4E5F6;
    args.rawSignalStrengthInDBm = -42;
    args.advertisementType = BluetoothLEAdvertisementType::ConnectableUndirected;
    args.manufacturerData = {{0x004C, {1, 2}}, {0xAB57, {0, 0, 'Q', 'B', '7', '7', '2', 0x99}}};
    emulator->emitAdvertisement(args);
    emulator->waitIdle();
    auto got = log.of(0xC2A1B3D4E5F6);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].manufacturerData.size(), 2u);
    EXPECT_EQ(got[0].manufacturerData[1].data[7], 0x99);
    EXPECT_TRUE(idleLog.of(0xC2A1B3D4E5F6).empty());
    // After a stop nothing more arrives, and Stopped is raised.
    std::atomic<bool> stopped{false};
    watcher->addStopped([&](platform::BluetoothLEAdvertisementWatcher&) { stopped = true; });
    watcher->stop();
    emulator->emitAdvertisement(args);
    emulator->waitIdle();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(log.of(0xC2A1B3D4E5F6).size(), 1u);
}

// Out of range, or serving its one link, a bridge does not advertise.
TEST(AdvertisementTest, DevicesOutOfRangeOrConnectedFallSilent) {
    auto emulator = Emulator::create();
    BridgeConfig config;
    config.advertisingInterval = std::chrono::milliseconds(20);
    auto away = emulator->addBridge(config);
    auto busy = emulator->addBridge(config);
    auto near = emulator->addBridge(config);
    away->setInRange(false);
    ASSERT_EQ(busy->connect(), AttStatus::Success);
    auto watcher = emulator->platform()->createBluetoothLEAdvertisementWatcher();
    AdvertisementLog log;
    log.attach(*watcher);
    watcher->start();
    ASSERT_TRUE(eventually([&] { return log.of(near->address()).size() >= 4; }));
    EXPECT_TRUE(log.of(away->address()).empty());
    EXPECT_TRUE(log.of(busy->address()).empty());
    busy->disconnect();
    EXPECT_TRUE(eventually([&] { return !log.of(busy->address()).empty(); }));
}

// The events of one device watcher, in order, as text.
struct WatcherLog {
    std::mutex mutex;
    std::vector<std::string> events;
    std::set<std::thread::id> threads;
    std::vector<std::shared_ptr<platform::DeviceInformation>> added;

    void attach(platform::DeviceWatcher& watcher) {
        watcher.addAdded([this](platform::DeviceWatcher&, std::shared_ptr<platform::DeviceInformation> info) {
            std::lock_guard<std::mutex> lock(mutex);
            threads.insert(std::this_thread::get_id());
            events.push_back("added " + info->name());
            added.push_back(info);
        });
        watcher.addUpdated([this](platform::DeviceWatcher&, const platform::DeviceInformationUpdate& u) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back("updated " + u.name.value_or("-"));
            for (auto& info : added) {
                if (info->id() == u.id) info->update(u);
            }
        });
        watcher.addRemoved([this](platform::DeviceWatcher&, const platform::DeviceInformationUpdate& u) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back("removed " + u.id.substr(u.id.size() - 17));
        });
        watcher.addEnumerationCompleted([this](platform::DeviceWatcher&) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back("completed");
        });
        watcher.addStopped([this](platform::DeviceWatcher&) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back("stopped");
        });
    }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
};

TEST(DeviceWatcherTest, ReportsDevicesNamesGivenLaterAndRemovals) {
    auto emulator = Emulator::create();
    BridgeConfig first;
    first.name = "UART-A";
    auto a = emulator->addBridge(first);
    DeviceConfig nameless;
    auto later = emulator->addDevice(nameless);
    auto away = emulator->addBridge();
    away->setInRange(false);

    auto watcher = emulator->platform()->deviceInformationCreateWatcher(
        "", {}, platform::DeviceInformationKind::AssociationEndpoint);
    WatcherLog log;
    log.attach(*watcher);
    watcher->start();
    EXPECT_THROW(watcher->start(), platform::PlatformError);
    emulator->waitIdle();
    EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"added UART-A", "added ", "completed"}));

    later->setName("Named-Later");
    DeviceConfig plain;
    plain.name = "Plain";
    emulator->addDevice(plain);
    emulator->removeDevice(a->address());
    emulator->waitIdle();
    const auto events = log.snapshot();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[3], "updated Named-Later");
    EXPECT_EQ(events[4], "added Plain");
    EXPECT_EQ(events[5], "removed " + World::addressText(a->address()));
    EXPECT_EQ(log.added[1]->name(), "Named-Later");
    EXPECT_EQ(log.added[0]->id(), emulator->deviceId(a->address()));
    EXPECT_EQ(log.threads.count(std::this_thread::get_id()), 0u);

    watcher->stop();
    emulator->waitIdle();
    EXPECT_EQ(log.snapshot().back(), "stopped");
    // A stopped watcher hears nothing more.
    emulator->addBridge();
    emulator->waitIdle();
    EXPECT_EQ(log.snapshot().back(), "stopped");
}

TEST(DeviceWatcherTest, ReleasingAWatcherWhileItsEventsAreQueuedIsSafe) {
    auto emulator = Emulator::create();
    for (int i = 0; i < 20; ++i) emulator->addBridge();
    for (int round = 0; round < 20; ++round) {
        auto watcher = emulator->platform()->deviceInformationCreateWatcher(
            "", {}, platform::DeviceInformationKind::AssociationEndpoint);
        auto count = std::make_shared<std::atomic<int>>(0);
        watcher->addAdded(
            [count](platform::DeviceWatcher&, std::shared_ptr<platform::DeviceInformation>) { ++*count; });
        watcher->start();
        watcher.reset();
    }
    emulator->waitIdle();
    SUCCEED() << "no crash or race under the sanitizers";
}

}  // namespace
}  // namespace qb::emulator
