// The frame: characteristic listing, action masks, and what every export does with handles it does
// not know.
#include <array>

#include "DllTestSupport.h"

namespace qb::dll::test {
namespace {

namespace prop = platform::gatt_property;
constexpr char kVendorService[] = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";

class FrameTest : public DllTest {
  protected:
    // A vendor service with five characteristics of different properties.
    std::shared_ptr<emulator::VirtualDevice> addFiveCharacteristicDevice() {
        emulator::ServiceSpec service{
            *platform::Guid::parse(kVendorService),
            {characteristic(0xA001, prop::kRead | prop::kNotify | prop::kWriteWithoutResponse),
             characteristic(0xA002, prop::kIndicate), characteristic(0xA003, prop::kWrite),
             characteristic(0xA004, prop::kBroadcast), characteristic(0xA005, prop::kRead)},
            platform::DeviceAccessStatus::Allowed};
        return emu->addDevice(deviceWith({service}));
    }
};

TEST_F(FrameTest, GetAllOpHandleWritesEveryEntryWhenTheyFit) {
    QB_IN_PROCESS_ONLY("a device of its own configuration");
    const auto handle = open(addFiveCharacteristicDevice());
    ASSERT_NE(handle, nullptr);
    std::array<uint16_t, 8> uuids{};
    uint16_t count = 8;
    EXPECT_EQ(QB7720GetAllOpHandle(handle, uuids.data(), &count), BridgeResultOk);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(uuids, (std::array<uint16_t, 8>{0xA001, 0xA002, 0xA003, 0xA004, 0xA005, 0, 0, 0}));
}

TEST_F(FrameTest, GetAllOpHandleFillsTheCapacityAndKeepsTheCountWhenTheyDoNotFit) {
    QB_IN_PROCESS_ONLY("a device of its own configuration");
    const auto handle = open(addFiveCharacteristicDevice());
    std::array<uint16_t, 4> uuids{0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
    uint16_t count = 3;
    EXPECT_EQ(QB7720GetAllOpHandle(handle, uuids.data(), &count), BridgeResultOk);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(uuids, (std::array<uint16_t, 4>{0xA001, 0xA002, 0xA003, 0xEEEE}));

    uint16_t none = 0;
    uuids.fill(0xEEEE);
    EXPECT_EQ(QB7720GetAllOpHandle(handle, uuids.data(), &none), BridgeResultOk);
    EXPECT_EQ(none, 0);
    EXPECT_EQ(uuids[0], 0xEEEE);
}

TEST_F(FrameTest, GetAllOpHandleKeepsEntriesWrittenBeforeAnError) {
    QB_IN_PROCESS_ONLY("a failing UUID read");
    const auto handle = open(addFiveCharacteristicDevice());
    std::array<uint16_t, 8> uuids{};
    uint16_t count = 8;
    emu->injectError(Operation::CharacteristicUuid, hresult::kAccessDenied, 1, {std::nullopt, 0xA003});
    EXPECT_EQ(QB7720GetAllOpHandle(handle, uuids.data(), &count), BridgeResultAccessDenied);
    EXPECT_EQ(count, 8);
    EXPECT_EQ(uuids[0], 0xA001);
    EXPECT_EQ(uuids[1], 0xA002);
    EXPECT_EQ(uuids[2], 0);

    emu->injectError(Operation::CharacteristicUuid, hresult::kFail);
    EXPECT_EQ(QB7720GetAllOpHandle(handle, uuids.data(), &count), BridgeResultPlatformError);
}

TEST_F(FrameTest, GetHandleActionReportsReadWriteAndNotifyBits) {
    QB_IN_PROCESS_ONLY("a device of its own configuration");
    const auto handle = open(addFiveCharacteristicDevice());
    const std::pair<uint16_t, uint32_t> expected[] = {
        {0xA001, 7}, {0xA002, 4}, {0xA003, 2}, {0xA004, 0}, {0xA005, 1}};
    for (const auto& [uuid, mask] : expected) {
        uint32_t actual = 0xDEAD;
        EXPECT_EQ(QB7720GetHandleAction(handle, uuid, &actual), BridgeResultOk) << std::hex << uuid;
        EXPECT_EQ(actual, mask) << std::hex << uuid;
    }
}

TEST_F(FrameTest, GetHandleActionLeavesTheMaskAloneOnFailure) {
    QB_IN_PROCESS_ONLY("a failing properties read");
    const auto handle = open(addFiveCharacteristicDevice());
    uint32_t mask = 0xDEAD;
    EXPECT_EQ(QB7720GetHandleAction(handle, 0xB000, &mask), BridgeResultNoCharacteristic);
    emu->injectError(Operation::CharacteristicProperties, hresult::kAttWriteNotPermitted);
    EXPECT_EQ(QB7720GetHandleAction(handle, 0xA001, &mask), BridgeResultAccessDenied);
    emu->injectError(Operation::CharacteristicProperties, hresult::kFail);
    EXPECT_EQ(QB7720GetHandleAction(handle, 0xA001, &mask), BridgeResultPlatformError);
    EXPECT_EQ(mask, 0xDEADu);
}

TEST_F(FrameTest, ShortUuidMatchesOnlyTheLowBitsOfTheFirstField) {
    QB_IN_PROCESS_ONLY("a device of its own configuration");
    emulator::ServiceSpec service{*platform::Guid::parse(kVendorService),
                                  {characteristic("1234abcd-0001-0002-0003-000000000004", prop::kRead)},
                                  platform::DeviceAccessStatus::Allowed};
    const auto handle = open(emu->addDevice(deviceWith({service})));
    uint32_t mask = 0;
    EXPECT_EQ(QB7720GetHandleAction(handle, 0xABCD, &mask), BridgeResultOk);
    EXPECT_EQ(mask, 1u);
}

// Handles that are not in the table: null, never issued, and closed.
class UnknownHandleTest : public DllTest {
  protected:
    void expectUnknownEverywhere(QB7720DeviceHandle handle) {
        SCOPED_TRACE(::testing::Message() << "handle " << handle);
        const auto writesBefore = bridgeWriteCount();
        std::array<uint16_t, 4> uuids{0x1111, 0x1111, 0x1111, 0x1111};
        uint16_t count = 4;
        EXPECT_EQ(QB7720GetAllOpHandle(handle, uuids.data(), &count), BridgeResultOk);
        EXPECT_EQ(count, 4);
        EXPECT_EQ(uuids[0], 0x1111);
        uint32_t mask = 0xDEAD;
        EXPECT_EQ(QB7720GetHandleAction(handle, 0xFFF1, &mask) & 0xFF, BridgeResultUnknownHandle);
        EXPECT_EQ(mask, 0xDEADu);
        const uint8_t byte = 0x55;
        EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 0, &byte, 1) & 0xFF, BridgeResultUnknownHandle);
        uint8_t buffer[8] = {};
        uint32_t length = sizeof buffer;
        EXPECT_EQ(QB7720ReadBuffer(handle, 0xFFF3, buffer, &length) & 0xFF, BridgeResultUnknownHandle);
        EXPECT_EQ(length, sizeof buffer);
        EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, nullptr) & 0xFF,
                  BridgeResultUnknownHandle);
        EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, nullptr, nullptr) & 0xFF,
                  BridgeResultUnknownHandle);
        uint16_t mtu = 0xBEEF;
        EXPECT_EQ(QB7720GetMtu(handle, &mtu) & 0xFF, BridgeResultUnknownHandle);
        EXPECT_EQ(mtu, 0xBEEF);

        std::array<uint8_t, 512> block{};
        EXPECT_EQ(QB7720GetCfgPara(handle, block.data()), 0);
        EXPECT_EQ(QB7720GetExdCfg(handle, block.data()), 0);
        EXPECT_EQ(QB7720SetCfgPara(handle, block.data()), 0);
        EXPECT_EQ(QB7720SetExdCfg(handle, block.data()), 0);
        EXPECT_EQ(QB7720ResetCfgPara(handle), 0);
        EXPECT_EQ(QB7720ResetExdCfg(handle), 0);
        EXPECT_EQ(QB7720ResetCh(handle), 1);
        EXPECT_EQ(QB7720UartWriteBuffer(handle, &byte, 1), -2);
        EXPECT_EQ(QB7720UartSetSerialBaud(handle, 9600, 8, 1, 0), 0);
        EXPECT_EQ(QB7720UartSetSerialModem(handle, 0, 1, 1), 0);
        QB7720CloseDevice(handle);
        EXPECT_EQ(bridgeWriteCount(), writesBefore);
    }
};

TEST_F(UnknownHandleTest, NullHandle) {
    expectUnknownEverywhere(nullptr);
}

TEST_F(UnknownHandleTest, HandleNeverIssued) {
    // Compared by address only; never dereferenced.
    int notASession = 0;
    expectUnknownEverywhere(reinterpret_cast<QB7720DeviceHandle>(&notASession));
}

TEST_F(UnknownHandleTest, ClosedHandle) {
    const auto handle = open(bridge);
    ASSERT_NE(handle, nullptr);
    QB7720CloseDevice(handle);
    expectUnknownEverywhere(handle);
}

}  // namespace
}  // namespace qb::dll::test
