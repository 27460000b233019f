// Watchers, identifiers and radios against the emulator daemon on a private bus.
#include <sdbus-c++/sdbus-c++.h>

#include "BackendTestSupport.h"

namespace qb::bluez::test {
namespace {

using platform::BluetoothLEAdvertisementReceivedEventArgs;

TEST_F(BackendTest, AdvertisementsCarryTheBridgeDataAndKeepComing) {
    auto watcher = platform_->createBluetoothLEAdvertisementWatcher();
    std::mutex mutex;
    std::vector<BluetoothLEAdvertisementReceivedEventArgs> seen;
    std::atomic<bool> onCaller{false}, stopped{false};
    const auto caller = std::this_thread::get_id();
    watcher->addReceived([&](auto&, const BluetoothLEAdvertisementReceivedEventArgs& a) {
        if (std::this_thread::get_id() == caller) onCaller = true;
        std::lock_guard<std::mutex> lock(mutex);
        if (a.bluetoothAddress == kBridge) seen.push_back(a);
    });
    watcher->addStopped([&](auto&) { stopped = true; });
    watcher->start();
    // The emulated bridge's strength never moves, so repeats only arrive if duplicates are asked for.
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return seen.size() >= 4;
    }));
    watcher->stop();
    EXPECT_TRUE(waitFor([&] { return stopped.load(); }));
    EXPECT_FALSE(onCaller);

    std::lock_guard<std::mutex> lock(mutex);
    const auto& first = seen.front();
    EXPECT_EQ(first.rawSignalStrengthInDBm, -60);
    EXPECT_EQ(first.advertisementType, platform::BluetoothLEAdvertisementType::ConnectableUndirected);
    ASSERT_EQ(first.manufacturerData.size(), 1u);
    EXPECT_EQ(first.manufacturerData[0].companyId, 0xAB57);
    const Bytes& data = first.manufacturerData[0].data;
    ASSERT_GE(data.size(), 8u);
    EXPECT_EQ(std::string(data.begin() + 2, data.begin() + 7), "QB772");
    EXPECT_EQ(data[7], 0x30);
}

TEST_F(BackendTest, DeviceWatcherAddsNamedBridgesWithTheAddressInTheirId) {
    auto watcher = platform_->deviceInformationCreateWatcher(
        "", {}, platform::DeviceInformationKind::AssociationEndpoint);
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> added;
    std::atomic<bool> completed{false}, stopped{false};
    watcher->addAdded([&](auto&, std::shared_ptr<platform::DeviceInformation> info) {
        std::lock_guard<std::mutex> lock(mutex);
        added.emplace_back(info->id(), info->name());
    });
    watcher->addEnumerationCompleted([&](auto&) { completed = true; });
    watcher->addStopped([&](auto&) { stopped = true; });
    watcher->start();
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return !added.empty();
    }));
    EXPECT_TRUE(completed);
    // Starting twice is a caller error, as on the platform the interface follows.
    EXPECT_THROW(watcher->start(), platform::PlatformError);
    watcher->stop();
    EXPECT_TRUE(waitFor([&] { return stopped.load(); }));

    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_NE(added[0].first.find(kBridgeText), std::string::npos);
    EXPECT_EQ(added[0].second, "QB7720-UART-1");
    // The id opens the device it names.
    auto device = platform_->bluetoothLEDeviceFromId(added[0].first);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->bluetoothAddress(), kBridge);
    EXPECT_EQ(device->name(), "QB7720-UART-1");
}

TEST_F(BackendTest, KnownDevicesAreAddedAgainToALaterWatcher) {
    hearBridge();
    auto watcher = platform_->deviceInformationCreateWatcher(
        "", {}, platform::DeviceInformationKind::AssociationEndpoint);
    std::atomic<int> added{0};
    std::atomic<bool> completedAfterAdd{false};
    watcher->addAdded([&](auto&, auto) { ++added; });
    watcher->addEnumerationCompleted([&](auto&) { completedAfterAdd = added.load() == 1; });
    watcher->start();
    EXPECT_TRUE(waitFor([&] { return completedAfterAdd.load(); }));
    watcher->stop();
    EXPECT_EQ(added.load(), 1);
}

TEST_F(BackendTest, UnknownOrForeignIdsGiveNoDevice) {
    hearBridge();
    EXPECT_FALSE(platform_->bluetoothLEDeviceFromId("BluezLE#hci0#01:02:03:04:05:06"));
    EXPECT_FALSE(platform_->bluetoothLEDeviceFromId("BluezLE#hci7#c0:51:00:00:00:01"));
    EXPECT_FALSE(platform_->bluetoothLEDeviceFromId("not an id"));
    EXPECT_TRUE(platform_->bluetoothLEDeviceFromId("C0:51:00:00:00:01"));
    EXPECT_TRUE(platform_->bluetoothLEDeviceFromBluetoothAddress(kBridge));
}

class PowerTest : public BackendTest {
  protected:
    void setPowered(bool on) {
        auto connection = sdbus::createSessionBusConnectionWithAddress(harness_->address());
        auto proxy = sdbus::createProxy(*connection, "org.bluez", "/org/bluez/hci0");
        proxy->setProperty("Powered").onInterface("org.bluez.Adapter1").toValue(on);
    }
};

TEST_F(PowerTest, ASwitchedOffRadioIsNotFoundAndCannotScan) {
    auto find = platform_->bluetoothFindFirstRadio();
    ASSERT_TRUE(find);
    ASSERT_TRUE(find->first());
    EXPECT_TRUE(find->first()->getRadioInfo());
    std::shared_ptr<platform::BluetoothRadio> next;
    EXPECT_FALSE(find->findNext(next));

    setPowered(false);
    ASSERT_TRUE(waitFor([&] { return platform_->bluetoothFindFirstRadio() == nullptr; }));
    auto watcher = platform_->createBluetoothLEAdvertisementWatcher();
    try {
        watcher->start();
        FAIL() << "scanning started on a switched-off radio";
    } catch (const platform::PlatformError& e) {
        EXPECT_EQ(e.code(), 0x80070015u);  // not ready
    }
    setPowered(true);
    EXPECT_TRUE(waitFor([&] { return platform_->bluetoothFindFirstRadio() != nullptr; }));
}

TEST_F(BackendTest, ALostDaemonEmptiesTheWorldInsteadOfHanging) {
    auto device = bridge();
    ASSERT_TRUE(device);
    harness_->stopDaemon();
    EXPECT_TRUE(waitFor([&] { return platform_->bluetoothFindFirstRadio() == nullptr; }));
    EXPECT_EQ(device->connectionStatus(), platform::BluetoothConnectionStatus::Disconnected);
    EXPECT_EQ(device->getGattServices(platform::BluetoothCacheMode::Uncached).status,
              platform::GattCommunicationStatus::Unreachable);
    EXPECT_THROW(platform_->createBluetoothLEAdvertisementWatcher()->start(), platform::PlatformError);
}

TEST(BluezWithoutBus, NoSystemBusMeansNoRadioRatherThanACrash) {
    const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/qb7720-test-bus", 1);
    auto platform = qb::bluez::createPlatform();
    EXPECT_FALSE(platform->bluetoothFindFirstRadio());
    EXPECT_FALSE(platform->localControllerVersion());
    EXPECT_THROW(platform->createBluetoothLEAdvertisementWatcher(), platform::PlatformError);
    if (old != nullptr) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
    } else {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

}  // namespace
}  // namespace qb::bluez::test
