#include "Control.h"

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <future>
#include <map>

#include "AttPdu.h"
#include "ControlObject.h"
#include "ErrorMap.h"

namespace qb::hci {
namespace {

// A job the runner has not run in this time is given up (the runner is stopping).
constexpr auto kJobTimeout = std::chrono::seconds(10);

[[noreturn]] void unknown(const std::string& address) {
    throw sdbus::Error("org.qb7720.Error.UnknownDevice", "no bridge " + address);
}

// The ATT error bluetoothd turns into the BlueZ error a test asks for.
std::uint8_t attErrorFor(const std::string& call, const std::string& name, const std::string& message) {
    // "Operation failed with ATT error: 0x04" names its code.
    const auto code = bluez::mapBluezError(name, message);
    if (bluez::isAttError(code) && (code & 0xFFu) != 0) return static_cast<std::uint8_t>(code & 0xFFu);
    if (name == "org.bluez.Error.NotPermitted") return call == "read" ? att_error::kReadNotPermitted : att_error::kWriteNotPermitted;
    if (name == "org.bluez.Error.NotAuthorized") return att_error::kInsufficientAuthorization;
    if (name == "org.bluez.Error.NotSupported") return att_error::kRequestNotSupported;
    if (name == "org.bluez.Error.InvalidValueLength") return att_error::kInvalidAttributeValueLength;
    if (name == "org.bluez.Error.InvalidOffset") return att_error::kInvalidOffset;
    if (name == "org.bluez.Error.Failed") return att_error::kUnlikelyError;
    throw sdbus::Error("org.bluez.Error.InvalidArguments", "no ATT error gives " + name);
}

}  // namespace

struct Control::Impl : emud::ControlHost {
    enum class Call { Write, Read, Notify };

    Runner& runner;
    std::shared_ptr<emulator::Emulator> emulator;
    std::vector<std::shared_ptr<emulator::VirtualBridge>> bridges;  // per slot, runner's thread only
    std::vector<bool> handedOut;
    std::map<std::pair<Call, std::size_t>, std::deque<std::uint8_t>> faults;
    std::unique_ptr<sdbus::IConnection> connection;
    std::unique_ptr<sdbus::IObject> object;

    Impl(Runner& r, std::shared_ptr<emulator::Emulator> e) : runner(r), emulator(std::move(e)) {
        bridges = emulator->bridges();
        handedOut.assign(runner.size(), false);
    }

    void run(const std::function<void()>& job) override {
        auto done = std::make_shared<std::promise<void>>();
        auto result = done->get_future();
        runner.post([job, done] {
            try {
                job();
                done->set_value();
            } catch (...) {
                done->set_exception(std::current_exception());
            }
        });
        if (result.wait_for(kJobTimeout) != std::future_status::ready)
            throw sdbus::Error("org.qb7720.Error.Busy", "the peripheral did not take the call");
        try {
            result.get();
        } catch (const sdbus::Error&) {
            throw;
        } catch (const std::exception& e) {
            throw sdbus::Error("org.qb7720.Error.Failed", e.what());
        }
    }

    void log(const std::string& line) override { std::fprintf(stderr, "qb7720-emulator: %s\n", line.c_str()); }

    std::string addressOf(std::size_t slot) { return runner.peripheral(slot).controllerAddress().toString(); }

    std::size_t slotOf(const std::string& address) {
        const auto wanted = platform::BluetoothAddress::parse(address);
        for (std::size_t i = 0; wanted && i < runner.size(); ++i) {
            if (runner.peripheral(i).controllerAddress() == *wanted) return i;
        }
        unknown(address);
    }

    std::string addBridge(const emulator::BridgeConfig& config) override {
        for (std::size_t i = 0; i < runner.size(); ++i) {
            if (handedOut[i]) continue;
            const auto address = addressOf(i);
            // The bridge is known by its controller's address; the model's own stays the world's pick.
            auto fresh = config;
            fresh.address = 0;
            emulator->removeDevice(bridges[i]->address());
            bridges[i] = emulator->addBridge(fresh);
            clearFaults(i);
            runner.replace(i, bridges[i]);
            handedOut[i] = true;
            return address;
        }
        throw sdbus::Error("org.qb7720.Error.NoBridge",
                           "every controller already serves a bridge (start the rig with more)");
    }

    void removeDevice(const std::string& address) override {
        const auto slot = slotOf(address);
        runner.peripheral(slot).setOutOfRange(true);
        handedOut[slot] = false;
    }

    std::shared_ptr<emulator::VirtualDevice> device(const std::string& address) override {
        return bridges.at(slotOf(address));
    }

    void dropLink(const std::string& address) override { runner.peripheral(slotOf(address)).dropLink(); }

    void setInRange(const std::string& address, bool inRange) override {
        runner.peripheral(slotOf(address)).setOutOfRange(!inRange);
    }

    void addFaults(const std::string& address, const std::string& call, std::uint32_t count,
                   const std::optional<Error>& error) override {
        Call kind;
        if (call == "write") {
            kind = Call::Write;
        } else if (call == "read") {
            kind = Call::Read;
        } else if (call == "notify") {
            kind = Call::Notify;
        } else {
            // A link a real bridge refuses shows only as a connection that never completes; the
            // controller gives no hook for that here.
            throw sdbus::Error("org.qb7720.Error.NotSupported",
                               "the HCI peripheral fails writes, reads and notify set-ups only, not " + call);
        }
        std::uint8_t code = kind == Call::Read ? att_error::kReadNotPermitted : att_error::kWriteNotPermitted;
        if (kind == Call::Notify) code = att_error::kUnlikelyError;
        if (error) code = attErrorFor(call, error->name, error->message);
        auto& queue = faults[{kind, slotOf(address)}];
        for (std::uint32_t i = 0; i < count; ++i) queue.push_back(code);
        log("control: the next " + std::to_string(count) + " " + call + " request(s) to " + address + " fail");
    }

    void clearFaults(std::size_t slot) {
        for (auto it = faults.begin(); it != faults.end();) it = it->first.second == slot ? faults.erase(it) : std::next(it);
    }

    void clearFaults() override { faults.clear(); }

    void release() {
        for (std::size_t i = 0; i < runner.size(); ++i) {
            runner.peripheral(i).setOutOfRange(true);
            handedOut[i] = false;
        }
        faults.clear();
    }

    // Which call a request is, as the fault table knows them.
    std::optional<Call> callOf(std::size_t slot, std::uint8_t opcode, std::uint16_t handle) {
        const bool write = opcode == att_op::kWriteRequest;
        const bool read = opcode == att_op::kReadRequest || opcode == att_op::kReadBlobRequest;
        if (!write && !read) return std::nullopt;
        for (const auto& service : bridges[slot]->database()) {
            for (const auto& c : service.characteristics) {
                if (write && c.cccdHandle != 0 && c.cccdHandle == handle) return Call::Notify;
                if (c.valueHandle == handle) return write ? Call::Write : Call::Read;
            }
        }
        return std::nullopt;
    }

    std::optional<std::uint8_t> refusal(std::size_t slot, std::uint8_t opcode, std::uint16_t handle) {
        if (faults.empty()) return std::nullopt;
        const auto call = callOf(slot, opcode, handle);
        if (!call) return std::nullopt;
        const auto it = faults.find({*call, slot});
        if (it == faults.end()) return std::nullopt;
        const std::uint8_t code = it->second.front();
        it->second.pop_front();
        if (it->second.empty()) faults.erase(it);
        log("failing a request as the control object asked: ATT error " + std::to_string(code));
        return code;
    }
};

Control::Control(Runner& runner, std::shared_ptr<emulator::Emulator> emulator)
    : impl_(std::make_unique<Impl>(runner, std::move(emulator))) {
    Impl* impl = impl_.get();
    runner.setRefusal([impl](std::size_t slot, std::uint8_t opcode, std::uint16_t handle) {
        return impl->refusal(slot, opcode, handle);
    });
    impl_->connection = sdbus::createSystemBusConnection(kControlBusName);
    impl_->object = emud::createControlObject(*impl_->connection, *impl_, [impl](sdbus::IObject& o) {
        o.registerMethod("Release")
            .onInterface(emud::kControlIface)
            .implementedAs([impl] { impl->run([impl] { impl->release(); }); });
        o.registerMethod("Bridges")
            .onInterface(emud::kControlIface)
            .withOutputParamNames("addresses")
            .implementedAs([impl] {
                std::vector<std::string> out;
                impl->run([&] {
                    for (std::size_t i = 0; i < impl->runner.size(); ++i) out.push_back(impl->addressOf(i));
                });
                return out;
            });
    });
    impl_->connection->enterEventLoopAsync();
}

Control::~Control() {
    impl_->connection->leaveEventLoop();
    impl_->object.reset();
    impl_->runner.setRefusal(nullptr);
}

}  // namespace qb::hci
