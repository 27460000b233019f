// Text handling of the enumeration result: fixed-size fields and the address form that device
// identifiers carry.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "BridgeAdvertisement.h"

namespace qb::dll::discovery {

// The longest prefix of at most `limit` bytes that does not end inside a UTF-8 sequence. Malformed
// input is cut at `limit`, since it has no character boundary to respect.
std::size_t utf8PrefixLength(std::string_view text, std::size_t limit);

// Writes text into a NUL-terminated field of fieldSize bytes (fieldSize > 0), cut as above.
void copyToField(char* field, std::size_t fieldSize, std::string_view text);

// "c2:a1:b3:d4:e5:f6": lower case, most significant byte first.
std::string addressText(const BridgeAddress& address);

// Index of the first address text that occurs in the device identifier, or addresses.size().
std::size_t firstAddressIn(std::string_view id, const std::vector<std::string>& addresses);

}  // namespace qb::dll::discovery
