#include "datapath/SerialState.h"

#include <map>
#include <mutex>

#include "qb7720/protocol/Replies.h"

namespace qb::dll {
namespace {

// A leaf lock: held only to find or change an entry, never across a call out.
struct PauseTable {
    std::mutex mutex;
    std::map<QB7720DeviceHandle, PauseFlag> flags;
};

PauseTable& pauseTable() {
    // Never destroyed: a report may still arrive on a platform thread while the process exits.
    static auto* table = new PauseTable;
    return *table;
}

}  // namespace

void trackPause(QB7720DeviceHandle handle) {
    PauseTable& t = pauseTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto& flag = t.flags[handle];
    if (!flag) flag = std::make_shared<std::atomic<bool>>(false);
}

PauseFlag pauseFlagOf(QB7720DeviceHandle handle) {
    PauseTable& t = pauseTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.flags.find(handle);
    return it == t.flags.end() ? nullptr : it->second;
}

void clearPause(QB7720DeviceHandle handle) {
    if (const PauseFlag flag = pauseFlagOf(handle)) flag->store(false);
}

void forgetPause(QB7720DeviceHandle handle) {
    PauseTable& t = pauseTable();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.flags.find(handle);
    if (it == t.flags.end()) return;
    // A writer still holding the flag must not stay paused on a device that is gone.
    it->second->store(false);
    t.flags.erase(it);
}

std::atomic<ModemStatusCallback>& modemStatusCallback() {
    static std::atomic<ModemStatusCallback> callback{nullptr};
    return callback;
}

void QB7720_CALL statusReportHandler(void* context, const std::uint8_t* data, std::uint32_t length) {
    const auto handle = static_cast<QB7720DeviceHandle>(context);
    const auto report = protocol::decodeStatusReport(protocol::ByteView(data, length));
    if (report.pause != protocol::PauseChange::Unchanged) {
        if (const PauseFlag flag = pauseFlagOf(handle))
            flag->store(report.pause == protocol::PauseChange::Set);
    }
    const ModemStatusCallback callback = modemStatusCallback().load();
    if (callback == nullptr) return;
    const protocol::ModemInputs inputs = report.modem.value_or(protocol::ModemInputs{});
    callback(handle, inputs.dcd(), inputs.ri(), inputs.dsr(), inputs.cts());
}

}  // namespace qb::dll
