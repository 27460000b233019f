// The pause state a bridge's status reports set, and the bounded wait that serial data makes on it.
#include <gtest/gtest.h>

#include <vector>

#include "PauseGate.h"

using qb::devicelib::PauseGate;
using namespace std::chrono_literals;

namespace {

void feed(PauseGate& gate, std::vector<std::uint8_t> value) {
    gate.onCommandValue(value.data(), value.size());
}

}  // namespace

TEST(PauseGate, OnlySevenByteStatusReportsMoveIt) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> value;
        bool pausedAfter;  // starting from paused
    };
    const std::vector<Case> cases = {
        {"resume", {0x88, 0, 0, 0, 0x01, 0x30, 0}, false},
        {"pause and resume: pause wins", {0x88, 0, 0, 0, 0x05, 0x30, 0}, true},
        {"neither flag", {0x88, 0, 0, 0, 0x00, 0x30, 0}, true},
        {"six bytes", {0x88, 0, 0, 0, 0x01, 0x30}, true},
        {"eight bytes", {0x88, 0, 0, 0, 0x01, 0x30, 0, 0}, true},
        {"another code", {0x87, 0, 0, 0, 0x01, 0x30, 0}, true},
        {"empty", {}, true},
    };
    for (const auto& c : cases) {
        PauseGate gate;
        feed(gate, {0x88, 0, 0, 0, 0x04, 0x30, 0});
        ASSERT_TRUE(gate.paused());
        feed(gate, c.value);
        EXPECT_EQ(gate.paused(), c.pausedAfter) << c.what;
    }
}

TEST(PauseGate, TheWaitEndsWithTheResumeTheBudgetOrTheLink) {
    PauseGate gate;
    int sleeps = 0;
    auto count = [&](std::chrono::milliseconds) { ++sleeps; };
    auto never = [] { return false; };
    EXPECT_TRUE(gate.waitForResume(count, 10ms, never));
    EXPECT_EQ(sleeps, 0) << "an open gate costs no sleep";

    feed(gate, {0x88, 0, 0, 0, 0x04, 0x30, 0});
    EXPECT_FALSE(gate.waitForResume(count, 10ms, never));
    EXPECT_EQ(sleeps, 10) << "the budget is spent in 1 ms sleeps, and no further";

    sleeps = 0;
    auto resumeOnThird = [&](std::chrono::milliseconds) {
        if (++sleeps == 3) feed(gate, {0x88, 0, 0, 0, 0x01, 0x30, 0});
    };
    EXPECT_TRUE(gate.waitForResume(resumeOnThird, 10ms, never));
    EXPECT_EQ(sleeps, 3);

    feed(gate, {0x88, 0, 0, 0, 0x04, 0x30, 0});
    sleeps = 0;
    EXPECT_FALSE(gate.waitForResume(count, 10s, [&] { return sleeps == 2; })) << "a lost link ends it";
    EXPECT_EQ(sleeps, 2);
    gate.clear();
    EXPECT_FALSE(gate.paused());
}

TEST(PauseGate, SlowLinesGetTheTimeTheirBufferTakesToDrain) {
    EXPECT_EQ(PauseGate::budgetFor(115200), 5s);
    EXPECT_EQ(PauseGate::budgetFor(0), 5s);
    // 4096 characters of 10 bits at 1200 baud take 34 s; twice that is allowed.
    EXPECT_EQ(PauseGate::budgetFor(1200), 68266ms);
}
