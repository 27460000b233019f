#include "Sleep.h"

#include <windows.h>
// After windows.h, whose types it needs.
#include <timeapi.h>

namespace qb::winrt {
namespace {

// Long waits keep the default period: a tick more or less does not matter there, and a raised period
// costs the whole system power while it is held.
constexpr std::chrono::milliseconds kShortSleep{100};

void plainSleep(std::chrono::milliseconds duration) {
    // Sleep takes a 32-bit count; longer waits are split rather than wrapped.
    auto left = duration.count();
    while (left > 0) {
        const DWORD step = left > 0x7fffffff ? 0x7fffffff : static_cast<DWORD>(left);
        Sleep(step);
        left -= step;
    }
}

}  // namespace

void preciseSleep(std::chrono::milliseconds duration) {
    if (duration.count() <= 0) return;
    if (duration >= kShortSleep) {
        plainSleep(duration);
        return;
    }
    const bool raised = timeBeginPeriod(1) == TIMERR_NOERROR;
    plainSleep(duration);
    if (raised) timeEndPeriod(1);
}

}  // namespace qb::winrt
