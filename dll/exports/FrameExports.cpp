// QB7720Init and the two exports that describe a session's characteristics.
#include <mutex>

#include "QB7720DLL.h"
#include "exports/Characteristics.h"
#include "exports/SessionCall.h"
#include "qb7720/platform/Platform.h"

using namespace qb::dll;
namespace platform = qb::platform;

namespace {

std::mutex& initMutex() {
    static auto* m = new std::mutex;
    return *m;
}
bool comInitialised = false;  // guarded by initMutex()

}  // namespace

extern "C" QB7720_API void QB7720_CALL QB7720Init(void) {
    // A failure leaves the flag clear so that a later call tries again.
    try {
        std::lock_guard<std::mutex> lock(initMutex());
        if (comInitialised) return;
        comInitialised = platform::current().initializeApartment();
    } catch (...) {
    }
}

extern "C" QB7720_API BridgeResult QB7720_CALL QB7720GetAllOpHandle(QB7720DeviceHandle handle,
                                                                    uint16_t* shortUuids, uint16_t* count) {
    // An unknown handle is Ok here, with the outputs untouched.
    SessionCallRules rules;
    rules.unknownHandle = BridgeResultOk;
    return callOnSession(handle, rules, [&](DeviceSession& session) -> BridgeResult {
        if (count == nullptr) return resultFromPlatformError(platform::hresult::kInvalidArg);
        const std::size_t capacity = *count;
        const std::size_t total = session.characteristics.size();
        const std::size_t toWrite = total <= capacity ? total : capacity;
        if (toWrite > 0 && shortUuids == nullptr)
            return resultFromPlatformError(platform::hresult::kInvalidArg);
        // Entries written before a failing UUID read stay.
        for (std::size_t i = 0; i < toWrite; ++i)
            shortUuids[i] = session.characteristics[i]->uuid().shortUuid();
        // More characteristics than room: the count stays at the capacity the caller gave.
        if (total <= capacity) *count = static_cast<uint16_t>(total);
        return BridgeResultOk;
    });
}

extern "C" QB7720_API BridgeResult QB7720_CALL QB7720GetHandleAction(QB7720DeviceHandle handle,
                                                                     uint16_t shortUuid,
                                                                     uint32_t* actionMask) {
    return callOnSession(handle, {}, [&](DeviceSession& session) -> BridgeResult {
        const auto characteristic = findCharacteristic(session, shortUuid);
        if (!characteristic) return BridgeResultNoCharacteristic;
        const std::uint32_t mask = actionMaskFromProperties(characteristic->characteristicProperties());
        if (actionMask == nullptr) return resultFromPlatformError(platform::hresult::kInvalidArg);
        *actionMask = mask;
        return BridgeResultOk;
    });
}
