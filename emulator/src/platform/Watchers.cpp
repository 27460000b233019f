#include "Watchers.h"

#include "qb7720/platform/PlatformError.h"

namespace qb::emulator::detail {

using platform::PlatformError;

namespace {

// Forwards world events to one watcher while it lives.
template <typename W>
class WatcherListener : public WorldListener {
  public:
    explicit WatcherListener(std::weak_ptr<W> watcher) : watcher_(std::move(watcher)) {}

    void onDeviceAdded(const std::shared_ptr<VirtualDevice>& device) override {
        if constexpr (std::is_same_v<W, EmuDeviceWatcher>) {
            if (auto w = watcher_.lock()) w->deviceAdded(device);
        }
    }
    void onDeviceRemoved(const std::shared_ptr<VirtualDevice>& device) override {
        if constexpr (std::is_same_v<W, EmuDeviceWatcher>) {
            if (auto w = watcher_.lock()) w->deviceRemoved(device);
        }
    }
    void onDeviceUpdated(const std::shared_ptr<VirtualDevice>& device) override {
        if constexpr (std::is_same_v<W, EmuDeviceWatcher>) {
            if (auto w = watcher_.lock()) w->deviceUpdated(device);
        }
    }
    void onAdvertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& args) override {
        if constexpr (std::is_same_v<W, EmuAdvertisementWatcher>) {
            if (auto w = watcher_.lock()) w->advertisement(args);
        }
    }

  private:
    std::weak_ptr<W> watcher_;
};

}  // namespace

// ---- DeviceInformation

EmuDeviceInformation::EmuDeviceInformation(std::shared_ptr<Emulator> emulator, std::uint64_t address,
                                           std::string id, std::string name)
    : emulator_(std::move(emulator)), address_(address), id_(std::move(id)), name_(std::move(name)) {}

std::string EmuDeviceInformation::id() {
    emulator_->internals().enter(Operation::DeviceInformationId, CallSite{address_, std::nullopt});
    return id_;
}

std::string EmuDeviceInformation::name() {
    emulator_->internals().enter(Operation::DeviceInformationName, CallSite{address_, std::nullopt});
    std::lock_guard<std::mutex> lock(mutex_);
    return name_;
}

void EmuDeviceInformation::update(const platform::DeviceInformationUpdate& update) {
    emulator_->internals().enter(Operation::DeviceInformationUpdate, CallSite{address_, std::nullopt});
    if (update.id != id_)
        throw PlatformError(platform::hresult::kInvalidArg, "the update is for another device");
    std::lock_guard<std::mutex> lock(mutex_);
    if (update.name) name_ = *update.name;
}

// ---- DeviceWatcher

EmuDeviceWatcher::EmuDeviceWatcher(std::shared_ptr<Emulator> emulator) : emulator_(std::move(emulator)) {}

EmuDeviceWatcher::~EmuDeviceWatcher() {
    unlisten();
}

void EmuDeviceWatcher::beforeAddHandler() {
    emulator_->internals().enter(Operation::DeviceWatcherAddHandler);
}

void EmuDeviceWatcher::beforeRemoveHandler() {
    emulator_->internals().enter(Operation::DeviceWatcherRemoveHandler);
}

void EmuDeviceWatcher::post(std::function<void(EmuDeviceWatcher&)> task) {
    std::weak_ptr<EmuDeviceWatcher> weak = weak_from_this();
    std::uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        generation = generation_;
    }
    emulator_->internals().dispatcher.post(Dispatcher::kDeviceWatcherStrand, [weak, generation, task] {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            if (self->generation_ != generation) return;
        }
        task(*self);
    });
}

void EmuDeviceWatcher::start() {
    emulator_->internals().enter(Operation::DeviceWatcherStart);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (started_)
            throw PlatformError(platform::hresult::kIllegalMethodCall, "the watcher is already started");
        started_ = true;
        ++generation_;
        reported_.clear();
    }
    const auto& world = emulator_->world();
    const auto token =
        world->addListener(std::make_shared<WatcherListener<EmuDeviceWatcher>>(weak_from_this()));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listenerToken_ = token;
    }
    for (const auto& device : world->devices()) {
        if (device->inRange()) deviceAdded(device);
    }
    post([](EmuDeviceWatcher& self) { self.completed_.invoke(self); });
}

void EmuDeviceWatcher::unlisten() {
    std::uint64_t token = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        token = listenerToken_;
        listenerToken_ = 0;
    }
    if (token) emulator_->world()->removeListener(token);
}

void EmuDeviceWatcher::stop() {
    emulator_->internals().enter(Operation::DeviceWatcherStop);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_) return;
    }
    unlisten();
    post([](EmuDeviceWatcher& self) {
        {
            std::lock_guard<std::mutex> lock(self.mutex_);
            self.started_ = false;
            ++self.generation_;
        }
        self.stopped_.invoke(self);
    });
}

void EmuDeviceWatcher::deviceAdded(const std::shared_ptr<VirtualDevice>& device) {
    const std::uint64_t address = device->address();
    post([address, device](EmuDeviceWatcher& self) {
        {
            std::lock_guard<std::mutex> lock(self.mutex_);
            if (!self.reported_.insert(address).second) return;
        }
        auto info = std::make_shared<EmuDeviceInformation>(self.emulator_, address,
                                                           self.emulator_->deviceId(address), device->name());
        self.added_.invoke(self, info);
    });
}

void EmuDeviceWatcher::deviceRemoved(const std::shared_ptr<VirtualDevice>& device) {
    const std::uint64_t address = device->address();
    post([address](EmuDeviceWatcher& self) {
        {
            std::lock_guard<std::mutex> lock(self.mutex_);
            if (self.reported_.erase(address) == 0) return;
        }
        platform::DeviceInformationUpdate update;
        update.id = self.emulator_->deviceId(address);
        self.removed_.invoke(self, update);
    });
}

void EmuDeviceWatcher::deviceUpdated(const std::shared_ptr<VirtualDevice>& device) {
    const std::uint64_t address = device->address();
    const std::string name = device->name();
    post([address, name](EmuDeviceWatcher& self) {
        {
            std::lock_guard<std::mutex> lock(self.mutex_);
            if (self.reported_.count(address) == 0) return;
        }
        platform::DeviceInformationUpdate update;
        update.id = self.emulator_->deviceId(address);
        update.name = name;
        self.updated_.invoke(self, update);
    });
}

// ---- BluetoothLEAdvertisementWatcher

EmuAdvertisementWatcher::EmuAdvertisementWatcher(std::shared_ptr<Emulator> emulator)
    : emulator_(std::move(emulator)) {}

EmuAdvertisementWatcher::~EmuAdvertisementWatcher() {
    if (unlisten()) emulator_->world()->setScanning(false);
}

void EmuAdvertisementWatcher::beforeAddHandler() {
    emulator_->internals().enter(Operation::AdvertisementWatcherAddHandler);
}

void EmuAdvertisementWatcher::beforeRemoveHandler() {
    emulator_->internals().enter(Operation::AdvertisementWatcherRemoveHandler);
}

void EmuAdvertisementWatcher::start() {
    emulator_->internals().enter(Operation::AdvertisementWatcherStart);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Starting a started watcher changes nothing.
        if (started_) return;
        started_ = true;
        ++generation_;
    }
    const auto& world = emulator_->world();
    const auto token =
        world->addListener(std::make_shared<WatcherListener<EmuAdvertisementWatcher>>(weak_from_this()));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listenerToken_ = token;
    }
    world->setScanning(true);
}

bool EmuAdvertisementWatcher::unlisten() {
    std::uint64_t token = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        token = listenerToken_;
        listenerToken_ = 0;
        started_ = false;
        ++generation_;
    }
    if (token) emulator_->world()->removeListener(token);
    return token != 0;
}

void EmuAdvertisementWatcher::stop() {
    emulator_->internals().enter(Operation::AdvertisementWatcherStop);
    if (!unlisten()) return;
    emulator_->world()->setScanning(false);
    std::weak_ptr<EmuAdvertisementWatcher> weak = weak_from_this();
    emulator_->internals().dispatcher.post(Dispatcher::kAdvertisementStrand, [weak] {
        if (auto self = weak.lock()) self->stopped_.invoke(*self);
    });
}

void EmuAdvertisementWatcher::advertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& args) {
    std::weak_ptr<EmuAdvertisementWatcher> weak = weak_from_this();
    std::uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        generation = generation_;
    }
    emulator_->internals().dispatcher.post(Dispatcher::kAdvertisementStrand, [weak, generation, args] {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            if (self->generation_ != generation || !self->started_) return;
        }
        self->received_.invoke(*self, args);
    });
}

}  // namespace qb::emulator::detail
