// The radio world the emulator simulates: the clock, the devices in it, and a runner thread that
// moves the devices' own work (line draining, peers, advertising) along with time. Front ends share
// one World: the in-process platform (Emulator.h) and the D-Bus daemon both drive their devices
// through it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qb7720/emulator/Bridge.h"
#include "qb7720/emulator/Clock.h"
#include "qb7720/emulator/Device.h"

namespace qb::emulator {

// Listener of the world's devices and advertisements. Called on the runner thread or on the thread
// that changed the world; must not block, and must not call back into the World from inside.
class WorldListener {
  public:
    virtual ~WorldListener() = default;
    virtual void onDeviceAdded(const std::shared_ptr<VirtualDevice>& device) = 0;
    virtual void onDeviceRemoved(const std::shared_ptr<VirtualDevice>& device) = 0;
    // A device's name changed (or it got its first one).
    virtual void onDeviceUpdated(const std::shared_ptr<VirtualDevice>& device) = 0;
    // While someone scans (see setScanning), each advertisement as it is sent.
    virtual void onAdvertisement(
        const platform::BluetoothLEAdvertisementReceivedEventArgs& advertisement) = 0;
};

class World : public std::enable_shared_from_this<World> {
  public:
    static std::shared_ptr<World> create(TimeMode mode = TimeMode::Real);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    const std::shared_ptr<Clock>& clock() const { return clock_; }

    // Devices. An address of 0 in the config gets the next free one (C0:51:xx:xx:xx:xx).
    std::shared_ptr<VirtualBridge> addBridge(BridgeConfig config = {});
    std::shared_ptr<VirtualDevice> addDevice(DeviceConfig config);
    // Removes a device: open links drop, watchers see it removed. False when unknown.
    bool removeDevice(std::uint64_t address);
    std::vector<std::shared_ptr<VirtualDevice>> devices() const;  // in the order they were added
    std::vector<std::shared_ptr<VirtualBridge>> bridges() const;
    std::shared_ptr<VirtualDevice> findDevice(std::uint64_t address) const;

    // Advertising runs only while at least one scanner is on; each device advertises once when
    // scanning starts and then every advertising interval.
    void setScanning(bool on);  // counted: every on needs an off
    bool scanning() const;
    // Sends one exact advertisement to the listeners now (even when nobody scans).
    void emitAdvertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& advertisement);

    std::uint64_t addListener(std::shared_ptr<WorldListener> listener);
    void removeListener(std::uint64_t token);

    // Returns once the runner has done every piece of work due at the clock's current time.
    void settle();

    // "c0:51:00:00:00:01" for 0xC05100000001.
    static std::string addressText(std::uint64_t address);

    struct Impl;

  private:
    explicit World(TimeMode mode);
    void addDevice(const std::shared_ptr<VirtualDevice>& device,
                   const std::shared_ptr<VirtualBridge>& bridge);
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Impl> impl_;
};

}  // namespace qb::emulator
