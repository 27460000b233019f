// A property value of the mirrored tree, held as plain data. sdbus-c++ 1.x ties every variant to a
// message of the thread that made it, and that message dies with its thread; a value that outlives
// the bus thread (the mirror, torn down at exit) must own nothing of sdbus.
#pragma once

#include <sdbus-c++/sdbus-c++.h>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace qb::bluez {

using ByteString = std::vector<std::uint8_t>;

// Object paths are kept as text. monostate stands for a type this backend never reads; the
// property is still known to exist.
using PropertyValue =
    std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t, std::uint32_t,
                 std::int64_t, std::uint64_t, double, std::string, std::vector<std::string>, ByteString,
                 std::map<std::uint16_t, ByteString>, std::map<std::string, ByteString>>;

using Properties = std::map<std::string, PropertyValue>;
using Interfaces = std::map<std::string, Properties>;

// Copies what a received variant holds; call it on the thread that received the message.
PropertyValue toPropertyValue(const sdbus::Variant& variant);
Properties toProperties(const std::map<std::string, sdbus::Variant>& variants);
Interfaces toInterfaces(const std::map<std::string, std::map<std::string, sdbus::Variant>>& variants);

template <typename T>
std::optional<T> valueAs(const PropertyValue& value) {
    if (const T* held = std::get_if<T>(&value)) return *held;
    return std::nullopt;
}

}  // namespace qb::bluez
