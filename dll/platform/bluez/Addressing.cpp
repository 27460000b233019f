#include "Addressing.h"

#include <cstdio>

namespace qb::bluez {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::uint64_t> parseAddress(const std::string& text) {
    if (text.size() != 17) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t at = i * 3;
        const int hi = hexDigit(text[at]);
        const int lo = hexDigit(text[at + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        if (i < 5 && text[at + 2] != ':') return std::nullopt;
        value = (value << 8) | static_cast<std::uint64_t>(hi * 16 + lo);
    }
    return value;
}

std::string formatAddress(std::uint64_t address) {
    char text[18];
    std::snprintf(
        text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", static_cast<unsigned>((address >> 40) & 0xFF),
        static_cast<unsigned>((address >> 32) & 0xFF), static_cast<unsigned>((address >> 24) & 0xFF),
        static_cast<unsigned>((address >> 16) & 0xFF), static_cast<unsigned>((address >> 8) & 0xFF),
        static_cast<unsigned>(address & 0xFF));
    return text;
}

std::string makeDeviceId(const std::string& adapterName, std::uint64_t address) {
    return "BluezLE#" + adapterName + "#" + formatAddress(address);
}

std::optional<DeviceIdParts> parseDeviceId(const std::string& id) {
    if (auto bare = parseAddress(id)) return DeviceIdParts{{}, *bare};
    const std::string prefix = "BluezLE#";
    if (id.rfind(prefix, 0) != 0) return std::nullopt;
    const auto hash = id.find('#', prefix.size());
    if (hash == std::string::npos) return std::nullopt;
    std::string adapter = id.substr(prefix.size(), hash - prefix.size());
    if (adapter.empty() || adapter.find('/') != std::string::npos) return std::nullopt;
    for (char c : adapter) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return std::nullopt;
    }
    auto address = parseAddress(id.substr(hash + 1));
    if (!address) return std::nullopt;
    return DeviceIdParts{std::move(adapter), *address};
}

std::string adapterNameOf(const std::string& adapterPath) {
    const auto slash = adapterPath.rfind('/');
    return slash == std::string::npos ? adapterPath : adapterPath.substr(slash + 1);
}

std::string devicePath(const std::string& adapterPath, std::uint64_t address) {
    std::string text = formatAddress(address);
    for (char& c : text) {
        if (c == ':')
            c = '_';
        else if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return adapterPath + "/dev_" + text;
}

std::optional<std::uint16_t> valueHandleFromPath(const std::string& charPath) {
    const auto slash = charPath.rfind('/');
    const std::string leaf = slash == std::string::npos ? charPath : charPath.substr(slash + 1);
    if (leaf.size() != 8 || leaf.compare(0, 4, "char") != 0) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = 4; i < 8; ++i) {
        const int d = hexDigit(leaf[i]);
        if (d < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(d);
    }
    if (value >= 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(value + 1);
}

}  // namespace qb::bluez
