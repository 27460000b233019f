// The library thread behind each connection's callbacks.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "SerialQueue.h"

using qb::devicelib::SerialQueue;

TEST(SerialQueue, RunsTasksInOrderOnItsOwnThread) {
    SerialQueue queue;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::promise<void> done;
    for (int i = 0; i < 100; ++i) {
        queue.post([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
            if (i == 99) done.set_value();
        });
    }
    done.get_future().wait();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
    for (auto id : threads) {
        EXPECT_NE(id, std::this_thread::get_id());
        EXPECT_EQ(id, threads.front());
    }
}

TEST(SerialQueue, ShutdownWaitsForTheRunningTaskAndDropsTheRest) {
    SerialQueue queue;
    std::mutex m;
    std::condition_variable cv;
    bool started = false, release = false, finished = false;
    std::atomic<int> laterRuns{0};
    queue.post([&] {
        std::unique_lock<std::mutex> lock(m);
        started = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        finished = true;
    });
    for (int i = 0; i < 10; ++i) queue.post([&] { ++laterRuns; });
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return started; });
    }
    std::thread releaser([&] {
        // Only once shutdown has begun (posting fails) may the running task end.
        while (queue.post([] {})) std::this_thread::yield();
        std::lock_guard<std::mutex> lock(m);
        release = true;
        cv.notify_all();
    });
    queue.shutdown();
    releaser.join();
    {
        std::lock_guard<std::mutex> lock(m);
        EXPECT_TRUE(finished);
    }
    EXPECT_EQ(laterRuns.load(), 0);
    EXPECT_FALSE(queue.post([&] { ++laterRuns; }));
    EXPECT_EQ(laterRuns.load(), 0);
}

TEST(SerialQueue, ShutdownFromInsideATaskDoesNotWaitForItself) {
    auto queue = std::make_unique<SerialQueue>();
    std::promise<bool> insideAfterShutdown;
    auto* raw = queue.get();
    queue->post([&, raw] {
        raw->shutdown();
        insideAfterShutdown.set_value(raw->onQueueThread());
    });
    EXPECT_TRUE(insideAfterShutdown.get_future().get());
    queue.reset();  // the thread was let go; destroying the queue must not wait for it either
}
