// QB7720RegisterReadNotify and the value dispatcher behind it.
#include <memory>

#include "QB7720DLL.h"
#include "datapath/NotifyTarget.h"
#include "exports/Characteristics.h"
#include "exports/SessionCall.h"
#include "exports/StepRoutine.h"

using namespace qb::dll;
namespace platform = qb::platform;

namespace {

using Cccd = platform::GattClientCharacteristicConfigurationDescriptorValue;

// Every subscription's ValueChanged handler. It reaches only its own target, never the session
// table, so it needs no lock and cannot meet a session that a close is freeing.
void valueDispatcher(NotifyTarget& target, const platform::Bytes& value) {
    target.deliver(value.data(), value.size());
}

bool isConnected(const DeviceSession& session) {
    return session.device &&
           session.device->connectionStatus() == platform::BluetoothConnectionStatus::Connected;
}

Cccd descriptorValueFor(std::uint32_t properties) {
    if (properties & platform::gatt_property::kIndicate) return Cccd::Indicate;
    if (properties & platform::gatt_property::kNotify) return Cccd::Notify;
    return Cccd::None;
}

// Success 0, another status 3; E_ACCESSDENIED raised by the write 4. Other errors propagate.
BridgeResult writeDescriptor(platform::GattCharacteristic& characteristic, Cccd value) {
    try {
        const auto status = characteristic.writeClientCharacteristicConfigurationDescriptor(value);
        return status == platform::GattCommunicationStatus::Success ? BridgeResultOk
                                                                    : BridgeResultGattStatusError;
    } catch (const platform::PlatformError& e) {
        if (e.code() == platform::hresult::kAccessDenied) return BridgeResultOperationRejected;
        throw;
    }
}

BridgeResult subscribe(DeviceSession& session, std::uint16_t shortUuid, ReadNotifyCallback callback,
                       void* context) {
    const bool connected = isConnected(session);
    const auto characteristic = findCharacteristic(session, shortUuid);
    if (!characteristic) return BridgeResultNoCharacteristic;
    // A characteristic keeps its first subscription: a second handler would deliver every value
    // twice to the first callback.
    if (session.subscriptions.find(characteristic.get()) == session.subscriptions.end()) {
        auto target = std::make_shared<NotifyTarget>(callback, context);
        const auto token = characteristic->addValueChanged(
            [target](platform::GattCharacteristic&, const platform::Bytes& value) {
                valueDispatcher(*target, value);
            });
        session.subscriptions.emplace(characteristic.get(),
                                      Subscription{token, characteristic, std::move(target)});
    }
    if (!connected) return BridgeResultAccessDenied;
    const Cccd value = descriptorValueFor(characteristic->characteristicProperties());
    return runStep([&](StepState& s) {
        s.done = 0;
        s.status = static_cast<std::uint8_t>(writeDescriptor(*characteristic, value));
        s.done = 1;
    });
}

BridgeResult unsubscribe(DeviceSession& session, std::uint16_t shortUuid, RetiredTargets& retired) {
    const bool connected = isConnected(session);
    const auto characteristic = findCharacteristic(session, shortUuid);
    if (!characteristic) return BridgeResultNoCharacteristic;
    const auto entry = session.subscriptions.find(characteristic.get());
    if (entry == session.subscriptions.end()) return BridgeResultOk;
    BridgeResult result = BridgeResultOk;
    if (connected) {
        result = runStep([&](StepState& s) {
            s.done = 0;
            s.status = static_cast<std::uint8_t>(writeDescriptor(*characteristic, Cccd::None));
            s.done = 1;
        });
        if (result == BridgeResultOperationRejected) return result;
    }
    // Also when the device is not connected: the caller asked for the values to stop, and a later
    // reconnect must not hand them to a callback the caller may have let go.
    characteristic->removeValueChanged(entry->second.token);
    entry->second.target->retire();
    retired.add(entry->second.target);
    session.subscriptions.erase(entry);
    return result;
}

}  // namespace

extern "C" QB7720_API BridgeResult QB7720_CALL QB7720RegisterReadNotify(QB7720DeviceHandle handle,
                                                                        uint16_t shortUuid,
                                                                        ReadNotifyCallback callback,
                                                                        void* context) {
    RetiredTargets retired;
    // Every failure inside reads as an unknown handle.
    SessionCallRules rules;
    rules.everyFailure = BridgeResultUnknownHandle;
    const BridgeResult result = callOnSession(handle, rules, [&](DeviceSession& session) {
        return callback != nullptr ? subscribe(session, shortUuid, callback, context)
                                   : unsubscribe(session, shortUuid, retired);
    });
    // Once unregistered, the callback is not running anywhere else when this returns.
    retired.waitIdle();
    return result;
}
