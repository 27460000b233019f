#include "ErrorMap.h"

#include <cstdio>
#include <cstdlib>

namespace qb::bluez {
namespace {

using platform::HResult;
namespace hr = platform::hresult;
namespace hx = hresult_extra;

struct Row {
    const char* name;
    const char* prefix;
    HResult code;
};

constexpr const char* kAttPrefix = "Operation failed with ATT error: 0x";

const Row kRows[] = {
    {"org.bluez.Error.NotPermitted", "Write not permitted", hr::kAttWriteNotPermitted},
    {"org.bluez.Error.NotPermitted", "Read not permitted", hx::kAttReadNotPermitted},
    {"org.bluez.Error.NotPermitted", "", hr::kAccessDenied},
    {"org.bluez.Error.NotAuthorized", "", hr::kAccessDenied},
    {"org.bluez.Error.Failed", "Not connected", hr::kDeviceNotConnected},
    {"org.bluez.Error.NotConnected", "", hr::kDeviceNotConnected},
    {"org.bluez.Error.Failed", kAttPrefix, hx::kAttBase},
    {"org.bluez.Error.Failed", "Failed to initiate write", hr::kAttInvalidAttributeLength},
    {"org.bluez.Error.Failed", "Operation already in progress", hx::kBusy},
    {"org.bluez.Error.InProgress", "", hx::kBusy},
    {"org.bluez.Error.InvalidArguments", "", hr::kInvalidArg},
    {"org.bluez.Error.NotSupported", "", hr::kNotImplemented},
    {"org.bluez.Error.DoesNotExist", "", hr::kNotFound},
    {"org.freedesktop.DBus.Error.UnknownObject", "", hr::kNotFound},
    {"org.freedesktop.DBus.Error.UnknownMethod", "", hr::kNotImplemented},
    {"org.freedesktop.DBus.Error.UnknownInterface", "", hr::kNotFound},
    {"org.freedesktop.DBus.Error.UnknownProperty", "", hr::kNotFound},
    {"org.bluez.Error.NotReady", "", hx::kNotReady},
    {"org.bluez.Error.NoSuchAdapter", "", hx::kDeviceNotAvailable},
    {"org.freedesktop.DBus.Error.ServiceUnknown", "", hx::kDeviceNotAvailable},
    {"org.freedesktop.DBus.Error.NameHasNoOwner", "", hx::kDeviceNotAvailable},
    {"org.freedesktop.DBus.Error.NoReply", "", hr::kTimeout},
    {"org.freedesktop.DBus.Error.Timeout", "", hr::kTimeout},
    {"org.freedesktop.DBus.Error.TimedOut", "", hr::kTimeout},
};

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The two hex digits after the ATT prefix; anything malformed counts as a plain failure.
bool attCode(const std::string& message, HResult& code) {
    const std::string digits = message.substr(std::char_traits<char>::length(kAttPrefix), 2);
    if (digits.size() != 2) return false;
    for (char c : digits) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex) return false;
    }
    const auto value = std::strtoul(digits.c_str(), nullptr, 16);
    if (value == 0) return false;
    code = hx::kAttBase | static_cast<HResult>(value);
    return true;
}

}  // namespace

HResult mapBluezError(const std::string& name, const std::string& message) {
    for (const Row& row : kRows) {
        if (name != row.name || !startsWith(message, row.prefix)) continue;
        if (row.code == hx::kAttBase) {
            HResult code = hr::kFail;
            return attCode(message, code) ? code : hr::kFail;
        }
        return row.code;
    }
    return hr::kFail;
}

BluezError bluezErrorFor(HResult code) {
    for (const Row& row : kRows) {
        if (row.code != code || row.code == hx::kAttBase) continue;
        return {row.name, *row.prefix != '\0' ? row.prefix : "Operation failed"};
    }
    if (isAttError(code) && (code & 0xFFu) != 0) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(code & 0xFFu));
        return {"org.bluez.Error.Failed", std::string(kAttPrefix) + digits};
    }
    return {"org.bluez.Error.Failed", "Operation failed"};
}

platform::PlatformError toPlatformError(const std::string& name, const std::string& message) {
    return platform::PlatformError(mapBluezError(name, message), name + ": " + message);
}

}  // namespace qb::bluez
