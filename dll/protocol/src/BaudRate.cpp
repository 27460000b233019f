#include "qb7720/protocol/BaudRate.h"

#include <algorithm>

namespace qb::protocol {

bool isListedBaudRate(std::uint32_t baud) {
    return std::find(kListedBaudRates.begin(), kListedBaudRates.end(), baud) != kListedBaudRates.end();
}

std::uint32_t encodableBaudRate(std::uint32_t baud) {
    return isListedBaudRate(baud) ? baud : 0;
}

}  // namespace qb::protocol
