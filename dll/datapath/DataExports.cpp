// QB7720WriteBuffer, QB7720ReadBuffer and QB7720GetMtu.
#include <cstring>

#include "QB7720DLL.h"
#include "datapath/DebugLine.h"
#include "exports/Characteristics.h"
#include "exports/SessionCall.h"
#include "exports/StepRoutine.h"

using namespace qb::dll;
namespace platform = qb::platform;

namespace {

constexpr char kInnerFormat[] = "QB7720WriteBuffer_inner ex.code() = %x %s";
constexpr char kOuterFormat[] = "QB7720WriteBuffer ex.code() = %x message: %s ";

std::uint8_t writeStep(platform::GattCharacteristic& characteristic, const platform::Bytes& value,
                       bool withResponse, StepState& step) {
    step.done = 0;
    try {
        const auto option = withResponse ? platform::GattWriteOption::WriteWithResponse
                                         : platform::GattWriteOption::WriteWithoutResponse;
        const auto status = characteristic.writeValueWithResult(value, option);
        step.status = status == platform::GattCommunicationStatus::Success ? BridgeResultOk
                                                                           : BridgeResultGattStatusError;
    } catch (const platform::PlatformError& e) {
        if (e.code() == platform::hresult::kAttInvalidPdu) {
            step.status = BridgeResultOperationRejected;
        } else {
            step.status = static_cast<std::uint8_t>(resultFromPlatformError(e));
            if (step.status == BridgeResultPlatformError) debugLine(kInnerFormat, e);
        }
    }
    step.done = 1;
    return step.status;
}

void reportOuterError(const platform::PlatformError& e) {
    debugLine(kOuterFormat, e);
}

}  // namespace

extern "C" QB7720_API BridgeResult QB7720_CALL QB7720WriteBuffer(QB7720DeviceHandle handle,
                                                                 uint16_t shortUuid, int32_t withResponse,
                                                                 const uint8_t* data, uint32_t length) {
    SessionCallRules rules;
    rules.reportPlatformError = &reportOuterError;
    return callOnSession(handle, rules, [&](DeviceSession& session) -> BridgeResult {
        const auto characteristic = findCharacteristic(session, shortUuid);
        if (!characteristic) return BridgeResultNoCharacteristic;
        if (data == nullptr && length != 0) {
            throw platform::PlatformError(platform::hresult::kInvalidArg, "no data for a non-empty write");
        }
        const platform::Bytes value(data, data + length);
        return runStep([&](StepState& s) { writeStep(*characteristic, value, withResponse != 0, s); });
    });
}

extern "C" QB7720_API BridgeResult QB7720_CALL QB7720ReadBuffer(QB7720DeviceHandle handle, uint16_t shortUuid,
                                                                uint8_t* buffer, uint32_t* length) {
    return callOnSession(handle, {}, [&](DeviceSession& session) -> BridgeResult {
        const auto characteristic = findCharacteristic(session, shortUuid);
        if (!characteristic) return BridgeResultNoCharacteristic;
        if (length == nullptr || (buffer == nullptr && *length != 0)) {
            return resultFromPlatformError(platform::hresult::kInvalidArg);
        }
        return runStep([&](StepState& s) {
            s.done = 0;
            const auto result = characteristic->readValue(platform::BluetoothCacheMode::Uncached);
            if (result.status != platform::GattCommunicationStatus::Success) {
                s.status = BridgeResultGattStatusError;
            } else {
                const std::size_t n = result.value.size();
                // A longer value is cut to the capacity, which then stays as the length.
                if (n <= *length) {
                    if (n > 0) std::memcpy(buffer, result.value.data(), n);
                    *length = static_cast<uint32_t>(n);
                } else if (*length > 0) {
                    std::memcpy(buffer, result.value.data(), *length);
                }
                s.status = BridgeResultOk;
            }
            s.done = 1;
        });
    });
}

extern "C" QB7720_API BridgeResult QB7720_CALL QB7720GetMtu(QB7720DeviceHandle handle, uint16_t* mtu) {
    return callOnSession(handle, {}, [&](DeviceSession& session) -> BridgeResult {
        if (!session.gattSession) return BridgeResultNoCharacteristic;
        const std::uint16_t value = session.gattSession->maxPduSize();
        if (mtu == nullptr) return resultFromPlatformError(platform::hresult::kInvalidArg);
        *mtu = value;
        return BridgeResultOk;
    });
}
