#include "PropertyValue.h"

namespace qb::bluez {
namespace {

template <typename Key>
std::map<Key, ByteString> byteSections(const sdbus::Variant& variant) {
    std::map<Key, ByteString> sections;
    for (const auto& entry : variant.get<std::map<Key, sdbus::Variant>>()) {
        const sdbus::Variant& inner = entry.second;
        if (inner.containsValueOfType<ByteString>()) sections.emplace(entry.first, inner.get<ByteString>());
    }
    return sections;
}

}  // namespace

PropertyValue toPropertyValue(const sdbus::Variant& variant) {
    try {
        const std::string type = variant.peekValueType();
        if (type == "b") return variant.get<bool>();
        if (type == "y") return variant.get<std::uint8_t>();
        if (type == "n") return variant.get<std::int16_t>();
        if (type == "q") return variant.get<std::uint16_t>();
        if (type == "i") return variant.get<std::int32_t>();
        if (type == "u") return variant.get<std::uint32_t>();
        if (type == "x") return variant.get<std::int64_t>();
        if (type == "t") return variant.get<std::uint64_t>();
        if (type == "d") return variant.get<double>();
        if (type == "s") return variant.get<std::string>();
        if (type == "o") return std::string(variant.get<sdbus::ObjectPath>());
        if (type == "as") return variant.get<std::vector<std::string>>();
        if (type == "ao") {
            std::vector<std::string> paths;
            for (const auto& p : variant.get<std::vector<sdbus::ObjectPath>>()) paths.emplace_back(p);
            return paths;
        }
        if (type == "ay") return variant.get<ByteString>();
        if (type == "a{qv}") return byteSections<std::uint16_t>(variant);
        if (type == "a{sv}") return byteSections<std::string>(variant);
    } catch (const sdbus::Error&) {
        // Malformed for its own signature: known to exist, not readable.
    }
    return std::monostate{};
}

Properties toProperties(const std::map<std::string, sdbus::Variant>& variants) {
    Properties props;
    for (const auto& [name, value] : variants) props.emplace(name, toPropertyValue(value));
    return props;
}

Interfaces toInterfaces(const std::map<std::string, std::map<std::string, sdbus::Variant>>& variants) {
    Interfaces ifaces;
    for (const auto& [iface, props] : variants) ifaces.emplace(iface, toProperties(props));
    return ifaces;
}

}  // namespace qb::bluez
