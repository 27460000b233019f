// The one library lock and the mapping of platform errors to results, shared by every export.
#pragma once

#include <mutex>

#include "QB7720DLL.h"
#include "qb7720/platform/PlatformError.h"

namespace qb::dll {

// Guards the session table, every session and the enumeration lists. Recursive, so a callback run
// under it may call exports on the same thread.
std::recursive_mutex& libraryLock();

using LibraryLockGuard = std::lock_guard<std::recursive_mutex>;

// Write-not-permitted and E_ACCESSDENIED become AccessDenied; every other code PlatformError.
BridgeResult resultFromPlatformError(platform::HResult code);
inline BridgeResult resultFromPlatformError(const platform::PlatformError& error) {
    return resultFromPlatformError(error.code());
}

}  // namespace qb::dll
