// The frame of the per-handle exports: whatever the body throws becomes a result, the lock is given
// back, and the two exports with their own rules keep them.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "exports/SessionCall.h"

namespace qb::dll {
namespace {

namespace hresult = platform::hresult;

int reported = 0;
void countReport(const platform::PlatformError&) {
    ++reported;
}

class SessionCallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LibraryLockGuard lock(libraryLock());
        handle = sessionTable().append(std::make_unique<DeviceSession>());
        reported = 0;
    }
    void TearDown() override {
        LibraryLockGuard lock(libraryLock());
        sessionTable().remove(sessionTable().find(handle));
    }
    // True when another thread can take the library lock now.
    static bool lockIsFree() {
        return std::async(std::launch::async,
                          [] {
                              if (!libraryLock().try_lock()) return false;
                              libraryLock().unlock();
                              return true;
                          })
            .get();
    }
    QB7720DeviceHandle handle = nullptr;
};

TEST_F(SessionCallTest, EveryKindOfThrowBecomesAResult) {
    struct Case {
        const char* what;
        std::function<void()> thrower;
        BridgeResult mapped;     // default rules
        int reportedAsPlatform;  // debug reports under the data write's rules
    };
    const Case cases[] = {
        {"access denied", [] { throw platform::PlatformError(hresult::kAccessDenied, "no"); },
         BridgeResultAccessDenied, 0},
        {"write not permitted", [] { throw platform::PlatformError(hresult::kAttWriteNotPermitted, "no"); },
         BridgeResultAccessDenied, 0},
        {"another platform error", [] { throw platform::PlatformError(hresult::kFail, "no"); },
         BridgeResultPlatformError, 1},
        {"out of memory", [] { throw std::bad_alloc(); }, BridgeResultPlatformError, 0},
        {"a backend's own error", [] { throw std::runtime_error("unmapped"); }, BridgeResultPlatformError, 0},
        {"not even an exception", [] { throw 42; }, BridgeResultPlatformError, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto body = [&](DeviceSession&) -> BridgeResult {
            c.thrower();
            return BridgeResultOk;
        };
        EXPECT_EQ(callOnSession(handle, {}, body), c.mapped);
        EXPECT_TRUE(lockIsFree());

        SessionCallRules writeRules;
        writeRules.reportPlatformError = &countReport;
        reported = 0;
        EXPECT_EQ(callOnSession(handle, writeRules, body), c.mapped);
        EXPECT_EQ(reported, c.reportedAsPlatform);

        // The notification registration reads every failure as an unknown handle.
        SessionCallRules registerRules;
        registerRules.everyFailure = BridgeResultUnknownHandle;
        EXPECT_EQ(callOnSession(handle, registerRules, body), BridgeResultUnknownHandle);
        EXPECT_TRUE(lockIsFree());
    }
}

TEST_F(SessionCallTest, UnknownHandleNeverRunsTheBody) {
    bool ran = false;
    auto body = [&](DeviceSession&) {
        ran = true;
        return BridgeResultOk;
    };
    const auto unknown = reinterpret_cast<QB7720DeviceHandle>(static_cast<std::uintptr_t>(0x10));
    EXPECT_EQ(callOnSession(unknown, {}, body), BridgeResultUnknownHandle);
    EXPECT_EQ(callOnSession(nullptr, {}, body), BridgeResultUnknownHandle);
    // The listing export answers Ok for a handle it does not know.
    SessionCallRules listing;
    listing.unknownHandle = BridgeResultOk;
    EXPECT_EQ(callOnSession(unknown, listing, body), BridgeResultOk);
    EXPECT_FALSE(ran);
    EXPECT_EQ(callOnSession(handle, {}, body), BridgeResultOk);
    EXPECT_TRUE(ran);
}

TEST_F(SessionCallTest, BodyRunsUnderTheLockOnTheHandlesSession) {
    DeviceSession* seen = nullptr;
    bool lockedElsewhere = true;
    callOnSession(handle, {}, [&](DeviceSession& session) {
        seen = &session;
        lockedElsewhere = !lockIsFree();
        return BridgeResultOk;
    });
    EXPECT_EQ(handleOf(seen), handle);
    EXPECT_TRUE(lockedElsewhere);
}

}  // namespace
}  // namespace qb::dll
