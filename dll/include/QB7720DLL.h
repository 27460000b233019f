/* QB7720DLL: flat C interface to QB7720 BLE serial bridges.
 *
 * Every export runs on the caller's thread; callbacks run on platform threads. Text is UTF-8 and
 * NUL-terminated. Data handed to a callback is valid only during the call.
 *
 * Per-handle exports return a BridgeResult whose low 8 bits carry the code; test the low byte only.
 */
#ifndef QB7720DLL_H
#define QB7720DLL_H

#include <stddef.h>
#include <stdint.h>

/* One calling convention for exports and callbacks: __stdcall on 32-bit Windows only. */
#if defined(_WIN32) && !defined(_WIN64)
#define QB7720_CALL __stdcall
#else
#define QB7720_CALL
#endif

/* QB7720DLL_BUILDING is defined while the library itself is compiled. */
#if defined(_WIN32)
#if defined(QB7720DLL_BUILDING)
#define QB7720_API __declspec(dllexport)
#else
#define QB7720_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QB7720_API __attribute__((visibility("default")))
#else
#define QB7720_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The address of an open device session; null means none. */
typedef struct QB7720Device* QB7720DeviceHandle;

typedef int32_t BridgeResult;
enum BridgeResultCode {
    BridgeResultOk = 0,
    BridgeResultUnknownHandle = 1,
    BridgeResultNoCharacteristic = 2,
    BridgeResultGattStatusError = 3,
    BridgeResultOperationRejected = 4,
    BridgeResultAccessDenied = 5,
    BridgeResultPlatformError = 6
};

/* Bits of the action mask of QB7720GetHandleAction. */
enum QB7720ActionBits { QB7720ActionRead = 1, QB7720ActionWrite = 2, QB7720ActionNotify = 4 };

/* status: 0 disconnected, 1 connected. */
typedef void(QB7720_CALL* ConnectStatusCallback)(QB7720DeviceHandle handle, int32_t status);
/* address: 6 bytes, most significant first; rssi in dBm; tagByte holds one byte. */
typedef void(QB7720_CALL* RssiCallback)(const uint8_t* address, int32_t rssi, int32_t tagByte);
typedef void(QB7720_CALL* ReadNotifyCallback)(void* context, const uint8_t* data, uint32_t length);
/* Each input is its masked bit: DCD 0x80, RI 0x40, DSR 0x20, CTS 0x10, or 0 when clear. */
typedef void(QB7720_CALL* ModemStatusCallback)(QB7720DeviceHandle handle, int32_t dcd, int32_t ri,
                                               int32_t dsr, int32_t cts);

/* One enumerated bridge; 528 bytes, entry n at byte 528 * n. */
typedef struct DeviceEntry {
    char name[260];
    char id[260];
    int32_t rssi;
    uint8_t tagByte;
    uint8_t reserved[3]; /* not written */
} DeviceEntry;

#if defined(__cplusplus)
static_assert(sizeof(DeviceEntry) == 528, "DeviceEntry is 528 bytes");
static_assert(offsetof(DeviceEntry, id) == 260, "DeviceEntry.id at 260");
static_assert(offsetof(DeviceEntry, rssi) == 520, "DeviceEntry.rssi at 520");
static_assert(offsetof(DeviceEntry, tagByte) == 524, "DeviceEntry.tagByte at 524");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(DeviceEntry) == 528, "DeviceEntry is 528 bytes");
_Static_assert(offsetof(DeviceEntry, id) == 260, "DeviceEntry.id at 260");
_Static_assert(offsetof(DeviceEntry, rssi) == 520, "DeviceEntry.rssi at 520");
_Static_assert(offsetof(DeviceEntry, tagByte) == 524, "DeviceEntry.tagByte at 524");
#else
/* Older C: a negative array size stops the build when the layout is wrong. */
typedef char
    QB7720DeviceEntryLayoutCheck[(sizeof(DeviceEntry) == 528 && offsetof(DeviceEntry, id) == 260 &&
                                  offsetof(DeviceEntry, rssi) == 520 && offsetof(DeviceEntry, tagByte) == 524)
                                     ? 1
                                     : -1];
#endif

/* --- frame ------------------------------------------------------------------------------------- */

/* Call once on the thread that uses the library (multithreaded COM apartment on Windows). */
QB7720_API void QB7720_CALL QB7720Init(void);

/* An unknown handle gives Ok and leaves the array and count untouched. *count: capacity in;
 * entries out, or unchanged when the session holds more characteristics than the capacity. */
QB7720_API BridgeResult QB7720_CALL QB7720GetAllOpHandle(QB7720DeviceHandle handle, uint16_t* shortUuids,
                                                         uint16_t* count);
QB7720_API BridgeResult QB7720_CALL QB7720GetHandleAction(QB7720DeviceHandle handle, uint16_t shortUuid,
                                                          uint32_t* actionMask);

/* --- radio and discovery ----------------------------------------------------------------------- */

QB7720_API int32_t QB7720_CALL QB7720IsBluetoothOpened(void);
QB7720_API uint8_t QB7720_CALL QB7720GetBluetoothVer(void);
/* *count: capacity in entries on entry, entries written on return. nameFilter may be null. */
QB7720_API void QB7720_CALL QB7720EnumDevice(uint32_t scanTimeMs, const char* nameFilter,
                                             DeviceEntry* entries, uint32_t* count);
/* Null stops the notifications. Always returns 0. */
QB7720_API uint8_t QB7720_CALL QB7720RegisterRSSINotify(RssiCallback callback);

/* --- opening and closing ----------------------------------------------------------------------- */

QB7720_API QB7720DeviceHandle QB7720_CALL QB7720OpenDevice(const char* deviceId,
                                                           ConnectStatusCallback callback);
/* Takes at least one second, also for an unknown handle.
 *
 * Waiting for callbacks (this and unregistering with QB7720RegisterReadNotify): when it returns, no
 * ReadNotifyCallback of the closed subscriptions is running on any other thread, so their contexts
 * may be freed. Called from inside any library callback (data, modem, connection status, signal
 * strength), it does not wait: a callback of those subscriptions may then still be running on another
 * thread. Do not hold a lock of your own across this call that one of those callbacks takes: the call
 * waits for the callback, the callback for your lock, and neither returns. */
QB7720_API void QB7720_CALL QB7720CloseDevice(QB7720DeviceHandle handle);

/* --- data transfer ----------------------------------------------------------------------------- */

/* One ATT write of all the bytes; keep writes without response within MTU - 3. */
QB7720_API BridgeResult QB7720_CALL QB7720WriteBuffer(QB7720DeviceHandle handle, uint16_t shortUuid,
                                                      int32_t withResponse, const uint8_t* data,
                                                      uint32_t length);
/* *length: capacity in, bytes stored out (left at the capacity when the value was cut). */
QB7720_API BridgeResult QB7720_CALL QB7720ReadBuffer(QB7720DeviceHandle handle, uint16_t shortUuid,
                                                     uint8_t* buffer, uint32_t* length);
/* A null callback unregisters, and then waits for a running callback as QB7720CloseDevice does.
 * A characteristic keeps its first registration. */
QB7720_API BridgeResult QB7720_CALL QB7720RegisterReadNotify(QB7720DeviceHandle handle, uint16_t shortUuid,
                                                             ReadNotifyCallback callback, void* context);
QB7720_API BridgeResult QB7720_CALL QB7720GetMtu(QB7720DeviceHandle handle, uint16_t* mtu);

/* --- parameter blocks: 1 on success, 0 on failure ----------------------------------------------- */

QB7720_API int32_t QB7720_CALL QB7720GetCfgPara(QB7720DeviceHandle handle, uint8_t* block512);
QB7720_API int32_t QB7720_CALL QB7720SetCfgPara(QB7720DeviceHandle handle, const uint8_t* block512);
QB7720_API int32_t QB7720_CALL QB7720ResetCfgPara(QB7720DeviceHandle handle);
QB7720_API int32_t QB7720_CALL QB7720GetExdCfg(QB7720DeviceHandle handle, uint8_t* block512);
QB7720_API int32_t QB7720_CALL QB7720SetExdCfg(QB7720DeviceHandle handle, const uint8_t* block512);
QB7720_API int32_t QB7720_CALL QB7720ResetExdCfg(QB7720DeviceHandle handle);
/* Always 1. */
QB7720_API int32_t QB7720_CALL QB7720ResetCh(QB7720DeviceHandle handle);

/* --- serial-port mode -------------------------------------------------------------------------- */

/* Opens at 115200 8-N-1, flow control off, DTR and RTS active. Received serial data reaches
 * dataCallback as (0, data, length). A later call replaces modemCallback for every open device. */
QB7720_API QB7720DeviceHandle QB7720_CALL QB7720UartOpenDevice(const char* deviceId,
                                                               ConnectStatusCallback statusCallback,
                                                               ModemStatusCallback modemCallback,
                                                               ReadNotifyCallback dataCallback);
/* Bytes accepted, every one of them sent: resend the rest later. No piece is written while the
 * bridge's latest status report asks this device to pause; after 200 ms of waiting in one call it
 * returns what was sent so far. -1 for a length above 4096 or below 0; -2 when the MTU cannot be had
 * or the link is down (nothing is written then). */
QB7720_API int32_t QB7720_CALL QB7720UartWriteBuffer(QB7720DeviceHandle handle, const uint8_t* data,
                                                     int32_t length);
/* A rate not among 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400 and 1000000
 * is sent as 0. 1 on success, 0 on failure. */
QB7720_API int32_t QB7720_CALL QB7720UartSetSerialBaud(QB7720DeviceHandle handle, int32_t baudRate,
                                                       int32_t dataBits, int32_t stopBits, int32_t parity);
QB7720_API int32_t QB7720_CALL QB7720UartSetSerialModem(QB7720DeviceHandle handle, int32_t flowControl,
                                                        int32_t dtr, int32_t rts);

#ifdef __cplusplus
}
#endif

#endif /* QB7720DLL_H */
