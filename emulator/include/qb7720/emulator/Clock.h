// The emulator's time. Every Platform::sleep and every wait of the model goes through one Clock, so
// tests can let time pass at once and still see the bridges drain as if it had passed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace qb::emulator {

enum class TimeMode {
    Real,     // sleeps take their time; now() follows the steady clock
    Fast,     // sleeps return at once and move now() on by their duration; real time passes too
    Virtual,  // only sleeps and advance() move now(): fully deterministic
};

class Clock {
  public:
    using Duration = std::chrono::nanoseconds;
    // Time since the clock was made (plus what sleeps skipped).
    using TimePoint = Duration;
    // Called with the duration in the sleeping thread, before the sleep returns.
    using SleepHook = std::function<void(std::chrono::milliseconds)>;

    explicit Clock(TimeMode mode = TimeMode::Real);
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    TimeMode mode() const;
    void setMode(TimeMode mode);

    TimePoint now() const;

    // Platform::sleep: counts, calls the hook, then waits (Real) or moves time on (Fast, Virtual).
    void sleep(std::chrono::milliseconds duration);
    // Moves time on without counting as a sleep (Fast and Virtual; in Real mode it only wakes waiters).
    void advance(Duration duration);

    // The model's own waits (air time of the link model): until now() >= deadline, without counting
    // as a sleep. Fast and Virtual modes move time on at once.
    void waitUntil(TimePoint deadline);

    void setSleepHook(SleepHook hook);
    std::uint64_t sleepCount() const;
    // Sum of the durations passed to sleep().
    std::chrono::milliseconds sleptTotal() const;

    // Observers of time moving (the model's runner), called after each advance or sleep, on the thread
    // that moved it; they must not block.
    using AdvanceListener = std::function<void(TimePoint now)>;
    std::uint64_t addAdvanceListener(AdvanceListener listener);
    void removeAdvanceListener(std::uint64_t token);

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace qb::emulator
