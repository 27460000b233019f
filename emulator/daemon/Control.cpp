// /org/qb7720/emulator: what tests do to the in-process emulator's world, offered over the bus.
#include <sdbus-c++/sdbus-c++.h>

#include <optional>

#include "BridgeOptions.h"
#include "Daemon.h"

namespace qb::emud {
namespace {

constexpr const char* kControlIface = "org.qb7720.EmulatorControl1";

std::shared_ptr<emulator::VirtualDevice> findDevice(emulator::World& world, const std::string& text) {
    for (const auto& d : world.devices()) {
        if (emulator::World::addressText(d->address()) == text) return d;
    }
    fail("org.qb7720.Error.UnknownDevice", "no device " + text);
}

std::shared_ptr<emulator::VirtualBridge> findBridge(emulator::World& world, const std::string& text) {
    auto bridge = std::dynamic_pointer_cast<emulator::VirtualBridge>(findDevice(world, text));
    if (!bridge) fail("org.qb7720.Error.UnknownDevice", text + " is not a bridge");
    return bridge;
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

}  // namespace

void Daemon::addControl() {
    const char* const iface = kControlIface;
    auto device = [this](const std::string& text) { return findDevice(world(), text); };
    auto bridge = [this](const std::string& text) { return findBridge(world(), text); };
    control_ = sdbus::createObject(*connection_, "/org/qb7720/emulator");
    auto& o = *control_;

    // The world.
    o.registerMethod("AddBridge")
        .onInterface(iface)
        .withInputParamNames("options")
        .withOutputParamNames("address")
        .implementedAs([this](const BridgeOptions& options) {
            auto added = world().addBridge(fromBridgeOptions(options));
            const auto text = emulator::World::addressText(added->address());
            log("control: bridge %s added", text.c_str());
            return text;
        });
    o.registerMethod("RemoveDevice")
        .onInterface(iface)
        .withInputParamNames("address")
        .implementedAs([this, device](const std::string& address) {
            log("control: remove %s", address.c_str());
            world().removeDevice(device(address)->address());
        });
    o.registerMethod("DropLink")
        .onInterface(iface)
        .withInputParamNames("address")
        .implementedAs([this, device](const std::string& address) {
            log("control: drop link of %s", address.c_str());
            device(address)->dropLink();
        });
    o.registerMethod("SetInRange")
        .onInterface(iface)
        .withInputParamNames("address", "inRange")
        .implementedAs([this, device](const std::string& address, bool inRange) {
            log("control: %s %s range", address.c_str(), inRange ? "in" : "out of");
            device(address)->setInRange(inRange);
        });
    o.registerMethod("SetRssi")
        .onInterface(iface)
        .withInputParamNames("address", "rssi")
        .implementedAs([device](const std::string& address, std::int16_t rssi) { device(address)->setRssi(rssi); });
    o.registerMethod("SetName")
        .onInterface(iface)
        .withInputParamNames("address", "name")
        .implementedAs(
            [device](const std::string& address, const std::string& name) { device(address)->setName(name); });
    o.registerMethod("Connected")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("connected")
        .implementedAs([device](const std::string& address) { return device(address)->connected(); });

    // Faults.
    // The next `count` calls fail with the usual error of that call, or with the one given.
    auto addFaults = [this, device](const std::string& address, const std::string& call, std::uint32_t count,
                                    std::optional<FaultError> error) {
        const FaultCall& c = faultCall(call);
        auto& queue = faults_[{c.fault, device(address)->address()}];
        for (std::uint32_t i = 0; i < count; ++i) queue.push_back(error.value_or(c.byDefault));
        log("control: the next %u %s call(s) to %s fail", count, call.c_str(), address.c_str());
    };
    o.registerMethod("Fail")
        .onInterface(iface)
        .withInputParamNames("address", "call", "count")
        .implementedAs([addFaults](const std::string& address, const std::string& call, std::uint32_t count) {
            addFaults(address, call, count, std::nullopt);
        });
    o.registerMethod("FailWith")
        .onInterface(iface)
        .withInputParamNames("address", "call", "count", "error", "message")
        .implementedAs([addFaults](const std::string& address, const std::string& call, std::uint32_t count,
                                   const std::string& error, const std::string& message) {
            addFaults(address, call, count, FaultError{error, message});
        });
    o.registerMethod("ClearFaults").onInterface(iface).implementedAs([this] { faults_.clear(); });

    // Notifications.
    o.registerMethod("Notify")
        .onInterface(iface)
        .withInputParamNames("address", "valueHandle", "value")
        .withOutputParamNames("sent")
        .implementedAs(
            [device](const std::string& address, std::uint16_t handle, const std::vector<std::uint8_t>& value) {
                return device(address)->notify(handle, value);
            });
    // For benchmarks: a burst of notifications from the model.
    o.registerMethod("NotifyBurst")
        .onInterface(iface)
        .withInputParamNames("address", "valueHandle", "count", "size")
        .withOutputParamNames("sent")
        .implementedAs([device](const std::string& address, std::uint16_t handle, std::uint32_t count,
                                std::uint16_t size) {
            auto d = device(address);
            std::uint32_t sent = 0;
            emulator::Bytes value(size);
            for (std::uint32_t i = 0; i < count; ++i) {
                value[0] = static_cast<std::uint8_t>(i);
                if (d->notify(handle, value)) ++sent;
            }
            return sent;
        });

    // What the device saw.
    o.registerMethod("WriteCount")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("count")
        .implementedAs([device](const std::string& address) {
            return static_cast<std::uint32_t>(device(address)->writes().size());
        });
    o.registerMethod("Writes")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("writes")
        .implementedAs([device](const std::string& address) {
            std::vector<sdbus::Struct<std::uint16_t, std::vector<std::uint8_t>, bool>> out;
            for (const auto& w : device(address)->writes()) out.emplace_back(w.valueHandle, w.value, w.withResponse);
            return out;
        });
    o.registerMethod("ClearWrites")
        .onInterface(iface)
        .withInputParamNames("address")
        .implementedAs([device](const std::string& address) { device(address)->clearWrites(); });
    o.registerMethod("ClientConfiguration")
        .onInterface(iface)
        .withInputParamNames("address", "uuid16")
        .withOutputParamNames("value")
        .implementedAs([device](const std::string& address, std::uint16_t uuid) {
            auto d = device(address);
            const auto* characteristic = d->findCharacteristic(uuid);
            if (characteristic == nullptr) fail("org.qb7720.Error.UnknownCharacteristic", "no such characteristic");
            return d->clientConfiguration(characteristic->valueHandle);
        });

    // The bridge's serial side.
    o.registerMethod("LineSettings")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("baud", "dataBits", "stopBits", "parity")
        .implementedAs([bridge](const std::string& address) {
            const auto line = bridge(address)->lineSettings();
            return std::make_tuple(line.baud, line.dataBits, line.stopBits, line.parity);
        });
    o.registerMethod("ModemOutputs")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("flowControl", "dtr", "rts")
        .implementedAs([bridge](const std::string& address) {
            const auto m = bridge(address)->modemOutputs();
            return std::make_tuple(m.flowControl, m.dtr, m.rts);
        });
    o.registerMethod("SetModemInputs")
        .onInterface(iface)
        .withInputParamNames("address", "dcd", "ri", "dsr", "cts")
        .implementedAs([bridge](const std::string& address, bool dcd, bool ri, bool dsr, bool cts) {
            emulator::ModemInputs in;
            in.dcd = dcd;
            in.ri = ri;
            in.dsr = dsr;
            in.cts = cts;
            bridge(address)->setModemInputs(in);
        });
    o.registerMethod("OverrideReply")
        .onInterface(iface)
        .withInputParamNames("address", "command", "replace", "reply")
        .implementedAs([bridge](const std::string& address, std::uint8_t command, bool replace,
                                const std::vector<std::uint8_t>& reply) {
            bridge(address)->overrideReply(command, replace ? std::optional<emulator::Bytes>(reply) : std::nullopt);
        });
    o.registerMethod("InjectSerial")
        .onInterface(iface)
        .withInputParamNames("address", "bytes")
        .implementedAs([bridge](const std::string& address, const std::vector<std::uint8_t>& bytes) {
            bridge(address)->injectSerial(bytes);
        });
    o.registerMethod("FarSideReceived")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("bytes")
        .implementedAs([bridge](const std::string& address) { return bridge(address)->farSideReceived(); });
    o.registerMethod("Block")
        .onInterface(iface)
        .withInputParamNames("address", "area")
        .withOutputParamNames("bytes")
        .implementedAs([bridge](const std::string& address, std::uint8_t area) {
            if (area != static_cast<std::uint8_t>(emulator::BlockArea::CfgPara) &&
                area != static_cast<std::uint8_t>(emulator::BlockArea::ExdCfg))
                fail("org.bluez.Error.InvalidArguments", "no such block area");
            const auto block = bridge(address)->block(static_cast<emulator::BlockArea>(area));
            return std::vector<std::uint8_t>(block.begin(), block.end());
        });
    o.registerMethod("FrameCount")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("count")
        .implementedAs([bridge](const std::string& address) {
            return static_cast<std::uint32_t>(bridge(address)->frames().size());
        });
    o.finishRegistration();
}

}  // namespace qb::emud
