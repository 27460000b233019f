// Writes, reads, MTU and notification registration, with every result the platform can cause.
#include <array>
#include <chrono>
#include <thread>

#include <cstdlib>
#include <string>

#include "DllTestSupport.h"
#include "datapath/DebugLine.h"
#include "exports/LibraryLock.h"
#include "exports/SessionTable.h"

namespace qb::dll::test {
namespace {

// setenv and unsetenv are POSIX; the Windows build has _putenv_s, where an empty value removes.
void setEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
#endif
}

namespace prop = platform::gatt_property;
constexpr char kVendorService[] = "6e400001-b5a3-f393-e0a9-e50e24dcca9e";
const Bytes kTwentyBytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};

class DataPathTest : public DllTest {
  protected:
    void SetUp() override {
        DllTest::SetUp();
        setEnv("QB7720_DEBUG", "1");
        handle = open(bridge);
        ASSERT_NE(handle, nullptr);
    }
    QB7720DeviceHandle handle = nullptr;
};

TEST_F(DataPathTest, WriteCarriesTheBytesWithTheChosenWriteKind) {
    const uint8_t bytes[] = {0x41, 0x42, 0x43};
    EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 0, bytes, 3), BridgeResultOk);
    EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 1, bytes, 2), BridgeResultOk);
    EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 0, nullptr, 0), BridgeResultOk);
    const auto writes = writesTo(*bridge, 0xFFF2);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].value, (Bytes{0x41, 0x42, 0x43}));
    EXPECT_FALSE(writes[0].withResponse);
    EXPECT_EQ(writes[1].value, (Bytes{0x41, 0x42}));
    EXPECT_TRUE(writes[1].withResponse);
    EXPECT_TRUE(writes[2].value.empty());
}

TEST_F(DataPathTest, WriteToAMissingCharacteristicReachesNothing) {
    const uint8_t byte = 1;
    const auto before = bridgeWriteCount();
    EXPECT_EQ(QB7720WriteBuffer(handle, 0x1234, 0, &byte, 1), BridgeResultNoCharacteristic);
    EXPECT_EQ(bridgeWriteCount(), before);
}

struct WriteFault {
    const char* name;
    bool gattStatus;
    platform::HResult code;
    BridgeResult expected;
    bool debugLine;
};

class WriteFaultTest : public DataPathTest, public ::testing::WithParamInterface<WriteFault> {};

TEST_P(WriteFaultTest, MapsToItsResult) {
    const WriteFault& fault = GetParam();
    if (fault.code == hresult::kFail) QB_NOT_ON_REAL_STACK(::qb::test::kErrorWithoutAttCode);
    if (fault.gattStatus) {
        QB_IN_PROCESS_ONLY("a GATT status instead of an error");
        emu->injectGattStatus(Operation::CharacteristicWriteValue,
                              platform::GattCommunicationStatus::ProtocolError);
    } else {
        failNext(Operation::CharacteristicWriteValue, fault.code);
    }
    const auto writesBefore = bridgeWriteCount();
    const uint8_t byte = 1;
    const auto lines =
        debugLinesDuring([&] { EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 1, &byte, 1), fault.expected); });
    EXPECT_EQ(lines, fault.debugLine ? 1u : 0u);
    EXPECT_EQ(bridgeWriteCount(), writesBefore);
    EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 1, &byte, 1), BridgeResultOk)
        << "the fault outlived its call";
    EXPECT_EQ(bridgeWriteCount(), writesBefore + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Results, WriteFaultTest,
    ::testing::Values(
        WriteFault{"GattStatus", true, 0, BridgeResultGattStatusError, false},
        WriteFault{"InvalidPdu", false, hresult::kAttInvalidPdu, BridgeResultOperationRejected, false},
        WriteFault{"WriteNotPermitted", false, hresult::kAttWriteNotPermitted, BridgeResultAccessDenied,
                   false},
        WriteFault{"AccessDenied", false, hresult::kAccessDenied, BridgeResultAccessDenied, false},
        WriteFault{"OtherError", false, hresult::kFail, BridgeResultPlatformError, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(DataPathTest, ErrorWhileSearchingTheCharacteristicIsMappedAndLogged) {
    QB_IN_PROCESS_ONLY("a failing search of the characteristic");
    const uint8_t byte = 1;
    emu->injectError(Operation::CharacteristicUuid, hresult::kAccessDenied);
    EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 1, &byte, 1), BridgeResultAccessDenied);
    // The search of a write also maps E_BLUETOOTH_ATT_INVALID_PDU like any other code.
    const auto linesBefore = emu->callCount(Operation::OutputDebugString);
    emu->injectError(Operation::CharacteristicUuid, hresult::kAttInvalidPdu);
    EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 1, &byte, 1), BridgeResultPlatformError);
    EXPECT_EQ(emu->callCount(Operation::OutputDebugString) - linesBefore, 1u);
}

TEST_F(DataPathTest, DebugLinesNeedQB7720Debug) {
    QB_NOT_ON_REAL_STACK(::qb::test::kErrorWithoutAttCode);
#ifdef _WIN32
    GTEST_SKIP() << "on Windows the debug lines always go to OutputDebugStringW";
#endif
    const uint8_t byte = 1;
    const auto failingWrite = [&] {
        EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 1, &byte, 1), BridgeResultPlatformError);
    };
    for (const char* value : {"", "0"}) {
        setEnv("QB7720_DEBUG", value);
        failNext(Operation::CharacteristicWriteValue, hresult::kFail);
        EXPECT_EQ(debugLinesDuring(failingWrite), 0u) << '"' << value << '"';
    }
    setEnv("QB7720_DEBUG", nullptr);
    failNext(Operation::CharacteristicWriteValue, hresult::kFail);
    EXPECT_EQ(debugLinesDuring(failingWrite), 0u);
    // The same failure with QB7720_DEBUG set is written.
    setEnv("QB7720_DEBUG", "1");
    failNext(Operation::CharacteristicWriteValue, hresult::kFail);
    EXPECT_EQ(debugLinesDuring(failingWrite), 1u);
}

TEST(DebugLineLimit, CutsAt255CharactersWithoutSplittingOne) {
    EXPECT_EQ(limitDebugLine(std::string(300, 'a')), std::string(255, 'a'));
    EXPECT_EQ(limitDebugLine("short"), "short");
    // 254 ASCII characters, then two-byte characters: the first fits, the second does not.
    const std::string line = std::string(254, 'a') + "\xC3\xA9\xC3\xA9";
    EXPECT_EQ(limitDebugLine(line), std::string(254, 'a') + "\xC3\xA9");
}

TEST_F(DataPathTest, NullDataWithALengthIsRefusedWithoutWriting) {
    const auto before = bridgeWriteCount();
    EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 0, nullptr, 5), BridgeResultPlatformError);
    EXPECT_EQ(bridgeWriteCount(), before);
}

// Reads of the bridge's command characteristic, which answers with the reply to the last command:
// a set-modem frame whose reply is overridden leaves twenty bytes there.
class ReadTest : public DllTest {
  protected:
    void SetUp() override {
        DllTest::SetUp();
        bridge->overrideReply(0x07, kTwentyBytes);
        handle = open(bridge);
        ASSERT_NE(handle, nullptr);
        const uint8_t setModem[] = {0x07, 0x05, 0x00, 0x00, 0x01, 0x01, 0x01, 0x03};
        ASSERT_EQ(QB7720WriteBuffer(handle, 0xFFF3, 1, setModem, sizeof setModem), BridgeResultOk);
    }
    QB7720DeviceHandle handle = nullptr;
};

TEST_F(ReadTest, ValueIsCutToTheCapacityOrStoredWhole) {
    std::array<uint8_t, 512> buffer{};
    uint32_t length = 4;
    EXPECT_EQ(QB7720ReadBuffer(handle, 0xFFF3, buffer.data(), &length), BridgeResultOk);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{1, 2, 3, 4, 0}));

    length = 512;
    EXPECT_EQ(QB7720ReadBuffer(handle, 0xFFF3, buffer.data(), &length), BridgeResultOk);
    EXPECT_EQ(length, 20u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 20), kTwentyBytes);
}

TEST_F(ReadTest, FailuresLeaveBufferAndLengthAlone) {
    struct Case {
        bool gattStatus;
        platform::HResult code;
        BridgeResult expected;
        // The BlueZ backend reports a refused read as the read's status, as the result of a read
        // does, not as an error.
        BridgeResult expectedOnBus;
    };
    const Case cases[] = {
        {true, 0, BridgeResultGattStatusError, BridgeResultGattStatusError},
        {false, hresult::kAccessDenied, BridgeResultAccessDenied, BridgeResultGattStatusError},
        {false, hresult::kAttWriteNotPermitted, BridgeResultAccessDenied, BridgeResultGattStatusError},
        {false, hresult::kFail, BridgeResultPlatformError, BridgeResultPlatformError}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        if (c.code == hresult::kFail && qb::test::onRealStack()) continue;  // kErrorWithoutAttCode
        // The daemon fails with errors only.
        if (c.gattStatus) {
            if (!emu) continue;
            emu->injectGattStatus(Operation::CharacteristicReadValue,
                                  platform::GattCommunicationStatus::Unreachable);
        } else {
            failNext(Operation::CharacteristicReadValue, c.code);
        }
        std::array<uint8_t, 8> buffer{};
        uint32_t length = 8;
        const auto lines = debugLinesDuring([&] {
            EXPECT_EQ(QB7720ReadBuffer(handle, 0xFFF3, buffer.data(), &length),
                      emu ? c.expected : c.expectedOnBus);
        });
        EXPECT_EQ(length, 8u);
        EXPECT_EQ(buffer, (std::array<uint8_t, 8>{}));
        EXPECT_EQ(lines, 0u);
    }
    // The faults were used up: the value reads again.
    std::array<uint8_t, 8> eight{};
    uint32_t eightLength = 8;
    EXPECT_EQ(QB7720ReadBuffer(handle, 0xFFF3, eight.data(), &eightLength), BridgeResultOk);
    EXPECT_EQ(eightLength, 8u);
    uint8_t byte = 0;
    uint32_t length = 1;
    EXPECT_EQ(QB7720ReadBuffer(handle, 0xB001, &byte, &length), BridgeResultNoCharacteristic);
    EXPECT_EQ(QB7720ReadBuffer(handle, 0xFFF3, &byte, nullptr), BridgeResultPlatformError);
}

TEST_F(DataPathTest, MtuIsTheSessionsAndErrorsAreMapped) {
    uint16_t mtu = 0;
    EXPECT_EQ(QB7720GetMtu(handle, &mtu), BridgeResultOk);
    EXPECT_EQ(mtu, model ? model->bridgeConfig().mtu : 247);
}

TEST_F(DataPathTest, MtuErrorsAreMappedAndLeaveTheOutput) {
    QB_IN_PROCESS_ONLY("a failing MTU read");
    uint16_t mtu = 0xBEEF;
    emu->injectError(Operation::SessionMaxPduSize, hresult::kAccessDenied);
    EXPECT_EQ(QB7720GetMtu(handle, &mtu), BridgeResultAccessDenied);
    emu->injectError(Operation::SessionMaxPduSize, hresult::kFail);
    EXPECT_EQ(QB7720GetMtu(handle, &mtu), BridgeResultPlatformError);
    EXPECT_EQ(mtu, 0xBEEF);
}

TEST(MtuWithoutGattSession, GivesNoCharacteristicAndLeavesTheOutput) {
    auto session = std::make_unique<DeviceSession>();
    QB7720DeviceHandle handle = nullptr;
    {
        LibraryLockGuard lock(libraryLock());
        handle = sessionTable().append(std::move(session));
    }
    uint16_t mtu = 0xBEEF;
    EXPECT_EQ(QB7720GetMtu(handle, &mtu), BridgeResultNoCharacteristic);
    EXPECT_EQ(mtu, 0xBEEF);
    LibraryLockGuard lock(libraryLock());
    sessionTable().remove(sessionTable().find(handle));
}

// Notification registration.
class NotifyTest : public DataPathTest {
  protected:
    // Sends one value from the bridge's side and waits until its event has been handled.
    Received first;
    Received second;
};

TEST_F(NotifyTest, RegisteredCallbackGetsEachValueWithItsContext) {
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &first), BridgeResultOk);
    EXPECT_EQ(bridge->clientConfiguration(0xFFF1), 1);
    notifyFromBridge(0xFFF1, {1, 2, 3});
    notifyFromBridge(0xFFF1, {4});
    EXPECT_TRUE(eventually([&] { return first.count() >= 2; }));
    EXPECT_EQ(first.snapshot(), (std::vector<Bytes>{{1, 2, 3}, {4}}));
}

TEST_F(NotifyTest, SecondRegistrationKeepsTheFirstAndDuplicatesNothing) {
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &first), BridgeResultOk);
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &second), BridgeResultOk);
    notifyFromBridge(0xFFF1, {7, 7});
    EXPECT_TRUE(eventually([&] { return first.count() >= 1; }));
    EXPECT_EQ(first.snapshot(), (std::vector<Bytes>{{7, 7}}));
    EXPECT_EQ(second.count(), 0u);
    // One unregistration removes it entirely.
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, nullptr, nullptr), BridgeResultOk);
    notifyFromBridge(0xFFF1, {8});
    EXPECT_EQ(first.count(), 1u);
}

TEST_F(NotifyTest, UnregisterStopsDeliveryAndTurnsTheDescriptorOff) {
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &first), BridgeResultOk);
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, nullptr, nullptr), BridgeResultOk);
    if (emu) {
        EXPECT_EQ(bridge->clientConfiguration(0xFFF1), 0);
    } else {
        // The backend gives its notification socket back, which the daemon sees closed a moment later.
        EXPECT_TRUE(eventually([&] { return bridge->clientConfiguration(0xFFF1) == 0; }));
    }
    notifyFromBridge(0xFFF1, {1});
    EXPECT_EQ(first.count(), 0u);
    // Nothing registered: still fine.
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF3, nullptr, nullptr), BridgeResultOk);
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0x1234, nullptr, nullptr), BridgeResultNoCharacteristic);
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0x1234, &Received::callback, &first),
              BridgeResultNoCharacteristic);
}

TEST_F(NotifyTest, DescriptorFailuresGiveTheirResults) {
    QB_NOT_ON_REAL_STACK("bluetoothd answers every refused subscription with its ATT error, not with these errors");
    // The daemon fails subscriptions with errors only: not with a status, not their unsubscriptions.
    if (emu) {
        emu->injectGattStatus(Operation::CharacteristicWriteCccd,
                              platform::GattCommunicationStatus::ProtocolError);
        EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &first),
                  BridgeResultGattStatusError);
    }
    failNext(Operation::CharacteristicWriteCccd, hresult::kAccessDenied);
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF3, &Received::callback, &first),
              BridgeResultOperationRejected);
    failNext(Operation::CharacteristicWriteCccd, hresult::kFail);
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &first),
              BridgeResultUnknownHandle);
    if (emu) {
        emu->injectError(Operation::CharacteristicAddValueChanged, hresult::kFail);
        EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF2, &Received::callback, &first),
                  BridgeResultUnknownHandle);
    }

    // A refused unregistration leaves the subscription delivering.
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &first), BridgeResultOk);
    if (!emu) {
        // Once: the refused registrations left no handler behind.
        notifyFromBridge(0xFFF1, {9});
        EXPECT_TRUE(eventually([&] { return first.count() >= 1; }));
        settle();
        EXPECT_EQ(first.count(), 1u);
        return;
    }
    emu->injectError(Operation::CharacteristicWriteCccd, hresult::kAccessDenied);
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, nullptr, nullptr), BridgeResultOperationRejected);
    notifyFromBridge(0xFFF1, {9});
    EXPECT_EQ(first.count(), 1u);
    // A descriptor status failure still removes the handler.
    emu->injectGattStatus(Operation::CharacteristicWriteCccd, platform::GattCommunicationStatus::Unreachable);
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, nullptr, nullptr), BridgeResultGattStatusError);
    emu->injectError(Operation::CharacteristicWriteCccd, hresult::kFail);
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF2, nullptr, nullptr), BridgeResultOk)
        << "no entry, no write";
}

TEST_F(NotifyTest, DisconnectedDeviceStoresTheSubscriptionButReportsAccessDenied) {
    bridge->dropLink();
    settle();
    ASSERT_FALSE(bridge->connected());
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &first),
              BridgeResultAccessDenied);
    // Stored: a later registration once connected keeps the first callback and turns notifications on.
    reconnect(*bridge);
    settle();
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &second), BridgeResultOk);
    EXPECT_EQ(bridge->clientConfiguration(0xFFF1), 1);
    notifyFromBridge(0xFFF1, {5});
    EXPECT_TRUE(eventually([&] { return first.count() >= 1; }));
    settle();
    EXPECT_EQ(first.count(), 1u);
    EXPECT_EQ(second.count(), 0u);
}

TEST_F(NotifyTest, UnregisterOnADisconnectedDeviceStopsDeliveryToo) {
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &first), BridgeResultOk);
    bridge->dropLink();
    settle();
    ASSERT_FALSE(bridge->connected());
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, nullptr, nullptr), BridgeResultOk);
    reconnect(*bridge);
    settle();
    // The bridge has notifications on again (in process still from before; over the bus another
    // session turns them on, and its delivery shows the value went out); the library must not pass
    // them on to the unregistered callback.
    if (model) {
        model->setClientConfiguration(valueHandle(0xFFF1), 1);
    } else {
        const auto other = open(bridge);
        ASSERT_NE(other, nullptr);
        ASSERT_EQ(QB7720RegisterReadNotify(other, 0xFFF1, &Received::callback, &second), BridgeResultOk);
    }
    EXPECT_TRUE(notifyOnly(*bridge, valueHandle(0xFFF1), {5}));
    settle();
    if (!model) {
        EXPECT_TRUE(eventually([&] { return second.count() >= 1; }));
    }
    EXPECT_EQ(first.count(), 0u);
}

TEST_F(NotifyTest, IndicateIsPreferredOverNotify) {
    QB_IN_PROCESS_ONLY("a device of its own configuration");
    const auto device = emu->addDevice(deviceWith(
        {{*platform::Guid::parse(kVendorService),
          {characteristic(0xA001, prop::kNotify | prop::kIndicate), characteristic(0xA002, prop::kRead)},
          platform::DeviceAccessStatus::Allowed}}));
    const auto other = open(device);
    ASSERT_EQ(QB7720RegisterReadNotify(other, 0xA001, &Received::callback, &first), BridgeResultOk);
    EXPECT_EQ(device->clientConfiguration(valueHandle(device, 0xA001)), 2);
}

}  // namespace
}  // namespace qb::dll::test
