// The handles the library has given out and not yet taken back. Every call looks its handle up here
// first, so a handle that was disconnected (or never ours) is answered, not dereferenced.
#pragma once

#include <memory>

#include "Connection.h"
#include "QB7720lib.h"

struct _gatt_stream_t {
    gatt_connection_t* owner = nullptr;
};

struct _gatt_connection_t {
    std::shared_ptr<qb::devicelib::Connection> connection;
    _gatt_stream_t stream;
};

namespace qb::devicelib {

gatt_connection_t* addHandle(std::shared_ptr<Connection> connection);
// The handle's connection, kept alive for the caller's use; null for an unknown handle.
std::shared_ptr<Connection> findHandle(gatt_connection_t* handle);
// Takes the handle back; its connection, or null when it was unknown.
std::shared_ptr<Connection> removeHandle(gatt_connection_t* handle);
bool ownsStream(gatt_connection_t* handle, gatt_stream_t* stream);

}  // namespace qb::devicelib
