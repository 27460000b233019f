// The core library's exports over the BlueZ backend and the emulator daemon: the same calls a Linux
// program makes, through a real bus.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "BusHarness.h"
#include "QB7720DLL.h"
#include "qb7720/platform/Backends.h"

namespace qb::bluez::test {
namespace {

std::mutex g_mutex;
std::string g_received;

void QB7720_CALL onData(void*, const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_received.append(reinterpret_cast<const char*>(data), length);
}

std::string received() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_received;
}

TEST(CoreOverBus, EnumerateOpenWriteAndReceiveLoopback) {
    BusHarness harness("bridges=2 peer=loopback");
    platform::setCurrent(qb::bluez::createPlatform());
    QB7720Init();
    EXPECT_EQ(QB7720IsBluetoothOpened(), 1);

    DeviceEntry entries[4] = {};
    uint32_t count = 4;
    QB7720EnumDevice(800, nullptr, entries, &count);
    ASSERT_EQ(count, 2u);
    std::string id;
    for (uint32_t i = 0; i < count; ++i) {
        if (std::string(entries[i].id).find("c0:51:00:00:00:01") != std::string::npos) id = entries[i].id;
        EXPECT_EQ(entries[i].rssi, -60);
        EXPECT_EQ(entries[i].tagByte, 0x30);
    }
    ASSERT_FALSE(id.empty());

    QB7720DeviceHandle handle = QB7720OpenDevice(id.c_str(), nullptr);
    ASSERT_NE(handle, nullptr);
    uint16_t mtu = 0;
    EXPECT_EQ(QB7720GetMtu(handle, &mtu), 0);
    EXPECT_EQ(mtu, 247);
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, onData, nullptr), 0);
    const char ping[] = "ping over the bus";
    ASSERT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 0, reinterpret_cast<const uint8_t*>(ping), std::strlen(ping)),
              0);
    EXPECT_TRUE(waitFor([] { return received() == "ping over the bus"; }));
    QB7720CloseDevice(handle);
    platform::setCurrent(nullptr);
}

// The identifier of the one bridge the daemon serves, once enumeration has heard it ("" if not).
std::string enumerateBridge() {
    DeviceEntry entries[4] = {};
    uint32_t count = 4;
    QB7720EnumDevice(800, nullptr, entries, &count);
    return count == 1 ? std::string(entries[0].id) : std::string();
}

TEST(CoreOverBus, TwentyOpensOfTwentySucceedWhileTheDaemonRepliesBeforeItSignals) {
    BusHarness harness("bridges=1 peer=loopback");
    platform::setCurrent(qb::bluez::createPlatform());
    QB7720Init();
    const std::string id = enumerateBridge();
    ASSERT_FALSE(id.empty());
    int opened = 0;
    for (int i = 0; i < 20; ++i) {
        QB7720DeviceHandle handle = QB7720OpenDevice(id.c_str(), nullptr);
        if (handle == nullptr) continue;
        ++opened;
        QB7720CloseDevice(handle);
    }
    std::printf("opens through QB7720OpenDevice: %d of 20\n", opened);
    EXPECT_EQ(opened, 20);
    EXPECT_FALSE(harness.connected("c0:51:00:00:00:01"));
    platform::setCurrent(nullptr);
}

// A connected bridge stops advertising, so an open that fails after its connect and leaves the link
// up would hide the bridge from every later scan.
TEST(CoreOverBus, AnOpenThatFailsAfterItsConnectTakesTheLinkDownAndTheBridgeIsFoundAgain) {
    BusHarness harness("bridges=1 peer=loopback");
    platform::setCurrent(qb::bluez::createPlatform());
    QB7720Init();
    const std::string id = enumerateBridge();
    ASSERT_FALSE(id.empty());

    harness.fail("c0:51:00:00:00:01", "discover");
    EXPECT_EQ(QB7720OpenDevice(id.c_str(), nullptr), nullptr);
    EXPECT_FALSE(harness.connected("c0:51:00:00:00:01"));
    EXPECT_EQ(enumerateBridge(), id);

    // The serial mode's own set-up failing (here its first subscription) closes what it opened.
    harness.fail("c0:51:00:00:00:01", "notify");
    EXPECT_EQ(QB7720UartOpenDevice(id.c_str(), nullptr, nullptr, nullptr), nullptr);
    EXPECT_FALSE(harness.connected("c0:51:00:00:00:01"));
    EXPECT_EQ(enumerateBridge(), id);
    platform::setCurrent(nullptr);
}

}  // namespace
}  // namespace qb::bluez::test
