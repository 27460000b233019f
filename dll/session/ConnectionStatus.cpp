#include "session/ConnectionStatus.h"

#include "datapath/SerialState.h"
#include "exports/CallbackThread.h"
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
    try {
        LibraryLockGuard lock(libraryLock());
        DeviceSession* session = sessionTable().findByDevice(&sender);
        if (session == nullptr) return;
        // A pause asked for before the link dropped no longer holds.
        if (status == 0) clearPause(handleOf(session));
        if (session->statusCallback != nullptr) {
            CallbackScope scope;
            session->statusCallback(handleOf(session), status);
        }
    } catch (...) {
        // Nothing may escape onto the platform's event thread.
    }
}

}  // namespace qb::dll
