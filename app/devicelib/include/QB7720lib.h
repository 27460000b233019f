/* libQB7720lib: the device library the terminal reaches the bridge through.
 *
 * Types are laid out as gattlib's, so code written against those compiles unchanged.
 * Results are ints, 0 meaning success unless a function says otherwise; failures are the negative
 * QB7720LIB_E_* codes below. Every function may be called from any thread; none throws.
 *
 * Threads: every callback handed to the library runs on a thread of the library, never on the
 * caller's thread (the one exception is the modem callback, see QB7720Ble_Get_Modem_state). Each
 * connection has its own library thread, so its callbacks (connection state, notifications, link
 * loss) arrive one at a time and in order. Advertisements are reported one at a time from the
 * scanner's thread.
 *
 * Environment: when QB7720_EMULATOR is set, its value configures the in-process emulator and the
 * library talks to emulated bridges instead of the system's Bluetooth stack.
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

/* --- results -------------------------------------------------------------------------------- */

#define QB7720LIB_OK 0
#define QB7720LIB_NO_RADIO 1               /* QB7720Ble_BLE_Scan only: no scan possible */
#define QB7720LIB_E_ARGUMENT (-1)          /* null or unknown handle/stream, bad UUID text, null buffer */
#define QB7720LIB_E_NOT_CONNECTED (-2)     /* the link was lost; only Disconnect is left to do */
#define QB7720LIB_E_TOO_LONG (-3)          /* a write longer than MTU - 3, or than 512 */
#define QB7720LIB_E_NO_CHARACTERISTIC (-4) /* no characteristic with that handle or UUID */
#define QB7720LIB_E_REFUSED (-5)           /* the bridge or the platform refused the operation */
#define QB7720LIB_E_NOT_STATUS (-6)        /* QB7720Ble_Get_Modem_state: not a status report */
#define QB7720LIB_E_PAUSED (-7)            /* serial data: the bridge kept asking to pause; nothing sent */

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
        uint128_t uuid128; /* most significant byte first, as the text reads */
    } value;
} uuid_t;
#endif

typedef struct _gatt_connection_t gatt_connection_t; /* opaque */
typedef struct _gatt_stream_t gatt_stream_t;         /* opaque */

typedef gatt_connection_t QB7720HANDLE;

/* --- callbacks ------------------------------------------------------------------------------ */

/* One advertisement of a bridge: address "AA:BB:CC:DD:EE:FF" (upper-case hex), name or NULL when
 * none was heard yet, signal strength in dBm, and the bridge's manufacturer data (company 0xAB57
 * section, at least 8 bytes; the terminal ignores it). All valid only during the call. */
typedef void (*qb7720_scan_cb_t)(const char* address, const char* name, signed char rssi,
                                 unsigned char* data);

/* The result of a connect: the handle and 1, or NULL and 0 when it failed. */
typedef void (*qb7720_connect_cb_t)(QB7720HANDLE* handle, int state);

/* The link was lost: called once per connection, with the user data given at registration. */
typedef void (*qb7720_disconnect_cb_t)(void* user_data);

/* A notified value: UUID of the characteristic (16-bit UUIDs as SDP_UUID16), bytes, count. The bytes
 * stay valid only during the call. The buffer is zero-padded to at least 8 bytes, so reading byte 5
 * of a status report is always in bounds. */
typedef void (*qb7720_notification_cb_t)(const uuid_t* uuid, const unsigned char* data, unsigned long length);

/* The four modem inputs, in this order: DCD, RING, DSR, CTS; true when asserted. */
typedef void (*qb7720_modem_cb_t)(bool dcd, bool ring, bool dsr, bool cts);

/* --- functions ------------------------------------------------------------------------------ */

/* enable 1: starts discovery, or renews it when it runs, and returns at once. Every advertisement of
 * a bridge (manufacturer data of company 0xAB57 carrying "QB772" at bytes 2..6) is reported through
 * callback from the scanner's thread; other devices are not reported. The latest callback given is the
 * one called. Discovery stops by itself when no call renews it for 2 s.
 * enable 0: stops discovery now (a report running is waited for, unless this is called from inside it;
 * no report starts afterwards); callback is not used.
 * Returns 0 when scanning (or stopped, for 0), QB7720LIB_NO_RADIO when no scan is possible (no radio,
 * radio off), QB7720LIB_E_ARGUMENT for enable 1 with a NULL callback. */
QB7720LIB_API int QB7720Ble_BLE_Scan(int enable, qb7720_scan_cb_t callback);

/* Connects to the bridge with this address ("AA:BB:CC:DD:EE:FF", either case) and finds its three
 * characteristics (0xfff1, 0xfff2, 0xfff3). Discovery is stopped first, as radios connect poorly while
 * they scan; the next QB7720Ble_BLE_Scan starts it again. Blocks for at most 10 s. Returns the handle, or
 * NULL on any failure (bad address, bridge not found or out of range, characteristics missing, time out).
 * callback (may be NULL) is called either way, on a library thread, and has returned before this
 * function does; it must not wait for the thread that called QB7720Ble_Connect. */
QB7720LIB_API QB7720HANDLE* QB7720Ble_Connect(const char* address, qb7720_connect_cb_t callback);

/* Fills the ATT MTU of the link and the connection's stream handle, which QB7720Ble_Set_SerialBaud and
 * QB7720Ble_Set_Modem take. The stream belongs to the connection and is freed by QB7720Ble_Disconnect.
 * Writes are limited by the MTU reported here (or measured at connect). Outputs are left alone on
 * failure. */
QB7720LIB_API int QB7720Ble_Get_MTU(QB7720HANDLE* handle, gatt_stream_t** stream, uint16_t* mtu);

/* callback (NULL removes it) is called once, with user_data, when the link is lost without
 * QB7720Ble_Disconnect. Registered after the loss, it is called at once (from a library thread). */
QB7720LIB_API int QB7720Ble_register_on_disconnect(QB7720HANDLE* handle, qb7720_disconnect_cb_t callback,
                                                   void* user_data);
/* callback (NULL removes it) receives every notification of the characteristics opened below.
 * user_data is not used: the callback type carries none. */
QB7720LIB_API int QB7720Ble_register_notification(QB7720HANDLE* handle, qb7720_notification_cb_t callback,
                                                  void* user_data);

/* uuid_text: "0xfff1" (serial data) or "0xfff3" (status reports), or any characteristic of the bridge
 * as "0x" and four hex digits or as a 128-bit UUID text. Opening an open one, or closing a closed one,
 * succeeds. Closing after the link was lost succeeds (nothing is notified any more). */
QB7720LIB_API int QB7720Ble_Open_Notification(QB7720HANDLE* handle, const char* uuid_text);
QB7720LIB_API int QB7720Ble_Close_Notification(QB7720HANDLE* handle, const char* uuid_text);

/* Closes the link and frees the handle and its stream. Notifications in flight are dropped; a callback
 * already running is waited for (unless this is called from inside it). No callback of this
 * connection runs after it returns. The handle must not be used afterwards (the library recognises
 * such a handle as unknown and answers QB7720LIB_E_ARGUMENT, but only while its memory is unused). */
QB7720LIB_API int QB7720Ble_Disconnect(QB7720HANDLE* handle);

/* Writes count bytes to the characteristic whose value handle is attr_handle (19: 0xfff2, serial data
 * out), with response when with_response is non-zero, else without. A write longer than MTU - 3, or
 * than the 512 bytes an attribute value holds at most, is refused (QB7720LIB_E_TOO_LONG) and nothing is sent; a zero-length write succeeds without traffic.
 * Returns once the platform has taken the bytes; with response, once the bridge has answered.
 * Order: the writes of a connection go one at a time. Writes from one thread reach the bridge in the
 * order they were made, also across characteristics: before a write to another characteristic
 * follows serial data written without response, the library waits until that data has arrived (it
 * sends a write request of no bytes to 0xfff2, which puts nothing on the line). The one exception:
 * serial data may overtake a frame written to 0xfff3 without response; write such a frame with
 * response when data must not pass it (QB7720Ble_Set_SerialBaud and QB7720Ble_Set_Modem read their
 * reply before they return, so nothing written after them passes their frame).
 * Pause: serial data (handle 19) is held while the bridge's latest status report on 0xfff3 asks this
 * host to pause; that needs the notifications of "0xfff3" open. The wait lasts until the bridge lets go,
 * for at most twice the time its line needs to drain 4 KiB at the rate last set through
 * QB7720Ble_Set_SerialBaud (115200 until then), and at least 5 s; after that the write returns
 * QB7720LIB_E_PAUSED and sends nothing. Each connection has its own pause state; it ends with the link.
 * A caller that resends a refused write neither loses nor duplicates a byte. */
QB7720LIB_API int QB7720Ble_Write_Characteristic(QB7720HANDLE* handle, uint16_t attr_handle,
                                                 int with_response, const void* buffer, size_t count);

/* Decodes a status report (exactly 7 bytes starting with 0x88; byte 5 holds the modem inputs) and
 * calls callback with them on the calling thread, before returning 0. Any other value does not call
 * the callback (QB7720LIB_E_NOT_STATUS), so the lines keep their last state.
 * How the length is known: while a notification callback runs, the library remembers on that thread
 * the buffer it delivered and its length; handing that buffer here (from inside the callback) is
 * judged by its true length. Any other buffer is taken as the caller's own and must hold 7 bytes. */
QB7720LIB_API int QB7720Ble_Get_Modem_state(const unsigned char* payload, qb7720_modem_cb_t callback);

/* Remote line settings: the set-serial frame of the bridge (baud rates other than 1200, 2400, 4800,
 * 9600, 14400, 19200, 38400, 57600, 115200, 230400 and 1000000 go out as 0; the other values are sent
 * as their low 8 bits), parity 0 none, 1 odd, 2 even, 3 mark, 4 space. Written to 0xfff3 without
 * response; the reply is read 100 ms later. 0: the bridge took them. stream must be the one
 * QB7720Ble_Get_MTU gave for this handle. Blocks for the exchange (about 100 ms). */
QB7720LIB_API int QB7720Ble_Set_SerialBaud(QB7720HANDLE* handle, gatt_stream_t* stream, uint32_t baud,
                                           uint8_t data_bits, uint8_t stop_bits, uint8_t parity);
/* Remote modem outputs, each 0 or 1, as the bridge's set-modem frame; exchanged as above.
 * 0: the bridge took them. */
QB7720LIB_API int QB7720Ble_Set_Modem(QB7720HANDLE* handle, gatt_stream_t* stream, uint8_t flow_control,
                                      uint8_t dtr, uint8_t rts);

/* The local controller's HCI version index (0 = 1.0b, 6 = 4.0, 9 = 5.0, 12 = 5.3, ...); negative
 * when no radio answers. */
QB7720LIB_API int QB7720BleGetBluetoothVer(void);

/* gattlib's text form: 16-bit UUIDs as "0x%.4x", 32-bit as "0x%.8x", 128-bit in the canonical
 * lower-case form. Returns 0, or QB7720LIB_E_ARGUMENT for NULL arguments, an unknown type or a buffer
 * too small for the text and its NUL (38 bytes are always enough); str is then an empty string when
 * size allows. */
QB7720LIB_API int gatt_uuid_to_string(const uuid_t* uuid, char* str, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* QB7720LIB_H */
