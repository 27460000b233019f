// Multi-step operations run as step routines: each clears its done flag first and sets it on every
// normal return. A routine that comes back without setting it gets the settle wait before the
// caller goes on.
#pragma once

#include <cstdint>
#include <utility>

namespace qb::dll {

struct StepState {
    std::uint8_t status = 0;
    std::uint8_t done = 0;
};

// 3000 sleeps of 1 ms through the platform, without looking at the flag again.
void settleWait();

// Calls routine(StepState&); returns the status it wrote.
template <typename Routine>
std::uint8_t runStep(Routine&& routine) {
    StepState state;
    std::forward<Routine>(routine)(state);
    if (state.done == 0) settleWait();
    return state.status;
}

}  // namespace qb::dll
