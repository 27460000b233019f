// Addresses, device identifiers and object paths. Identifiers look like "BluezLE#hci0#aa:bb:cc:dd:ee:ff":
// the lower-case address is what callers search for in them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qb::bluez {

// "AA:BB:CC:DD:EE:FF" in either case; nothing for anything else.
std::optional<std::uint64_t> parseAddress(const std::string& text);
// "aa:bb:cc:dd:ee:ff".
std::string formatAddress(std::uint64_t address);

std::string makeDeviceId(const std::string& adapterName, std::uint64_t address);

struct DeviceIdParts {
    std::string adapterName;  // empty when the identifier named none
    std::uint64_t address = 0;
};
// Takes our identifiers and, for convenience, a bare address.
std::optional<DeviceIdParts> parseDeviceId(const std::string& id);

// "/org/bluez/hci0" -> "hci0".
std::string adapterNameOf(const std::string& adapterPath);
// "<adapter>/dev_AA_BB_CC_DD_EE_FF".
std::string devicePath(const std::string& adapterPath, std::uint64_t address);

// The value handle of a characteristic whose path ends in "charXXXX" (declaration handle + 1).
std::optional<std::uint16_t> valueHandleFromPath(const std::string& charPath);

}  // namespace qb::bluez
