// 128-bit UUIDs in the Windows GUID layout (Data1, Data2, Data3, Data4[8]).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qb::platform {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::uint8_t data4[8] = {};

    // 0000xxxx-0000-1000-8000-00805F9B34FB
    static Guid fromShortUuid(std::uint16_t value);
    // Accepts "0000fff1-0000-1000-8000-00805f9b34fb" (either case, braces optional).
    static std::optional<Guid> parse(const std::string& text);

    // The low 16 bits of the first field; how the bridge protocol names a characteristic.
    std::uint16_t shortUuid() const { return static_cast<std::uint16_t>(data1 & 0xFFFFu); }
    // True when this is a Bluetooth SIG 16-bit UUID expanded over the base UUID.
    bool isSigShortUuid() const;
    // Lower-case canonical text form.
    std::string toString() const;

    friend bool operator==(const Guid& a, const Guid& b);
    friend bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }
};

}  // namespace qb::platform
