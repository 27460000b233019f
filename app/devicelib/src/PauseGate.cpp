#include "PauseGate.h"

#include <algorithm>

#include "qb7720/protocol/Replies.h"

namespace qb::devicelib {

void PauseGate::onCommandValue(const std::uint8_t* data, std::size_t size) {
    const auto report = protocol::decodeStatusReport(protocol::ByteView(data, size));
    if (report.pause == protocol::PauseChange::Set) paused_.store(true);
    if (report.pause == protocol::PauseChange::Cleared) paused_.store(false);
}

bool PauseGate::waitForResume(const Sleep& sleep, std::chrono::milliseconds budget,
                              const std::function<bool()>& giveUp) const {
    constexpr std::chrono::milliseconds kStep{1};
    for (std::chrono::milliseconds waited{0}; paused_.load(); waited += kStep) {
        if (waited >= budget || giveUp()) return false;
        sleep(kStep);
    }
    return true;
}

std::chrono::milliseconds PauseGate::budgetFor(std::uint32_t baud) {
    constexpr std::int64_t kBufferBits = 4096 * 10;
    const std::int64_t drainMs = baud == 0 ? 0 : kBufferBits * 1000 / baud;
    return std::chrono::milliseconds(std::max<std::int64_t>(5000, 2 * drainMs));
}

}  // namespace qb::devicelib
