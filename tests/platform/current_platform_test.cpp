#include <gtest/gtest.h>

#include <cstdlib>

#include "qb7720/platform/Backends.h"

using namespace qb::platform;

namespace {
void setEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
#endif
}
}  // namespace

TEST(CurrentPlatform, SetCurrentReplacesTheProcessPlatform) {
    auto null = createNullPlatform();
    setCurrent(null);
    EXPECT_EQ(&current(), null.get());
    EXPECT_EQ(currentShared(), null);
    setCurrent(nullptr);
}

TEST(CurrentPlatform, BadEmulatorConfigurationFallsBackToNoRadio) {
    setCurrent(nullptr);
    setEnv("QB7720_EMULATOR", "bridges=banana");
    Platform& p = current();
    setEnv("QB7720_EMULATOR", nullptr);
    EXPECT_EQ(p.bluetoothFindFirstRadio(), nullptr);
    EXPECT_FALSE(p.localControllerVersion().has_value());
    setCurrent(nullptr);
}

TEST(NullPlatform, FindsNothing) {
    auto p = createNullPlatform();
    EXPECT_EQ(p->bluetoothLEDeviceFromId("BluetoothLE#BluetoothLE00:11:22:33:44:55-c2:a1:b3:d4:e5:f6"),
              nullptr);
    EXPECT_EQ(p->bluetoothLEDeviceFromBluetoothAddress(0xC2A1B3D4E5F6ull), nullptr);
    EXPECT_THROW(p->gattSessionFromDeviceId("x"), PlatformError);
    auto watcher = p->createBluetoothLEAdvertisementWatcher();
    ASSERT_TRUE(watcher);
    bool received = false;
    watcher->addReceived([&](auto&, const auto&) { received = true; });
    watcher->start();
    watcher->stop();
    EXPECT_FALSE(received);
}
