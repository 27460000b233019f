// The real backend where the runtime has no Bluetooth classes (Wine): every entry point fails
// cleanly, with the runtime's HRESULT carried unchanged, and the radio search finds nothing.
#include <gtest/gtest.h>

#include "Radio.h"
#include "qb7720/platform/Backends.h"

namespace qb::winrt {
namespace {

class RealBackendUnderWine : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!runningUnderWine()) GTEST_SKIP() << "expectations of a runtime without Bluetooth classes";
        platform_ = createPlatform();
        ASSERT_TRUE(platform_->initializeApartment());
    }

    // The code a call fails with; 0 when it does not fail.
    template <typename Call>
    static platform::HResult failureOf(Call&& call) {
        try {
            call();
        } catch (const platform::PlatformError& error) {
            return error.code();
        }
        return 0;
    }

    std::shared_ptr<platform::Platform> platform_;
};

TEST_F(RealBackendUnderWine, RadioSearchFindsNothingInsteadOfEndingTheProcess) {
    EXPECT_EQ(platform_->bluetoothFindFirstRadio(), nullptr);
    EXPECT_FALSE(platform_->localControllerVersion().has_value());
}

TEST_F(RealBackendUnderWine, BluetoothClassesFailWithClassNotRegistered) {
    EXPECT_EQ(failureOf([&] { platform_->createBluetoothLEAdvertisementWatcher(); }),
              platform::hresult::kClassNotRegistered);
    EXPECT_EQ(
        failureOf([&] {
            platform_->bluetoothLEDeviceFromId("BluetoothLE#BluetoothLE00:11:22:33:44:55-c2:a1:b3:d4:e5:f6");
        }),
        platform::hresult::kClassNotRegistered);
    EXPECT_EQ(failureOf([&] { platform_->bluetoothLEDeviceFromBluetoothAddress(0xC2A1B3D4E5F6ull); }),
              platform::hresult::kClassNotRegistered);
    EXPECT_EQ(
        failureOf([&] {
            platform_->gattSessionFromDeviceId("BluetoothLE#BluetoothLE00:11:22:33:44:55-c2:a1:b3:d4:e5:f6");
        }),
        platform::hresult::kClassNotRegistered);
}

TEST_F(RealBackendUnderWine, DeviceWatcherIsCreatedOrRefusedWithAnError) {
    // Wine implements part of the enumeration classes; either outcome must leave a usable state.
    std::shared_ptr<platform::DeviceWatcher> watcher;
    platform::HResult failure = failureOf([&] {
        watcher = platform_->deviceInformationCreateWatcher(
            "(System.Devices.Aep.ProtocolId:=\"{bb7bb05e-5972-42b5-94fc-76eaa7084d49}\")",
            {"System.Devices.Aep.DeviceAddress", "System.Devices.Aep.IsConnected",
             "System.Devices.Aep.Bluetooth.Le.IsConnectable"},
            platform::DeviceInformationKind::AssociationEndpoint);
    });
    if (failure != 0) {
        EXPECT_EQ(watcher, nullptr);
        EXPECT_NE(failure & 0x80000000u, 0u) << std::hex << failure;
        return;
    }
    ASSERT_NE(watcher, nullptr);
    int added = 0;
    platform::EventToken token = 0;
    platform::HResult eventFailure = failureOf([&] {
        token = watcher->addAdded(
            [&](platform::DeviceWatcher&, std::shared_ptr<platform::DeviceInformation>) { ++added; });
        watcher->start();
        watcher->stop();
        watcher->removeAdded(token);
    });
    EXPECT_TRUE(eventFailure == 0 || (eventFailure & 0x80000000u) != 0) << std::hex << eventFailure;
    EXPECT_EQ(added, 0);
}

TEST_F(RealBackendUnderWine, KernelServicesWork) {
    EXPECT_TRUE(platform_->initializeApartment()) << "a second multithreaded initialisation is not an error";
    platform_->outputDebugString("QB7720WriteBuffer ex.code() = 80004005 message: smoke ");
    platform_->sleep(std::chrono::milliseconds(0));
}

}  // namespace
}  // namespace qb::winrt
