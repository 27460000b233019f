// The in-process emulated platform: a qb::platform::Platform over a World of virtual devices, with
// local radios, fault injection and time control for tests.
//
//   auto emu = qb::emulator::Emulator::create();
//   auto bridge = emu->addBridge();            // a loopback bridge
//   emu->install();                            // qb::platform::setCurrent(emu->platform())
//   emu->injectError(Operation::CharacteristicWriteValue, hresult::kAttInvalidPdu);
//
// Every platform event (advertisements, watcher events, connection changes, value changes) is
// delivered on the emulator's own threads, in order per device and per watcher. Platform objects keep
// the emulator alive; dropping them while events are in flight is safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qb7720/emulator/Bridge.h"
#include "qb7720/emulator/Clock.h"
#include "qb7720/emulator/Config.h"
#include "qb7720/emulator/Device.h"
#include "qb7720/emulator/Operation.h"
#include "qb7720/emulator/World.h"
#include "qb7720/platform/Platform.h"

namespace qb::emulator {

struct RadioConfig {
    std::uint8_t version = 9;     // byte 291 of the local-information block
    bool infoFails = false;       // BluetoothGetRadioInfo fails
    bool localInfoFails = false;  // IOCTL_BTH_GET_LOCAL_INFO fails
};

// Which calls a fault applies to; unset fields match everything.
struct FaultTarget {
    std::optional<std::uint64_t> address;    // the device the object belongs to
    std::optional<std::uint16_t> shortUuid;  // of the characteristic (or service)
};

struct EmulatorOptions {
    TimeMode timeMode = TimeMode::Real;
    std::vector<RadioConfig> radios{RadioConfig{}};
    std::optional<int> controllerVersion = 9;
    std::uint64_t localAddress = 0x001122334455;  // the host adapter, part of every device id
};

class Emulator : public std::enable_shared_from_this<Emulator> {
  public:
    static std::shared_ptr<Emulator> create(EmulatorOptions options = {});
    // The emulator behind a platform made by platform() or createPlatformFromConfig, else null.
    static std::shared_ptr<Emulator> of(const std::shared_ptr<platform::Platform>& platform);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // The platform (one per emulator; it keeps the emulator alive).
    std::shared_ptr<platform::Platform> platform();
    // qb::platform::setCurrent(platform()).
    void install();

    const std::shared_ptr<World>& world() const { return world_; }
    Clock& clock() const { return *world_->clock(); }

    // Local radios and controller.
    void setRadios(std::vector<RadioConfig> radios);
    std::vector<RadioConfig> radios() const;
    void setControllerVersion(std::optional<int> version);
    std::uint64_t localAddress() const { return options_.localAddress; }

    // Devices (see World for the details).
    std::shared_ptr<VirtualBridge> addBridge(BridgeConfig config = {}) {
        return world_->addBridge(std::move(config));
    }
    std::shared_ptr<VirtualDevice> addDevice(DeviceConfig config) {
        return world_->addDevice(std::move(config));
    }
    bool removeDevice(std::uint64_t address) { return world_->removeDevice(address); }
    void emitAdvertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& advertisement) {
        world_->emitAdvertisement(advertisement);
    }
    // Bridges in the order they were added.
    std::vector<std::shared_ptr<VirtualBridge>> bridges() const { return world_->bridges(); }

    // The identifier a device watcher reports and FromIdAsync takes:
    // "BluetoothLE#BluetoothLE00:11:22:33:44:55-c2:a1:b3:d4:e5:f6".
    std::string deviceId(std::uint64_t address) const;

    // Faults. The next `count` calls of `op` (that match `target`) raise PlatformError(code).
    void injectError(Operation op, platform::HResult code, int count = 1, FaultTarget target = {});
    // The next `count` calls of `op` that report a GattCommunicationStatus report `status` instead
    // (the operation does not reach the device).
    void injectGattStatus(Operation op, platform::GattCommunicationStatus status, int count = 1,
                          FaultTarget target = {});
    void clearFaults();
    // Faults injected but not yet consumed.
    std::size_t pendingFaults() const;
    // How often each operation was called (including calls that failed).
    std::uint64_t callCount(Operation op) const;

    // Time: sleeps of the platform go through clock(); setSleepHook there (or here) observes them. In
    // fast and virtual time a sleep returns once the bridges have caught up with the new time and the
    // events that produced have been delivered, so a sleeper sees what would have arrived while it slept;
    // a handler blocked on something the sleeper holds is given up on after 20 ms of real time.
    void setSleepHook(Clock::SleepHook hook) { world_->clock()->setSleepHook(std::move(hook)); }

    // Blocks until the world has settled at the current time and every event queued so far has been
    // delivered. Must not be called from an event handler.
    void waitIdle();

    // Lines the platform's outputDebugString received, in order.
    std::vector<std::string> debugOutput() const;

    // The backend's own objects reach their shared state through here.
    struct Impl;
    Impl& internals() const { return *impl_; }

  private:
    explicit Emulator(EmulatorOptions options);
    EmulatorOptions options_;
    std::shared_ptr<World> world_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qb::emulator
