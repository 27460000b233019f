#include "UuidText.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "qb7720/platform/HexDigit.h"

namespace qb::devicelib {

uuid_t toGattUuid(const platform::Guid& guid) {
    uuid_t out{};
    if (guid.isSigShortUuid()) {
        out.type = SDP_UUID16;
        out.value.uuid16 = guid.shortUuid();
        return out;
    }
    out.type = SDP_UUID128;
    std::uint8_t* d = out.value.uuid128.data;
    for (int i = 0; i < 4; ++i) d[i] = static_cast<std::uint8_t>(guid.data1 >> (24 - 8 * i));
    d[4] = static_cast<std::uint8_t>(guid.data2 >> 8);
    d[5] = static_cast<std::uint8_t>(guid.data2);
    d[6] = static_cast<std::uint8_t>(guid.data3 >> 8);
    d[7] = static_cast<std::uint8_t>(guid.data3);
    std::memcpy(d + 8, guid.data4, 8);
    return out;
}

using platform::hexDigit;

std::optional<platform::Guid> parseUuidText(std::string_view text) {
    if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::string_view digits = text.substr(2);
        if (digits.empty() || digits.size() > 4) return std::nullopt;
        unsigned value = 0;
        for (char c : digits) {
            int d = hexDigit(c);
            if (d < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(d);
        }
        return platform::Guid::fromShortUuid(static_cast<std::uint16_t>(value));
    }
    return platform::Guid::parse(std::string(text));
}

bool matchesUuid(const platform::Guid& characteristic, const platform::Guid& wanted) {
    if (wanted.isSigShortUuid()) return characteristic.shortUuid() == wanted.shortUuid();
    return characteristic == wanted;
}

}  // namespace qb::devicelib

extern "C" int gatt_uuid_to_string(const uuid_t* uuid, char* str, size_t size) {
    if (uuid == nullptr || str == nullptr || size == 0) return QB7720LIB_E_ARGUMENT;
    char text[40];
    int n = -1;
    switch (uuid->type) {
        case SDP_UUID16:
            n = std::snprintf(text, sizeof text, "0x%.4x", static_cast<unsigned>(uuid->value.uuid16));
            break;
        case SDP_UUID32:
            n = std::snprintf(text, sizeof text, "0x%.8x", static_cast<unsigned>(uuid->value.uuid32));
            break;
        case SDP_UUID128: {
            const std::uint8_t* d = uuid->value.uuid128.data;
            n = std::snprintf(text, sizeof text,
                              "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", d[0],
                              d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9], d[10], d[11], d[12],
                              d[13], d[14], d[15]);
            break;
        }
        default:
            break;
    }
    if (n < 0 || static_cast<size_t>(n) >= size) {
        str[0] = '\0';
        return QB7720LIB_E_ARGUMENT;
    }
    std::memcpy(str, text, static_cast<size_t>(n) + 1);
    return QB7720LIB_OK;
}
