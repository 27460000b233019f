// The serial-port mode exports, built on the open, close and data exports.
#include <algorithm>

#include "QB7720DLL.h"
#include "datapath/CommandChannel.h"
#include "datapath/SerialState.h"
#include "exports/SessionCall.h"
#include "qb7720/protocol/Protocol.h"

namespace qb::dll {
namespace {

constexpr int32_t kMaxWriteLength = 4096;
constexpr int kPauseBudgetMs = 200;
constexpr std::uint16_t kAttHeader = 3;

bool setUpSerialSession(QB7720DeviceHandle handle, ModemStatusCallback modemCallback,
                        ReadNotifyCallback dataCallback) {
    uint16_t uuids[20] = {};
    uint16_t count = 20;
    if (!succeeded(QB7720GetAllOpHandle(handle, uuids, &count))) return false;
    for (const uint16_t uuid : {kReceiveUuid, kTransmitUuid, kCommandUuid}) {
        uint32_t mask = 0;
        if (!succeeded(QB7720GetHandleAction(handle, uuid, &mask))) return false;
    }
    if (!succeeded(QB7720RegisterReadNotify(handle, kReceiveUuid, dataCallback, nullptr))) return false;
    modemStatusCallback().store(modemCallback);
    trackPause(handle);
    if (!succeeded(QB7720RegisterReadNotify(handle, kCommandUuid, &statusReportHandler, handle)))
        return false;
    platformSleep(std::chrono::milliseconds(1000));
    Reply reply;
    if (!writeCommand(handle, protocol::encodeSetSerial(115200, 8, 1, 0), false)) return false;
    if (!awaitReply(handle, reply)) return false;
    if (!writeCommand(handle, protocol::encodeSetModem(0, 1, 1), false)) return false;
    return awaitReply(handle, reply);
}

// The link is up now. A write over a lost link fails on every piece, and a caller that resends what
// was not accepted must be told the device is gone rather than be handed 0 again and again.
bool linkUp(QB7720DeviceHandle handle) {
    return callOnSession(handle, {}, [](DeviceSession& session) {
               const bool up = session.device && session.device->connectionStatus() ==
                                                     platform::BluetoothConnectionStatus::Connected;
               return up ? BridgeResultOk : BridgeResultAccessDenied;
           }) == BridgeResultOk;
}

}  // namespace
}  // namespace qb::dll

using namespace qb::dll;

extern "C" QB7720_API QB7720DeviceHandle QB7720_CALL
QB7720UartOpenDevice(const char* deviceId, ConnectStatusCallback statusCallback,
                     ModemStatusCallback modemCallback, ReadNotifyCallback dataCallback) {
    QB7720DeviceHandle handle = QB7720OpenDevice(deviceId, statusCallback);
    if (handle == nullptr) return nullptr;
    bool ready = false;
    try {
        ready = setUpSerialSession(handle, modemCallback, dataCallback);
    } catch (...) {
    }
    if (!ready) {
        QB7720CloseDevice(handle);
        return nullptr;
    }
    return handle;
}

extern "C" QB7720_API int32_t QB7720_CALL QB7720UartWriteBuffer(QB7720DeviceHandle handle,
                                                                const uint8_t* data, int32_t length) {
    // Nothing can be sent for a negative length.
    if (length > kMaxWriteLength || length < 0) return -1;
    uint16_t mtu = 0;
    if (!succeeded(QB7720GetMtu(handle, &mtu))) return -2;
    // An MTU that leaves no room for data would never make progress.
    if (mtu <= kAttHeader) return -2;
    if (!linkUp(handle)) return -2;
    // Pieces go straight from the caller's buffer, so no staging buffer limits them; an attribute
    // value is at most 512 bytes, which caps the piece above MTU 515.
    const int32_t pieceSize = std::min<int32_t>(mtu - kAttHeader, static_cast<int32_t>(qb::protocol::kMaxAttributeValue));
    // Null for a device not opened in serial-port mode, which never pauses.
    const PauseFlag paused = pauseFlagOf(handle);
    int32_t sent = 0;
    int waited = 0;  // one budget for every piece of this call
    try {
        for (;;) {
            // No piece goes to a bridge that asked for a pause. Once the budget is spent the caller
            // gets the count so far, every byte of it on its way, and resends the rest later.
            while (paused && paused->load()) {
                if (waited >= kPauseBudgetMs) return sent;
                platformSleep(std::chrono::milliseconds(1));
                ++waited;
            }
            const int32_t n = std::min(pieceSize, length - sent);
            const BridgeResult result =
                QB7720WriteBuffer(handle, kTransmitUuid, 0, data + sent, static_cast<uint32_t>(n));
            platformSleep(std::chrono::milliseconds(1));
            if (!succeeded(result)) return sent;
            sent += n;
            if (sent >= length) return sent;
        }
    } catch (...) {
        // Only the sleep can throw here; what went out is still counted.
        return sent;
    }
}

extern "C" QB7720_API int32_t QB7720_CALL QB7720UartSetSerialBaud(QB7720DeviceHandle handle, int32_t baudRate,
                                                                  int32_t dataBits, int32_t stopBits,
                                                                  int32_t parity) {
    try {
        const auto frame = qb::protocol::encodeSetSerial(
            qb::protocol::encodableBaudRate(static_cast<uint32_t>(baudRate)), static_cast<uint32_t>(dataBits),
            static_cast<uint32_t>(stopBits), static_cast<uint32_t>(parity));
        if (!writeCommand(handle, frame, false)) return 0;
        Reply reply;
        return awaitReply(handle, reply) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" QB7720_API int32_t QB7720_CALL QB7720UartSetSerialModem(QB7720DeviceHandle handle,
                                                                   int32_t flowControl, int32_t dtr,
                                                                   int32_t rts) {
    try {
        auto frame = qb::protocol::encodeSetModem(static_cast<uint32_t>(flowControl),
                                                  static_cast<uint32_t>(dtr), static_cast<uint32_t>(rts));
        // The modem setter has always sent its 8-byte frame padded to 12 bytes.
        frame.resize(frame.size() + 4, 0);
        if (!writeCommand(handle, frame, false)) return 0;
        Reply reply;
        return awaitReply(handle, reply) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
