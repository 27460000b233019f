#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "qb7720/platform/Event.h"

using qb::platform::EventSource;
using qb::platform::EventToken;

TEST(EventSource, TokensAreDistinctAndRemoveStopsDelivery) {
    EventSource<int> source;
    std::vector<int> seenA, seenB;
    EventToken a = source.add([&](int v) { seenA.push_back(v); });
    EventToken b = source.add([&](int v) { seenB.push_back(v); });
    EXPECT_NE(a, b);
    source.invoke(1);
    source.remove(a);
    source.remove(a);      // twice: no effect
    source.remove(12345);  // unknown: no effect
    source.invoke(2);
    EXPECT_EQ(seenA, (std::vector<int>{1}));
    EXPECT_EQ(seenB, (std::vector<int>{1, 2}));
}

TEST(EventSource, AHandlerMayRemoveItselfWhileBeingCalled) {
    EventSource<> source;
    int calls = 0;
    EventToken token = 0;
    token = source.add([&] {
        ++calls;
        source.remove(token);
    });
    source.invoke();
    source.invoke();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(source.empty());
}

TEST(EventSource, ConcurrentAddRemoveAndInvokeAreSafe) {
    EventSource<int> source;
    std::atomic<int> total{0};
    std::atomic<bool> stop{false};
    std::thread invoker([&] {
        while (!stop) source.invoke(1);
    });
    for (int i = 0; i < 2000; ++i) {
        EventToken t = source.add([&](int v) { total += v; });
        source.remove(t);
    }
    stop = true;
    invoker.join();
    EXPECT_TRUE(source.empty());
}
