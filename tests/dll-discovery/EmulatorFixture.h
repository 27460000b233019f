// Emulated bridges installed as the platform for the length of one test (TestRadio: the emulator in
// this process, or with QB7720_TEST_BACKEND=bluez the emulator daemon behind a private bus), and
// recorders for the C callbacks of the library (plain functions, so they report into process-wide
// recorders).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QB7720DLL.h"
#include "TestRadio.h"
#include "qb7720/emulator/Emulator.h"
#if defined(QB_TEST_HAVE_BUS)
#include "SuiteBackend.h"
#else
#define QB_IN_PROCESS_ONLY(why) static_cast<void>(0)
#endif

namespace qb::test {

struct RssiReport {
    std::array<std::uint8_t, 6> address{};
    std::int32_t rssi = 0;
    std::int32_t tagByte = 0;
    friend bool operator==(const RssiReport& a, const RssiReport& b) {
        return a.address == b.address && a.rssi == b.rssi && a.tagByte == b.tagByte;
    }
};

// The bytes the library reports an address in, most significant first.
std::array<std::uint8_t, 6> addressBytes(std::uint64_t address);

class RssiRecorder {
  public:
    void record(const std::uint8_t* address, std::int32_t rssi, std::int32_t tagByte) {
        RssiReport r;
        for (std::size_t i = 0; i < r.address.size(); ++i) r.address[i] = address[i];
        r.rssi = rssi;
        r.tagByte = tagByte;
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(r);
    }
    std::vector<RssiReport> reports() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    // Those of one device, in order.
    std::vector<RssiReport> reportsFrom(std::uint64_t address) const;
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<RssiReport> reports_;
};

// Two recorders, so a test can tell which callback was called.
RssiRecorder& recorderA();
RssiRecorder& recorderB();
void QB7720_CALL recordA(const std::uint8_t* address, std::int32_t rssi, std::int32_t tagByte);
void QB7720_CALL recordB(const std::uint8_t* address, std::int32_t rssi, std::int32_t tagByte);

// Waits until the condition holds or a generous limit passes; false then.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// emu is null on the bus; tests that need it skip there.
class EmulatorTest : public ::testing::Test {
  protected:
    EmulatorTest();
    ~EmulatorTest() override;

    // Virtual time in process: only the library's sleeps and the test's advances move the clock, so
    // what the devices send during a scan is exactly what the test lets happen. The daemon runs in
    // real time.
    void SetUp() override {
        emulator::EmulatorOptions options;
        options.timeMode = emulator::TimeMode::Virtual;
        install(options);
    }
    void TearDown() override;

    void install(emulator::EmulatorOptions options);

    std::shared_ptr<TestBridge> addBridge(emulator::BridgeConfig config);
    void removeDevice(const TestBridge& bridge);
    void rename(const TestBridge& bridge, const std::string& name);
    // The identifier the platform's device watcher gives this device.
    std::string deviceId(std::uint64_t address);

    // Whether the host scans: the emulated world, or the adapter's Discovering on the bus.
    bool scanning();
    // On the bus: returns once a watcher of the test's own (which keeps discovery on while it
    // listens) has heard each of these devices `times` times from now on. The bus hands every
    // report to all watchers in turn, so by the second one the first has reached the library's.
    void hear(const std::vector<std::uint64_t>& addresses, int times = 2);
    // The signal strength each device was last heard at by hear().
    std::map<std::uint64_t, std::int16_t> lastHeard;
    // One advertising interval passes, and what it brings has reached every watcher; on the bus
    // every bridge still there is heard again.
    void advertiseRound();

    std::unique_ptr<TestRadio> radio;
    std::shared_ptr<emulator::Emulator> emu;

  private:
    std::vector<std::shared_ptr<TestBridge>> bridges_;
};

}  // namespace qb::test
