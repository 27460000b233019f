#include "Dispatcher.h"

#include <set>
#include <vector>

namespace qb::emulator::detail {

struct Dispatcher::Strand {
    std::deque<Task> queue;
    std::thread thread;
};

struct Dispatcher::Shared {
    std::mutex mutex;
    std::condition_variable work;  // strands wait here for tasks
    std::condition_variable done;  // waiters of idleness wait here
    std::map<std::uint64_t, std::shared_ptr<Strand>> strands;
    std::set<std::thread::id> threadIds;
    std::uint64_t posted = 0;
    std::uint64_t completed = 0;
    std::uint64_t stalledAt = ~0ull;
    bool stopping = false;
};

namespace {

void runStrand(const std::shared_ptr<Dispatcher::Shared>& shared,
               const std::shared_ptr<Dispatcher::Strand>& strand);

}  // namespace

Dispatcher::Dispatcher() : shared_(std::make_shared<Shared>()) {}

Dispatcher::~Dispatcher() {
    shutdown();
}

namespace {

void runStrand(const std::shared_ptr<Dispatcher::Shared>& shared,
               const std::shared_ptr<Dispatcher::Strand>& strand) {
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
        shared->work.wait(lock, [&] { return shared->stopping || !strand->queue.empty(); });
        if (shared->stopping) return;
        Dispatcher::Task task = std::move(strand->queue.front());
        strand->queue.pop_front();
        lock.unlock();
        task();
        // Whatever the task held goes before it counts as done.
        task = nullptr;
        lock.lock();
        ++shared->completed;
        shared->done.notify_all();
    }
}

}  // namespace

void Dispatcher::post(std::uint64_t key, Task task) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->stopping) return;
    auto& strand = shared_->strands[key];
    if (!strand) {
        strand = std::make_shared<Strand>();
        auto shared = shared_;
        auto self = strand;
        strand->thread = std::thread([shared, self] { runStrand(shared, self); });
        shared_->threadIds.insert(strand->thread.get_id());
    }
    strand->queue.push_back(std::move(task));
    ++shared_->posted;
    shared_->work.notify_all();
}

std::uint64_t Dispatcher::posted() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->posted;
}

bool Dispatcher::onDispatcherThread() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->threadIds.count(std::this_thread::get_id()) != 0;
}

void Dispatcher::waitIdle() {
    if (onDispatcherThread()) return;
    std::unique_lock<std::mutex> lock(shared_->mutex);
    const auto target = shared_->posted;
    shared_->done.wait(lock, [&] { return shared_->stopping || shared_->completed >= target; });
}

void Dispatcher::waitIdleUnlessStalled(std::chrono::milliseconds stall) {
    if (onDispatcherThread()) return;
    std::unique_lock<std::mutex> lock(shared_->mutex);
    const auto target = shared_->posted;
    if (shared_->completed == shared_->stalledAt) return;
    while (!shared_->stopping && shared_->completed < target) {
        const auto before = shared_->completed;
        shared_->done.wait_for(lock, stall,
                               [&] { return shared_->stopping || shared_->completed != before; });
        if (shared_->completed == before) {
            shared_->stalledAt = before;
            return;
        }
    }
}

void Dispatcher::shutdown() {
    std::map<std::uint64_t, std::shared_ptr<Strand>> strands;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->stopping = true;
        strands.swap(shared_->strands);
    }
    shared_->work.notify_all();
    shared_->done.notify_all();
    for (auto& entry : strands) {
        auto& thread = entry.second->thread;
        if (!thread.joinable()) continue;
        // The last owner of the emulator may let go inside a handler.
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else {
            thread.join();
        }
    }
    // Queued tasks may own platform objects; they go after the threads, outside the lock.
    for (auto& entry : strands) {
        std::deque<Task> dropped;
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            dropped.swap(entry.second->queue);
        }
    }
}

}  // namespace qb::emulator::detail
