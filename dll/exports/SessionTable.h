// The process-wide list of open sessions. Every member must be called with libraryLock() held.
#pragma once

#include <memory>
#include <vector>

#include "exports/DeviceSession.h"

namespace qb::dll {

class SessionTable {
  public:
    // Exact pointer comparison: the handle is never dereferenced before it is found here.
    DeviceSession* find(QB7720DeviceHandle handle) const;
    // The first session whose device is this platform object.
    DeviceSession* findByDevice(const platform::BluetoothLEDevice* device) const;

    QB7720DeviceHandle append(std::unique_ptr<DeviceSession> session);
    // Keeps the order of the others.
    std::unique_ptr<DeviceSession> remove(DeviceSession* session);

    std::size_t size() const { return sessions_.size(); }
    // Null past the end.
    DeviceSession* at(std::size_t index) const {
        return index < sessions_.size() ? sessions_[index].get() : nullptr;
    }

  private:
    std::vector<std::unique_ptr<DeviceSession>> sessions_;
};

SessionTable& sessionTable();

}  // namespace qb::dll
