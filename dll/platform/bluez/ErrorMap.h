// How BlueZ's D-Bus errors become the HRESULTs the library core tells apart.
#pragma once

#include <string>

#include "qb7720/platform/PlatformError.h"

namespace qb::bluez {

// HRESULTs the core treats as "other" but that keep a log line meaningful.
namespace hresult_extra {
inline constexpr platform::HResult kAttBase = 0x80650000;  // E_BLUETOOTH_ATT_* = base | ATT error code
inline constexpr platform::HResult kAttReadNotPermitted = 0x80650002;
inline constexpr platform::HResult kBusy = 0x800700AA;      // HRESULT_FROM_WIN32(ERROR_BUSY)
inline constexpr platform::HResult kNotReady = 0x80070015;  // HRESULT_FROM_WIN32(ERROR_NOT_READY)
inline constexpr platform::HResult kDeviceNotAvailable =
    0x800710DF;  // HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_AVAILABLE)
}  // namespace hresult_extra

// clang-format off
// The one table, first match wins (a row with an empty message prefix matches any message):
//
// | D-Bus error name                          | message begins with                   | HRESULT                         |
// |-------------------------------------------|---------------------------------------|---------------------------------|
// | org.bluez.Error.NotPermitted              | "Write not permitted"                 | ATT write not permitted         |
// | org.bluez.Error.NotPermitted              | "Read not permitted"                  | ATT read not permitted          |
// | org.bluez.Error.NotPermitted              | (any: not paired, acquired, ...)      | E_ACCESSDENIED                  |
// | org.bluez.Error.NotAuthorized             |                                       | E_ACCESSDENIED                  |
// | org.bluez.Error.Failed                    | "Not connected"                       | device not connected            |
// | org.bluez.Error.NotConnected              |                                       | device not connected            |
// | org.bluez.Error.Failed                    | "Operation failed with ATT error: 0x" | E_BLUETOOTH_ATT_ base \| code    |
// | org.bluez.Error.Failed                    | "Failed to initiate write"            | ATT invalid attribute length    |
// | org.bluez.Error.Failed                    | "Operation already in progress"       | busy                            |
// | org.bluez.Error.InProgress                |                                       | busy                            |
// | org.bluez.Error.InvalidArguments          |                                       | E_INVALIDARG                    |
// | org.bluez.Error.NotSupported              |                                       | E_NOTIMPL                       |
// | org.bluez.Error.DoesNotExist              |                                       | not found                       |
// | org.freedesktop.DBus.Error.UnknownObject  |                                       | not found                       |
// | org.freedesktop.DBus.Error.UnknownMethod  |                                       | E_NOTIMPL                       |
// | org.bluez.Error.NotReady                  |                                       | not ready                       |
// | org.bluez.Error.NoSuchAdapter             |                                       | device not available            |
// | org.freedesktop.DBus.Error.ServiceUnknown |                                       | device not available            |
// | org.freedesktop.DBus.Error.NameHasNoOwner |                                       | device not available            |
// | org.freedesktop.DBus.Error.NoReply        |                                       | timeout                         |
// | org.freedesktop.DBus.Error.Timeout        |                                       | timeout                         |
// | org.freedesktop.DBus.Error.TimedOut       |                                       | timeout                         |
// | anything else                             |                                       | E_FAIL                          |
// clang-format on
platform::HResult mapBluezError(const std::string& name, const std::string& message);

// The other way round: a BlueZ error that maps to this code (the first row that gives it; any ATT
// error; E_FAIL as a plain failure). For the emulator daemon's tests, which make BlueZ fail on purpose.
struct BluezError {
    std::string name;
    std::string message;
};
BluezError bluezErrorFor(platform::HResult code);

// A PlatformError whose message names the D-Bus error, so a debug line shows where it came from.
platform::PlatformError toPlatformError(const std::string& name, const std::string& message);

// True for the ATT errors (0x8065xxxx).
inline bool isAttError(platform::HResult code) {
    return (code & 0xFFFF0000u) == hresult_extra::kAttBase;
}

}  // namespace qb::bluez
