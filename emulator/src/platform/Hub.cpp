#include <algorithm>

#include "Core.h"
#include "DeviceObjects.h"

namespace qb::emulator::detail {
namespace {

class HubListener : public DeviceListener {
  public:
    explicit HubListener(std::weak_ptr<DeviceHub> hub) : hub_(std::move(hub)) {}
    void onNotification(std::uint16_t valueHandle, const Bytes& value) override {
        if (auto hub = hub_.lock()) hub->deliverNotification(valueHandle, value);
    }
    void onConnectionChanged(bool) override {
        if (auto hub = hub_.lock()) hub->deliverConnection();
    }
    void onNameChanged(const std::string&) override {}
    void onRemoved() override {}

  private:
    std::weak_ptr<DeviceHub> hub_;
};

template <typename T>
void prune(std::vector<std::weak_ptr<T>>& list) {
    list.erase(
        std::remove_if(list.begin(), list.end(), [](const std::weak_ptr<T>& w) { return w.expired(); }),
        list.end());
}

}  // namespace

DeviceHub::DeviceHub(std::weak_ptr<Emulator> emulator, std::shared_ptr<VirtualDevice> device)
    : emulator_(std::move(emulator)), device_(std::move(device)) {}

void DeviceHub::attach() {
    listenerToken_ = device_->addListener(std::make_shared<HubListener>(weak_from_this()));
}

void DeviceHub::detach() {
    device_->removeListener(listenerToken_);
}

void DeviceHub::addDevice(const std::shared_ptr<EmuLEDevice>& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    prune(devices_);
    devices_.push_back(device);
}

void DeviceHub::addCharacteristic(const std::shared_ptr<EmuCharacteristic>& characteristic) {
    std::lock_guard<std::mutex> lock(mutex_);
    prune(characteristics_);
    characteristics_.push_back(characteristic);
}

void DeviceHub::hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++holds_;
}

void DeviceHub::release() {
    bool drop = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (holds_ > 0 && --holds_ == 0) drop = true;
    }
    if (drop) device_->disconnect();
}

void DeviceHub::deliverNotification(std::uint16_t valueHandle, const Bytes& value) {
    auto emulator = emulator_.lock();
    if (!emulator) return;
    std::weak_ptr<DeviceHub> weak = weak_from_this();
    emulator->internals().dispatcher.post(device_->address(), [weak, valueHandle, value] {
        auto hub = weak.lock();
        if (!hub) return;
        std::vector<std::shared_ptr<EmuCharacteristic>> targets;
        {
            std::lock_guard<std::mutex> lock(hub->mutex_);
            for (const auto& w : hub->characteristics_) {
                auto c = w.lock();
                if (c && c->valueHandle() == valueHandle) targets.push_back(std::move(c));
            }
        }
        for (const auto& c : targets) c->raiseValueChanged(value);
    });
}

void DeviceHub::deliverConnection() {
    auto emulator = emulator_.lock();
    if (!emulator) return;
    std::weak_ptr<DeviceHub> weak = weak_from_this();
    emulator->internals().dispatcher.post(device_->address(), [weak] {
        auto hub = weak.lock();
        if (!hub) return;
        std::vector<std::shared_ptr<EmuLEDevice>> targets;
        {
            std::lock_guard<std::mutex> lock(hub->mutex_);
            for (const auto& w : hub->devices_) {
                if (auto d = w.lock()) targets.push_back(std::move(d));
            }
        }
        for (const auto& d : targets) d->raiseConnectionStatusChanged();
    });
}

std::shared_ptr<DeviceHub> hubOf(Emulator& emulator, const std::shared_ptr<VirtualDevice>& device) {
    auto& core = emulator.internals();
    std::lock_guard<std::mutex> lock(core.mutex);
    auto& hub = core.hubs[device->address()];
    if (!hub || hub->device() != device) {
        if (hub) hub->detach();
        hub = std::make_shared<DeviceHub>(emulator.weak_from_this(), device);
        hub->attach();
    }
    return hub;
}

}  // namespace qb::emulator::detail
