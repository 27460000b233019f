// Connecting, GATT discovery and the data paths (sockets and bus) against the emulator daemon.
#include <sdbus-c++/sdbus-c++.h>

#include <future>

#include "BackendTestSupport.h"
#include "Characteristic.h"
#include "ErrorMap.h"

namespace qb::bluez::test {
namespace {

using platform::GattCommunicationStatus;
using platform::GattWriteOption;
using Cccd = platform::GattClientCharacteristicConfigurationDescriptorValue;
namespace prop = platform::gatt_property;

BluezCharacteristic& bluez(const std::shared_ptr<platform::GattCharacteristic>& c) {
    return dynamic_cast<BluezCharacteristic&>(*c);
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Another client on the bus, holding a notify session of its own.
class OtherClient {
  public:
    explicit OtherClient(const std::string& address)
        : connection_(sdbus::createSessionBusConnectionWithAddress(address)) {}
    void startNotify(const std::string& path) {
        auto proxy = sdbus::createProxy(*connection_, "org.bluez", path);
        proxy->callMethod("StartNotify").onInterface("org.bluez.GattCharacteristic1");
    }

  private:
    std::unique_ptr<sdbus::IConnection> connection_;
};

TEST_F(BackendTest, ConnectingFindsOnlyTheVendorServiceWithItsCharacteristics) {
    auto device = bridge();
    ASSERT_TRUE(device);
    EXPECT_EQ(device->connectionStatus(), platform::BluetoothConnectionStatus::Disconnected);
    std::atomic<int> changes{0};
    device->addConnectionStatusChanged([&](auto&) { ++changes; });

    auto services = device->getGattServices(platform::BluetoothCacheMode::Uncached);
    ASSERT_EQ(services.status, GattCommunicationStatus::Success);
    // Generic Access and Device Information belong to the system daemon, as on real systems.
    ASSERT_EQ(services.services.size(), 1u);
    EXPECT_EQ(services.services[0]->uuid(), platform::Guid::fromShortUuid(0xFFF0));
    EXPECT_EQ(services.services[0]->requestAccess(), platform::DeviceAccessStatus::Allowed);
    EXPECT_EQ(device->connectionStatus(), platform::BluetoothConnectionStatus::Connected);
    EXPECT_TRUE(waitFor([&] { return changes.load() == 1; }));

    auto chars = services.services[0]->getCharacteristics(platform::BluetoothCacheMode::Uncached);
    ASSERT_EQ(chars.status, GattCommunicationStatus::Success);
    ASSERT_EQ(chars.characteristics.size(), 3u);
    EXPECT_EQ(chars.characteristics[0]->uuid().shortUuid(), 0xFFF1);
    EXPECT_EQ(chars.characteristics[1]->uuid().shortUuid(), 0xFFF2);
    EXPECT_EQ(chars.characteristics[2]->uuid().shortUuid(), 0xFFF3);
    EXPECT_EQ(chars.characteristics[0]->characteristicProperties(), prop::kNotify);
    EXPECT_EQ(chars.characteristics[1]->characteristicProperties(),
              prop::kWrite | prop::kWriteWithoutResponse);
    const auto commandBits = prop::kRead | prop::kWrite | prop::kNotify;
    EXPECT_EQ(chars.characteristics[2]->characteristicProperties() & commandBits, commandBits);
    EXPECT_EQ(chars.characteristics[1]->attributeHandle(), 19);
    // One object per characteristic, however often it is listed.
    auto again = services.services[0]->getCharacteristics(platform::BluetoothCacheMode::Uncached);
    EXPECT_EQ(again.characteristics[1], chars.characteristics[1]);

    device->close();
    EXPECT_TRUE(waitFor([&] { return changes.load() == 2; }));
    EXPECT_EQ(device->connectionStatus(), platform::BluetoothConnectionStatus::Disconnected);
}

class SmallMtuTest : public BackendTest {
  protected:
    std::string config() const override { return "bridges=1 peer=loopback mtu=23"; }
};

TEST_F(BackendTest, SessionReportsTheLinksMtu) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto session = platform_->gattSessionFromDeviceId(device->bluetoothDeviceId());
    ASSERT_TRUE(session);
    EXPECT_EQ(session->maxPduSize(), 23);  // nothing exchanged before a link
    vendor(*device);
    EXPECT_EQ(session->maxPduSize(), 247);
    EXPECT_TRUE(session->canMaintainConnection());
}

TEST_F(BackendTest, LoopbackThroughAnAcquiredWriteSocketAndStartNotify) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    ValueLog received;
    received.attach(*chars[0xFFF1]);
    ASSERT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
              GattCommunicationStatus::Success);
    EXPECT_EQ(bluez(chars[0xFFF1]).notifyMode(), BluezCharacteristic::NotifyMode::Started);

    ASSERT_EQ(chars[0xFFF2]->writeValueWithResult(text("hello "), GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Success);
    EXPECT_TRUE(bluez(chars[0xFFF2]).writeAcquired());
    ASSERT_EQ(chars[0xFFF2]->writeValueWithResult(text("world"), GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Success);
    EXPECT_TRUE(received.waitForBytes(text("hello world")));
    EXPECT_FALSE(received.sawCallerThread());

    // A write with response on the same characteristic gives the socket back first.
    ASSERT_EQ(chars[0xFFF2]->writeValueWithResult(text("!"), GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::Success);
    EXPECT_FALSE(bluez(chars[0xFFF2]).writeAcquired());
    EXPECT_TRUE(received.waitForBytes(text("hello world!")));

    // Off means off at the device too; on again, its notifications come back.
    ASSERT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::None),
              GattCommunicationStatus::Success);
    EXPECT_EQ(bluez(chars[0xFFF1]).notifyMode(), BluezCharacteristic::NotifyMode::Off);
    const auto handle = chars[0xFFF1]->attributeHandle();
    EXPECT_FALSE(harness_->notify(kBridgeText, handle, text("x")));
    ASSERT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
              GattCommunicationStatus::Success);
    EXPECT_TRUE(harness_->notify(kBridgeText, handle, text("y")));
    EXPECT_TRUE(received.waitForBytes(text("hello world!y")));
}

// A caller may switch notifications off while holding a lock that a handler in flight waits for (the
// library does, when it unsubscribes during a flood); the switch must not wait for that handler.
TEST_F(BackendTest, SwitchingOffDoesNotWaitForAHandlerInFlight) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    std::mutex held;
    std::atomic<int> entered{0};
    chars[0xFFF1]->addValueChanged([&](platform::GattCharacteristic&, const Bytes&) {
        ++entered;
        std::lock_guard<std::mutex> wait(held);
    });
    ASSERT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
              GattCommunicationStatus::Success);
    ASSERT_EQ(bluez(chars[0xFFF1]).notifyMode(), BluezCharacteristic::NotifyMode::Started);

    std::unique_lock<std::mutex> hold(held);
    const auto handle = chars[0xFFF1]->attributeHandle();
    ASSERT_TRUE(harness_->notify(kBridgeText, handle, text("a")));
    ASSERT_TRUE(waitFor([&] { return entered.load() == 1; }));
    auto off = std::async(std::launch::async, [&] {
        return chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::None);
    });
    const bool returned = off.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    hold.unlock();
    EXPECT_TRUE(returned) << "switching off waited for the handler";
    EXPECT_EQ(off.get(), GattCommunicationStatus::Success);
    // Off means off: nothing more reaches the handler.
    EXPECT_FALSE(harness_->notify(kBridgeText, handle, text("b")));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(entered.load(), 1);
}

TEST_F(BackendTest, LoopbackThroughWriteValueAndStartNotify) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    // Beside another client's session of its own.
    OtherClient other(harness_->address());
    other.startNotify(bluez(chars[0xFFF1]).path());
    ValueLog received;
    received.attach(*chars[0xFFF1]);
    ASSERT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
              GattCommunicationStatus::Success);
    EXPECT_EQ(bluez(chars[0xFFF1]).notifyMode(), BluezCharacteristic::NotifyMode::Started);

    ASSERT_EQ(chars[0xFFF2]->writeValueWithResult(text("abc"), GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::Success);
    EXPECT_TRUE(received.waitForBytes(text("abc")));
    EXPECT_FALSE(received.sawCallerThread());
}

TEST_F(BackendTest, OwnReadsAreNotDeliveredAsNotifications) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    auto& command = chars[0xFFF3];
    OtherClient other(harness_->address());
    other.startNotify(bluez(command).path());
    ValueLog received;
    received.attach(*command);
    ASSERT_EQ(command->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
              GattCommunicationStatus::Success);
    ASSERT_EQ(bluez(command).notifyMode(), BluezCharacteristic::NotifyMode::Started);
    for (int i = 0; i < 5; ++i) {
        auto read = command->readValue(platform::BluetoothCacheMode::Uncached);
        ASSERT_EQ(read.status, GattCommunicationStatus::Success);
    }
    // A real notification after the reads: everything before it has been delivered by then.
    ASSERT_TRUE(harness_->notify(kBridgeText, command->attributeHandle(), {0x88, 0x01}));
    ASSERT_TRUE(waitFor([&] { return received.count() >= 1; }));
    EXPECT_EQ(received.values(), std::vector<Bytes>{Bytes({0x88, 0x01})});
}

TEST_F(BackendTest, EmptyWriteWithoutResponseDoesNotStallTheSocket) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    ValueLog received;
    received.attach(*chars[0xFFF1]);
    ASSERT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
              GattCommunicationStatus::Success);
    ASSERT_EQ(chars[0xFFF2]->writeValueWithResult(text("a"), GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Success);
    EXPECT_EQ(chars[0xFFF2]->writeValueWithResult({}, GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Success);
    ASSERT_EQ(chars[0xFFF2]->writeValueWithResult(text("bc"), GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Success);
    EXPECT_TRUE(received.waitForBytes(text("abc")));
}

TEST_F(SmallMtuTest, OversizeWriteWithoutResponseIsRefusedNotLost) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    ValueLog received;
    received.attach(*chars[0xFFF1]);
    ASSERT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
              GattCommunicationStatus::Success);
    const Bytes fits(20, 'f');
    ASSERT_EQ(chars[0xFFF2]->writeValueWithResult(fits, GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Success);
    try {
        chars[0xFFF2]->writeValueWithResult(Bytes(21, 'x'), GattWriteOption::WriteWithoutResponse);
        FAIL() << "an oversize write was accepted";
    } catch (const platform::PlatformError& e) {
        EXPECT_EQ(e.code(), platform::hresult::kAttInvalidAttributeLength);
    }
    ASSERT_EQ(chars[0xFFF2]->writeValueWithResult(text("z"), GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Success);
    Bytes expected = fits;
    expected.push_back('z');
    EXPECT_TRUE(received.waitForBytes(expected));
}

TEST_F(BackendTest, RefusalsMapToTheCodesTheCoreTellsApart) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    try {
        chars[0xFFF1]->writeValueWithResult(text("no"), GattWriteOption::WriteWithResponse);
        FAIL() << "a write to a notify-only characteristic succeeded";
    } catch (const platform::PlatformError& e) {
        EXPECT_EQ(e.code(), platform::hresult::kAttWriteNotPermitted);
    }
    EXPECT_EQ(chars[0xFFF2]->readValue(platform::BluetoothCacheMode::Uncached).status,
              GattCommunicationStatus::ProtocolError);
    EXPECT_THROW(chars[0xFFF2]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
                 platform::PlatformError);
}

TEST_F(BackendTest, LinkLossIsReportedAndTheLinkComesBack) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    std::atomic<int> downs{0};
    std::atomic<bool> onCaller{false};
    const auto caller = std::this_thread::get_id();
    device->addConnectionStatusChanged([&](platform::BluetoothLEDevice& d) {
        if (std::this_thread::get_id() == caller) onCaller = true;
        if (d.connectionStatus() == platform::BluetoothConnectionStatus::Disconnected) ++downs;
    });
    ValueLog received;
    received.attach(*chars[0xFFF1]);
    ASSERT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
              GattCommunicationStatus::Success);
    ASSERT_EQ(chars[0xFFF2]->writeValueWithResult(text("1"), GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Success);
    ASSERT_TRUE(received.waitForBytes(text("1")));

    harness_->dropLink(kBridgeText);
    ASSERT_TRUE(waitFor([&] { return downs.load() == 1; }));
    EXPECT_FALSE(onCaller);
    EXPECT_EQ(chars[0xFFF2]->writeValueWithResult(text("2"), GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Unreachable);
    EXPECT_EQ(chars[0xFFF2]->writeValueWithResult(text("2"), GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::Unreachable);
    EXPECT_EQ(chars[0xFFF3]->readValue(platform::BluetoothCacheMode::Uncached).status,
              GattCommunicationStatus::Unreachable);
    // The session outlives the link, as bluetoothd's does.
    EXPECT_EQ(bluez(chars[0xFFF1]).notifyMode(), BluezCharacteristic::NotifyMode::Started);

    // Reconnect: the same objects work again, and notifications come back by themselves.
    vendor(*device);
    ASSERT_EQ(chars[0xFFF2]->writeValueWithResult(text("3"), GattWriteOption::WriteWithoutResponse),
              GattCommunicationStatus::Success);
    EXPECT_TRUE(received.waitForBytes(text("13")));
}

TEST_F(BackendTest, NotificationsSwitchedOffDuringALinkLossStayOff) {
    auto device = bridge();
    ASSERT_TRUE(device);
    auto chars = vendor(*device);
    ASSERT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify),
              GattCommunicationStatus::Success);
    harness_->dropLink(kBridgeText);
    ASSERT_TRUE(waitFor([&] { return device->connectionStatus() == platform::BluetoothConnectionStatus::Disconnected; }));
    EXPECT_EQ(chars[0xFFF1]->writeClientCharacteristicConfigurationDescriptor(Cccd::None),
              GattCommunicationStatus::Success);
    vendor(*device);
    EXPECT_FALSE(harness_->notify(kBridgeText, chars[0xFFF1]->attributeHandle(), text("late")));
    EXPECT_EQ(bluez(chars[0xFFF1]).notifyMode(), BluezCharacteristic::NotifyMode::Off);
}

TEST_F(BackendTest, OutOfRangeDeviceIsUnreachable) {
    auto device = bridge();
    ASSERT_TRUE(device);
    harness_->setInRange(kBridgeText, false);
    EXPECT_EQ(device->getGattServices(platform::BluetoothCacheMode::Uncached).status,
              GattCommunicationStatus::Unreachable);
    EXPECT_EQ(device->connectionStatus(), platform::BluetoothConnectionStatus::Disconnected);
}

}  // namespace
}  // namespace qb::bluez::test
