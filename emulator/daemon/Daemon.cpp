#include "Daemon.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "AdapterNode.h"
#include "DeviceNode.h"

namespace qb::emud {
namespace {

constexpr auto kTemporaryDeviceLifetime = std::chrono::seconds(30);
const char* const kObjectManagerIface = "org.freedesktop.DBus.ObjectManager";

// Hands world events to the daemon's thread.
class WorldHook : public emulator::WorldListener {
  public:
    explicit WorldHook(Daemon& daemon) : daemon_(daemon) {}
    void onDeviceAdded(const std::shared_ptr<emulator::VirtualDevice>&) override {}
    void onDeviceRemoved(const std::shared_ptr<emulator::VirtualDevice>& device) override {
        daemon_.post([d = &daemon_, a = device->address()] { d->removeDevice(a); });
    }
    void onDeviceUpdated(const std::shared_ptr<emulator::VirtualDevice>& device) override {
        daemon_.post([d = &daemon_, a = device->address(), name = device->name()] {
            if (auto* node = d->device(a)) node->onNameChanged(name);
        });
    }
    void onAdvertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& advertisement) override {
        daemon_.post([d = &daemon_, advertisement] { d->onAdvertisement(advertisement); });
    }

  private:
    Daemon& daemon_;
};

Ifaces withStandardInterfaces(Ifaces ifaces) {
    ifaces["org.freedesktop.DBus.Introspectable"];
    ifaces["org.freedesktop.DBus.Properties"];
    return ifaces;
}

}  // namespace

void fail(const std::string& name, const std::string& message) {
    throw sdbus::Error(name, message);
}

Daemon::Daemon(std::shared_ptr<emulator::Emulator> emulator, DaemonOptions options)
    : emulator_(std::move(emulator)), options_(std::move(options)) {
    connection_ = options_.busAddress.empty()
                      ? sdbus::createSystemBusConnection()
                      : sdbus::createSessionBusConnectionWithAddress(options_.busAddress);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    root_ = sdbus::createObject(*connection_, "/");
    // GetManagedObjects is answered by sd-bus from the objects' own vtables, so it always agrees
    // with Get and GetAll.
    root_->addObjectManager();
    root_->finishRegistration();
    adapter_ = std::make_unique<AdapterNode>(*this, emulator_->localAddress());
    adapter_->publish();
    connection_->addMatch(
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='"
        "NameOwnerChanged'",
        [this](sdbus::Message& m) {
            std::string name, oldOwner, newOwner;
            m >> name >> oldOwner >> newOwner;
            if (!name.empty() && name[0] == ':' && newOwner.empty()) onClientGone(name);
        },
        sdbus::floating_slot);
    if (options_.control) addControl();
    worldListener_ = world().addListener(std::make_shared<WorldHook>(*this));
    connection_->requestName("org.bluez");
    log("serving org.bluez with %zu device(s)", world().devices().size());
}

Daemon::~Daemon() {
    world().removeListener(worldListener_);
    if (adapter_ && adapter_->discovering()) world().setScanning(false);
    devices_.clear();
    adapter_.reset();
    control_.reset();
    root_.reset();
    try {
        connection_->releaseName("org.bluez");
    } catch (const sdbus::Error&) {
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void Daemon::log(const char* format, ...) {
    if (!options_.verbose) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::fprintf(stderr, "qb7720-emulator: %s\n", line);
}

void Daemon::emitInterfacesAdded(const std::string& path, const Ifaces& ifaces) {
    auto signal = root_->createSignal(kObjectManagerIface, "InterfacesAdded");
    signal << sdbus::ObjectPath(path) << withStandardInterfaces(ifaces);
    root_->emitSignal(signal);
}

void Daemon::emitInterfacesRemoved(const std::string& path, const std::vector<std::string>& ifaces) {
    auto names = ifaces;
    names.emplace_back("org.freedesktop.DBus.Introspectable");
    names.emplace_back("org.freedesktop.DBus.Properties");
    auto signal = root_->createSignal(kObjectManagerIface, "InterfacesRemoved");
    signal << sdbus::ObjectPath(path) << names;
    root_->emitSignal(signal);
}

void Daemon::post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        queue_.push_back(std::move(job));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

void Daemon::stop() {
    stopping_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

void Daemon::watch(int fd, short events, std::function<void(short)> handler) {
    watched_[fd] = {events, std::move(handler)};
}

void Daemon::unwatch(int fd) {
    watched_.erase(fd);
}

void Daemon::rebuildDirty() {
    while (!dirty_.empty()) {
        Node* node = *dirty_.begin();
        dirty_.erase(dirty_.begin());
        node->rebuild();
    }
}

void Daemon::runQueued() {
    std::deque<std::function<void()>> jobs;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        jobs.swap(queue_);
    }
    for (auto& job : jobs) {
        try {
            job();
        } catch (const std::exception& e) {
            log("event failed: %s", e.what());
        }
        rebuildDirty();
    }
}

std::optional<std::chrono::steady_clock::time_point> Daemon::sendDueSignals() {
    std::optional<std::chrono::steady_clock::time_point> next;
    const auto now = std::chrono::steady_clock::now();
    for (auto it = signalling_.begin(); it != signalling_.end();) {
        if (auto due = (*it)->sendDueSignals(now)) {
            next = next ? std::min(*next, *due) : *due;
            ++it;
        } else {
            it = signalling_.erase(it);
        }
    }
    return next;
}

void Daemon::run() {
    auto nextExpiry = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!stopping_) {
        while (connection_->processPendingRequest()) {
            rebuildDirty();
        }
        rebuildDirty();
        runQueued();
        const auto nextSignal = sendDueSignals();
        if (std::chrono::steady_clock::now() >= nextExpiry) {
            expireDevices();
            nextExpiry = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        }
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            if (!queue_.empty()) continue;
        }
        const auto data = connection_->getEventLoopPollData();
        std::vector<pollfd> fds;
        fds.push_back({data.fd, data.events, 0});
        fds.push_back({wakeFd_, POLLIN, 0});
        std::vector<int> order;
        for (const auto& [fd, entry] : watched_) {
            fds.push_back({fd, entry.first, 0});
            order.push_back(fd);
        }
        int timeout = data.getPollTimeout();
        if (timeout < 0 || timeout > 1000) timeout = 1000;
        if (nextSignal) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*nextSignal - std::chrono::steady_clock::now());
            timeout = std::min<int>(timeout, static_cast<int>(std::max<std::int64_t>(wait.count(), 0)));
        }
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("poll failed");
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] auto n = ::read(wakeFd_, &count, sizeof count);
        }
        for (std::size_t i = 0; i < order.size(); ++i) {
            const short revents = fds[i + 2].revents;
            if (revents == 0) continue;
            auto it = watched_.find(order[i]);
            if (it == watched_.end()) continue;  // an earlier handler let it go
            auto handler = it->second.second;
            handler(revents);
            rebuildDirty();
        }
    }
}

DeviceNode* Daemon::device(std::uint64_t address) {
    auto it = devices_.find(address);
    return it == devices_.end() ? nullptr : it->second.get();
}

DeviceNode* Daemon::deviceByPath(const std::string& path) {
    for (auto& [address, node] : devices_) {
        if (node->path() == path) return node.get();
    }
    return nullptr;
}

void Daemon::removeDevice(std::uint64_t address) {
    auto it = devices_.find(address);
    if (it == devices_.end()) return;
    log("device %s removed", it->second->path().c_str());
    it->second->withdrawAll();
    devices_.erase(it);
}

void Daemon::onAdvertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& advertisement) {
    if (!adapter_->discovering()) return;
    if (auto* node = device(advertisement.bluetoothAddress)) {
        // A connected bridge stops advertising: no report of it reaches the adapter.
        if (node->connected()) return;
        node->onReport(advertisement);
        return;
    }
    auto model = world().findDevice(advertisement.bluetoothAddress);
    if (!model) return;
    auto node = std::make_unique<DeviceNode>(*this, model, advertisement);
    node->publish();
    log("device %s found", node->path().c_str());
    devices_.emplace(advertisement.bluetoothAddress, std::move(node));
}

void Daemon::discoveryStopped() {
    for (auto& [address, node] : devices_) node->discoveryStopped();
}

void Daemon::disconnectAll() {
    for (auto& [address, node] : devices_) node->disconnect();
}

void Daemon::onClientGone(const std::string& name) {
    adapter_->clientGone(name);
    for (auto& [address, node] : devices_) node->clientGone(name);
}

void Daemon::expireDevices() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::uint64_t> stale;
    for (const auto& [address, node] : devices_) {
        if (!node->connected() && now - node->lastHeard() > kTemporaryDeviceLifetime)
            stale.push_back(address);
    }
    for (auto address : stale) removeDevice(address);
}

}  // namespace qb::emud
