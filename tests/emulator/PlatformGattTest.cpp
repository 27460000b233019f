// The emulated platform's GATT client objects, as the library uses them.
#include <gtest/gtest.h>

#include <thread>

#include "TestSupport.h"
#include "qb7720/protocol/Protocol.h"

namespace qb::emulator {
namespace {

using platform::BluetoothCacheMode;
using platform::GattCommunicationStatus;
using platform::GattWriteOption;
using test::eventually;
using CccdValue = platform::GattClientCharacteristicConfigurationDescriptorValue;

class PlatformGattTest : public ::testing::Test {
  protected:
    void SetUp() override {
        emulator = Emulator::create();
        bridge = emulator->addBridge();
        platform = emulator->platform();
    }

    std::shared_ptr<Emulator> emulator;
    std::shared_ptr<VirtualBridge> bridge;
    std::shared_ptr<platform::Platform> platform;
};

TEST_F(PlatformGattTest, BridgeDatabaseIsInTheDevicesOrderWithTransmitAtHandle19) {
    auto host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    std::vector<std::uint16_t> services;
    for (const auto& s : host.services) services.push_back(s->uuid().shortUuid());
    EXPECT_EQ(services, (std::vector<std::uint16_t>{0x1800, 0x180A, 0xFFF0}));
    auto vendor = host.services[2]->getCharacteristics(BluetoothCacheMode::Uncached);
    ASSERT_EQ(vendor.characteristics.size(), 3u);
    using namespace platform::gatt_property;
    EXPECT_EQ(vendor.characteristics[0]->uuid(), platform::Guid::fromShortUuid(0xFFF1));
    EXPECT_EQ(vendor.characteristics[0]->characteristicProperties(), kNotify);
    EXPECT_EQ(vendor.characteristics[1]->characteristicProperties(), kWrite | kWriteWithoutResponse);
    EXPECT_EQ(vendor.characteristics[1]->attributeHandle(), 19);
    EXPECT_EQ(vendor.characteristics[2]->characteristicProperties(),
              kRead | kWrite | kWriteWithoutResponse | kNotify);
    // Standard characteristics stay standard: the name is readable under 0x2A00.
    auto access = host.services[0]->getCharacteristics(BluetoothCacheMode::Uncached);
    auto name = access.characteristics[0]->readValue(BluetoothCacheMode::Uncached);
    EXPECT_EQ(name.value, test::bytesOf(bridge->name()));
}

TEST_F(PlatformGattTest, DeviceIdentifiersCarryTheLowerCaseAddress) {
    BridgeConfig config;
    config.address = 0xC2A1B3D4E5F6;
    auto second = emulator->addBridge(config);
    const std::string id = emulator->deviceId(second->address());
    EXPECT_EQ(id, "BluetoothLE#BluetoothLE00:11:22:33:44:55-c2:a1:b3:d4:e5:f6");
    auto device = platform->bluetoothLEDeviceFromId(id);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->bluetoothAddress(), 0xC2A1B3D4E5F6u);
    EXPECT_EQ(device->bluetoothDeviceId(), id);
    EXPECT_FALSE(
        platform->bluetoothLEDeviceFromId("BluetoothLE#BluetoothLE00:11:22:33:44:55-00:00:00:00:00:01"));
    EXPECT_TRUE(platform->bluetoothLEDeviceFromBluetoothAddress(0xC2A1B3D4E5F6));
    EXPECT_FALSE(platform->bluetoothLEDeviceFromBluetoothAddress(0x1));
    EXPECT_FALSE(platform->gattSessionFromDeviceId("nonsense"));
}

TEST_F(PlatformGattTest, NotificationsArriveOnAnEmulatorThreadInOrder) {
    BridgeConfig config;
    config.peer = PeerKind::Scripted;
    auto scripted = emulator->addBridge(config);
    auto host = test::openHost(*platform, emulator->deviceId(scripted->address()));
    test::ValueLog log;
    host.receive->addValueChanged(log.handler());
    ASSERT_EQ(host.receive->writeClientCharacteristicConfigurationDescriptor(CccdValue::Notify),
              GattCommunicationStatus::Success);
    for (std::uint8_t i = 0; i < 200; ++i) scripted->injectSerial(platform::Bytes{i});
    ASSERT_TRUE(eventually([&] { return log.count() == 200; }));
    const auto values = log.snapshot();
    for (std::size_t i = 0; i < values.size(); ++i) ASSERT_EQ(values[i], platform::Bytes{std::uint8_t(i)});
    for (const auto& id : log.threads) EXPECT_NE(id, std::this_thread::get_id());
}

TEST_F(PlatformGattTest, LoopbackThroughThePlatformLosesNothing) {
    auto host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    test::ValueLog log;
    host.receive->addValueChanged(log.handler());
    ASSERT_EQ(host.receive->writeClientCharacteristicConfigurationDescriptor(CccdValue::Notify),
              GattCommunicationStatus::Success);
    ASSERT_EQ(host.session->maxPduSize(), 247);
    platform::Bytes sent;
    for (int piece = 0; piece < 8; ++piece) {
        platform::Bytes value(244);
        for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(piece * 31 + i);
        ASSERT_EQ(host.transmit->writeValueWithResult(value, GattWriteOption::WriteWithoutResponse),
                  GattCommunicationStatus::Success);
        sent.insert(sent.end(), value.begin(), value.end());
    }
    ASSERT_TRUE(eventually([&] { return log.joined().size() >= sent.size(); }));
    EXPECT_EQ(log.joined(), sent);
    for (const auto& v : log.snapshot()) EXPECT_LE(v.size(), 244u);
}

TEST_F(PlatformGattTest, WritesAreCheckedAgainstPropertiesAndMtu) {
    bridge->setMtu(23);
    auto host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    EXPECT_EQ(host.session->maxPduSize(), 23);
    try {
        host.transmit->writeValueWithResult(platform::Bytes(21), GattWriteOption::WriteWithoutResponse);
        FAIL() << "an oversized write without response went through";
    } catch (const platform::PlatformError& e) {
        EXPECT_EQ(e.code(), platform::hresult::kAttInvalidPdu);
    }
    // A write with response may be long.
    EXPECT_EQ(host.transmit->writeValueWithResult(platform::Bytes(100), GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::Success);
    try {
        host.receive->writeValueWithResult(platform::Bytes{1}, GattWriteOption::WriteWithResponse);
        FAIL() << "0xFFF1 took a write";
    } catch (const platform::PlatformError& e) {
        EXPECT_EQ(e.code(), platform::hresult::kAttWriteNotPermitted);
    }
    const auto writes = bridge->writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].valueHandle, 19);
    EXPECT_TRUE(writes[0].withResponse);
}

TEST_F(PlatformGattTest, CommandsThroughThePlatformAreJudgedAcceptedByTheHost) {
    auto host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    ParameterBlock block{};
    block.fill(0xFF);
    for (const auto& piece :
         protocol::splitIntoPieces(protocol::encodeWriteBlock(BlockArea::CfgPara, block))) {
        ASSERT_EQ(host.command->writeValueWithResult(piece, GattWriteOption::WriteWithResponse),
                  GattCommunicationStatus::Success);
    }
    auto reply = host.command->readValue(BluetoothCacheMode::Uncached);
    ASSERT_EQ(reply.status, GattCommunicationStatus::Success);
    EXPECT_TRUE(protocol::writeBlockAcknowledged(reply.value, BlockArea::CfgPara));
    EXPECT_EQ(bridge->block(BlockArea::CfgPara), block);
    const auto writes = bridge->writes();
    ASSERT_EQ(writes.size(), 26u);
    EXPECT_EQ(writes.back().value.size(), 17u);
}

TEST_F(PlatformGattTest, ConnectionChangesAreRaisedAndTheLinkComesBackOnDemand) {
    auto host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    // The change of the opening connect is behind us.
    emulator->waitIdle();
    std::mutex mutex;
    std::vector<platform::BluetoothConnectionStatus> seen;
    std::vector<std::thread::id> threads;
    host.device->addConnectionStatusChanged([&](platform::BluetoothLEDevice& sender) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(sender.connectionStatus());
        threads.push_back(std::this_thread::get_id());
    });
    EXPECT_EQ(host.device->connectionStatus(), platform::BluetoothConnectionStatus::Connected);
    ASSERT_EQ(host.command->writeClientCharacteristicConfigurationDescriptor(CccdValue::Notify),
              GattCommunicationStatus::Success);
    bridge->dropLink();
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return seen.size() == 1;
    }));
    EXPECT_EQ(host.device->connectionStatus(), platform::BluetoothConnectionStatus::Disconnected);
    // The device does not remember what a host enabled on an earlier link.
    EXPECT_EQ(host.transmit->writeValueWithResult(platform::Bytes{1}, GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::Success);
    EXPECT_EQ(bridge->clientConfiguration(host.command->attributeHandle()), 0);
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return seen.size() == 2;
    }));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(seen[0], platform::BluetoothConnectionStatus::Disconnected);
    EXPECT_EQ(seen[1], platform::BluetoothConnectionStatus::Connected);
    EXPECT_EQ(threads[0], threads[1]);
    EXPECT_NE(threads[0], std::this_thread::get_id());
}

TEST_F(PlatformGattTest, OutOfRangeDevicesAreUnreachableAndClosingLetsTheLinkGo) {
    auto host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    EXPECT_TRUE(bridge->connected());
    host.device->close();
    EXPECT_FALSE(bridge->connected());
    bridge->setInRange(false);
    EXPECT_EQ(host.transmit->writeValueWithResult(platform::Bytes{1}, GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::Unreachable);
    auto device = platform->bluetoothLEDeviceFromId(emulator->deviceId(bridge->address()));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->getGattServices(BluetoothCacheMode::Uncached).status,
              GattCommunicationStatus::Unreachable);
    bridge->setInRange(true);
    EXPECT_EQ(device->getGattServices(BluetoothCacheMode::Uncached).status, GattCommunicationStatus::Success);
}

TEST_F(PlatformGattTest, MaintainedSessionKeepsTheLinkAfterTheDeviceCloses) {
    auto host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    host.session->setMaintainConnection(true);
    EXPECT_TRUE(host.session->maintainConnection());
    host.device->close();
    EXPECT_TRUE(bridge->connected());
    host.session->setMaintainConnection(false);
    EXPECT_FALSE(bridge->connected());
}

TEST_F(PlatformGattTest, OtherDevicesOfferTheirOwnServices) {
    DeviceConfig config;
    config.name = "Thermometer";
    ServiceSpec vendor;
    vendor.uuid = *platform::Guid::parse("6e400001-b5a3-f393-e0a9-e50e24dcca9e");
    using namespace platform::gatt_property;
    vendor.characteristics = {{platform::Guid::fromShortUuid(0x1234), kRead | kNotify, {7}, {}},
                              {platform::Guid::fromShortUuid(0x2AFF), kWrite, {}, {}}};
    ServiceSpec ffe0;
    ffe0.uuid = platform::Guid::fromShortUuid(0xFFE0);
    config.services = {ffe0, vendor};
    auto device = emulator->addDevice(config);
    auto host = test::openHost(*platform, emulator->deviceId(device->address()));
    ASSERT_EQ(host.services.size(), 4u);
    EXPECT_EQ(host.services[3]->uuid(), vendor.uuid);
    auto c = host.find(0x1234);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->readValue(BluetoothCacheMode::Uncached).value, platform::Bytes{7});
    test::ValueLog log;
    c->addValueChanged(log.handler());
    ASSERT_EQ(c->writeClientCharacteristicConfigurationDescriptor(CccdValue::Notify),
              GattCommunicationStatus::Success);
    EXPECT_TRUE(device->notify(c->attributeHandle(), platform::Bytes{1, 2}));
    ASSERT_TRUE(eventually([&] { return log.count() == 1; }));
    EXPECT_THROW(c->writeValueWithResult(platform::Bytes{1}, GattWriteOption::WriteWithResponse),
                 platform::PlatformError);
}

TEST_F(PlatformGattTest, DroppingObjectsWhileEventsAreInFlightIsSafe) {
    BridgeConfig config;
    config.peer = PeerKind::Generator;
    config.generatorBytesPerSecond = 200000;
    for (int round = 0; round < 20; ++round) {
        auto local = Emulator::create();
        auto generator = local->addBridge(config);
        auto localPlatform = local->platform();
        auto host = test::openHost(*localPlatform, local->deviceId(generator->address()));
        auto calls = std::make_shared<std::atomic<int>>(0);
        host.receive->addValueChanged(
            [calls](platform::GattCharacteristic&, const platform::Bytes&) { ++*calls; });
        host.receive->writeClientCharacteristicConfigurationDescriptor(CccdValue::Notify);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // Everything goes, objects first or the emulator first, with notifications still queued.
        if (round % 2 == 0) host = {};
        local.reset();
        localPlatform.reset();
        generator.reset();
        host = {};
    }
    SUCCEED() << "no crash, leak or race under the sanitizers";
}

}  // namespace
}  // namespace qb::emulator
