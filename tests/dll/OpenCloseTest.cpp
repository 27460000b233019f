// Opening: which characteristics a session keeps, which failures end the open; closing: what it
// undoes and how it behaves when called again or when the platform fails part way.
#include <array>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "DllTestSupport.h"
#include "exports/LibraryLock.h"
#include "exports/SessionTable.h"

namespace qb::dll::test {
namespace {

namespace prop = platform::gatt_property;

std::vector<uint16_t> listed(QB7720DeviceHandle handle) {
    std::array<uint16_t, 32> uuids{};
    uint16_t count = 32;
    if (QB7720GetAllOpHandle(handle, uuids.data(), &count) != BridgeResultOk) return {0xDEAD};
    return {uuids.begin(), uuids.begin() + count};
}

std::size_t listedSessions() {
    LibraryLockGuard lock(libraryLock());
    return sessionTable().size();
}

using OpenTest = DllTest;

TEST_F(OpenTest, BridgeKeepsItsThreeVendorCharacteristicsInOrder) {
    const auto handle = open(bridge);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(listed(handle), (std::vector<uint16_t>{0xFFF1, 0xFFF2, 0xFFF3}));
    EXPECT_TRUE(bridge->connected());
}

TEST_F(OpenTest, UuidFilterSkipsOnlyListedSigUuids) {
    QB_IN_PROCESS_ONLY("a device of its own configuration");
    const auto device = emu->addDevice(deviceWith({
        {shortGuid(0xFFE0), {characteristic(0xAAA1, prop::kRead)}, platform::DeviceAccessStatus::Allowed},
        {shortGuid(0x1234),
         {characteristic(0x2A00, prop::kRead), characteristic(0x2A3D, prop::kRead),
          characteristic(0x2AFF, prop::kRead),
          // A vendor UUID is kept whatever its low bits say.
          characteristic("00002a00-1111-2222-3333-444444444444", prop::kRead)},
         platform::DeviceAccessStatus::Allowed},
        // A full vendor service passes even though its low bits are those of Battery.
        {*platform::Guid::parse("0000180f-1111-2222-3333-444444444444"),
         {characteristic(0xBBB1, prop::kRead)},
         platform::DeviceAccessStatus::Allowed},
        {shortGuid(0x180F), {characteristic(0xCCC1, prop::kRead)}, platform::DeviceAccessStatus::Allowed},
    }));
    const auto handle = open(device);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(listed(handle), (std::vector<uint16_t>{0x2AFF, 0x2A00, 0xBBB1}));
}

TEST_F(OpenTest, ServiceThatRefusesAccessIsSkippedButTheOpenSucceeds) {
    QB_IN_PROCESS_ONLY("control of service access");
    model->setServiceAccess(shortGuid(0xFFF0), platform::DeviceAccessStatus::DeniedByUser);
    const auto handle = open(bridge);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(listed(handle).empty());
    uint8_t byte = 0;
    EXPECT_EQ(QB7720WriteBuffer(handle, 0xFFF2, 0, &byte, 1), BridgeResultNoCharacteristic);
}

TEST_F(OpenTest, FailuresInsideOneServiceSkipOnlyThatService) {
    QB_IN_PROCESS_ONLY("failures inside one service");
    emu->injectError(Operation::ServiceRequestAccess, hresult::kFail, 1, {std::nullopt, 0xFFF0});
    EXPECT_TRUE(listed(open(bridge)).empty());
    emu->injectGattStatus(Operation::ServiceGetCharacteristics,
                          platform::GattCommunicationStatus::Unreachable, 1, {std::nullopt, 0xFFF0});
    EXPECT_TRUE(listed(open(bridge)).empty());
    emu->injectError(Operation::CharacteristicUuid, hresult::kFail, 1, {std::nullopt, 0xFFF3});
    // The error hits the third characteristic; the two before it stay.
    EXPECT_EQ(listed(open(bridge)), (std::vector<uint16_t>{0xFFF1, 0xFFF2}));
}

struct OpenFailure {
    const char* name;
    Operation op;
    bool gattStatus;  // else an error
    // Over the bus the services are read after a connect, which the daemon can fail.
    bool onBus;
};

class OpenFailureTest : public DllTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, ReturnsNullAndListsNothing) {
    const OpenFailure& failure = GetParam();
    if (!failure.onBus) {
        QB_IN_PROCESS_ONLY("fault injection at this stage");
    }
    if (!emu) {
        QB_NOT_ON_REAL_STACK("a controller that refuses the link");
        radio->failConnects(*bridge, 1);
    } else if (failure.gattStatus) {
        emu->injectGattStatus(failure.op, platform::GattCommunicationStatus::Unreachable);
    } else {
        emu->injectError(failure.op, hresult::kFail);
    }
    EXPECT_EQ(open(bridge), nullptr);
    EXPECT_EQ(listedSessions(), 0u);
    if (emu) {
        EXPECT_EQ(emu->pendingFaults(), 0u) << "the fault was never reached";
    } else {
        EXPECT_NE(open(bridge), nullptr) << "the fault was never reached";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stages, OpenFailureTest,
    ::testing::Values(OpenFailure{"FromId", Operation::DeviceFromId, false, false},
                      OpenFailure{"StatusHandler", Operation::DeviceAddConnectionStatusChanged, false, false},
                      OpenFailure{"Services", Operation::DeviceGetGattServices, false, false},
                      OpenFailure{"ServicesStatus", Operation::DeviceGetGattServices, true, true},
                      OpenFailure{"ServiceUuid", Operation::ServiceUuid, false, false},
                      OpenFailure{"DeviceId", Operation::DeviceBluetoothDeviceId, false, false},
                      OpenFailure{"GattSession", Operation::GattSessionFromDeviceId, false, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(OpenTest, UnknownIdentifierAndDeviceOutOfRangeGiveNull) {
    EXPECT_EQ(QB7720OpenDevice("BluetoothLE#BluetoothLE00:11:22:33:44:55-01:02:03:04:05:06", nullptr),
              nullptr);
    EXPECT_EQ(QB7720OpenDevice("", nullptr), nullptr);
    EXPECT_EQ(QB7720OpenDevice(nullptr, nullptr), nullptr);
    bridge->setInRange(false);
    EXPECT_EQ(open(bridge), nullptr);
    EXPECT_EQ(listedSessions(), 0u);
}

TEST_F(OpenTest, TwoOpensOfOneDeviceGiveTwoWorkingHandles) {
    const auto first = open(bridge);
    const auto second = open(bridge);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(listedSessions(), 2u);
    uint16_t mtu = 0;
    EXPECT_EQ(QB7720GetMtu(first, &mtu), BridgeResultOk);
    EXPECT_EQ(QB7720GetMtu(second, &mtu), BridgeResultOk);
    QB7720CloseDevice(first);
    EXPECT_EQ(QB7720GetMtu(first, &mtu), BridgeResultUnknownHandle);
    EXPECT_EQ(QB7720GetMtu(second, &mtu), BridgeResultOk);
}

// Connection status reaches the callback, which may call exports on that thread.
struct StatusLog {
    std::mutex mutex;
    std::vector<std::pair<QB7720DeviceHandle, int32_t>> calls;
    std::vector<BridgeResult> mtuResults;
    uint16_t mtu = 0;
};
StatusLog* statusLog = nullptr;

void QB7720_CALL logStatus(QB7720DeviceHandle handle, int32_t status) {
    uint16_t mtu = 0;
    const BridgeResult result = QB7720GetMtu(handle, &mtu);
    std::lock_guard<std::mutex> lock(statusLog->mutex);
    statusLog->calls.emplace_back(handle, status);
    statusLog->mtuResults.push_back(result);
    statusLog->mtu = mtu;
}

class ConnectionStatusTest : public DllTest {
  protected:
    void SetUp() override {
        DllTest::SetUp();
        statusLog = &log;
    }
    void TearDown() override {
        DllTest::TearDown();
        statusLog = nullptr;
    }
    StatusLog log;
};

TEST_F(ConnectionStatusTest, LostLinkCallsBackWithZeroAndTheCallbackMayCallExports) {
    const auto handle = open(bridge, &logStatus);
    ASSERT_NE(handle, nullptr);
    settle();
    {
        std::lock_guard<std::mutex> lock(log.mutex);
        log.calls.clear();
        log.mtuResults.clear();
    }
    bridge->dropLink();
    settle();
    std::lock_guard<std::mutex> lock(log.mutex);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0], std::make_pair(handle, 0));
    EXPECT_EQ(log.mtuResults[0], BridgeResultOk);
    if (model) {
        EXPECT_EQ(log.mtu, model->bridgeConfig().mtu);
    } else {
        // The BlueZ backend answers the default ATT MTU once the link is gone.
        EXPECT_GE(log.mtu, 23);
        EXPECT_LE(log.mtu, 247);
    }
}

TEST_F(ConnectionStatusTest, NullCallbackIsNeverCalled) {
    const auto handle = open(bridge);
    ASSERT_NE(handle, nullptr);
    bridge->dropLink();
    settle();
    uint16_t mtu = 0;
    EXPECT_EQ(QB7720GetMtu(handle, &mtu), BridgeResultOk);
}

class CloseTest : public DllTest {
  protected:
    void SetUp() override {
        DllTest::SetUp();
        if (!emu) return;
        const auto caller = std::this_thread::get_id();
        emu->setSleepHook([this, caller](std::chrono::milliseconds d) {
            if (std::this_thread::get_id() != caller) return;
            std::lock_guard<std::mutex> lock(sleepMutex);
            sleeps.push_back(d);
        });
    }
    std::vector<std::chrono::milliseconds> takeSleeps() {
        std::lock_guard<std::mutex> lock(sleepMutex);
        return std::exchange(sleeps, {});
    }
    // Closes and checks that the close waited one second: in process exactly one sleep of a second;
    // on the bus, where sleeps cannot be seen, at least a second of real time.
    void closeAndExpectTheSecond(QB7720DeviceHandle handle) {
        takeSleeps();
        const auto start = std::chrono::steady_clock::now();
        QB7720CloseDevice(handle);
        const auto took = std::chrono::steady_clock::now() - start;
        if (emu) {
            EXPECT_EQ(takeSleeps(),
                      (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(1000)}));
        } else {
            EXPECT_GE(took, std::chrono::milliseconds(1000));
        }
    }
    std::mutex sleepMutex;
    std::vector<std::chrono::milliseconds> sleeps;
};

TEST_F(CloseTest, CloseDisconnectsAndForgetsTheHandle) {
    const auto handle = open(bridge);
    ASSERT_NE(handle, nullptr);
    Received received;
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &received), BridgeResultOk);
    ASSERT_TRUE(bridge->connected());
    closeAndExpectTheSecond(handle);
    settle();
    // On the bus the stack may let go of the link a moment later.
    if (emu) {
        EXPECT_FALSE(bridge->connected());
    } else {
        EXPECT_TRUE(eventually([&] { return !bridge->connected(); }));
    }
    EXPECT_EQ(listedSessions(), 0u);
}

TEST_F(CloseTest, SecondCloseFindsNothingAndStillWaitsASecond) {
    const auto handle = open(bridge);
    ASSERT_NE(handle, nullptr);
    QB7720CloseDevice(handle);
    closeAndExpectTheSecond(handle);
    EXPECT_EQ(listedSessions(), 0u);
}

TEST_F(CloseTest, PlatformErrorLeavesTheSessionListedForAnotherTry) {
    QB_IN_PROCESS_ONLY("a failing close");
    const auto handle = open(bridge);
    Received received;
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &received), BridgeResultOk);
    emu->injectError(Operation::DeviceClose, hresult::kFail);
    takeSleeps();
    QB7720CloseDevice(handle);
    EXPECT_EQ(takeSleeps(), (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(1000)}));
    EXPECT_EQ(listedSessions(), 1u);
    // Partly closed: the subscriptions are gone, the session still answers.
    EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, nullptr, nullptr), BridgeResultOk);
    uint16_t mtu = 0;
    EXPECT_EQ(QB7720GetMtu(handle, &mtu), BridgeResultOk);
    QB7720CloseDevice(handle);
    EXPECT_EQ(listedSessions(), 0u);
}

TEST_F(CloseTest, ClosingADisconnectedDeviceWorks) {
    const auto handle = open(bridge);
    Received received;
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &Received::callback, &received), BridgeResultOk);
    bridge->dropLink();
    settle();
    QB7720CloseDevice(handle);
    EXPECT_EQ(listedSessions(), 0u);
}

}  // namespace
}  // namespace qb::dll::test
