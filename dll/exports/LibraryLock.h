// The one library lock and the mapping of platform errors to results, shared by every export.
#pragma once

#include <mutex>

#include "QB7720DLL.h"
#include "qb7720/platform/PlatformError.h"

namespace qb::dll {

// Guards the session table, every session and the enumeration lists. Recursive, so a callback run
// under it may call exports on the same thread.
std::recursive_mutex& libraryLock();

// Takes the lock and counts how deep the calling thread holds it, so code that must wait for
// other threads can tell whether waiting could deadlock against one that needs the lock.
class LibraryLockGuard {
  public:
    explicit LibraryLockGuard(std::recursive_mutex& lock);
    ~LibraryLockGuard();
    LibraryLockGuard(const LibraryLockGuard&) = delete;
    LibraryLockGuard& operator=(const LibraryLockGuard&) = delete;

    // True while the calling thread holds the lock through at least one guard.
    static bool heldByThisThread();

  private:
    std::recursive_mutex& lock_;
};

// Write-not-permitted and E_ACCESSDENIED become AccessDenied; every other code PlatformError.
BridgeResult resultFromPlatformError(platform::HResult code);
inline BridgeResult resultFromPlatformError(const platform::PlatformError& error) {
    return resultFromPlatformError(error.code());
}

}  // namespace qb::dll
