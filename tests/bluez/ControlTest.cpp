// The daemon's control object as the bus suites use it: bridges added and removed while it runs, and
// calls made to fail on request.
#include <sdbus-c++/sdbus-c++.h>

#include "BackendTestSupport.h"
#include "ErrorMap.h"
#include "qb7720/platform/PlatformError.h"

namespace qb::bluez::test {
namespace {

using platform::GattCommunicationStatus;
using platform::GattWriteOption;

class ControlTest : public BackendTest {
  protected:
    std::string config() const override { return "bridges=1 peer=sink"; }

    sdbus::IProxy& control() {
        if (!proxy_) {
            connection_ = sdbus::createSessionBusConnectionWithAddress(harness_->address());
            proxy_ = sdbus::createProxy(*connection_, "org.bluez", "/org/qb7720/emulator");
        }
        return *proxy_;
    }
    void fail(const std::string& call, std::uint32_t count) {
        control().callMethod("Fail").onInterface(kIface).withArguments(std::string(kBridgeText), call, count);
    }

    static constexpr const char* kIface = "org.qb7720.EmulatorControl1";
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_;
};

TEST_F(ControlTest, AddedBridgeIsHeardWithItsAddressAndNameAndGoesWhenRemoved) {
    const std::map<std::string, sdbus::Variant> options{
        {"address", sdbus::Variant(std::uint64_t{0xC051000000AAull})},
        {"name", sdbus::Variant(std::string("Added"))},
        {"rssi", sdbus::Variant(std::int16_t{-42})}};
    std::string address;
    control().callMethod("AddBridge").onInterface(kIface).withArguments(options).storeResultsTo(address);
    EXPECT_EQ(address, "c0:51:00:00:00:aa");

    auto watcher = platform_->createBluetoothLEAdvertisementWatcher();
    std::mutex mutex;
    std::vector<platform::BluetoothLEAdvertisementReceivedEventArgs> heard;
    watcher->addReceived([&](auto&, const platform::BluetoothLEAdvertisementReceivedEventArgs& a) {
        std::lock_guard<std::mutex> lock(mutex);
        if (a.bluetoothAddress == 0xC051000000AAull) heard.push_back(a);
    });
    watcher->start();
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return !heard.empty();
    }));
    watcher->stop();
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(heard.front().rawSignalStrengthInDBm, -42);
    }
    auto device = platform_->bluetoothLEDeviceFromBluetoothAddress(0xC051000000AAull);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->name(), "Added");

    control().callMethod("RemoveDevice").onInterface(kIface).withArguments(address);
    EXPECT_TRUE(waitFor([&] { return !platform_->bluetoothLEDeviceFromBluetoothAddress(0xC051000000AAull); }));
}

TEST_F(ControlTest, FailedWritesFailAsNotPermittedOnEitherPathThenWritesWorkAgain) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    fail("write", 2);
    for (auto option : {GattWriteOption::WriteWithResponse, GattWriteOption::WriteWithoutResponse}) {
        try {
            chars[0xFFF2]->writeValueWithResult({1, 2}, option);
            ADD_FAILURE() << "a write that was to fail went through";
        } catch (const platform::PlatformError& e) {
            EXPECT_EQ(e.code(), platform::hresult::kAttWriteNotPermitted);
        }
    }
    EXPECT_EQ(chars[0xFFF2]->writeValueWithResult({3}, GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Success);
    EXPECT_EQ(chars[0xFFF2]->writeValueWithResult({4}, GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::Success);
}

TEST_F(ControlTest, FailedConnectLeavesTheDeviceUnreachableOnce) {
    auto device = bridge();
    ASSERT_TRUE(device);
    fail("connect", 1);
    EXPECT_EQ(device->getGattServices(platform::BluetoothCacheMode::Uncached).status,
              GattCommunicationStatus::Unreachable);
    EXPECT_EQ(device->getGattServices(platform::BluetoothCacheMode::Uncached).status,
              GattCommunicationStatus::Success);
}

TEST_F(ControlTest, ChosenErrorsReachTheBackendAsTheirCodes) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    const auto denied = bluezErrorFor(platform::hresult::kAccessDenied);
    control().callMethod("FailWith").onInterface(kIface).withArguments(std::string(kBridgeText), std::string("notify"),
                                                                         std::uint32_t{1}, denied.name, denied.message);
    using Cccd = platform::GattClientCharacteristicConfigurationDescriptorValue;
    try {
        chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify);
        ADD_FAILURE() << "a subscription that was to fail went through";
    } catch (const platform::PlatformError& e) {
        EXPECT_EQ(e.code(), platform::hresult::kAccessDenied);
    }
    // Used up: the next subscription works.
    EXPECT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
              GattCommunicationStatus::Success);
}

TEST_F(ControlTest, UnknownCallsAndDevicesAreRefused) {
    EXPECT_THROW(fail("sing", 1), sdbus::Error);
    EXPECT_THROW(control().callMethod("Connected").onInterface(kIface).withArguments(std::string("00:00:00:00:00:00")),
                 sdbus::Error);
    EXPECT_THROW(control().callMethod("AddBridge").onInterface(kIface).withArguments(
                     std::map<std::string, sdbus::Variant>{{"colour", sdbus::Variant(std::string("red"))}}),
                 sdbus::Error);
}

}  // namespace
}  // namespace qb::bluez::test
