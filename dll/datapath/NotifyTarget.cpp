#include "datapath/NotifyTarget.h"

#include <algorithm>

#include "exports/CallbackThread.h"
#include "exports/LibraryLock.h"

namespace qb::dll {

void NotifyTarget::deliver(const std::uint8_t* data, std::size_t length) {
    const auto self = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (retired_ || callback_ == nullptr) return;
        delivering_.push_back(self);
    }
    // Undone however the callback leaves, so waitIdle() never waits for a call that has ended.
    struct Delivering {
        NotifyTarget& target;
        std::thread::id self;
        CallbackScope scope;
        Delivering(NotifyTarget& t, std::thread::id id) : target(t), self(id) {}
        ~Delivering() {
            {
                std::lock_guard<std::mutex> lock(target.mutex_);
                target.delivering_.erase(
                    std::find(target.delivering_.begin(), target.delivering_.end(), self));
            }
            target.idle_.notify_all();
        }
    } delivering(*this, self);
    // A value longer than 32 bits can count is cut; no ATT value comes near that.
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(length, UINT32_MAX));
    static const std::uint8_t kNoBytes = 0;
    callback_(context_, count != 0 ? data : &kNoBytes, count);
}

void NotifyTarget::retire() {
    std::lock_guard<std::mutex> lock(mutex_);
    retired_ = true;
}

void NotifyTarget::waitIdle() {
    const auto self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [&] {
        return std::all_of(delivering_.begin(), delivering_.end(),
                           [&](std::thread::id id) { return id == self; });
    });
}

void RetiredTargets::waitIdle() {
    // Inside a callback, waiting for another one could wait for a thread that waits for us.
    if (LibraryLockGuard::heldByThisThread() || CallbackScope::active()) return;
    for (const auto& target : targets_) target->waitIdle();
    targets_.clear();
}

}  // namespace qb::dll
