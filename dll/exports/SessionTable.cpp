#include "exports/SessionTable.h"

#include <algorithm>

namespace qb::dll {

DeviceSession* SessionTable::find(QB7720DeviceHandle handle) const {
    for (const auto& session : sessions_) {
        if (handleOf(session.get()) == handle) return session.get();
    }
    return nullptr;
}

DeviceSession* SessionTable::findByDevice(const platform::BluetoothLEDevice* device) const {
    for (const auto& session : sessions_) {
        if (session->device.get() == device) return session.get();
    }
    return nullptr;
}

QB7720DeviceHandle SessionTable::append(std::unique_ptr<DeviceSession> session) {
    DeviceSession* raw = session.get();
    sessions_.push_back(std::move(session));
    return handleOf(raw);
}

std::unique_ptr<DeviceSession> SessionTable::remove(DeviceSession* session) {
    auto it = std::find_if(sessions_.begin(), sessions_.end(),
                           [&](const std::unique_ptr<DeviceSession>& s) { return s.get() == session; });
    if (it == sessions_.end()) return nullptr;
    std::unique_ptr<DeviceSession> removed = std::move(*it);
    sessions_.erase(it);
    return removed;
}

SessionTable& sessionTable() {
    // Never destroyed: the library does not close sessions at unload.
    static auto* table = new SessionTable;
    return *table;
}

}  // namespace qb::dll
