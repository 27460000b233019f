// QB7720OpenDevice: device, service, characteristic and session stages, then the table append.
#include <memory>
#include <string>

#include "QB7720DLL.h"
#include "exports/LibraryLock.h"
#include "exports/SessionTable.h"
#include "exports/StepRoutine.h"
#include "qb7720/platform/Platform.h"
#include "session/ConnectionStatus.h"
#include "session/KnownUuids.h"

namespace qb::dll {
namespace {

using platform::BluetoothCacheMode;
using platform::GattCommunicationStatus;

void deviceStage(platform::Platform& p, DeviceSession& session, const std::string& id, StepState& step) {
    step.done = 0;
    try {
        session.device = p.bluetoothLEDeviceFromId(id);
    } catch (const platform::PlatformError&) {
        session.device = nullptr;
    }
    if (session.device) {
        session.statusToken = session.device->addConnectionStatusChanged(&dispatchConnectionStatus);
        step.status = 1;
    } else {
        step.status = 0;
    }
    step.done = 1;
}

void serviceStage(DeviceSession& session, StepState& step) {
    step.done = 0;
    step.status = 0;
    if (session.device) {
        auto result = session.device->getGattServices(BluetoothCacheMode::Uncached);
        if (result.status == GattCommunicationStatus::Success) {
            session.services = std::move(result.services);
            step.status = 1;
        } else {
            session.services.clear();
        }
    }
    step.done = 1;
}

// Never fails the open: a service that refuses access or discovery is skipped.
void characteristicStage(DeviceSession& session, StepState& step) {
    step.done = 0;
    for (const auto& service : session.services) {
        if (!service || !passesUuidFilter(service->uuid(), knownServices())) continue;
        try {
            if (service->requestAccess() != platform::DeviceAccessStatus::Allowed) continue;
            auto result = service->getCharacteristics(BluetoothCacheMode::Uncached);
            if (result.status != GattCommunicationStatus::Success) continue;
            for (auto& characteristic : result.characteristics) {
                if (characteristic && passesUuidFilter(characteristic->uuid(), knownCharacteristics())) {
                    session.characteristics.push_back(characteristic);
                }
            }
        } catch (const platform::PlatformError&) {
            // Characteristics appended before the error stay.
        }
    }
    step.status = 1;
    step.done = 1;
}

void sessionStage(platform::Platform& p, DeviceSession& session) {
    session.gattSession = p.gattSessionFromDeviceId(session.device->bluetoothDeviceId());
}

// Undoes a failed open. The status handler goes too, so a later event cannot reach a dead record.
// A link the service stage brought up is closed as well: a connected bridge stops advertising, so
// one left up could not be found again by any later scan.
void discard(DeviceSession& session) {
    if (session.device && session.statusToken != 0) {
        try {
            session.device->removeConnectionStatusChanged(session.statusToken);
        } catch (const platform::PlatformError&) {
        }
    }
    if (session.device) {
        try {
            session.device->close();
        } catch (const platform::PlatformError&) {
        }
    }
    session.gattSession.reset();
    session.services.clear();
    session.device.reset();
    session.characteristics.clear();
    session.subscriptions.clear();
}

}  // namespace
}  // namespace qb::dll

using namespace qb::dll;

extern "C" QB7720_API QB7720DeviceHandle QB7720_CALL QB7720OpenDevice(const char* deviceId,
                                                                      ConnectStatusCallback callback) {
    if (deviceId == nullptr) return nullptr;
    const auto platform = qb::platform::currentShared();
    auto session = std::make_unique<DeviceSession>();
    session->statusCallback = callback;
    try {
        const std::string id(deviceId);
        if (!runStep([&](StepState& s) { deviceStage(*platform, *session, id, s); })) {
            discard(*session);
            return nullptr;
        }
        if (!runStep([&](StepState& s) { serviceStage(*session, s); })) {
            discard(*session);
            return nullptr;
        }
        runStep([&](StepState& s) { characteristicStage(*session, s); });
        sessionStage(*platform, *session);
    } catch (const qb::platform::PlatformError&) {
        discard(*session);
        return nullptr;
    }
    LibraryLockGuard lock(libraryLock());
    return sessionTable().append(std::move(session));
}
