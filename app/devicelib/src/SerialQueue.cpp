#include "SerialQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace qb::devicelib {

struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Task> tasks;
    bool stopping = false;
    std::thread::id threadId;
};

namespace {

void runLoop(const std::shared_ptr<SerialQueue::State>& state);

}  // namespace

SerialQueue::SerialQueue() : state_(std::make_shared<State>()) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    // The thread keeps its own reference: after a shutdown from inside a task it outlives this object.
    thread_ = std::thread([state = state_] { runLoop(state); });
    state_->threadId = thread_.get_id();
}

SerialQueue::~SerialQueue() {
    shutdown();
}

bool SerialQueue::post(Task task) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->stopping) return false;
        state_->tasks.push_back(std::move(task));
    }
    state_->wake.notify_one();
    return true;
}

void SerialQueue::shutdown() {
    std::deque<Task> dropped;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stopping = true;
        dropped.swap(state_->tasks);
    }
    state_->wake.notify_one();
    dropped.clear();  // outside the lock: a task's captures may take locks of their own when freed
    if (!thread_.joinable()) return;
    if (onQueueThread()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

bool SerialQueue::onQueueThread() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->threadId == std::this_thread::get_id();
}

namespace {

void runLoop(const std::shared_ptr<SerialQueue::State>& state) {
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
        if (state->stopping) return;
        SerialQueue::Task task = std::move(state->tasks.front());
        state->tasks.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A failing task must not take the connection's other callbacks down with it.
        }
        task = nullptr;
        lock.lock();
    }
}

}  // namespace

}  // namespace qb::devicelib
