#include "Addressing.h"

#include "qb7720/platform/BluetoothAddress.h"
#include "qb7720/platform/HexDigit.h"

namespace qb::bluez {
using platform::hexDigit;

std::optional<std::uint64_t> parseAddress(const std::string& text) {
    const auto address = platform::BluetoothAddress::parse(text);
    if (!address) return std::nullopt;
    return address->value();
}

std::string formatAddress(std::uint64_t address) {
    return platform::BluetoothAddress(address).toString();
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
