// A private dbus-daemon and a qb7720-emulator on it, for one test. Clients in this process reach
// them through DBUS_SYSTEM_BUS_ADDRESS, so the backend runs its production code path.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qb::bluez::test {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] with these arguments; the child dies with us. With stdoutPipe, returns the read
    // end of a pipe on the child's standard output.
    void start(const std::vector<std::string>& argv, int* stdoutPipe = nullptr);
    // SIGTERM, then SIGKILL if it lingers; returns the exit status (or -1 when not running).
    int stop();
    bool running() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
};

// Which comes first from the daemon: a call's reply (as from a real bluetoothd) or the property
// signals of the change the call made.
// ReplyFirstSlowly: the signals follow their reply 50 ms later, so that a client's next call
// overtakes the signals of its last one.
enum class SignalOrder { ReplyFirst, SignalsFirst, ReplyFirstSlowly };

class BusHarness {
  public:
    // Starts the bus and the daemon with this configuration text; throws std::runtime_error.
    explicit BusHarness(const std::string& config, bool verbose = false,
                        SignalOrder order = SignalOrder::ReplyFirst);
    ~BusHarness();

    const std::string& address() const { return address_; }
    // Calls the daemon's control object (drop a link, move a device out of range).
    void dropLink(const std::string& address);
    void setInRange(const std::string& address, bool inRange);
    // Makes the device send a notification; false when it did not go out (not enabled, no link).
    bool notify(const std::string& address, std::uint16_t valueHandle,
                const std::vector<std::uint8_t>& value);
    // Whether the daemon holds a link to the device.
    bool connected(const std::string& address);
    // The next `count` calls of this kind ("connect", "discover", ...) to the device fail.
    void fail(const std::string& address, const std::string& call, std::uint32_t count = 1);
    // Stops the emulator daemon only (the bus stays).
    void stopDaemon();

  private:
    ChildProcess bus_;
    ChildProcess daemon_;
    std::string address_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Waits until pred holds or the limit passes; true when it held.
template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace qb::bluez::test

#include <thread>

namespace qb::bluez::test {
template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
}  // namespace qb::bluez::test
