#include "EmulatedPlatform.h"

#include <cctype>

#include "DeviceObjects.h"
#include "Watchers.h"
#include "qb7720/platform/Radio.h"

namespace qb::emulator::detail {
namespace {

// How long a sleep in fast or virtual time waits for the event threads before it decides a handler is
// blocked (perhaps on a lock the sleeper holds) and returns anyway.
constexpr std::chrono::milliseconds kDeliveryStall{20};

class EmuRadio : public platform::BluetoothRadio {
  public:
    EmuRadio(std::shared_ptr<Emulator> emulator, RadioConfig config)
        : emulator_(std::move(emulator)), config_(config) {}

    // The classic radio calls fail by their result, never by raising; an injected error is such a failure.
    bool getRadioInfo() override {
        try {
            emulator_->internals().enter(Operation::RadioGetRadioInfo);
        } catch (const platform::PlatformError&) {
            return false;
        }
        return !config_.infoFails;
    }

    bool getLocalInfo(platform::LocalRadioInfo& info) override {
        try {
            emulator_->internals().enter(Operation::RadioGetLocalInfo);
        } catch (const platform::PlatformError&) {
            return false;
        }
        if (config_.localInfoFails) return false;
        info[platform::kLocalRadioInfoVersionOffset] = config_.version;
        return true;
    }

  private:
    std::shared_ptr<Emulator> emulator_;
    RadioConfig config_;
};

class EmuRadioFind : public platform::BluetoothRadioFind {
  public:
    EmuRadioFind(std::shared_ptr<Emulator> emulator, std::vector<RadioConfig> radios)
        : emulator_(std::move(emulator)), radios_(std::move(radios)) {}

    std::shared_ptr<platform::BluetoothRadio> first() override {
        return std::make_shared<EmuRadio>(emulator_, radios_.front());
    }

    bool findNext(std::shared_ptr<platform::BluetoothRadio>& radio) override {
        try {
            emulator_->internals().enter(Operation::RadioFindNext);
        } catch (const platform::PlatformError&) {
            return false;
        }
        if (next_ >= radios_.size()) return false;
        radio = std::make_shared<EmuRadio>(emulator_, radios_[next_++]);
        return true;
    }

  private:
    std::shared_ptr<Emulator> emulator_;
    std::vector<RadioConfig> radios_;
    std::size_t next_ = 1;
};

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::shared_ptr<platform::DeviceWatcher> EmulatedPlatform::deviceInformationCreateWatcher(
    const std::string&, const std::vector<std::string>&, platform::DeviceInformationKind) {
    emulator_->internals().enter(Operation::CreateDeviceWatcher);
    return std::make_shared<EmuDeviceWatcher>(emulator_);
}

std::shared_ptr<platform::BluetoothLEAdvertisementWatcher>
EmulatedPlatform::createBluetoothLEAdvertisementWatcher() {
    emulator_->internals().enter(Operation::CreateAdvertisementWatcher);
    return std::make_shared<EmuAdvertisementWatcher>(emulator_);
}

std::shared_ptr<VirtualDevice> EmulatedPlatform::deviceById(const std::string& id) const {
    for (const auto& device : emulator_->world()->devices()) {
        // Identifiers compare without regard to case, as the platform's do.
        if (equalsIgnoringCase(emulator_->deviceId(device->address()), id)) return device;
    }
    return nullptr;
}

std::shared_ptr<platform::BluetoothLEDevice> EmulatedPlatform::bluetoothLEDeviceFromId(
    const std::string& deviceId) {
    emulator_->internals().enter(Operation::DeviceFromId);
    auto device = deviceById(deviceId);
    if (!device) return nullptr;
    return EmuLEDevice::create(emulator_, hubOf(*emulator_, device));
}

std::shared_ptr<platform::BluetoothLEDevice> EmulatedPlatform::bluetoothLEDeviceFromBluetoothAddress(
    std::uint64_t address) {
    emulator_->internals().enter(Operation::DeviceFromAddress, CallSite{address, std::nullopt});
    auto device = emulator_->world()->findDevice(address & 0xFFFFFFFFFFFFull);
    if (!device) return nullptr;
    return EmuLEDevice::create(emulator_, hubOf(*emulator_, device));
}

std::shared_ptr<platform::GattSession> EmulatedPlatform::gattSessionFromDeviceId(
    const std::string& bluetoothDeviceId) {
    emulator_->internals().enter(Operation::GattSessionFromDeviceId);
    auto device = deviceById(bluetoothDeviceId);
    if (!device) return nullptr;
    return std::make_shared<EmuSession>(emulator_, hubOf(*emulator_, device));
}

std::unique_ptr<platform::BluetoothRadioFind> EmulatedPlatform::bluetoothFindFirstRadio() {
    try {
        emulator_->internals().enter(Operation::FindFirstRadio);
    } catch (const platform::PlatformError&) {
        return nullptr;
    }
    auto radios = emulator_->radios();
    if (radios.empty()) return nullptr;
    return std::make_unique<EmuRadioFind>(emulator_, std::move(radios));
}

std::optional<int> EmulatedPlatform::localControllerVersion() {
    try {
        emulator_->internals().enter(Operation::LocalControllerVersion);
    } catch (const platform::PlatformError&) {
        return std::nullopt;
    }
    std::lock_guard<std::mutex> lock(emulator_->internals().mutex);
    return emulator_->internals().controllerVersion;
}

void EmulatedPlatform::sleep(std::chrono::milliseconds duration) {
    emulator_->internals().enter(Operation::Sleep);
    auto& clock = emulator_->clock();
    clock.sleep(duration);
    if (clock.mode() == TimeMode::Real) return;
    // Time jumped: let the bridges catch up and their events arrive, as they would have while asleep.
    auto& dispatcher = emulator_->internals().dispatcher;
    if (dispatcher.onDispatcherThread()) return;
    emulator_->world()->settle();
    dispatcher.waitIdleUnlessStalled(kDeliveryStall);
}

bool EmulatedPlatform::initializeApartment() {
    emulator_->internals().enter(Operation::InitializeApartment);
    return true;
}

void EmulatedPlatform::outputDebugString(const std::string& line) {
    emulator_->internals().enter(Operation::OutputDebugString);
    std::lock_guard<std::mutex> lock(emulator_->internals().mutex);
    auto& lines = emulator_->internals().debugLines;
    // Keeps the newest lines of a long run.
    if (lines.size() == 10000) lines.erase(lines.begin());
    lines.push_back(line);
}

}  // namespace qb::emulator::detail
