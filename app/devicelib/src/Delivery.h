// Values handed to notification callbacks: copied into a zero-padded buffer, and remembered on the
// delivering thread for the length of the call, so that the modem decoder (which gets no length) can
// tell a status report from a shorter or longer value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "QB7720lib.h"

namespace qb::devicelib {

// Every delivered buffer holds at least this many bytes (the rest zero).
inline constexpr std::size_t kMinimumDeliveredSize = 8;

std::vector<std::uint8_t> paddedCopy(const std::uint8_t* data, std::size_t length);

// Marks buffer (of length meaningful bytes) as the one being delivered on this thread until destroyed.
class DeliveryScope {
  public:
    DeliveryScope(const std::uint8_t* buffer, std::size_t length);
    ~DeliveryScope();
    DeliveryScope(const DeliveryScope&) = delete;
    DeliveryScope& operator=(const DeliveryScope&) = delete;

  private:
    const std::uint8_t* previousBuffer_;
    std::size_t previousLength_;
};

// The length of buffer when it is the one being delivered on this thread, else fallback.
std::size_t deliveredLength(const std::uint8_t* buffer, std::size_t fallback);

// The modem inputs of a status report (exactly 7 bytes starting with 0x88), bits as in byte 5;
// -1 for any other value.
int statusReportModemBits(const std::uint8_t* value, std::size_t length);

}  // namespace qb::devicelib
