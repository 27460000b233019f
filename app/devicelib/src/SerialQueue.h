// One library thread that runs posted tasks one at a time, in the order they were posted: what keeps a
// connection's callbacks in order and off the caller's thread.
#pragma once

#include <functional>
#include <memory>
#include <thread>

namespace qb::devicelib {

class SerialQueue {
  public:
    using Task = std::function<void()>;

    SerialQueue();
    ~SerialQueue();  // shutdown()
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // False once shut down: the task is dropped.
    bool post(Task task);

    // Drops the tasks not yet started and waits for the running one, unless called from a task of this
    // queue (then the thread finishes that task and ends by itself). Nothing runs after it returns,
    // apart from the rest of the calling task.
    void shutdown();

    bool onQueueThread() const;

    struct State;

  private:
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace qb::devicelib
