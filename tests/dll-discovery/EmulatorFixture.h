// An emulator installed as the platform for the length of one test, and recorders for the C
// callbacks of the library (plain functions, so they report into process-wide recorders).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "QB7720DLL.h"
#include "qb7720/emulator/Emulator.h"

namespace qb::test {

struct RssiReport {
    std::array<std::uint8_t, 6> address{};
    std::int32_t rssi = 0;
    std::int32_t tagByte = 0;
    friend bool operator==(const RssiReport& a, const RssiReport& b) {
        return a.address == b.address && a.rssi == b.rssi && a.tagByte == b.tagByte;
    }
};

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

class EmulatorTest : public ::testing::Test {
  protected:
    // Virtual time: only the library's sleeps and the test's advances move the clock, so what
    // the devices send during a scan is exactly what the test lets happen.
    void SetUp() override {
        emulator::EmulatorOptions options;
        options.timeMode = emulator::TimeMode::Virtual;
        install(options);
    }
    void TearDown() override;

    void install(emulator::EmulatorOptions options);

    std::shared_ptr<emulator::Emulator> emu;
};

}  // namespace qb::test
