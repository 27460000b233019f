#include "session/ConnectionStatus.h"

#include "exports/LibraryLock.h"
#include "exports/SessionTable.h"

namespace qb::dll {

void dispatchConnectionStatus(platform::BluetoothLEDevice& sender) {
    int32_t status = 0;
    try {
        status = sender.connectionStatus() == platform::BluetoothConnectionStatus::Connected ? 1 : 0;
    } catch (const platform::PlatformError&) {
        return;
    }
    LibraryLockGuard lock(libraryLock());
    DeviceSession* session = sessionTable().findByDevice(&sender);
    if (session != nullptr && session->statusCallback != nullptr)
        session->statusCallback(handleOf(session), status);
}

}  // namespace qb::dll
