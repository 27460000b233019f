// Connecting through the backend whichever comes first from the daemon: a call's reply, as from a
// real bluetoothd, or the property signals of the change it made.
#include <atomic>
#include <memory>

#include "BackendTestSupport.h"
#include "Device.h"

namespace qb::bluez::test {

void PrintTo(SignalOrder order, std::ostream* out) {
    *out << (order == SignalOrder::ReplyFirst     ? "reply first"
             : order == SignalOrder::SignalsFirst ? "signals first"
                                                  : "reply first, signals 50 ms later");
}

namespace {

using platform::BluetoothConnectionStatus;
using platform::GattCommunicationStatus;

class ConnectOrderTest : public ::testing::TestWithParam<SignalOrder> {
  protected:
    void SetUp() override {
        harness_ = std::make_unique<BusHarness>("bridges=1 peer=loopback", false, GetParam());
        platform_ = qb::bluez::createPlatform();
    }
    void TearDown() override {
        platform_.reset();
        harness_.reset();
    }

    // Scans until the bridge is heard, or the limit passes.
    bool hearBridge(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        auto watcher = platform_->createBluetoothLEAdvertisementWatcher();
        std::atomic<bool> heard{false};
        watcher->addReceived([&](auto&, const platform::BluetoothLEAdvertisementReceivedEventArgs& a) {
            if (a.bluetoothAddress == kBridge) heard = true;
        });
        watcher->start();
        const bool ok = waitFor([&] { return heard.load(); }, limit);
        watcher->stop();
        return ok;
    }
    std::shared_ptr<platform::BluetoothLEDevice> device() {
        return platform_->bluetoothLEDeviceFromId(std::string("BluezLE#hci0#") + kBridgeText);
    }

    std::unique_ptr<BusHarness> harness_;
    std::shared_ptr<platform::Platform> platform_;
};

TEST_P(ConnectOrderTest, EveryOpenOfTwentyResolvesAndEveryCloseEndsTheLink) {
    ASSERT_TRUE(hearBridge());
    int opened = 0;
    for (int i = 0; i < 20; ++i) {
        auto d = device();
        ASSERT_TRUE(d);
        // The platform keeps one device per address, so a handler of an earlier round may still run
        // once that round is over: it owns what it counts.
        auto changes = std::make_shared<std::atomic<int>>(0);
        const auto token = d->addConnectionStatusChanged([changes](auto&) { ++*changes; });
        const auto services = d->getGattServices(platform::BluetoothCacheMode::Uncached);
        if (services.status == GattCommunicationStatus::Success && !services.services.empty() &&
            d->connectionStatus() == BluetoothConnectionStatus::Connected) {
            ++opened;
        }
        // The status event follows the settled state, not the late signal.
        EXPECT_TRUE(waitFor([&] { return changes->load() >= 1; })) << "open " << i;
        d->close();
        d->removeConnectionStatusChanged(token);
        ASSERT_TRUE(waitFor([&] { return !harness_->connected(kBridgeText); })) << "open " << i;
    }
    std::printf("opens through the backend: %d of 20\n", opened);
    EXPECT_EQ(opened, 20);
}

TEST_P(ConnectOrderTest, AConnectedBridgeIsNotHeardAndIsHeardAgainAfterItsClose) {
    ASSERT_TRUE(hearBridge());
    auto d = device();
    ASSERT_TRUE(d);
    ASSERT_EQ(d->getGattServices(platform::BluetoothCacheMode::Uncached).status, GattCommunicationStatus::Success);
    EXPECT_FALSE(hearBridge(std::chrono::milliseconds(600)));
    d->close();
    EXPECT_TRUE(hearBridge());
}

INSTANTIATE_TEST_SUITE_P(Daemon, ConnectOrderTest,
                         ::testing::Values(SignalOrder::ReplyFirst, SignalOrder::SignalsFirst,
                                           SignalOrder::ReplyFirstSlowly),
                         [](const ::testing::TestParamInfo<SignalOrder>& p) {
                             switch (p.param) {
                                 case SignalOrder::ReplyFirst: return "ReplyFirst";
                                 case SignalOrder::SignalsFirst: return "SignalsFirst";
                                 case SignalOrder::ReplyFirstSlowly: break;
                             }
                             return "ReplyFirstSlowly";
                         });

// A connect whose discovery fails leaves the link up on the daemon's side; the backend gives up
// after its limit, and the close that follows must take the link down although the mirror never
// saw the services resolve.
TEST(ConnectUndo, ACloseAfterAFailedDiscoveryTakesTheLinkDown) {
    BusHarness harness("bridges=1 peer=loopback");
    auto platform = qb::bluez::createPlatform();
    {
        auto watcher = platform->createBluetoothLEAdvertisementWatcher();
        std::atomic<bool> heard{false};
        watcher->addReceived([&](auto&, const auto& a) { heard = heard || a.bluetoothAddress == kBridge; });
        watcher->start();
        ASSERT_TRUE(waitFor([&] { return heard.load(); }));
        watcher->stop();
    }
    harness.fail(kBridgeText, "discover");
    auto d = platform->bluetoothLEDeviceFromId(std::string("BluezLE#hci0#") + kBridgeText);
    ASSERT_TRUE(d);
    EXPECT_NE(d->getGattServices(platform::BluetoothCacheMode::Uncached).status, GattCommunicationStatus::Success);
    EXPECT_TRUE(harness.connected(kBridgeText));
    d->close();
    EXPECT_TRUE(waitFor([&] { return !harness.connected(kBridgeText); }));
}

}  // namespace
}  // namespace qb::bluez::test
