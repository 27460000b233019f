// The kernel sleep behind every fixed wait of the library.
#pragma once

#include <chrono>

namespace qb::winrt {

// Sleep(1) lasts a whole timer tick, 15.6 ms by default, which would cap the serial pacing near one
// piece per tick and stretch every budget counted in milliseconds. Short sleeps therefore raise the
// timer period to 1 ms for as long as they last. (A high-resolution waitable timer was measured under
// Wine with a tail twice as long as Sleep's, so the period it is.)
void preciseSleep(std::chrono::milliseconds duration);

}  // namespace qb::winrt
