#include "qb7720/emulator/Emulator.h"

#include "platform/Core.h"
#include "platform/EmulatedPlatform.h"

namespace qb::emulator {

std::optional<platform::GattCommunicationStatus> Emulator::Impl::enter(Operation op,
                                                                       const detail::CallSite& site) {
    calls[static_cast<std::size_t>(op)].fetch_add(1, std::memory_order_relaxed);
    return faults.consume(op, site);
}

Emulator::Emulator(EmulatorOptions options)
    : options_(std::move(options)),
      world_(World::create(options_.timeMode)),
      impl_(std::make_unique<Impl>()) {
    impl_->radios = options_.radios;
    impl_->controllerVersion = options_.controllerVersion;
}

std::shared_ptr<Emulator> Emulator::create(EmulatorOptions options) {
    return std::shared_ptr<Emulator>(new Emulator(std::move(options)));
}

std::shared_ptr<Emulator> Emulator::of(const std::shared_ptr<platform::Platform>& platform) {
    auto* emulated = dynamic_cast<detail::EmulatedPlatform*>(platform.get());
    return emulated ? emulated->emulator() : nullptr;
}

Emulator::~Emulator() {
    impl_->dispatcher.shutdown();
    std::map<std::uint64_t, std::shared_ptr<detail::DeviceHub>> hubs;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        hubs.swap(impl_->hubs);
    }
    for (auto& entry : hubs) entry.second->detach();
}

std::shared_ptr<platform::Platform> Emulator::platform() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto existing = impl_->platform.lock();
    if (existing) return existing;
    auto made = std::make_shared<detail::EmulatedPlatform>(shared_from_this());
    impl_->platform = made;
    return made;
}

void Emulator::install() {
    platform::setCurrent(platform());
}

void Emulator::setRadios(std::vector<RadioConfig> radios) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->radios = std::move(radios);
}

std::vector<RadioConfig> Emulator::radios() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->radios;
}

void Emulator::setControllerVersion(std::optional<int> version) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->controllerVersion = version;
}

std::string Emulator::deviceId(std::uint64_t address) const {
    return "BluetoothLE#BluetoothLE" + World::addressText(options_.localAddress) + "-" +
           World::addressText(address);
}

void Emulator::injectError(Operation op, platform::HResult code, int count, FaultTarget target) {
    impl_->faults.addError(op, code, count, target);
}

void Emulator::injectGattStatus(Operation op, platform::GattCommunicationStatus status, int count,
                                FaultTarget target) {
    impl_->faults.addStatus(op, status, count, target);
}

void Emulator::clearFaults() {
    impl_->faults.clear();
}

std::size_t Emulator::pendingFaults() const {
    return impl_->faults.pending();
}

std::uint64_t Emulator::callCount(Operation op) const {
    const auto index = static_cast<std::size_t>(op);
    return index < kOperationCount ? impl_->calls[index].load(std::memory_order_relaxed) : 0;
}

void Emulator::waitIdle() {
    // Delivery can make more work (a handler writes), so settle and drain until nothing new was posted;
    // the bound keeps a peer that never stops talking from holding the caller forever.
    for (int round = 0; round < 100; ++round) {
        const auto before = impl_->dispatcher.posted();
        world_->settle();
        impl_->dispatcher.waitIdle();
        if (impl_->dispatcher.posted() == before) return;
    }
}

std::vector<std::string> Emulator::debugOutput() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->debugLines;
}

}  // namespace qb::emulator
