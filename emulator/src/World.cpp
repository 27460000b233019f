#include "qb7720/emulator/World.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "qb7720/platform/BluetoothAddress.h"

namespace qb::emulator {
namespace {

constexpr std::uint64_t kFirstAddress = 0xC05100000001ull;
// In real time the runner looks again at least this often, even with nothing due.
constexpr auto kMaxRealWait = std::chrono::milliseconds(50);

}  // namespace

struct World::Impl : std::enable_shared_from_this<World::Impl> {
    struct Slot {
        std::shared_ptr<VirtualDevice> device;
        std::shared_ptr<VirtualBridge> bridge;  // the same object, when it is one
        std::uint64_t listenerToken = 0;
        Clock::TimePoint nextAdvertisement{0};
    };

    std::shared_ptr<Clock> clock;
    mutable std::mutex mutex;
    std::condition_variable cv;
    std::vector<Slot> slots;
    std::map<std::uint64_t, std::shared_ptr<WorldListener>> listeners;
    std::uint64_t lastListenerToken = 0;
    std::uint64_t nextAddress = kFirstAddress;
    int scanners = 0;
    bool stop = false;
    bool kicked = false;
    std::uint64_t passes = 0;
    Clock::TimePoint passTime{-1};
    std::thread runner;
    std::thread::id runnerId;
    std::uint64_t clockToken = 0;

    void kick() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            kicked = true;
        }
        cv.notify_all();
    }

    std::vector<std::shared_ptr<WorldListener>> listenerSnapshot() const {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::shared_ptr<WorldListener>> out;
        for (const auto& entry : listeners) out.push_back(entry.second);
        return out;
    }

    void run();
    void pass(Clock::TimePoint now, std::optional<Clock::TimePoint>& deadline);
};

namespace {

// Hears one device on behalf of the World.
class DeviceWatch : public DeviceListener {
  public:
    DeviceWatch(std::weak_ptr<World::Impl> world, std::weak_ptr<VirtualDevice> device)
        : world_(std::move(world)), device_(std::move(device)) {}
    void onNotification(std::uint16_t, const Bytes&) override {}
    void onConnectionChanged(bool) override {}
    void onRemoved() override {}
    void onNameChanged(const std::string&) override;

  private:
    std::weak_ptr<World::Impl> world_;
    std::weak_ptr<VirtualDevice> device_;
};

}  // namespace

void DeviceWatch::onNameChanged(const std::string&) {
    auto world = world_.lock();
    auto device = device_.lock();
    if (!world || !device) return;
    for (const auto& listener : world->listenerSnapshot()) listener->onDeviceUpdated(device);
}

void World::Impl::pass(Clock::TimePoint now, std::optional<Clock::TimePoint>& deadline) {
    std::vector<Slot> snapshot;
    bool scanning = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        snapshot = slots;
        scanning = scanners > 0;
    }
    for (const auto& slot : snapshot) {
        if (!slot.bridge) continue;
        slot.bridge->runUntil(now);
        if (auto next = slot.bridge->nextDeadline()) deadline = deadline ? std::min(*deadline, *next) : *next;
    }
    if (!scanning) return;
    std::vector<std::shared_ptr<VirtualDevice>> due;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& slot : slots) {
            if (slot.nextAdvertisement <= now) {
                due.push_back(slot.device);
                const auto interval = std::chrono::duration_cast<Clock::Duration>(
                    std::max(slot.device->config().advertisingInterval, std::chrono::milliseconds(1)));
                slot.nextAdvertisement += interval;
                // After a long jump of time a device advertises once, not once per missed interval.
                if (slot.nextAdvertisement <= now) slot.nextAdvertisement = now + interval;
            }
            deadline = deadline ? std::min(*deadline, slot.nextAdvertisement) : slot.nextAdvertisement;
        }
    }
    if (due.empty()) return;
    const auto listenersNow = listenerSnapshot();
    for (const auto& device : due) {
        // A bridge serves one link at a time and stops advertising while it has one.
        if (device->connected()) continue;
        for (const auto& advertisement : device->advertisements()) {
            for (const auto& listener : listenersNow) listener->onAdvertisement(advertisement);
        }
    }
}

void World::Impl::run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stop) return;
            kicked = false;
        }
        const auto now = clock->now();
        std::optional<Clock::TimePoint> deadline;
        pass(now, deadline);
        std::unique_lock<std::mutex> lock(mutex);
        ++passes;
        passTime = now;
        cv.notify_all();
        if (stop) return;
        if (kicked) continue;
        const TimeMode mode = clock->mode();
        if (mode == TimeMode::Virtual || !deadline) {
            if (mode == TimeMode::Virtual) {
                cv.wait(lock, [this] { return stop || kicked; });
            } else {
                cv.wait_for(lock, kMaxRealWait, [this] { return stop || kicked; });
            }
            continue;
        }
        const auto wait = std::min<Clock::Duration>(*deadline - clock->now(), kMaxRealWait);
        if (wait.count() > 0) cv.wait_for(lock, wait, [this] { return stop || kicked; });
    }
}

World::World(TimeMode mode) : clock_(std::make_shared<Clock>(mode)), impl_(nullptr) {}

std::shared_ptr<World> World::create(TimeMode mode) {
    std::shared_ptr<World> world(new World(mode));
    auto impl = std::make_shared<Impl>();
    impl->clock = world->clock_;
    std::weak_ptr<Impl> weak = impl;
    impl->clockToken = world->clock_->addAdvanceListener([weak](Clock::TimePoint) {
        if (auto self = weak.lock()) self->kick();
    });
    impl->runner = std::thread([impl] { impl->run(); });
    impl->runnerId = impl->runner.get_id();
    world->impl_ = impl;
    return world;
}

World::~World() {
    if (!impl_) return;
    clock_->removeAdvanceListener(impl_->clockToken);
    std::vector<Impl::Slot> slots;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stop = true;
        slots.swap(impl_->slots);
        impl_->listeners.clear();
    }
    impl_->cv.notify_all();
    if (impl_->runner.joinable()) {
        // The last owner may let go from inside a listener running on the runner itself.
        if (std::this_thread::get_id() == impl_->runner.get_id()) {
            impl_->runner.detach();
        } else {
            impl_->runner.join();
        }
    }
    for (auto& slot : slots) {
        if (slot.bridge) slot.bridge->setWake(nullptr);
        slot.device->removeListener(slot.listenerToken);
    }
}

std::shared_ptr<VirtualBridge> World::addBridge(BridgeConfig config) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (config.address == 0) config.address = impl_->nextAddress++;
    }
    auto bridge = VirtualBridge::create(std::move(config), clock_);
    std::weak_ptr<Impl> weak = impl_;
    bridge->setWake([weak] {
        if (auto self = weak.lock()) self->kick();
    });
    addDevice(std::static_pointer_cast<VirtualDevice>(bridge), bridge);
    return bridge;
}

std::shared_ptr<VirtualDevice> World::addDevice(DeviceConfig config) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (config.address == 0) config.address = impl_->nextAddress++;
    }
    std::shared_ptr<VirtualDevice> device(new VirtualDevice(std::move(config), clock_));
    addDevice(device, nullptr);
    return device;
}

void World::addDevice(const std::shared_ptr<VirtualDevice>& device,
                      const std::shared_ptr<VirtualBridge>& bridge) {
    Impl::Slot slot;
    slot.device = device;
    slot.bridge = bridge;
    slot.nextAdvertisement = clock_->now();
    slot.listenerToken = device->addListener(std::make_shared<DeviceWatch>(impl_, device));
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        for (const auto& other : impl_->slots) {
            if (other.device->address() == device->address()) {
                device->removeListener(slot.listenerToken);
                throw std::invalid_argument("a device with address " + addressText(device->address()) +
                                            " is already there");
            }
        }
        impl_->slots.push_back(slot);
    }
    for (const auto& listener : impl_->listenerSnapshot()) listener->onDeviceAdded(device);
    impl_->kick();
}

bool World::removeDevice(std::uint64_t address) {
    Impl::Slot removed;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        auto it = std::find_if(impl_->slots.begin(), impl_->slots.end(),
                               [address](const Impl::Slot& s) { return s.device->address() == address; });
        if (it == impl_->slots.end()) return false;
        removed = *it;
        impl_->slots.erase(it);
    }
    // Gone for good: no link, no advertising, nothing that reconnects.
    removed.device->setInRange(false);
    removed.device->removeListener(removed.listenerToken);
    removed.device->notifyRemoved();
    if (removed.bridge) removed.bridge->setWake(nullptr);
    for (const auto& listener : impl_->listenerSnapshot()) listener->onDeviceRemoved(removed.device);
    return true;
}

std::vector<std::shared_ptr<VirtualDevice>> World::devices() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<std::shared_ptr<VirtualDevice>> out;
    for (const auto& slot : impl_->slots) out.push_back(slot.device);
    return out;
}

std::vector<std::shared_ptr<VirtualBridge>> World::bridges() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<std::shared_ptr<VirtualBridge>> out;
    for (const auto& slot : impl_->slots) {
        if (slot.bridge) out.push_back(slot.bridge);
    }
    return out;
}

std::shared_ptr<VirtualDevice> World::findDevice(std::uint64_t address) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (const auto& slot : impl_->slots) {
        if (slot.device->address() == address) return slot.device;
    }
    return nullptr;
}

void World::setScanning(bool on) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (on) {
            if (impl_->scanners++ == 0) {
                const auto now = clock_->now();
                for (auto& slot : impl_->slots) slot.nextAdvertisement = now;
            }
        } else if (impl_->scanners > 0) {
            --impl_->scanners;
        }
    }
    impl_->kick();
}

bool World::scanning() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->scanners > 0;
}

void World::emitAdvertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& advertisement) {
    for (const auto& listener : impl_->listenerSnapshot()) listener->onAdvertisement(advertisement);
}

std::uint64_t World::addListener(std::shared_ptr<WorldListener> listener) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    const auto token = ++impl_->lastListenerToken;
    impl_->listeners.emplace(token, std::move(listener));
    return token;
}

void World::removeListener(std::uint64_t token) {
    std::shared_ptr<WorldListener> released;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto it = impl_->listeners.find(token);
    if (it == impl_->listeners.end()) return;
    released = std::move(it->second);
    impl_->listeners.erase(it);
}

void World::settle() {
    if (std::this_thread::get_id() == impl_->runnerId) return;
    const auto target = clock_->now();
    std::unique_lock<std::mutex> lock(impl_->mutex);
    impl_->kicked = true;
    impl_->cv.notify_all();
    impl_->cv.wait(lock, [&] { return impl_->stop || impl_->passTime >= target; });
}

std::string World::addressText(std::uint64_t address) {
    return platform::BluetoothAddress(address).toString();
}

}  // namespace qb::emulator
