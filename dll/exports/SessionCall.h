// The frame every per-handle export shares: the library lock for the whole call, the session lookup,
// and every failure turned into a result, so that nothing thrown inside reaches the caller.
#pragma once

#include <optional>
#include <utility>

#include "exports/LibraryLock.h"
#include "exports/SessionTable.h"

namespace qb::dll {

struct SessionCallRules {
    // What an unknown handle gives.
    BridgeResult unknownHandle = BridgeResultUnknownHandle;
    // When set, every failure gives this instead of the platform error's mapping.
    std::optional<BridgeResult> everyFailure;
    // Told of a platform error that maps to PlatformError (the data write's debug line).
    void (*reportPlatformError)(const platform::PlatformError&) = nullptr;
};

// Runs body(DeviceSession&) -> BridgeResult on the handle's session under the library lock.
template <typename Body>
BridgeResult callOnSession(QB7720DeviceHandle handle, const SessionCallRules& rules, Body&& body) noexcept {
    try {
        LibraryLockGuard lock(libraryLock());
        DeviceSession* session = sessionTable().find(handle);
        if (session == nullptr) return rules.unknownHandle;
        return std::forward<Body>(body)(*session);
    } catch (const platform::PlatformError& e) {
        if (rules.everyFailure) return *rules.everyFailure;
        const BridgeResult result = resultFromPlatformError(e);
        if (result == BridgeResultPlatformError && rules.reportPlatformError != nullptr) {
            try {
                rules.reportPlatformError(e);
            } catch (...) {
            }
        }
        return result;
    } catch (...) {
        // Out of memory, a failed lock, or an error a backend let through unmapped.
        return rules.everyFailure.value_or(BridgeResultPlatformError);
    }
}

}  // namespace qb::dll
