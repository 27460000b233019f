#include "SuiteBackend.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "ErrorMap.h"
#include "qb7720/platform/Backends.h"

namespace qb::test {

namespace {
// The daemon names devices in lower case.
std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}
}  // namespace

bool onBus() {
    const char* value = std::getenv("QB7720_TEST_BACKEND");
    return value != nullptr && (std::string(value) == "bluez" || std::string(value) == "realstack");
}

BusBackend::BusBackend(const std::string& config, const std::vector<std::uint64_t>& heard) {
    // A set-up that fails is tried once more with a fresh bus and daemon, and said so: an
    // occasional object tree that cannot be read while it is being built is not what the suites test.
    for (int attempt = 0;; ++attempt) {
        try {
            start(config, heard);
            return;
        } catch (const std::exception& e) {
            platform_.reset();
            harness_.reset();
            if (attempt > 0) throw;
            std::fprintf(stderr, "bus set-up failed, trying once more: %s\n", e.what());
        }
    }
}

void BusBackend::start(const std::string& config, const std::vector<std::uint64_t>& heard) {
    harness_ = std::make_unique<bluez::test::BusHarness>(config);
    platform_ = bluez::createPlatform();
    hear(heard);
}

void BusBackend::hear(const std::vector<std::uint64_t>& heard) {
    if (heard.empty()) return;
    auto watcher = platform_->createBluetoothLEAdvertisementWatcher();
    std::mutex mutex;
    std::set<std::uint64_t> missing(heard.begin(), heard.end());
    watcher->addReceived([&](auto&, const platform::BluetoothLEAdvertisementReceivedEventArgs& a) {
        std::lock_guard<std::mutex> lock(mutex);
        missing.erase(a.bluetoothAddress);
    });
    watcher->start();
    const bool all = bluez::test::waitFor([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return missing.empty();
    });
    watcher->stop();
    if (!all) throw std::runtime_error("the daemon's devices were not heard");
    // The backend reads a property's value in place, so a value read on the test's thread while its
    // dispatcher still applies the end of discovery can fail now and then; let that end arrive first.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    for (const auto address : heard) {
        if (!platform_->bluetoothLEDeviceFromBluetoothAddress(address)) {
            throw std::runtime_error("a heard device has no object");
        }
    }
}

BusBackend::~BusBackend() {
    platform_.reset();
    harness_.reset();
}

std::uint32_t BusBackend::writeCount(const std::string& address) {
    // Writes without response travel through a socket and reach the daemon after the call that
    // made them returned: wait until the count holds still.
    auto last = countWrites(address);
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now = countWrites(address);
        if (now == last) return now;
        last = now;
    }
    return last;
}

std::uint32_t BusBackend::countWrites(const std::string& address) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(harness_->address());
    auto proxy = sdbus::createProxy(*connection, "org.bluez", "/org/qb7720/emulator");
    std::uint32_t count = 0;
    proxy->callMethod("WriteCount")
        .onInterface("org.qb7720.EmulatorControl1")
        .withArguments(lowerCase(address))
        .storeResultsTo(count);
    return count;
}

void BusBackend::fail(const std::string& address, const std::string& call, platform::HResult code,
                      std::uint32_t count) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(harness_->address());
    auto proxy = sdbus::createProxy(*connection, "org.bluez", "/org/qb7720/emulator");
    const auto error = bluez::bluezErrorFor(code);
    proxy->callMethod("FailWith")
        .onInterface("org.qb7720.EmulatorControl1")
        .withArguments(lowerCase(address), call, count, error.name, error.message);
}

void BusBackend::settle(const std::string& address) {
    countWrites(address);
    // The backend dispatches on its own thread; a short pause lets it catch up with what the bus
    // already delivered. Used only to give an event that must not come a chance to come.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace qb::test
