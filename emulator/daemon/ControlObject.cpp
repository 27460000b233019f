#include "ControlObject.h"

#include <sdbus-c++/sdbus-c++.h>

#include <vector>

#include "BridgeOptions.h"

namespace qb::emud {
namespace {

using Host = ControlHost;
using Writes = std::vector<sdbus::Struct<std::uint16_t, std::vector<std::uint8_t>, bool>>;

// The job's result, computed where the host runs its jobs.
template <typename R, typename F>
R on(Host& host, F job) {
    R result{};
    host.run([&] { result = job(); });
    return result;
}

template <typename F>
void onVoid(Host& host, F job) {
    host.run([&] { job(); });
}

}  // namespace

std::shared_ptr<emulator::VirtualBridge> asBridge(std::shared_ptr<emulator::VirtualDevice> device,
                                                  const std::string& address) {
    auto bridge = std::dynamic_pointer_cast<emulator::VirtualBridge>(std::move(device));
    if (!bridge) throw sdbus::Error("org.qb7720.Error.UnknownDevice", address + " is not a bridge");
    return bridge;
}

std::unique_ptr<sdbus::IObject> createControlObject(sdbus::IConnection& connection, Host& host,
                                                    const std::function<void(sdbus::IObject&)>& extra) {
    const char* const iface = kControlIface;
    auto object = sdbus::createObject(connection, kControlPath);
    auto& o = *object;
    Host* h = &host;
    auto bridge = [h](const std::string& address) { return asBridge(h->device(address), address); };

    // The world.
    o.registerMethod("AddBridge")
        .onInterface(iface)
        .withInputParamNames("options")
        .withOutputParamNames("address")
        .implementedAs([h](const BridgeOptions& options) {
            const auto config = fromBridgeOptions(options);
            return on<std::string>(*h, [&] {
                auto text = h->addBridge(config);
                h->log("control: bridge " + text + " added");
                return text;
            });
        });
    o.registerMethod("RemoveDevice")
        .onInterface(iface)
        .withInputParamNames("address")
        .implementedAs([h](const std::string& address) {
            onVoid(*h, [&] {
                h->log("control: remove " + address);
                h->removeDevice(address);
            });
        });
    o.registerMethod("DropLink")
        .onInterface(iface)
        .withInputParamNames("address")
        .implementedAs([h](const std::string& address) {
            onVoid(*h, [&] {
                h->log("control: drop link of " + address);
                h->dropLink(address);
            });
        });
    o.registerMethod("SetInRange")
        .onInterface(iface)
        .withInputParamNames("address", "inRange")
        .implementedAs([h](const std::string& address, bool inRange) {
            onVoid(*h, [&] {
                h->log("control: " + address + (inRange ? " in" : " out of") + " range");
                h->setInRange(address, inRange);
            });
        });
    o.registerMethod("SetRssi")
        .onInterface(iface)
        .withInputParamNames("address", "rssi")
        .implementedAs([h](const std::string& address, std::int16_t rssi) {
            onVoid(*h, [&] { h->device(address)->setRssi(rssi); });
        });
    o.registerMethod("SetName")
        .onInterface(iface)
        .withInputParamNames("address", "name")
        .implementedAs([h](const std::string& address, const std::string& name) {
            onVoid(*h, [&] { h->device(address)->setName(name); });
        });
    o.registerMethod("Connected")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("connected")
        .implementedAs(
            [h](const std::string& address) { return on<bool>(*h, [&] { return h->device(address)->connected(); }); });

    // Faults: the next `count` calls fail with the usual error of that call, or with the one given.
    o.registerMethod("Fail")
        .onInterface(iface)
        .withInputParamNames("address", "call", "count")
        .implementedAs([h](const std::string& address, const std::string& call, std::uint32_t count) {
            onVoid(*h, [&] { h->addFaults(address, call, count, std::nullopt); });
        });
    o.registerMethod("FailWith")
        .onInterface(iface)
        .withInputParamNames("address", "call", "count", "error", "message")
        .implementedAs([h](const std::string& address, const std::string& call, std::uint32_t count,
                           const std::string& error, const std::string& message) {
            onVoid(*h, [&] { h->addFaults(address, call, count, Host::Error{error, message}); });
        });
    o.registerMethod("ClearFaults").onInterface(iface).implementedAs([h] { onVoid(*h, [&] { h->clearFaults(); }); });

    // Notifications.
    o.registerMethod("Notify")
        .onInterface(iface)
        .withInputParamNames("address", "valueHandle", "value")
        .withOutputParamNames("sent")
        .implementedAs([h](const std::string& address, std::uint16_t handle, const std::vector<std::uint8_t>& value) {
            return on<bool>(*h, [&] { return h->device(address)->notify(handle, value); });
        });
    // For benchmarks: a burst of notifications from the model.
    o.registerMethod("NotifyBurst")
        .onInterface(iface)
        .withInputParamNames("address", "valueHandle", "count", "size")
        .withOutputParamNames("sent")
        .implementedAs([h](const std::string& address, std::uint16_t handle, std::uint32_t count, std::uint16_t size) {
            return on<std::uint32_t>(*h, [&] {
                auto d = h->device(address);
                std::uint32_t sent = 0;
                emulator::Bytes value(size);
                for (std::uint32_t i = 0; i < count; ++i) {
                    if (!value.empty()) value[0] = static_cast<std::uint8_t>(i);
                    if (d->notify(handle, value)) ++sent;
                }
                return sent;
            });
        });

    // What the device saw.
    o.registerMethod("WriteCount")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("count")
        .implementedAs([h](const std::string& address) {
            return on<std::uint32_t>(*h, [&] { return static_cast<std::uint32_t>(h->device(address)->writes().size()); });
        });
    o.registerMethod("Writes")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("writes")
        .implementedAs([h](const std::string& address) {
            return on<Writes>(*h, [&] {
                Writes out;
                for (const auto& w : h->device(address)->writes()) out.emplace_back(w.valueHandle, w.value, w.withResponse);
                return out;
            });
        });
    o.registerMethod("ClearWrites")
        .onInterface(iface)
        .withInputParamNames("address")
        .implementedAs([h](const std::string& address) { onVoid(*h, [&] { h->device(address)->clearWrites(); }); });
    o.registerMethod("ClientConfiguration")
        .onInterface(iface)
        .withInputParamNames("address", "uuid16")
        .withOutputParamNames("value")
        .implementedAs([h](const std::string& address, std::uint16_t uuid) {
            return on<std::uint16_t>(*h, [&] {
                auto d = h->device(address);
                const auto* characteristic = d->findCharacteristic(uuid);
                if (characteristic == nullptr)
                    throw sdbus::Error("org.qb7720.Error.UnknownCharacteristic", "no such characteristic");
                return d->clientConfiguration(characteristic->valueHandle);
            });
        });

    // The bridge's serial side.
    o.registerMethod("LineSettings")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("baud", "dataBits", "stopBits", "parity")
        .implementedAs([h, bridge](const std::string& address) {
            const auto line = on<emulator::LineSettings>(*h, [&] { return bridge(address)->lineSettings(); });
            return std::make_tuple(line.baud, line.dataBits, line.stopBits, line.parity);
        });
    o.registerMethod("ModemOutputs")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("flowControl", "dtr", "rts")
        .implementedAs([h, bridge](const std::string& address) {
            const auto m = on<emulator::ModemOutputs>(*h, [&] { return bridge(address)->modemOutputs(); });
            return std::make_tuple(m.flowControl, m.dtr, m.rts);
        });
    o.registerMethod("SetModemInputs")
        .onInterface(iface)
        .withInputParamNames("address", "dcd", "ri", "dsr", "cts")
        .implementedAs([h, bridge](const std::string& address, bool dcd, bool ri, bool dsr, bool cts) {
            emulator::ModemInputs in;
            in.dcd = dcd;
            in.ri = ri;
            in.dsr = dsr;
            in.cts = cts;
            onVoid(*h, [&] { bridge(address)->setModemInputs(in); });
        });
    o.registerMethod("OverrideReply")
        .onInterface(iface)
        .withInputParamNames("address", "command", "replace", "reply")
        .implementedAs([h, bridge](const std::string& address, std::uint8_t command, bool replace,
                                   const std::vector<std::uint8_t>& reply) {
            onVoid(*h, [&] {
                bridge(address)->overrideReply(command, replace ? std::optional<emulator::Bytes>(reply) : std::nullopt);
            });
        });
    o.registerMethod("InjectSerial")
        .onInterface(iface)
        .withInputParamNames("address", "bytes")
        .implementedAs([h, bridge](const std::string& address, const std::vector<std::uint8_t>& bytes) {
            onVoid(*h, [&] { bridge(address)->injectSerial(bytes); });
        });
    o.registerMethod("FarSideReceived")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("bytes")
        .implementedAs([h, bridge](const std::string& address) {
            return on<emulator::Bytes>(*h, [&] { return bridge(address)->farSideReceived(); });
        });
    o.registerMethod("Block")
        .onInterface(iface)
        .withInputParamNames("address", "area")
        .withOutputParamNames("bytes")
        .implementedAs([h, bridge](const std::string& address, std::uint8_t area) {
            if (area != static_cast<std::uint8_t>(emulator::BlockArea::CfgPara) &&
                area != static_cast<std::uint8_t>(emulator::BlockArea::ExdCfg))
                throw sdbus::Error("org.bluez.Error.InvalidArguments", "no such block area");
            return on<std::vector<std::uint8_t>>(*h, [&] {
                const auto block = bridge(address)->block(static_cast<emulator::BlockArea>(area));
                return std::vector<std::uint8_t>(block.begin(), block.end());
            });
        });
    o.registerMethod("FrameCount")
        .onInterface(iface)
        .withInputParamNames("address")
        .withOutputParamNames("count")
        .implementedAs([h, bridge](const std::string& address) {
            return on<std::uint32_t>(*h, [&] { return static_cast<std::uint32_t>(bridge(address)->frames().size()); });
        });
    if (extra) extra(o);
    o.finishRegistration();
    return object;
}

}  // namespace qb::emud
