// Where one subscription's notified values go. The platform handler holds it by shared pointer, so a
// value raised while the subscription is being removed never reaches freed memory; retire() stops new
// deliveries and waitIdle() lets the remover wait until the caller's callback is no longer running.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "QB7720DLL.h"

namespace qb::dll {

class NotifyTarget {
  public:
    NotifyTarget(ReadNotifyCallback fn, void* ctx) : callback_(fn), context_(ctx) {}

    ReadNotifyCallback callback() const { return callback_; }
    void* context() const { return context_; }

    // Calls the callback unless the target was retired. Any length is passed through whole.
    void deliver(const std::uint8_t* data, std::size_t length);

    // No delivery starts after this returns.
    void retire();
    // Returns once no other thread is inside the callback. A thread that is itself inside the
    // callback (one that unregisters or closes from there) is not waited for.
    void waitIdle();

  private:
    const ReadNotifyCallback callback_;
    void* const context_;
    std::mutex mutex_;
    std::condition_variable idle_;
    bool retired_ = false;
    std::vector<std::thread::id> delivering_;
};

// Targets retired under the library lock, waited for once the lock is given back.
class RetiredTargets {
  public:
    void add(std::shared_ptr<NotifyTarget> target) { targets_.push_back(std::move(target)); }
    // Waits only when the calling thread holds no library lock and runs no callback of its own:
    // a running callback may be blocked on either, and waiting for it then would never end.
    void waitIdle();

  private:
    std::vector<std::shared_ptr<NotifyTarget>> targets_;
};

}  // namespace qb::dll
