// Values keep arriving on platform threads while other threads close or unregister: no callback may
// run once those calls have returned, nothing may deadlock, and values of any length arrive whole.
#include <atomic>
#include <chrono>
#include <thread>

#include "DllTestSupport.h"
#include "datapath/NotifyTarget.h"

namespace qb::dll::test {
namespace {

std::atomic<bool> stopped{false};
std::atomic<int> callsAfterStop{0};

struct FloodContext {
    QB7720DeviceHandle handle = nullptr;
    std::atomic<int> calls{0};
    std::atomic<int> exportFailures{0};
    std::atomic<int> lastResult{0};
};

// Calls back into the library as a busy caller would.
void QB7720_CALL floodCallback(void* context, const uint8_t*, uint32_t) {
    if (stopped.load()) ++callsAfterStop;
    auto* flood = static_cast<FloodContext*>(context);
    ++flood->calls;
    uint16_t mtu = 0;
    const BridgeResult result = QB7720GetMtu(flood->handle, &mtu);
    // Stays inside a while, so a close that does not wait for running callbacks returns before
    // this one touches its context again.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    flood->lastResult = result;
    if (result != BridgeResultOk && result != BridgeResultUnknownHandle) ++flood->exportFailures;
}

class DispatchSafetyTest : public DllTest {
  protected:
    void SetUp() override {
        DllTest::SetUp();
        stopped = false;
        callsAfterStop = 0;
        handle = open(bridge);
        ASSERT_NE(handle, nullptr);
    }
    void startFlood() {
        const auto receive = valueHandle(0xFFF1);
        flooder = std::thread([this, receive] {
            const Bytes value(20, 0x5A);
            while (!stopFlood.load()) notifyOnly(*bridge, receive, value);
        });
    }
    static bool callsReached(const FloodContext& context, int atLeast) {
        return eventually([&] { return context.calls.load() >= atLeast; });
    }
    void TearDown() override {
        stopFlood = true;
        if (flooder.joinable()) flooder.join();
        DllTest::TearDown();
    }
    QB7720DeviceHandle handle = nullptr;
    std::atomic<bool> stopFlood{false};
    std::thread flooder;
};

TEST_F(DispatchSafetyTest, CloseDuringAFloodEndsEveryCallbackBeforeItReturns) {
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        if (round > 0) {
            stopFlood = true;
            flooder.join();
            stopFlood = false;
            stopped = false;
            handle = open(bridge);
            ASSERT_NE(handle, nullptr);
        }
        auto* context = new FloodContext;
        context->handle = handle;
        ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &floodCallback, context), BridgeResultOk);
        startFlood();
        ASSERT_TRUE(callsReached(*context, 50));
        QB7720CloseDevice(handle);
        stopped = true;
        EXPECT_EQ(context->exportFailures.load(), 0);
        // Freed at once, as a caller may: a late callback would touch freed memory.
        delete context;
        // Let values that were already on their way arrive.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        settle();
        EXPECT_EQ(callsAfterStop.load(), 0);
    }
}

TEST_F(DispatchSafetyTest, UnregisterFromAnotherThreadDuringAFlood) {
    auto* context = new FloodContext;
    context->handle = handle;
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &floodCallback, context), BridgeResultOk);
    startFlood();
    ASSERT_TRUE(callsReached(*context, 50));
    std::thread unregister(
        [&] { EXPECT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, nullptr, nullptr), BridgeResultOk); });
    unregister.join();
    stopped = true;
    delete context;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    settle();
    EXPECT_EQ(callsAfterStop.load(), 0);
}

struct SelfRemoving {
    QB7720DeviceHandle handle = nullptr;
    bool close = false;
    std::atomic<int> calls{0};
    std::atomic<int> result{-1};
};

void QB7720_CALL removeSelf(void* context, const uint8_t*, uint32_t) {
    auto* self = static_cast<SelfRemoving*>(context);
    if (++self->calls != 1) return;
    if (self->close) {
        QB7720CloseDevice(self->handle);
        self->result = 0;
    } else {
        self->result = QB7720RegisterReadNotify(self->handle, 0xFFF1, nullptr, nullptr);
    }
}

TEST_F(DispatchSafetyTest, CallbackMayUnregisterItself) {
    SelfRemoving self;
    self.handle = handle;
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &removeSelf, &self), BridgeResultOk);
    notifyFromBridge(0xFFF1, {1});
    EXPECT_TRUE(eventually([&] { return self.result.load() == BridgeResultOk; }));
    notifyFromBridge(0xFFF1, {2});
    EXPECT_EQ(self.calls.load(), 1);
}

TEST_F(DispatchSafetyTest, CallbackMayCloseItsDevice) {
    SelfRemoving self;
    self.handle = handle;
    self.close = true;
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &removeSelf, &self), BridgeResultOk);
    notifyFromBridge(0xFFF1, {1});
    EXPECT_TRUE(eventually([&] { return self.result.load() == 0; }));
    uint16_t mtu = 0;
    EXPECT_EQ(QB7720GetMtu(handle, &mtu), BridgeResultUnknownHandle);
}

// Each device's callback closes the other device while both callbacks run.
struct CrossClose {
    QB7720DeviceHandle other = nullptr;
    std::atomic<int>* entered = nullptr;
    std::atomic<int> calls{0};
};

void QB7720_CALL closeTheOther(void* context, const uint8_t*, uint32_t) {
    auto* self = static_cast<CrossClose*>(context);
    if (++self->calls != 1) return;
    ++*self->entered;
    // Both callbacks are running before either closes (bounded, in case events share a thread).
    for (int i = 0; i < 5000 && self->entered->load() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QB7720CloseDevice(self->other);
}

TEST_F(DispatchSafetyTest, CallbacksThatCloseEachOthersDeviceDoNotDeadlock) {
    QB_NOT_ON_REAL_STACK(::qb::test::kTwoLinksAtOnce);
    const auto otherBridge = addBridge();
    const auto otherHandle = open(otherBridge);
    ASSERT_NE(otherHandle, nullptr);
    std::atomic<int> entered{0};
    CrossClose first;
    first.other = otherHandle;
    first.entered = &entered;
    CrossClose second;
    second.other = handle;
    second.entered = &entered;
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &closeTheOther, &first), BridgeResultOk);
    ASSERT_EQ(QB7720RegisterReadNotify(otherHandle, 0xFFF1, &closeTheOther, &second), BridgeResultOk);
    EXPECT_TRUE(notifyOnly(*bridge, valueHandle(0xFFF1), {1}));
    EXPECT_TRUE(notifyOnly(*otherBridge, valueHandle(0xFFF1), {2}));
    settle();
    uint16_t mtu = 0;
    if (emu) {
        EXPECT_EQ(entered.load(), 2);
    } else {
        // On the bus the callbacks, and the closes they make, may still be running after the settle.
        EXPECT_TRUE(eventually([&] { return entered.load() == 2; }));
        EXPECT_TRUE(eventually([&] {
            return QB7720GetMtu(handle, &mtu) == BridgeResultUnknownHandle &&
                   QB7720GetMtu(otherHandle, &mtu) == BridgeResultUnknownHandle;
        }));
    }
    EXPECT_EQ(QB7720GetMtu(handle, &mtu), BridgeResultUnknownHandle);
    EXPECT_EQ(QB7720GetMtu(otherHandle, &mtu), BridgeResultUnknownHandle);
}

void QB7720_CALL recordLength(void* context, const uint8_t* data, uint32_t length) {
    auto* out = static_cast<Bytes*>(context);
    out->assign(data, data + length);
}

TEST(NotifyTargetTest, ValuesOfAnyLengthArriveWhole) {
    for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{512}, std::size_t{1024},
                                     std::size_t{1025}, std::size_t{5000}}) {
        Bytes value(length);
        for (std::size_t i = 0; i < length; ++i) value[i] = static_cast<std::uint8_t>(i * 7);
        Bytes received{0xEE};
        NotifyTarget target(&recordLength, &received);
        target.deliver(value.data(), value.size());
        EXPECT_EQ(received, value) << length;
    }
}

TEST(NotifyTargetTest, RetiredTargetDeliversNothing) {
    Bytes received{0xEE};
    NotifyTarget target(&recordLength, &received);
    target.retire();
    const Bytes value{1, 2};
    target.deliver(value.data(), value.size());
    EXPECT_EQ(received, Bytes{0xEE});
}

}  // namespace
}  // namespace qb::dll::test
