// QB7720CloseDevice: undo an open under the library lock, then give the device a second.
#include <chrono>
#include <memory>

#include "QB7720DLL.h"
#include "datapath/NotifyTarget.h"
#include "datapath/SerialState.h"
#include "exports/LibraryLock.h"
#include "exports/SessionTable.h"
#include "exports/StepRoutine.h"
#include "qb7720/platform/Platform.h"

namespace qb::dll {
namespace {

// Removes every value-changed handler. An entry leaves the map only once its handler is gone, so
// an error part way leaves the rest listed for a later close.
void removeSubscriptions(DeviceSession& session, RetiredTargets& retired) {
    for (auto it = session.subscriptions.begin(); it != session.subscriptions.end();) {
        Subscription& entry = it->second;
        entry.characteristic->removeValueChanged(entry.token);
        entry.token = 0;
        entry.target->retire();
        retired.add(entry.target);
        it = session.subscriptions.erase(it);
    }
}

// Returns normally once the session is fully undone; a PlatformError leaves it partly closed.
void closeSession(DeviceSession& session, RetiredTargets& retired) {
    bool connected = false;
    if (session.device) {
        connected = session.device->connectionStatus() == platform::BluetoothConnectionStatus::Connected;
        session.device->removeConnectionStatusChanged(session.statusToken);
        session.statusToken = 0;
    }
    if (connected) {
        runStep([&](StepState& s) {
            s.done = 0;
            removeSubscriptions(session, retired);
            s.status = 0;
            s.done = 1;
        });
    } else {
        removeSubscriptions(session, retired);
    }
    if (!session.device) return;
    if (session.gattSession && session.gattSession->canMaintainConnection()) {
        session.gattSession->setMaintainConnection(false);
    }
    session.device->close();
    session.gattSession.reset();
    session.device.reset();
    session.services.clear();
    session.characteristics.clear();
}

}  // namespace
}  // namespace qb::dll

using namespace qb::dll;

extern "C" QB7720_API void QB7720_CALL QB7720CloseDevice(QB7720DeviceHandle handle) {
    RetiredTargets retired;
    std::unique_ptr<DeviceSession> closed;
    try {
        LibraryLockGuard lock(libraryLock());
        if (DeviceSession* session = sessionTable().find(handle)) {
            try {
                closeSession(*session, retired);
                closed = sessionTable().remove(session);
            } catch (...) {
                // Stays listed, partly closed.
            }
        }
        if (closed) forgetPause(handle);
    } catch (...) {
        // The lock could not be taken: nothing was closed.
    }
    // After this no callback of the closed subscriptions is running on another thread, so the
    // caller may free what their contexts point to (not when closing from a library callback:
    // see the header).
    try {
        retired.waitIdle();
    } catch (...) {
    }
    closed.reset();
    try {
        qb::platform::currentShared()->sleep(std::chrono::milliseconds(1000));
    } catch (...) {
    }
}
