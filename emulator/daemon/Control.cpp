// /org/qb7720/emulator: what tests do to the in-process emulator's world, offered over the bus.
#include <sdbus-c++/sdbus-c++.h>

#include <optional>

#include "ControlObject.h"
#include "Daemon.h"

namespace qb::emud {
namespace {

std::shared_ptr<emulator::VirtualDevice> findDevice(emulator::World& world, const std::string& text) {
    for (const auto& d : world.devices()) {
        if (emulator::World::addressText(d->address()) == text) return d;
    }
    fail("org.qb7720.Error.UnknownDevice", "no device " + text);
}

}  // namespace

bool Daemon::faultPending(Fault fault, std::uint64_t address) const {
    const auto it = faults_.find({fault, address});
    return it != faults_.end() && !it->second.empty();
}

void Daemon::failIfDue(Fault fault, std::uint64_t address) {
    const auto it = faults_.find({fault, address});
    if (it == faults_.end() || it->second.empty()) return;
    const FaultError error = it->second.front();
    it->second.pop_front();
    if (it->second.empty()) faults_.erase(it);
    log("failing a call as the control object asked: %s: %s", error.name.c_str(), error.message.c_str());
    fail(error.name, error.message);
}

bool Daemon::takeFault(Fault fault, std::uint64_t address) {
    const auto it = faults_.find({fault, address});
    if (it == faults_.end() || it->second.empty()) return false;
    it->second.pop_front();
    if (it->second.empty()) faults_.erase(it);
    return true;
}

namespace {

struct FaultCall {
    const char* name;
    Daemon::Fault fault;
    Daemon::FaultError byDefault;  // what the real daemon answers in the common case
};

const FaultCall kFaultCalls[] = {
    {"write", Daemon::Fault::Write, {"org.bluez.Error.NotPermitted", "Write not permitted"}},
    {"connect", Daemon::Fault::Connect, {"org.bluez.Error.Failed", "le-connection-abort-by-local"}},
    {"read", Daemon::Fault::Read, {"org.bluez.Error.NotPermitted", "Read not permitted"}},
    {"notify", Daemon::Fault::Notify, {"org.bluez.Error.Failed", "Operation failed"}},
    {"discover", Daemon::Fault::Discover, {}},
};

const FaultCall& faultCall(const std::string& name) {
    for (const auto& call : kFaultCalls) {
        if (name == call.name) return call;
    }
    fail("org.bluez.Error.InvalidArguments", "calls that can fail: write, connect, read, notify, discover");
}

// The daemon's world behind the control object; everything runs on the daemon's thread already.
class DaemonControl : public ControlHost {
  public:
    explicit DaemonControl(Daemon& daemon) : daemon_(daemon) {}

    void run(const std::function<void()>& job) override { job(); }
    void log(const std::string& line) override { daemon_.log("%s", line.c_str()); }
    std::string addBridge(const emulator::BridgeConfig& config) override {
        return emulator::World::addressText(daemon_.world().addBridge(config)->address());
    }
    void removeDevice(const std::string& address) override {
        daemon_.world().removeDevice(device(address)->address());
    }
    std::shared_ptr<emulator::VirtualDevice> device(const std::string& address) override {
        return findDevice(daemon_.world(), address);
    }
    void dropLink(const std::string& address) override { device(address)->dropLink(); }
    void setInRange(const std::string& address, bool inRange) override { device(address)->setInRange(inRange); }
    void addFaults(const std::string& address, const std::string& call, std::uint32_t count,
                   const std::optional<Error>& error) override {
        const FaultCall& c = faultCall(call);
        const Daemon::FaultError given = error ? Daemon::FaultError{error->name, error->message} : c.byDefault;
        daemon_.addFaults(c.fault, device(address)->address(), count, given);
        log("control: the next " + std::to_string(count) + " " + call + " call(s) to " + address + " fail");
    }
    void clearFaults() override { daemon_.clearFaults(); }

  private:
    Daemon& daemon_;
};

}  // namespace

void Daemon::addFaults(Fault fault, std::uint64_t address, std::uint32_t count, const FaultError& error) {
    auto& queue = faults_[{fault, address}];
    for (std::uint32_t i = 0; i < count; ++i) queue.push_back(error);
}

void Daemon::addControl() {
    auto host = std::make_shared<DaemonControl>(*this);
    control_ = createControlObject(*connection_, *host);
    controlHost_ = host;
}

}  // namespace qb::emud
