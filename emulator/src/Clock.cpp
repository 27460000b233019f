#include "qb7720/emulator/Clock.h"

#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace qb::emulator {

struct Clock::State {
    mutable std::mutex mutex;
    TimeMode mode;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    Duration skipped{0};     // Fast: what sleeps skipped
    Duration virtualNow{0};  // Virtual: the time itself
    SleepHook hook;
    std::uint64_t sleeps = 0;
    std::chrono::milliseconds slept{0};
    std::map<std::uint64_t, AdvanceListener> listeners;
    std::uint64_t lastToken = 0;

    Duration nowLocked() const {
        if (mode == TimeMode::Virtual) return virtualNow;
        const auto real = std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - start);
        return mode == TimeMode::Fast ? real + skipped : real;
    }
};

Clock::Clock(TimeMode mode) : state_(std::make_shared<State>()) {
    state_->mode = mode;
}

TimeMode Clock::mode() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->mode;
}

void Clock::setMode(TimeMode mode) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (mode == state_->mode) return;
        // Time never jumps across a switch.
        const auto steadyNow = std::chrono::steady_clock::now();
        const Duration current = state_->nowLocked();
        state_->mode = mode;
        if (mode == TimeMode::Virtual) {
            state_->virtualNow = current;
        } else if (mode == TimeMode::Real) {
            state_->start =
                steadyNow - std::chrono::duration_cast<std::chrono::steady_clock::duration>(current);
            state_->skipped = Duration{0};
        } else {
            state_->skipped = current - std::chrono::duration_cast<Duration>(steadyNow - state_->start);
        }
    }
    advance(Duration{0});
}

Clock::TimePoint Clock::now() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->nowLocked();
}

void Clock::sleep(std::chrono::milliseconds duration) {
    SleepHook hook;
    TimeMode mode;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        ++state_->sleeps;
        if (duration.count() > 0) state_->slept += duration;
        hook = state_->hook;
        mode = state_->mode;
    }
    if (hook) hook(duration);
    if (duration.count() <= 0) {
        advance(Duration{0});
        return;
    }
    if (mode == TimeMode::Real) {
        std::this_thread::sleep_for(duration);
        advance(Duration{0});
    } else {
        advance(duration);
    }
}

void Clock::advance(Duration duration) {
    std::vector<AdvanceListener> listeners;
    Duration now;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (duration.count() > 0) {
            if (state_->mode == TimeMode::Virtual) {
                state_->virtualNow += duration;
            } else if (state_->mode == TimeMode::Fast) {
                state_->skipped += duration;
            }
        }
        now = state_->nowLocked();
        listeners.reserve(state_->listeners.size());
        for (const auto& entry : state_->listeners) listeners.push_back(entry.second);
    }
    for (const auto& listener : listeners) listener(now);
}

void Clock::waitUntil(TimePoint deadline) {
    TimeMode mode;
    Duration now;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        mode = state_->mode;
        now = state_->nowLocked();
    }
    if (deadline <= now) return;
    if (mode == TimeMode::Real) {
        std::this_thread::sleep_for(deadline - now);
        advance(Duration{0});
        return;
    }
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        // Concurrent waiters share the time that passes rather than adding theirs up.
        const Duration current = state_->nowLocked();
        if (deadline > current) {
            if (state_->mode == TimeMode::Virtual) {
                state_->virtualNow = deadline;
            } else {
                state_->skipped += deadline - current;
            }
        }
    }
    advance(Duration{0});
}

void Clock::setSleepHook(SleepHook hook) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->hook = std::move(hook);
}

std::uint64_t Clock::sleepCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->sleeps;
}

std::chrono::milliseconds Clock::sleptTotal() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->slept;
}

std::uint64_t Clock::addAdvanceListener(AdvanceListener listener) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    const auto token = ++state_->lastToken;
    state_->listeners.emplace(token, std::move(listener));
    return token;
}

void Clock::removeAdvanceListener(std::uint64_t token) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->listeners.erase(token);
}

}  // namespace qb::emulator
