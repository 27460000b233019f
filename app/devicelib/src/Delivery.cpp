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

extern "C" int QB7720Ble_Get_Modem_state(const unsigned char* payload, qb7720_modem_cb_t callback) {
    using namespace qb::devicelib;
    if (payload == nullptr || callback == nullptr) return QB7720LIB_E_ARGUMENT;
    const std::size_t length = deliveredLength(payload, qb::protocol::kStatusReportSize);
    const int bits = statusReportModemBits(payload, length);
    if (bits < 0) return QB7720LIB_E_NOT_STATUS;
    using qb::protocol::ModemInputs;
    callback((bits & ModemInputs::kDcd) != 0, (bits & ModemInputs::kRi) != 0, (bits & ModemInputs::kDsr) != 0,
             (bits & ModemInputs::kCts) != 0);
    return QB7720LIB_OK;
}
