// The terminal's device library over the BlueZ backend and the emulator daemon.
#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <set>
#include <string>

#include "BusHarness.h"
#include "QB7720lib.h"
#include "qb7720/platform/Backends.h"

namespace qb::bluez::test {
namespace {

std::mutex g_mutex;
std::set<std::string> g_seen;
std::string g_received;

void onScan(const char* address, const char*, signed char, unsigned char*) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (address != nullptr) g_seen.insert(address);
}

void onNotification(const uuid_t*, const unsigned char* data, unsigned long length) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_received.append(reinterpret_cast<const char*>(data), length);
}

TEST(DeviceLibOverBus, ScanConnectWriteAndReceiveLoopback) {
    BusHarness harness("bridges=1 peer=loopback");
    platform::setCurrent(qb::bluez::createPlatform());
    ASSERT_EQ(QB7720Ble_BLE_Scan(1, onScan), 0);
    ASSERT_TRUE(waitFor([] {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (const auto& a : g_seen) {
            if (a == "C0:51:00:00:00:01" || a == "c0:51:00:00:00:01") return true;
        }
        return false;
    }));
    QB7720Ble_BLE_Scan(0, nullptr);

    QB7720HANDLE* handle = QB7720Ble_Connect("C0:51:00:00:00:01", nullptr);
    ASSERT_NE(handle, nullptr);
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    ASSERT_EQ(QB7720Ble_Get_MTU(handle, &stream, &mtu), 0);
    EXPECT_EQ(mtu, 247);
    ASSERT_EQ(QB7720Ble_register_notification(handle, onNotification, nullptr), 0);
    ASSERT_EQ(QB7720Ble_Open_Notification(handle, "0xfff1"), 0);
    const std::string text = "pong over the bus";
    ASSERT_EQ(QB7720Ble_Write_Characteristic(handle, 19, 0, text.data(), text.size()), 0);
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(g_mutex);
        return g_received == text;
    }));
    EXPECT_EQ(QB7720Ble_Disconnect(handle), 0);
    platform::setCurrent(nullptr);
}

bool heard(const char* upper, const char* lower) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_seen.count(upper) != 0 || g_seen.count(lower) != 0;
}

bool scanUntilHeard() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_seen.clear();
    }
    if (QB7720Ble_BLE_Scan(1, onScan) != 0) return false;
    const bool found = waitFor([] { return heard("C0:51:00:00:00:01", "c0:51:00:00:00:01"); });
    QB7720Ble_BLE_Scan(0, nullptr);
    return found;
}

class DeviceLibConnectOrder : public ::testing::TestWithParam<SignalOrder> {};

// Slowly: each connect overtakes the signals of the disconnect before it.
TEST_P(DeviceLibConnectOrder, TwentyConnectsOfTwentySucceedWhileTheDaemonRepliesBeforeItSignals) {
    BusHarness harness("bridges=1 peer=loopback", false, GetParam());
    platform::setCurrent(qb::bluez::createPlatform());
    ASSERT_TRUE(scanUntilHeard());
    int connected = 0;
    for (int i = 0; i < 20; ++i) {
        QB7720HANDLE* handle = QB7720Ble_Connect("C0:51:00:00:00:01", nullptr);
        if (handle == nullptr) {
            std::printf("connect %d: no handle\n", i);
            continue;
        }
        gatt_stream_t* stream = nullptr;
        uint16_t mtu = 0;
        if (QB7720Ble_Get_MTU(handle, &stream, &mtu) == 0) ++connected;
        QB7720Ble_Disconnect(handle);
    }
    std::printf("connects through QB7720Ble_Connect: %d of 20\n", connected);
    EXPECT_EQ(connected, 20);
    platform::setCurrent(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Daemon, DeviceLibConnectOrder,
                         ::testing::Values(SignalOrder::ReplyFirst, SignalOrder::ReplyFirstSlowly),
                         [](const ::testing::TestParamInfo<SignalOrder>& p) {
                             return p.param == SignalOrder::ReplyFirst ? "ReplyFirst" : "ReplyFirstSlowly";
                         });

TEST(DeviceLibOverBus, AConnectThatFailsAfterTheLinkCameUpTakesItDownAndTheBridgeIsFoundAgain) {
    BusHarness harness("bridges=1 peer=loopback");
    platform::setCurrent(qb::bluez::createPlatform());
    ASSERT_TRUE(scanUntilHeard());
    harness.fail("c0:51:00:00:00:01", "discover");
    EXPECT_EQ(QB7720Ble_Connect("C0:51:00:00:00:01", nullptr), nullptr);
    // The attempt the library gave up on ends once the backend's own wait for discovery runs out.
    EXPECT_TRUE(waitFor([&] { return !harness.connected("c0:51:00:00:00:01"); }, std::chrono::seconds(25)));
    EXPECT_TRUE(scanUntilHeard());
    platform::setCurrent(nullptr);
}

}  // namespace
}  // namespace qb::bluez::test
