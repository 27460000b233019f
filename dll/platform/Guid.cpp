#include "qb7720/platform/Guid.h"

#include "qb7720/platform/HexDigit.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace qb::platform {
namespace {
constexpr std::uint8_t kBaseTail[8] = {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

}  // namespace

Guid Guid::fromShortUuid(std::uint16_t value) {
    Guid g;
    g.data1 = value;
    g.data2 = 0x0000;
    g.data3 = 0x1000;
    std::memcpy(g.data4, kBaseTail, sizeof kBaseTail);
    return g;
}

bool Guid::isSigShortUuid() const {
    return (data1 >> 16) == 0 && data2 == 0x0000 && data3 == 0x1000 &&
           std::memcmp(data4, kBaseTail, sizeof kBaseTail) == 0;
}

std::optional<Guid> Guid::parse(const std::string& text) {
    std::string t = text;
    if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return std::nullopt;
    std::uint8_t raw[16];
    std::size_t n = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) continue;
        int hi = hexDigit(t[i]);
        int lo = hexDigit(t[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        raw[n++] = static_cast<std::uint8_t>(hi << 4 | lo);
        ++i;
    }
    Guid g;
    g.data1 = std::uint32_t(raw[0]) << 24 | std::uint32_t(raw[1]) << 16 | std::uint32_t(raw[2]) << 8 | raw[3];
    g.data2 = static_cast<std::uint16_t>(raw[4] << 8 | raw[5]);
    g.data3 = static_cast<std::uint16_t>(raw[6] << 8 | raw[7]);
    std::memcpy(g.data4, raw + 8, 8);
    return g;
}

std::string Guid::toString() const {
    char buf[37];
    std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", data1, data2, data3,
                  data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
    return buf;
}

bool operator==(const Guid& a, const Guid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

}  // namespace qb::platform
