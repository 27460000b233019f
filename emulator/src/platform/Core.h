// What the platform objects share: the emulator's event threads, faults, call counts, radios, and one
// hub per virtual device that fans model events out to the platform objects of that device.
#pragma once

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Dispatcher.h"
#include "qb7720/emulator/Emulator.h"
#include "qb7720/platform/Platform.h"

namespace qb::emulator {
namespace detail {

class EmuLEDevice;
class EmuCharacteristic;

// The object a call was made on, for matching fault targets.
struct CallSite {
    std::optional<std::uint64_t> address;
    std::optional<std::uint16_t> shortUuid;
};

class FaultTable {
  public:
    void addError(Operation op, platform::HResult code, int count, const FaultTarget& target);
    void addStatus(Operation op, platform::GattCommunicationStatus status, int count,
                   const FaultTarget& target);
    void clear();
    std::size_t pending() const;
    // Throws the first matching error fault; returns the first matching status fault.
    std::optional<platform::GattCommunicationStatus> consume(Operation op, const CallSite& site);

  private:
    struct Fault {
        Operation op;
        bool isStatus = false;
        platform::HResult code = 0;
        platform::GattCommunicationStatus status = platform::GattCommunicationStatus::Success;
        int remaining = 1;
        FaultTarget target;
    };
    mutable std::mutex mutex_;
    std::vector<Fault> faults_;
};

// Fans one device's model events out to its live platform objects, on the device's strand.
class DeviceHub : public std::enable_shared_from_this<DeviceHub> {
  public:
    DeviceHub(std::weak_ptr<Emulator> emulator, std::shared_ptr<VirtualDevice> device);
    void attach();  // registers with the model; call once after construction
    void detach();

    const std::shared_ptr<VirtualDevice>& device() const { return device_; }

    void addDevice(const std::shared_ptr<EmuLEDevice>& device);
    void addCharacteristic(const std::shared_ptr<EmuCharacteristic>& characteristic);

    // Keeps the link up while anything holds it; the last release drops it.
    void hold();
    void release();

    // Model side.
    void deliverNotification(std::uint16_t valueHandle, const platform::Bytes& value);
    void deliverConnection();

  private:
    std::weak_ptr<Emulator> emulator_;
    std::shared_ptr<VirtualDevice> device_;
    std::mutex mutex_;
    std::vector<std::weak_ptr<EmuLEDevice>> devices_;
    std::vector<std::weak_ptr<EmuCharacteristic>> characteristics_;
    int holds_ = 0;
    std::uint64_t listenerToken_ = 0;
};

}  // namespace detail

struct Emulator::Impl {
    detail::Dispatcher dispatcher;
    detail::FaultTable faults;
    std::array<std::atomic<std::uint64_t>, kOperationCount> calls{};

    mutable std::mutex mutex;
    std::vector<RadioConfig> radios;
    std::optional<int> controllerVersion;
    std::weak_ptr<platform::Platform> platform;
    std::map<std::uint64_t, std::shared_ptr<detail::DeviceHub>> hubs;
    std::vector<std::string> debugLines;

    // Counts the call and applies any fault aimed at it.
    std::optional<platform::GattCommunicationStatus> enter(Operation op, const detail::CallSite& site = {});
};

namespace detail {

// The hub of a device, made on first use.
std::shared_ptr<DeviceHub> hubOf(Emulator& emulator, const std::shared_ptr<VirtualDevice>& device);

}  // namespace detail
}  // namespace qb::emulator
