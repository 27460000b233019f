#include "LibraryLock.h"

namespace qb::dll {
namespace {
thread_local int lockDepth = 0;
}  // namespace

std::recursive_mutex& libraryLock() {
    // Never destroyed: platform threads may still reach it while the process unloads.
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

LibraryLockGuard::LibraryLockGuard(std::recursive_mutex& lock) : lock_(lock) {
    lock_.lock();
    ++lockDepth;
}

LibraryLockGuard::~LibraryLockGuard() {
    --lockDepth;
    lock_.unlock();
}

bool LibraryLockGuard::heldByThisThread() {
    return lockDepth > 0;
}

BridgeResult resultFromPlatformError(platform::HResult code) {
    if (code == platform::hresult::kAttWriteNotPermitted || code == platform::hresult::kAccessDenied) {
        return BridgeResultAccessDenied;
    }
    return BridgeResultPlatformError;
}

}  // namespace qb::dll
