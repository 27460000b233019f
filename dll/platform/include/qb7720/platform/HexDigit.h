// The value of one hexadecimal digit, shared by every parser of addresses and UUIDs.
#pragma once

namespace qb::platform {

// -1 for anything that is not a hexadecimal digit.
constexpr int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace qb::platform
