// The emulator's event threads: one strand (thread and queue) per key, so events of one device or one
// watcher keep their order while different sources run side by side, as on a real platform.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace qb::emulator::detail {

class Dispatcher {
  public:
    using Task = std::function<void()>;

    static constexpr std::uint64_t kDeviceWatcherStrand = 1ull << 60;
    static constexpr std::uint64_t kAdvertisementStrand = 2ull << 60;

    Dispatcher();
    ~Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    // Runs the task on the strand's thread, after everything posted to that strand before.
    void post(std::uint64_t strand, Task task);

    // Tasks posted so far.
    std::uint64_t posted() const;

    // True on one of this dispatcher's threads.
    bool onDispatcherThread() const;

    // Waits until every task posted so far has run.
    void waitIdle();
    // Same, but gives up when no task finishes for `stall` (a handler blocked on something the
    // waiter holds), and does not wait again while the same task is still stuck.
    void waitIdleUnlessStalled(std::chrono::milliseconds stall);

    // Stops the threads; queued tasks are dropped. Safe from a task.
    void shutdown();

    struct Shared;
    struct Strand;

  private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace qb::emulator::detail
