/* libQB7720lib: the device library the terminal reaches the bridge through.
 *
 * Types are laid out as gattlib's, so code written against those compiles unchanged.
 * Results are ints, 0 meaning success unless a function says otherwise.
 *
 * Threads: every callback runs on a thread of the library, never on the caller's thread.
 * Callbacks of one connection arrive in order. See each function for what it promises.
 */
#ifndef QB7720LIB_H
#define QB7720LIB_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define QB7720LIB_API __attribute__((visibility("default")))
#else
#define QB7720LIB_API
#endif

/* --- gattlib types ------------------------------------------------------------------------- */

#ifndef QB7720LIB_NO_UUID_T
typedef struct {
    uint8_t data[16];
} uint128_t;

#define SDP_UUID16 0x19
#define SDP_UUID32 0x1A
#define SDP_UUID128 0x1C

typedef struct {
    uint8_t type; /* SDP_UUID16, SDP_UUID32 or SDP_UUID128 */
    union {
        uint16_t uuid16;
        uint32_t uuid32;
        uint128_t uuid128;
    } value;
} uuid_t;
#endif

typedef struct _gatt_connection_t gatt_connection_t; /* opaque */
typedef struct _gatt_stream_t gatt_stream_t;         /* opaque */

typedef gatt_connection_t QB7720HANDLE;

/* --- callbacks ------------------------------------------------------------------------------ */

/* One advertisement of a bridge: address "AA:BB:CC:DD:EE:FF", name or NULL, signal strength in dBm,
 * and the manufacturer data (may be NULL; the terminal ignores it). Valid only during the call. */
typedef void (*qb7720_scan_cb_t)(const char* address, const char* name, signed char rssi, unsigned char* data);

/* The result of a connect: the handle, or NULL when it failed; state 1 connected, 0 not. */
typedef void (*qb7720_connect_cb_t)(QB7720HANDLE* handle, int state);

/* The link was lost (called once per connection). */
typedef void (*qb7720_disconnect_cb_t)(void* user_data);

/* A notified value: UUID of the characteristic, bytes, count. The bytes stay valid only during the
 * call; the buffer is always at least 8 bytes long, so reading byte 5 of a status report is in bounds. */
typedef void (*qb7720_notification_cb_t)(const uuid_t* uuid, const unsigned char* data, unsigned long length);

/* The four modem inputs, in this order: DCD, RING, DSR, CTS. */
typedef void (*qb7720_modem_cb_t)(bool dcd, bool ring, bool dsr, bool cts);

/* --- functions ------------------------------------------------------------------------------ */

/* Starts or continues discovery and returns at once; bridges are reported through callback from a
 * library thread. Discovery stops by itself when no call renews it for 2 s.
 * Returns 0 when scanning, 1 when no scan is possible (no radio, radio off). */
QB7720LIB_API int QB7720Ble_BLE_Scan(int enable, qb7720_scan_cb_t callback);

/* Connects to the bridge with this address (Latin-1 text "AA:BB:CC:DD:EE:FF"). Blocks for at most
 * 10 s. Returns the handle, or NULL on any failure; callback (may be NULL) is called either way. */
QB7720LIB_API QB7720HANDLE* QB7720Ble_Connect(const char* address, qb7720_connect_cb_t callback);

/* Fills the ATT MTU and the stream handle that the serial and modem calls take. */
QB7720LIB_API int QB7720Ble_Get_MTU(QB7720HANDLE* handle, gatt_stream_t** stream, uint16_t* mtu);

QB7720LIB_API int QB7720Ble_register_on_disconnect(QB7720HANDLE* handle, qb7720_disconnect_cb_t callback,
                                                   void* user_data);
QB7720LIB_API int QB7720Ble_register_notification(QB7720HANDLE* handle, qb7720_notification_cb_t callback,
                                                  void* user_data);

/* uuid_text: "0xfff1" (serial data) or "0xfff3" (status reports). */
QB7720LIB_API int QB7720Ble_Open_Notification(QB7720HANDLE* handle, const char* uuid_text);
QB7720LIB_API int QB7720Ble_Close_Notification(QB7720HANDLE* handle, const char* uuid_text);

/* Closes the link and frees the handle and its stream. */
QB7720LIB_API int QB7720Ble_Disconnect(QB7720HANDLE* handle);

/* Writes count bytes to the characteristic whose value handle is attr_handle (19: serial data out),
 * with response when with_response is 1. A write longer than MTU - 3 is refused (non-zero);
 * a zero-length write succeeds without traffic. */
QB7720LIB_API int QB7720Ble_Write_Characteristic(QB7720HANDLE* handle, uint16_t attr_handle, int with_response,
                                                 const void* buffer, size_t count);

/* Decodes a status report notified on 0xfff3 and calls callback with the modem inputs. A value that is
 * not a status report (7 bytes starting with 0x88, as the notification callback received it) does not
 * call the callback. */
QB7720LIB_API int QB7720Ble_Get_Modem_state(const unsigned char* payload, qb7720_modem_cb_t callback);

/* Remote line settings; parity 0 none, 1 odd, 2 even, 3 mark, 4 space. 0: the bridge took them. */
QB7720LIB_API int QB7720Ble_Set_SerialBaud(QB7720HANDLE* handle, gatt_stream_t* stream, uint32_t baud,
                                           uint8_t data_bits, uint8_t stop_bits, uint8_t parity);
/* Remote modem outputs, each 0 or 1. 0: the bridge took them. */
QB7720LIB_API int QB7720Ble_Set_Modem(QB7720HANDLE* handle, gatt_stream_t* stream, uint8_t flow_control,
                                      uint8_t dtr, uint8_t rts);

/* The local controller's version index (0 = 1.0b ... 12 = 5.3); negative when no radio answers. */
QB7720LIB_API int QB7720BleGetBluetoothVer(void);

/* gattlib's text form: 16-bit UUIDs as "0x%.4x", 32-bit as "0x%.8x", 128-bit in the canonical form. */
QB7720LIB_API int gatt_uuid_to_string(const uuid_t* uuid, char* str, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* QB7720LIB_H */
