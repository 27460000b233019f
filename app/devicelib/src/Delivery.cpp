#include "Delivery.h"

#include <algorithm>

#include "qb7720/protocol/Types.h"

namespace qb::devicelib {

namespace {

struct CurrentDelivery {
    const std::uint8_t* buffer = nullptr;
    std::size_t length = 0;
};

thread_local CurrentDelivery current;

}  // namespace

std::vector<std::uint8_t> paddedCopy(const std::uint8_t* data, std::size_t length) {
    std::vector<std::uint8_t> out(std::max(length, kMinimumDeliveredSize), 0);
    if (length > 0) std::copy(data, data + length, out.begin());
    return out;
}

DeliveryScope::DeliveryScope(const std::uint8_t* buffer, std::size_t length)
    : previousBuffer_(current.buffer), previousLength_(current.length) {
    current = {buffer, length};
}

DeliveryScope::~DeliveryScope() {
    current = {previousBuffer_, previousLength_};
}

std::size_t deliveredLength(const std::uint8_t* buffer, std::size_t fallback) {
    if (buffer != nullptr && buffer == current.buffer) return current.length;
    return fallback;
}

int statusReportModemBits(const std::uint8_t* value, std::size_t length) {
    if (value == nullptr || length != protocol::kStatusReportSize ||
        value[0] != protocol::kStatusReportCode) {
        return -1;
    }
    return protocol::ModemInputs::fromStatusByte(value[5]).bits;
}

}  // namespace qb::devicelib
