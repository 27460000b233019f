#include "Handles.h"

#include <mutex>
#include <unordered_set>

namespace qb::devicelib {

namespace {

std::mutex& tableMutex() {
    static auto* m = new std::mutex;  // never destroyed: calls may still arrive while the process exits
    return *m;
}

std::unordered_set<gatt_connection_t*>& table() {
    static auto* t = new std::unordered_set<gatt_connection_t*>;
    return *t;
}

}  // namespace

gatt_connection_t* addHandle(std::shared_ptr<Connection> connection) {
    auto* handle = new gatt_connection_t;
    handle->connection = std::move(connection);
    handle->stream.owner = handle;
    std::lock_guard<std::mutex> lock(tableMutex());
    table().insert(handle);
    return handle;
}

std::shared_ptr<Connection> findHandle(gatt_connection_t* handle) {
    std::lock_guard<std::mutex> lock(tableMutex());
    if (handle == nullptr || table().count(handle) == 0) return nullptr;
    return handle->connection;
}

std::shared_ptr<Connection> removeHandle(gatt_connection_t* handle) {
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> lock(tableMutex());
        if (handle == nullptr || table().erase(handle) == 0) return nullptr;
        connection = std::move(handle->connection);
    }
    delete handle;
    return connection;
}

bool ownsStream(gatt_connection_t* handle, gatt_stream_t* stream) {
    std::lock_guard<std::mutex> lock(tableMutex());
    return handle != nullptr && stream != nullptr && table().count(handle) != 0 && stream == &handle->stream;
}

}  // namespace qb::devicelib
