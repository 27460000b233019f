// Waits that could close a cycle between threads: an enumeration against a connection-status callback
// that enumerates, and a close or unregistration against the data callbacks it waits for.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "DllTestSupport.h"

namespace qb::dll::test {
namespace {

using namespace std::chrono_literals;

// A marker duration: the hook acts on the outer enumeration's scan sleep only.
constexpr std::uint32_t kOuterScanMs = 777;

struct StatusEnumeration {
    std::atomic<bool> entered{false};
    std::atomic<bool> enumerated{false};
    std::atomic<std::uint32_t> count{99};
};
StatusEnumeration* statusEnumeration = nullptr;

// Runs holding the library lock, as every connection-status callback does.
void QB7720_CALL enumerateOnStatus(QB7720DeviceHandle, int32_t status) {
    if (status != 0 || statusEnumeration == nullptr || statusEnumeration->entered.exchange(true)) return;
    DeviceEntry entries[4];
    std::uint32_t count = 4;
    QB7720EnumDevice(50, nullptr, entries, &count);
    statusEnumeration->count = count;
    statusEnumeration->enumerated = true;
}

class LockOrderTest : public DllTest {
  protected:
    void TearDown() override {
        DllTest::TearDown();
        statusEnumeration = nullptr;
    }
};

// One thread enumerates; during its scan a link drops, and the status callback enumerates too. The
// callback waits for the scan to end while holding the library lock, so the scan must finish without
// that lock.
TEST_F(LockOrderTest, StatusCallbackThatEnumeratesDuringAnEnumeration) {
    StatusEnumeration state;
    statusEnumeration = &state;
    const auto handle = open(bridge, &enumerateOnStatus);
    ASSERT_NE(handle, nullptr);

    std::atomic<bool> outerDone{false};
    std::uint32_t outerCount = 8;
    DeviceEntry outerEntries[8];
    if (emu) {
        // Fast time: the scan's sleep returns at once, so the drop is made from inside it.
        emu->setSleepHook([&](std::chrono::milliseconds d) {
            if (d != std::chrono::milliseconds(kOuterScanMs)) return;
            model->dropLink();
            for (int i = 0; i < 2000 && !state.entered.load(); ++i) std::this_thread::sleep_for(1ms);
            // Long enough for the callback to be waiting for its turn.
            std::this_thread::sleep_for(50ms);
        });
    }
    std::thread outer([&] {
        QB7720EnumDevice(kOuterScanMs, nullptr, outerEntries, &outerCount);
        outerDone = true;
    });
    if (!emu) {
        std::this_thread::sleep_for(200ms);
        bridge->dropLink();
    }
    const bool bothEnded =
        eventually([&] { return outerDone.load() && state.enumerated.load(); }, std::chrono::seconds(15));
    EXPECT_TRUE(state.entered.load()) << "the link drop never reached the callback";
    EXPECT_TRUE(bothEnded) << "the enumeration and the status callback wait for each other";
    if (!bothEnded) {
        // Nothing more can be tested, and joining would hang the suite.
        outer.detach();
        return;
    }
    outer.join();
    EXPECT_LT(state.count.load(), 5u);
}

// A data callback that is held up until the test lets it go; counts how often it ran.
struct HeldCallback {
    std::atomic<bool> running{false};
    std::atomic<bool> release{false};
    std::atomic<bool> finished{false};
    std::atomic<int> calls{0};
};

void QB7720_CALL holdUntilReleased(void* context, const uint8_t*, uint32_t) {
    auto* held = static_cast<HeldCallback*>(context);
    if (++held->calls != 1) return;
    held->running = true;
    for (int i = 0; i < 20000 && !held->release.load(); ++i) std::this_thread::sleep_for(1ms);
    held->finished = true;
}

struct RssiClose {
    QB7720DeviceHandle handle = nullptr;
    HeldCallback* held = nullptr;
    std::atomic<bool> closing{false};
    std::atomic<bool> closed{false};
};
RssiClose* rssiClose = nullptr;

void QB7720_CALL closeFromRssi(const uint8_t*, int32_t, int32_t) {
    RssiClose* c = rssiClose;
    if (c == nullptr || !c->held->running.load() || c->closing.exchange(true)) return;
    QB7720CloseDevice(c->handle);
    c->closed = true;
}

// Called from a library callback thread, a close does not wait for the data callbacks of the device
// it closes: that thread may be the one they are waiting for.
TEST_F(LockOrderTest, CloseFromAnRssiCallbackDoesNotWaitForARunningDataCallback) {
    QB_IN_PROCESS_ONLY("over this suite's bus no advertisement reached the RSSI callback within 5 s");
    // The open bridge stops advertising; the RSSI callback comes from another one.
    addBridge();
    const auto handle = open(bridge);
    ASSERT_NE(handle, nullptr);
    HeldCallback held;
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &holdUntilReleased, &held), BridgeResultOk);
    ASSERT_TRUE(notifyOnly(*bridge, valueHandle(0xFFF1), {1}));
    ASSERT_TRUE(eventually([&] { return held.running.load(); }));

    RssiClose state;
    state.handle = handle;
    state.held = &held;
    rssiClose = &state;
    QB7720RegisterRSSINotify(&closeFromRssi);
    const bool closedWhileRunning = eventually([&] { return state.closed.load(); }, std::chrono::seconds(5));
    held.release = true;
    EXPECT_TRUE(closedWhileRunning) << "the close from the RSSI callback waited for the data callback";
    EXPECT_TRUE(eventually([&] { return state.closed.load() && held.finished.load(); }));
    QB7720RegisterRSSINotify(nullptr);
    rssiClose = nullptr;
    uint16_t mtu = 0;
    EXPECT_EQ(QB7720GetMtu(handle, &mtu), BridgeResultUnknownHandle);
}

struct CallerLock {
    std::timed_mutex mutex;
    std::atomic<bool> entered{false};
    std::atomic<bool> gaveUp{false};
    std::atomic<int> calls{0};
};

// The caller's callback takes the caller's own lock, and gives up on it after a while so that the
// test ends either way.
void QB7720_CALL takeCallerLock(void* context, const uint8_t*, uint32_t) {
    auto* lock = static_cast<CallerLock*>(context);
    if (++lock->calls != 1) return;
    lock->entered = true;
    if (lock->mutex.try_lock_for(std::chrono::seconds(4))) {
        lock->mutex.unlock();
    } else {
        lock->gaveUp = true;
    }
}

// The case the header warns of: a close made while holding a lock that a running callback of the
// device needs waits for that callback, which waits for the lock. Only the callback's own time limit
// ends it here; without one neither would return.
TEST_F(LockOrderTest, CloseHoldingALockTheRunningCallbackNeedsWaitsForIt) {
    const auto handle = open(bridge);
    ASSERT_NE(handle, nullptr);
    CallerLock lock;
    ASSERT_EQ(QB7720RegisterReadNotify(handle, 0xFFF1, &takeCallerLock, &lock), BridgeResultOk);
    std::atomic<bool> closeReturned{false};
    std::atomic<bool> callbackEndedFirst{false};
    std::thread closer([&] {
        std::lock_guard<std::timed_mutex> hold(lock.mutex);
        ASSERT_TRUE(notifyOnly(*bridge, valueHandle(0xFFF1), {1}));
        ASSERT_TRUE(eventually([&] { return lock.entered.load(); }));
        QB7720CloseDevice(handle);
        callbackEndedFirst = lock.gaveUp.load();
        closeReturned = true;
    });
    closer.join();
    EXPECT_TRUE(closeReturned.load());
    // The callback could not have the lock for as long as the close ran, and the close did not return
    // before the callback had given up.
    EXPECT_TRUE(lock.gaveUp.load()) << "the close returned while its device's callback was running";
    EXPECT_TRUE(callbackEndedFirst.load());
}

}  // namespace
}  // namespace qb::dll::test
