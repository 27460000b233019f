// Every kind of injected fault, seen through the platform interface.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "qb7720/protocol/Protocol.h"

namespace qb::emulator {
namespace {

using platform::BluetoothCacheMode;
using platform::GattCommunicationStatus;
using platform::GattWriteOption;
namespace hr = platform::hresult;

class FaultInjectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        emulator = Emulator::create();
        bridge = emulator->addBridge();
        platform = emulator->platform();
        host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    }

    template <typename F>
    platform::HResult raised(F&& call) {
        try {
            call();
        } catch (const platform::PlatformError& e) {
            return e.code();
        }
        return 0;
    }

    std::shared_ptr<Emulator> emulator;
    std::shared_ptr<VirtualBridge> bridge;
    std::shared_ptr<platform::Platform> platform;
    test::HostView host;
};

TEST_F(FaultInjectionTest, AnErrorHitsTheNextCallsOfItsOperationOnly) {
    emulator->injectError(Operation::CharacteristicWriteValue, hr::kAttInvalidPdu, 2);
    const platform::Bytes one{1};
    // Reads are not writes.
    EXPECT_EQ(host.command->readValue(BluetoothCacheMode::Uncached).status, GattCommunicationStatus::Success);
    EXPECT_EQ(raised([&] { host.transmit->writeValueWithResult(one, GattWriteOption::WriteWithResponse); }),
              hr::kAttInvalidPdu);
    EXPECT_EQ(emulator->pendingFaults(), 1u);
    EXPECT_EQ(raised([&] { host.transmit->writeValueWithResult(one, GattWriteOption::WriteWithResponse); }),
              hr::kAttInvalidPdu);
    EXPECT_EQ(host.transmit->writeValueWithResult(one, GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::Success);
    // Failed calls never reached the device.
    EXPECT_EQ(bridge->writes().size(), 1u);
    EXPECT_EQ(emulator->callCount(Operation::CharacteristicWriteValue), 3u);
}

TEST_F(FaultInjectionTest, TargetsNarrowAFaultToOneCharacteristicOrDevice) {
    FaultTarget commandOnly;
    commandOnly.shortUuid = 0xFFF3;
    emulator->injectError(Operation::CharacteristicWriteValue, hr::kAccessDenied, 1, commandOnly);
    EXPECT_EQ(host.transmit->writeValueWithResult({1}, GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::Success);
    EXPECT_EQ(raised([&] { host.command->writeValueWithResult({1}, GattWriteOption::WriteWithResponse); }),
              hr::kAccessDenied);

    auto other = emulator->addBridge();
    auto otherHost = test::openHost(*platform, emulator->deviceId(other->address()));
    FaultTarget otherDevice;
    otherDevice.address = other->address();
    emulator->injectGattStatus(Operation::CharacteristicReadValue, GattCommunicationStatus::Unreachable, 1,
                               otherDevice);
    EXPECT_EQ(host.command->readValue(BluetoothCacheMode::Uncached).status, GattCommunicationStatus::Success);
    EXPECT_EQ(otherHost.command->readValue(BluetoothCacheMode::Uncached).status,
              GattCommunicationStatus::Unreachable);
    EXPECT_EQ(emulator->pendingFaults(), 0u);
}

TEST_F(FaultInjectionTest, GattStatusFaultsReplaceTheOutcomeOfStatusOperations) {
    emulator->injectGattStatus(Operation::CharacteristicWriteCccd, GattCommunicationStatus::ProtocolError);
    EXPECT_EQ(host.receive->writeClientCharacteristicConfigurationDescriptor(
                  platform::GattClientCharacteristicConfigurationDescriptorValue::Notify),
              GattCommunicationStatus::ProtocolError);
    EXPECT_EQ(bridge->clientConfiguration(host.receive->attributeHandle()), 0);

    emulator->injectGattStatus(Operation::DeviceGetGattServices, GattCommunicationStatus::Unreachable);
    EXPECT_EQ(host.device->getGattServices(BluetoothCacheMode::Uncached).status,
              GattCommunicationStatus::Unreachable);
    emulator->injectGattStatus(Operation::ServiceGetCharacteristics, GattCommunicationStatus::AccessDenied);
    EXPECT_EQ(host.services[2]->getCharacteristics(BluetoothCacheMode::Uncached).status,
              GattCommunicationStatus::AccessDenied);
    // Operations without a status cannot take one.
    EXPECT_THROW(
        emulator->injectGattStatus(Operation::SessionMaxPduSize, GattCommunicationStatus::Unreachable),
        std::invalid_argument);
    EXPECT_THROW(emulator->injectError(Operation::Sleep, hr::kFail, 0), std::invalid_argument);
}

TEST_F(FaultInjectionTest, EveryOperationCanBeMadeToRaise) {
    auto watcher = platform->deviceInformationCreateWatcher(
        "", {}, platform::DeviceInformationKind::AssociationEndpoint);
    auto scanner = platform->createBluetoothLEAdvertisementWatcher();
    const std::vector<std::pair<Operation, std::function<void()>>> calls = {
        {Operation::CreateDeviceWatcher,
         [&] {
             platform->deviceInformationCreateWatcher("", {},
                                                      platform::DeviceInformationKind::AssociationEndpoint);
         }},
        {Operation::CreateAdvertisementWatcher, [&] { platform->createBluetoothLEAdvertisementWatcher(); }},
        {Operation::DeviceFromId, [&] { platform->bluetoothLEDeviceFromId("x"); }},
        {Operation::DeviceFromAddress, [&] { platform->bluetoothLEDeviceFromBluetoothAddress(1); }},
        {Operation::GattSessionFromDeviceId, [&] { platform->gattSessionFromDeviceId("x"); }},
        {Operation::Sleep, [&] { platform->sleep(std::chrono::milliseconds(0)); }},
        {Operation::InitializeApartment, [&] { platform->initializeApartment(); }},
        {Operation::OutputDebugString, [&] { platform->outputDebugString("x"); }},
        {Operation::DeviceWatcherAddHandler, [&] { watcher->addStopped([](platform::DeviceWatcher&) {}); }},
        {Operation::DeviceWatcherRemoveHandler, [&] { watcher->removeStopped(1); }},
        {Operation::DeviceWatcherStart, [&] { watcher->start(); }},
        {Operation::DeviceWatcherStop, [&] { watcher->stop(); }},
        {Operation::AdvertisementWatcherAddHandler,
         [&] { scanner->addStopped([](platform::BluetoothLEAdvertisementWatcher&) {}); }},
        {Operation::AdvertisementWatcherRemoveHandler, [&] { scanner->removeStopped(1); }},
        {Operation::AdvertisementWatcherStart, [&] { scanner->start(); }},
        {Operation::AdvertisementWatcherStop, [&] { scanner->stop(); }},
        {Operation::DeviceConnectionStatus, [&] { host.device->connectionStatus(); }},
        {Operation::DeviceAddConnectionStatusChanged,
         [&] { host.device->addConnectionStatusChanged([](platform::BluetoothLEDevice&) {}); }},
        {Operation::DeviceRemoveConnectionStatusChanged,
         [&] { host.device->removeConnectionStatusChanged(1); }},
        {Operation::DeviceGetGattServices,
         [&] { host.device->getGattServices(BluetoothCacheMode::Uncached); }},
        {Operation::DeviceBluetoothDeviceId, [&] { host.device->bluetoothDeviceId(); }},
        {Operation::DeviceBluetoothAddress, [&] { host.device->bluetoothAddress(); }},
        {Operation::DeviceName, [&] { host.device->name(); }},
        {Operation::ServiceUuid, [&] { host.services[0]->uuid(); }},
        {Operation::ServiceRequestAccess, [&] { host.services[0]->requestAccess(); }},
        {Operation::ServiceGetCharacteristics,
         [&] { host.services[0]->getCharacteristics(BluetoothCacheMode::Uncached); }},
        {Operation::CharacteristicUuid, [&] { host.command->uuid(); }},
        {Operation::CharacteristicProperties, [&] { host.command->characteristicProperties(); }},
        {Operation::CharacteristicAttributeHandle, [&] { host.command->attributeHandle(); }},
        {Operation::CharacteristicReadValue, [&] { host.command->readValue(BluetoothCacheMode::Uncached); }},
        {Operation::CharacteristicWriteCccd,
         [&] {
             host.command->writeClientCharacteristicConfigurationDescriptor(
                 platform::GattClientCharacteristicConfigurationDescriptorValue::Notify);
         }},
        {Operation::CharacteristicAddValueChanged,
         [&] {
             host.command->addValueChanged([](platform::GattCharacteristic&, const platform::Bytes&) {});
         }},
        {Operation::CharacteristicRemoveValueChanged, [&] { host.command->removeValueChanged(1); }},
        {Operation::SessionMaxPduSize, [&] { host.session->maxPduSize(); }},
        {Operation::SessionCanMaintainConnection, [&] { host.session->canMaintainConnection(); }},
        {Operation::SessionMaintainConnection, [&] { host.session->maintainConnection(); }},
        {Operation::SessionSetMaintainConnection, [&] { host.session->setMaintainConnection(true); }},
        {Operation::DeviceClose, [&] { host.device->close(); }},
    };
    for (const auto& [op, call] : calls) {
        emulator->injectError(op, 0x8000FFFF);
        EXPECT_EQ(raised(call), 0x8000FFFFu) << operationName(op);
        EXPECT_EQ(emulator->pendingFaults(), 0u) << operationName(op);
    }
}

TEST_F(FaultInjectionTest, ClassicRadioCallsFailByTheirResult) {
    emulator->setRadios({RadioConfig{6, false, false}, RadioConfig{8, false, false}});
    emulator->injectError(Operation::RadioGetLocalInfo, hr::kFail);
    auto find = platform->bluetoothFindFirstRadio();
    ASSERT_TRUE(find);
    platform::LocalRadioInfo info{};
    EXPECT_FALSE(find->first()->getLocalInfo(info));
    std::shared_ptr<platform::BluetoothRadio> next;
    ASSERT_TRUE(find->findNext(next));
    EXPECT_TRUE(next->getLocalInfo(info));
    EXPECT_EQ(info[platform::kLocalRadioInfoVersionOffset], 8);
    EXPECT_FALSE(find->findNext(next));

    emulator->injectError(Operation::FindFirstRadio, hr::kFail);
    EXPECT_FALSE(platform->bluetoothFindFirstRadio());
    emulator->injectError(Operation::LocalControllerVersion, hr::kFail);
    EXPECT_FALSE(platform->localControllerVersion());
    EXPECT_EQ(platform->localControllerVersion(), 9);
}

TEST_F(FaultInjectionTest, AServiceCanDenyAccess) {
    bridge->setServiceAccess(platform::Guid::fromShortUuid(0xFFF0),
                             platform::DeviceAccessStatus::DeniedBySystem);
    EXPECT_EQ(host.services[2]->requestAccess(), platform::DeviceAccessStatus::DeniedBySystem);
    EXPECT_EQ(host.services[2]->getCharacteristics(BluetoothCacheMode::Uncached).status,
              GattCommunicationStatus::AccessDenied);
    EXPECT_EQ(host.transmit->writeValueWithResult({1}, GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::AccessDenied);
    EXPECT_EQ(host.services[0]->requestAccess(), platform::DeviceAccessStatus::Allowed);
}

TEST_F(FaultInjectionTest, ABridgeThatAnswersWronglyOrNotAtAll) {
    bridge->overrideReply(0x03, platform::Bytes{0x03, 0, 0, 0, 0x00});
    host.command->writeValueWithResult(protocol::encodeResetBlock(BlockArea::ExdCfg),
                                       GattWriteOption::WriteWithResponse);
    auto reply = host.command->readValue(BluetoothCacheMode::Uncached);
    EXPECT_FALSE(protocol::resetBlockAcknowledged(reply.value, BlockArea::ExdCfg));

    bridge->setIgnoreCommand(0x07, true);
    host.command->writeValueWithResult(protocol::encodeSetModem(1, 1, 1),
                                       GattWriteOption::WriteWithoutResponse);
    EXPECT_FALSE(bridge->modemOutputs().dtr);
}

TEST_F(FaultInjectionTest, ADeviceTakenAwayIsGoneForGood) {
    const std::string id = emulator->deviceId(bridge->address());
    EXPECT_TRUE(emulator->removeDevice(bridge->address()));
    EXPECT_FALSE(emulator->removeDevice(bridge->address()));
    EXPECT_FALSE(platform->bluetoothLEDeviceFromId(id));
    EXPECT_EQ(host.transmit->writeValueWithResult({1}, GattWriteOption::WriteWithResponse),
              GattCommunicationStatus::Unreachable);
}

}  // namespace
}  // namespace qb::emulator
