// The BlueZ backend's decoders of outside bytes and texts: management-socket replies, D-Bus error
// names and messages, device identifiers and object paths.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Addressing.h"
#include "ErrorMap.h"
#include "Mgmt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 2) {
        const auto index = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
        const auto reply = qb::bluez::mgmt::parseReadInfoReply(data + 2, size - 2, index);
        if (reply.kind == qb::bluez::mgmt::ReplyKind::Version && (reply.version < 0 || reply.version > 255)) {
            __builtin_trap();
        }
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto split = text.find('\n');
    const std::string name = text.substr(0, split);
    const std::string message = split == std::string::npos ? std::string() : text.substr(split + 1);
    const auto code = qb::bluez::mapBluezError(name, message);
    if (qb::bluez::isAttError(code) && (code & 0xFF) == 0) __builtin_trap();
    if (auto parts = qb::bluez::parseDeviceId(text)) {
        // An identifier we accept names an address that survives the round trip.
        const auto again = qb::bluez::parseDeviceId(qb::bluez::makeDeviceId(
            parts->adapterName.empty() ? "hci0" : parts->adapterName, parts->address));
        if (!again || again->address != parts->address) __builtin_trap();
    }
    if (auto handle = qb::bluez::valueHandleFromPath(text)) {
        if (*handle == 0) __builtin_trap();
    }
    return 0;
}
