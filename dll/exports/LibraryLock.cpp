#include "LibraryLock.h"

namespace qb::dll {

std::recursive_mutex& libraryLock() {
    // Never destroyed: platform threads may still reach it while the process unloads.
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

BridgeResult resultFromPlatformError(platform::HResult code) {
    if (code == platform::hresult::kAttWriteNotPermitted || code == platform::hresult::kAccessDenied) {
        return BridgeResultAccessDenied;
    }
    return BridgeResultPlatformError;
}

}  // namespace qb::dll
