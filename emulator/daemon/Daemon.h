// The daemon: owns org.bluez on a bus and serves the emulator's world under BlueZ's object layout.
// Everything on the bus runs on one thread (run()); the model's listeners only queue work for it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "Node.h"
#include "qb7720/emulator/Emulator.h"

namespace qb::emud {

class AdapterNode;
class DeviceNode;

inline constexpr const char* kAdapterIface = "org.bluez.Adapter1";
inline constexpr const char* kDeviceIface = "org.bluez.Device1";
inline constexpr const char* kServiceIface = "org.bluez.GattService1";
inline constexpr const char* kCharIface = "org.bluez.GattCharacteristic1";
inline constexpr const char* kDescIface = "org.bluez.GattDescriptor1";

// A D-Bus error reply in BlueZ's words.
[[noreturn]] void fail(const std::string& name, const std::string& message);

struct DaemonOptions {
    std::string busAddress;  // empty: the system bus (DBUS_SYSTEM_BUS_ADDRESS honoured)
    bool verbose = false;
    // Also serve /org/qb7720/emulator (org.qb7720.EmulatorControl1) so tests can act on the radio
    // world: add and remove bridges, drop links, move devices out of range, fail writes, and look
    // inside the bridges (Control.cpp).
    bool control = false;
    // A real bluetoothd replies to a call first and sends the property signals of the change it
    // made later, from an idle callback. The early order (signals, then the reply) is for tests of
    // clients that must survive it too.
    bool signalsFirst = false;
    std::chrono::microseconds signalGap{std::chrono::milliseconds(5)};
};

class Daemon {
  public:
    Daemon(std::shared_ptr<emulator::Emulator> emulator, DaemonOptions options);
    ~Daemon();

    // Serves until stop() (safe from a signal handler).
    void run();
    void stop();

    sdbus::IConnection& connection() { return *connection_; }
    emulator::World& world() { return *emulator_->world(); }
    const std::shared_ptr<emulator::Emulator>& emulator() const { return emulator_; }
    AdapterNode& adapter() { return *adapter_; }
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    void emitInterfacesAdded(const std::string& path, const Ifaces& ifaces);
    void emitInterfacesRemoved(const std::string& path, const std::vector<std::string>& ifaces);

    void markDirty(Node* node) { dirty_.insert(node); }
    void forget(Node* node) {
        dirty_.erase(node);
        signalling_.erase(node);
    }
    bool signalsAfterReplies() const { return !options_.signalsFirst; }
    std::chrono::microseconds signalGap() const { return options_.signalGap; }
    // The node holds signals back; run() sends them when due.
    void markSignalling(Node* node) { signalling_.insert(node); }

    // From any thread: runs job on the daemon's thread.
    void post(std::function<void()> job);
    // A socket end the daemon watches; the handler runs on the daemon's thread with the poll events.
    void watch(int fd, short events, std::function<void(short)> handler);
    void unwatch(int fd);

    DeviceNode* device(std::uint64_t address);
    DeviceNode* deviceByPath(const std::string& path);
    void removeDevice(std::uint64_t address);
    // An advertisement seen while discovering: creates or refreshes the device's object.
    void onAdvertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& advertisement);
    // Discovery ended: signal strengths are no longer known.
    void discoveryStopped();
    // The adapter was switched off.
    void disconnectAll();
    // A client left the bus: its discovery and notify sessions end.
    void onClientGone(const std::string& name);
    // Drops devices nobody has heard for a while (as temporary devices are).
    void expireDevices();

    // Calls that are to fail, set through the control object, each with the error it fails with.
    // Writes and notifications: while a fault is due, AcquireWrite / AcquireNotify are refused, so the
    // client takes WriteValue / StartNotify, which fail and use one up. A write socket acquired
    // before stays as it is: a write without response has no answer that could carry the failure.
    // Discover: the link comes up, but GATT discovery fails, and the link stays up without
    // ServicesResolved, as bluetoothd leaves it when its discovery fails.
    enum class Fault { Write, Connect, Read, Notify, Discover };
    struct FaultError {
        std::string name;
        std::string message;
    };
    bool faultPending(Fault fault, std::uint64_t address) const;
    // Fails the call with the error due, if one is.
    void failIfDue(Fault fault, std::uint64_t address);
    // Uses up one fault that has no error reply; true when one was due.
    bool takeFault(Fault fault, std::uint64_t address);
    void addFaults(Fault fault, std::uint64_t address, std::uint32_t count, const FaultError& error);
    void clearFaults() { faults_.clear(); }

  private:
    void runQueued();
    void rebuildDirty();
    void addControl();
    // Sends what is due; the time the next held signal is due, if any.
    std::optional<std::chrono::steady_clock::time_point> sendDueSignals();

    std::shared_ptr<emulator::Emulator> emulator_;
    DaemonOptions options_;
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IObject> root_;
    std::unique_ptr<sdbus::IObject> control_;
    std::shared_ptr<void> controlHost_;  // what control_ acts through
    std::unique_ptr<AdapterNode> adapter_;
    std::map<std::uint64_t, std::unique_ptr<DeviceNode>> devices_;
    std::set<Node*> dirty_;
    std::set<Node*> signalling_;
    std::map<int, std::pair<short, std::function<void(short)>>> watched_;
    std::map<std::pair<Fault, std::uint64_t>, std::deque<FaultError>> faults_;  // daemon thread only

    std::mutex queueMutex_;
    std::deque<std::function<void()>> queue_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::uint64_t worldListener_ = 0;
};

}  // namespace qb::emud
