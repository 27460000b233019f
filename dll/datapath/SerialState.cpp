#include "datapath/SerialState.h"

#include "qb7720/protocol/Replies.h"

namespace qb::dll {

std::atomic<bool>& transmitPaused() {
    static std::atomic<bool> paused{false};
    return paused;
}

std::atomic<ModemStatusCallback>& modemStatusCallback() {
    static std::atomic<ModemStatusCallback> callback{nullptr};
    return callback;
}

void QB7720_CALL statusReportHandler(void* context, const std::uint8_t* data, std::uint32_t length) {
    const auto report = protocol::decodeStatusReport(protocol::ByteView(data, length));
    if (report.pause == protocol::PauseChange::Set) {
        transmitPaused().store(true);
    } else if (report.pause == protocol::PauseChange::Cleared) {
        transmitPaused().store(false);
    }
    const ModemStatusCallback callback = modemStatusCallback().load();
    if (callback == nullptr) return;
    const protocol::ModemInputs inputs = report.modem.value_or(protocol::ModemInputs{});
    callback(static_cast<QB7720DeviceHandle>(context), inputs.dcd(), inputs.ri(), inputs.dsr(), inputs.cts());
}

}  // namespace qb::dll
