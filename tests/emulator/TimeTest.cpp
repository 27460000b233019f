// Time control: fast and virtual sleeps, the sleep hook, and what a sleeper may rely on afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestSupport.h"
#include "qb7720/protocol/Protocol.h"

namespace qb::emulator {
namespace {

using namespace std::chrono_literals;
using platform::GattWriteOption;

TEST(ClockTest, VirtualTimeMovesOnlyBySleepsAndAdvances) {
    Clock clock(TimeMode::Virtual);
    EXPECT_EQ(clock.now().count(), 0);
    clock.sleep(250ms);
    clock.advance(5ms);
    clock.waitUntil(std::chrono::milliseconds(200));  // already past: no change
    EXPECT_EQ(clock.now(), std::chrono::milliseconds(255));
    clock.waitUntil(std::chrono::milliseconds(300));
    EXPECT_EQ(clock.now(), std::chrono::milliseconds(300));
    EXPECT_EQ(clock.sleepCount(), 1u);
    EXPECT_EQ(clock.sleptTotal(), 250ms);
}

TEST(ClockTest, FastSleepsReturnAtOnceButCountAsTimePassed) {
    Clock clock(TimeMode::Fast);
    const auto before = clock.now();
    const auto realBefore = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) clock.sleep(1000ms);
    EXPECT_GE(clock.now() - before, std::chrono::seconds(10));
    // Ten seconds of sleeps took far less than one real second.
    EXPECT_LT(std::chrono::steady_clock::now() - realBefore, std::chrono::seconds(5));
}

TEST(ClockTest, SwitchingModesNeverMovesTimeBackwards) {
    Clock clock(TimeMode::Virtual);
    clock.sleep(5000ms);
    clock.setMode(TimeMode::Fast);
    EXPECT_GE(clock.now(), std::chrono::milliseconds(5000));
    clock.setMode(TimeMode::Real);
    const auto inReal = clock.now();
    EXPECT_GE(inReal, std::chrono::milliseconds(5000));
    clock.setMode(TimeMode::Virtual);
    EXPECT_GE(clock.now(), inReal);
}

TEST(ClockTest, TheHookSeesEverySleepInTheSleepingThread) {
    auto emulator = Emulator::create(EmulatorOptions{TimeMode::Fast, {RadioConfig{}}, 9, 0x001122334455});
    auto platform = emulator->platform();
    std::vector<std::chrono::milliseconds> durations;
    std::vector<std::thread::id> threads;
    emulator->setSleepHook([&](std::chrono::milliseconds d) {
        durations.push_back(d);
        threads.push_back(std::this_thread::get_id());
    });
    std::thread sleeper([&] {
        platform->sleep(1ms);
        platform->sleep(100ms);
        platform->sleep(1000ms);
    });
    const auto sleeperId = sleeper.get_id();
    sleeper.join();
    EXPECT_EQ(durations, (std::vector<std::chrono::milliseconds>{1ms, 100ms, 1000ms}));
    for (const auto& id : threads) EXPECT_EQ(id, sleeperId);
    EXPECT_EQ(emulator->clock().sleepCount(), 3u);
    EXPECT_EQ(emulator->callCount(Operation::Sleep), 3u);
}

TEST(ClockTest, AReportInjectedAtTheNthSleepIsSeenWhenThatSleepReturns) {
    EmulatorOptions options;
    options.timeMode = TimeMode::Virtual;
    auto emulator = Emulator::create(options);
    BridgeConfig config;
    config.peer = PeerKind::Scripted;
    auto bridge = emulator->addBridge(config);
    auto platform = emulator->platform();
    auto host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    std::atomic<bool> paused{false};
    host.command->addValueChanged([&](platform::GattCharacteristic&, const platform::Bytes& value) {
        const auto report = protocol::decodeStatusReport(value);
        if (report.pause == protocol::PauseChange::Set) paused = true;
        if (report.pause == protocol::PauseChange::Cleared) paused = false;
    });
    host.command->writeClientCharacteristicConfigurationDescriptor(
        platform::GattClientCharacteristicConfigurationDescriptorValue::Notify);
    std::atomic<int> sleeps{0};
    emulator->setSleepHook([&](std::chrono::milliseconds) {
        if (++sleeps == 3) bridge->sendStatusReport(0x04);
        if (sleeps == 6) bridge->sendStatusReport(0x01);
    });
    std::vector<bool> seen;
    for (int i = 0; i < 8; ++i) {
        platform->sleep(1ms);
        seen.push_back(paused);
    }
    EXPECT_EQ(seen, (std::vector<bool>{false, false, true, true, true, false, false, false}));
    EXPECT_EQ(emulator->clock().now(), 8ms);
}

TEST(ClockTest, AVirtualSleepLetsTheBridgeDrainAsIfTimeHadPassed) {
    EmulatorOptions options;
    options.timeMode = TimeMode::Virtual;
    auto emulator = Emulator::create(options);
    BridgeConfig config;
    config.peer = PeerKind::Sink;
    config.line.baud = 9600;
    auto bridge = emulator->addBridge(config);
    auto platform = emulator->platform();
    auto host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    host.transmit->writeValueWithResult(platform::Bytes(200, 0x41), GattWriteOption::WriteWithoutResponse);
    platform->sleep(100ms);
    EXPECT_EQ(bridge->farSideReceived().size(), 96u);
    EXPECT_EQ(bridge->transmitFill(), 104u);
}

TEST(ClockTest, ASleepDoesNotHangOnAHandlerThatWaitsForTheSleeper) {
    EmulatorOptions options;
    options.timeMode = TimeMode::Fast;
    auto emulator = Emulator::create(options);
    BridgeConfig config;
    config.peer = PeerKind::Scripted;
    auto bridge = emulator->addBridge(config);
    auto platform = emulator->platform();
    auto host = test::openHost(*platform, emulator->deviceId(bridge->address()));
    std::mutex libraryLock;
    std::atomic<int> delivered{0};
    host.receive->addValueChanged([&](platform::GattCharacteristic&, const platform::Bytes&) {
        std::lock_guard<std::mutex> lock(libraryLock);
        ++delivered;
    });
    host.receive->writeClientCharacteristicConfigurationDescriptor(
        platform::GattClientCharacteristicConfigurationDescriptorValue::Notify);
    {
        // The sleeper holds the lock the handler needs, as the library does during its waits.
        std::lock_guard<std::mutex> lock(libraryLock);
        bridge->injectSerial(platform::Bytes{1});
        for (int i = 0; i < 3000; ++i) platform->sleep(1ms);
    }
    ASSERT_TRUE(test::eventually([&] { return delivered == 1; }));
}

}  // namespace
}  // namespace qb::emulator
