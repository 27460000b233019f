#pragma once

#include <array>
#include <cstdint>

namespace qb::protocol {

constexpr std::array<std::uint32_t, 11> kListedBaudRates = {1200,  2400,  4800,   9600,   14400,  19200,
                                                            38400, 57600, 115200, 230400, 1000000};

bool isListedBaudRate(std::uint32_t baud);
// The value that goes into the baud field: a listed rate unchanged, anything else 0.
std::uint32_t encodableBaudRate(std::uint32_t baud);

}  // namespace qb::protocol
