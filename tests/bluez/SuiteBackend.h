// Lets a suite written against the in-process emulator run over a private bus and the emulator
// daemon instead: QB7720_TEST_BACKEND=bluez picks the bus, anything else (or nothing) the emulator.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BusHarness.h"
#include "qb7720/platform/Platform.h"
#include "qb7720/platform/PlatformError.h"

namespace qb::test {

// True when QB7720_TEST_BACKEND asks for the bus.
bool onBus();

// The bus, the daemon serving `config`, and the BlueZ backend over them.
class BusBackend {
  public:
    // Scans until every address in `heard` has advertised, so that their device objects exist
    // (a BlueZ device is only known once discovery has seen it). Throws std::runtime_error.
    BusBackend(const std::string& config, const std::vector<std::uint64_t>& heard);
    ~BusBackend();

    const std::shared_ptr<platform::Platform>& platform() const { return platform_; }
    // Scans until every address has advertised. Throws std::runtime_error.
    void hear(const std::vector<std::uint64_t>& addresses);
    bluez::test::BusHarness& harness() { return *harness_; }

    // Writes the daemon's model of this device has received (any characteristic), once no more
    // are arriving.
    std::uint32_t writeCount(const std::string& address);
    // The next `count` calls of one kind to this device ("connect", "write", "read", "notify") fail on
    // the daemon's side with the BlueZ error that the backend turns into `code`.
    void fail(const std::string& address, const std::string& call, platform::HResult code, std::uint32_t count = 1);
    // Returns once the daemon has answered a call made after everything asked so far, and the
    // backend has had a moment to dispatch what the daemon sent before that answer.
    void settle(const std::string& address);

  private:
    void start(const std::string& config, const std::vector<std::uint64_t>& heard);
    std::uint32_t countWrites(const std::string& address);

    std::unique_ptr<bluez::test::BusHarness> harness_;
    std::shared_ptr<platform::Platform> platform_;
};

}  // namespace qb::test

// Ends a test that needs what only the in-process emulator offers, saying what that is.
#define QB_IN_PROCESS_ONLY(why) \
    if (::qb::test::onBus()) GTEST_SKIP() << "needs the in-process emulator: " << why
