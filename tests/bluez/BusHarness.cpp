#include "BusHarness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>
#include <cstdlib>
#include <stdexcept>

namespace qb::bluez::test {

void ChildProcess::start(const std::vector<std::string>& argv, int* stdoutPipe) {
    int fds[2] = {-1, -1};
    if (stdoutPipe != nullptr && ::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        if (stdoutPipe != nullptr) ::dup2(fds[1], 1);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (stdoutPipe != nullptr) {
        ::close(fds[1]);
        *stdoutPipe = fds[0];
    }
}

int ChildProcess::stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

namespace {

std::string readLine(int fd, std::chrono::milliseconds limit) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (line.empty() || line.back() != '\n') {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("dbus-daemon did not print its address");
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char c = 0;
        if (::read(fd, &c, 1) != 1) throw std::runtime_error("dbus-daemon ended early");
        line.push_back(c);
    }
    line.pop_back();
    return line;
}

bool nameHasOwner(sdbus::IConnection& connection, const std::string& name) {
    auto proxy = sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bool owned = false;
    proxy->callMethod("NameHasOwner")
        .onInterface("org.freedesktop.DBus")
        .withArguments(name)
        .storeResultsTo(owned);
    return owned;
}

}  // namespace

BusHarness::BusHarness(const std::string& config, bool verbose, SignalOrder order) {
    int out = -1;
    bus_.start({QB_DBUS_DAEMON, "--config-file=" QB_TEST_BUS_CONFIG, "--nofork", "--print-address=1"}, &out);
    try {
        address_ = readLine(out, std::chrono::seconds(10));
    } catch (...) {
        ::close(out);
        throw;
    }
    ::close(out);
    if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
    std::vector<std::string> argv{QB_EMULATOR_DAEMON, "--control", "--bus", address_};
    if (verbose) argv.emplace_back("-v");
    if (order == SignalOrder::SignalsFirst) argv.emplace_back("--signals-first");
    if (order == SignalOrder::ReplyFirstSlowly) {
        argv.emplace_back("--signal-gap");
        argv.emplace_back("50");
    }
    argv.push_back(config);
    daemon_.start(argv);
    auto probe = sdbus::createSessionBusConnectionWithAddress(address_);
    if (!waitFor([&] { return nameHasOwner(*probe, "org.bluez"); })) {
        throw std::runtime_error("qb7720-emulator did not take org.bluez");
    }
}

BusHarness::~BusHarness() {
    daemon_.stop();
    bus_.stop();
    if (hadPrevious_) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", previous_.c_str(), 1);
    } else {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

void BusHarness::stopDaemon() {
    daemon_.stop();
}

void BusHarness::dropLink(const std::string& address) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(address_);
    auto proxy = sdbus::createProxy(*connection, "org.bluez", "/org/qb7720/emulator");
    proxy->callMethod("DropLink").onInterface("org.qb7720.EmulatorControl1").withArguments(address);
}

void BusHarness::setInRange(const std::string& address, bool inRange) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(address_);
    auto proxy = sdbus::createProxy(*connection, "org.bluez", "/org/qb7720/emulator");
    proxy->callMethod("SetInRange")
        .onInterface("org.qb7720.EmulatorControl1")
        .withArguments(address, inRange);
}

}  // namespace qb::bluez::test

namespace qb::bluez::test {

bool BusHarness::notify(const std::string& address, std::uint16_t valueHandle,
                        const std::vector<std::uint8_t>& value) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(address_);
    auto proxy = sdbus::createProxy(*connection, "org.bluez", "/org/qb7720/emulator");
    bool sent = false;
    proxy->callMethod("Notify")
        .onInterface("org.qb7720.EmulatorControl1")
        .withArguments(address, valueHandle, value)
        .storeResultsTo(sent);
    return sent;
}

}  // namespace qb::bluez::test

namespace qb::bluez::test {

bool BusHarness::connected(const std::string& address) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(address_);
    auto proxy = sdbus::createProxy(*connection, "org.bluez", "/org/qb7720/emulator");
    bool up = false;
    proxy->callMethod("Connected").onInterface("org.qb7720.EmulatorControl1").withArguments(address).storeResultsTo(up);
    return up;
}

void BusHarness::fail(const std::string& address, const std::string& call, std::uint32_t count) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(address_);
    auto proxy = sdbus::createProxy(*connection, "org.bluez", "/org/qb7720/emulator");
    proxy->callMethod("Fail").onInterface("org.qb7720.EmulatorControl1").withArguments(address, call, count);
}

}  // namespace qb::bluez::test
