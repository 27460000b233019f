// The exported C functions: argument checks, handle look-up, and no exception ever crossing.
#include "Api.h"

#include <climits>
#include <future>
#include <string>
#include <thread>

#include "BridgeAdvert.h"
#include "Handles.h"
#include "UuidText.h"
#include "qb7720/platform/Platform.h"

namespace qb::devicelib {

namespace {

std::shared_ptr<platform::Platform> currentPlatform() {
    try {
        return platform::currentShared();
    } catch (const std::exception&) {
        return nullptr;
    }
}

signed char clampRssi(std::int16_t rssi) {
    if (rssi < SCHAR_MIN) return SCHAR_MIN;
    if (rssi > SCHAR_MAX) return SCHAR_MAX;
    return static_cast<signed char>(rssi);
}

void tellConnectResult(qb7720_connect_cb_t callback, gatt_connection_t* handle,
                       const std::shared_ptr<Connection>& connection) {
    if (callback == nullptr) return;
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    auto task = [callback, handle, done] {
        callback(handle, handle != nullptr ? 1 : 0);
        done->set_value();
    };
    if (connection && connection->events().post(task)) {
        finished.wait();
        return;
    }
    // No connection thread to run it on: a thread of its own keeps it off the caller's.
    std::thread(task).join();
}

}  // namespace

Scanner& processScanner() {
    // Never destroyed: a discovery may still be running while the process exits.
    static auto* scanner = new Scanner([] { return currentPlatform(); }, kScanIdleTimeout);
    return *scanner;
}

QB7720HANDLE* connect(const char* address, qb7720_connect_cb_t callback, std::chrono::milliseconds timeout) {
    gatt_connection_t* handle = nullptr;
    std::shared_ptr<Connection> connection;
    if (address != nullptr) {
        if (auto value = parseAddress(address)) {
            processScanner().stop();
            connection = Connection::open(currentPlatform(), *value, timeout);
            if (connection) handle = addHandle(connection);
        }
    }
    tellConnectResult(callback, handle, connection);
    return handle;
}

}  // namespace qb::devicelib

using namespace qb::devicelib;

extern "C" {

int QB7720Ble_BLE_Scan(int enable, qb7720_scan_cb_t callback) {
    try {
        if (enable == 0) {
            processScanner().stop();
            return QB7720LIB_OK;
        }
        if (callback == nullptr) return QB7720LIB_E_ARGUMENT;
        auto result = processScanner().request([callback](const BridgeSighting& sighting) {
            std::vector<unsigned char> data(sighting.data.begin(), sighting.data.end());
            callback(sighting.address.c_str(), sighting.name ? sighting.name->c_str() : nullptr,
                     clampRssi(sighting.rssi), data.data());
        });
        return result == Scanner::Result::Scanning ? QB7720LIB_OK : QB7720LIB_NO_RADIO;
    } catch (const std::exception&) {
        return QB7720LIB_NO_RADIO;
    }
}

QB7720HANDLE* QB7720Ble_Connect(const char* address, qb7720_connect_cb_t callback) {
    try {
        return connect(address, callback, kConnectTimeout);
    } catch (const std::exception&) {
        return nullptr;
    }
}

int QB7720Ble_Get_MTU(QB7720HANDLE* handle, gatt_stream_t** stream, uint16_t* mtu) {
    try {
        auto connection = findHandle(handle);
        if (!connection || stream == nullptr || mtu == nullptr) return QB7720LIB_E_ARGUMENT;
        std::uint16_t value = 0;
        const int result = connection->currentMtu(value);
        if (result != QB7720LIB_OK) return result;
        *mtu = value;
        *stream = &handle->stream;
        return QB7720LIB_OK;
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int QB7720Ble_register_on_disconnect(QB7720HANDLE* handle, qb7720_disconnect_cb_t callback, void* user_data) {
    try {
        auto connection = findHandle(handle);
        if (!connection) return QB7720LIB_E_ARGUMENT;
        return connection->registerOnDisconnect(callback, user_data);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int QB7720Ble_register_notification(QB7720HANDLE* handle, qb7720_notification_cb_t callback, void*) {
    try {
        auto connection = findHandle(handle);
        if (!connection) return QB7720LIB_E_ARGUMENT;
        return connection->registerNotification(callback);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int QB7720Ble_Open_Notification(QB7720HANDLE* handle, const char* uuid_text) {
    try {
        auto connection = findHandle(handle);
        if (!connection || uuid_text == nullptr) return QB7720LIB_E_ARGUMENT;
        auto uuid = parseUuidText(uuid_text);
        if (!uuid) return QB7720LIB_E_ARGUMENT;
        return connection->openNotification(*uuid);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int QB7720Ble_Close_Notification(QB7720HANDLE* handle, const char* uuid_text) {
    try {
        auto connection = findHandle(handle);
        if (!connection || uuid_text == nullptr) return QB7720LIB_E_ARGUMENT;
        auto uuid = parseUuidText(uuid_text);
        if (!uuid) return QB7720LIB_E_ARGUMENT;
        return connection->closeNotification(*uuid);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int QB7720Ble_Disconnect(QB7720HANDLE* handle) {
    try {
        auto connection = removeHandle(handle);
        if (!connection) return QB7720LIB_E_ARGUMENT;
        connection->close();
        return QB7720LIB_OK;
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int QB7720Ble_Write_Characteristic(QB7720HANDLE* handle, uint16_t attr_handle, int with_response,
                                   const void* buffer, size_t count) {
    try {
        auto connection = findHandle(handle);
        if (!connection) return QB7720LIB_E_ARGUMENT;
        return connection->write(attr_handle, with_response != 0, static_cast<const std::uint8_t*>(buffer),
                                 count);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int QB7720Ble_Set_SerialBaud(QB7720HANDLE* handle, gatt_stream_t* stream, uint32_t baud, uint8_t data_bits,
                             uint8_t stop_bits, uint8_t parity) {
    try {
        auto connection = findHandle(handle);
        if (!connection || !ownsStream(handle, stream)) return QB7720LIB_E_ARGUMENT;
        return connection->setSerial(baud, data_bits, stop_bits, parity);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int QB7720Ble_Set_Modem(QB7720HANDLE* handle, gatt_stream_t* stream, uint8_t flow_control, uint8_t dtr,
                        uint8_t rts) {
    try {
        auto connection = findHandle(handle);
        if (!connection || !ownsStream(handle, stream)) return QB7720LIB_E_ARGUMENT;
        return connection->setModem(flow_control, dtr, rts);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int QB7720BleGetBluetoothVer(void) {
    try {
        auto platform = currentPlatform();
        if (!platform) return -1;
        auto version = platform->localControllerVersion();
        return version && *version >= 0 ? *version : -1;
    } catch (const std::exception&) {
        return -1;
    }
}

}  // extern "C"
