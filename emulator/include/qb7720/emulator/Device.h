// A virtual Bluetooth LE peripheral: the model that every front end drives. The in-process platform
// is one front end; a daemon serving the same model over D-Bus is another. A front end:
//   - reads the database() once and maps handles to its own objects;
//   - calls connect()/disconnect(), read(), write() and setClientConfiguration() from any thread;
//     they return the ATT outcome. With a link model the device's link is a controller: a write
//     without response returns once its packet is queued (waiting while the few ACL buffers are all
//     in the air) and reaches the device when its air time is over; a write with response waits for
//     its answer, after every packet queued before it;
//   - addListener() to hear notifications, connection changes, name changes and removal. Listeners
//     run on whichever thread caused the event (a model thread, or a test calling notify()), in order
//     per device; they must not block and must not call back into the device (onNameChanged and
//     onRemoved may). The in-process platform hands every event on to its own threads;
//   - asks its World (World.h) for advertisements, or listens to them there.
// The model has no notion of who is connected: it serves one link at a time, and a front end that
// serves several clients decides how they share it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "qb7720/emulator/Gatt.h"
#include "qb7720/platform/Advertisement.h"

namespace qb::emulator {

class Clock;

enum class AttStatus {
    Success,
    Unreachable,  // out of range, or the link could not be made
    ReadNotPermitted,
    WriteNotPermitted,
    InvalidPdu,  // e.g. a write without response longer than MTU - 3
    InvalidAttributeLength,
    InvalidHandle,
    AccessDenied,  // the service's access is not Allowed
};

const char* attStatusName(AttStatus status);

struct AttReadResult {
    AttStatus status = AttStatus::Unreachable;
    Bytes value;
};

// Model-side events, in order per device.
class DeviceListener {
  public:
    virtual ~DeviceListener() = default;
    virtual void onNotification(std::uint16_t valueHandle, const Bytes& value) = 0;
    virtual void onConnectionChanged(bool connected) = 0;
    virtual void onNameChanged(const std::string& name) = 0;
    virtual void onRemoved() = 0;
};

struct DeviceConfig {
    std::string name;           // empty: the device has no name until setName()
    std::uint64_t address = 0;  // 0: the World picks one
    std::int16_t rssi = -60;
    std::chrono::milliseconds advertisingInterval{100};
    bool advertises = true;
    bool connectable = true;
    // Manufacturer sections of its advertisements (a bridge fills in its own).
    std::vector<platform::BluetoothLEManufacturerData> manufacturerData;
    // Generic Access and Device Information first, as every device has them.
    bool standardServices = true;
    std::vector<ServiceSpec> services;
    std::uint16_t mtu = 247;  // ATT MTU of each new connection
};

// One record per ATT write the device received, in order.
struct WriteRecord {
    std::uint16_t valueHandle = 0;
    Guid uuid;
    Bytes value;
    bool withResponse = true;
};

class VirtualDevice : public std::enable_shared_from_this<VirtualDevice> {
  public:
    virtual ~VirtualDevice();
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    std::uint64_t address() const;
    std::string name() const;
    // A name change reaches device watchers as an Updated event.
    void setName(const std::string& name);
    std::int16_t rssi() const;
    void setRssi(std::int16_t rssi);
    const DeviceConfig& config() const { return config_; }

    std::vector<ServiceEntry> database() const;
    const CharacteristicEntry* findCharacteristic(std::uint16_t shortUuid) const;
    // Access of a service by its UUID; answered by RequestAccess and GetCharacteristics.
    void setServiceAccess(const Guid& service, platform::DeviceAccessStatus access);
    platform::DeviceAccessStatus serviceAccess(const Guid& service) const;

    // Range: out of range it neither advertises nor connects, and an open link drops.
    bool inRange() const;
    void setInRange(bool inRange);

    // The link. connect() succeeds when in range and connectable; both raise onConnectionChanged.
    bool connected() const;
    AttStatus connect();
    void disconnect();
    // The link drops now, as a radio loss would; the next connect() makes it again.
    void dropLink() { disconnect(); }
    std::uint16_t mtu() const;  // of the current (or next) connection
    void setMtu(std::uint16_t mtu);

    AttReadResult read(std::uint16_t valueHandle);
    AttStatus write(std::uint16_t valueHandle, const Bytes& value, bool withResponse);
    // How long a write without response would wait for room on the link now (0: it would go at once).
    std::chrono::nanoseconds writeWait() const;
    // Packets queued on the link and not yet at the device.
    std::size_t packetsInFlight() const;
    // Writes the client configuration of the characteristic with this value handle (0 off, 1 notify,
    // 2 indicate).
    AttStatus setClientConfiguration(std::uint16_t valueHandle, std::uint16_t value);
    std::uint16_t clientConfiguration(std::uint16_t valueHandle) const;

    // Sends a notification (dropped, and counted, while the host has not enabled it or no link is up).
    // Returns true when it went out.
    bool notify(std::uint16_t valueHandle, const Bytes& value);
    std::uint64_t droppedNotifications() const;

    // Everything written, in order.
    std::vector<WriteRecord> writes() const;
    void clearWrites();
    // The current value of a characteristic (what a read would return without side effects).
    Bytes value(std::uint16_t valueHandle) const;
    void setValue(std::uint16_t valueHandle, const Bytes& value);

    // Listeners; tokens start at 1.
    std::uint64_t addListener(std::shared_ptr<DeviceListener> listener);
    void removeListener(std::uint64_t token);

    // Advertisements this device sends each interval: a connectable undirected report (manufacturer
    // data) and a scan response (name). Empty when it does not advertise or is out of range.
    std::vector<platform::BluetoothLEAdvertisementReceivedEventArgs> advertisements() const;

  protected:
    VirtualDevice(DeviceConfig config, std::shared_ptr<Clock> clock);

    // Hooks for models with behaviour (the bridge), called with mutex() held. The defaults keep and
    // return the characteristic's value.
    virtual AttReadResult onReadLocked(const CharacteristicEntry& entry);
    virtual AttStatus onWriteLocked(const CharacteristicEntry& entry, const Bytes& value, bool withResponse);
    virtual void onConnectionChangeLocked(bool connected);
    // How the link carries a write of this many value bytes; air 0 means at once (no link model).
    struct LinkTiming {
        std::chrono::nanoseconds air{0};       // the PDU on the air
        std::chrono::nanoseconds response{0};  // until a write request's answer is back
        std::size_t aclBuffers = 1;            // packets the controller holds at a time
    };
    virtual LinkTiming linkTimingLocked(std::size_t bytes) const;
    // A packet was queued on the link; models with a runner wake it here.
    virtual void onLinkQueuedLocked() {}
    // Hands the packets whose air time is over to the device, in order.
    void deliverDueWritesLocked(std::chrono::nanoseconds now);
    // When the next queued packet arrives (nullopt: none queued).
    std::optional<std::chrono::nanoseconds> nextWriteDeliveryLocked() const;

    std::mutex& mutex() const;
    // notify() with mutex() held.
    bool notifyLocked(std::uint16_t valueHandle, const Bytes& value);
    bool connectedLocked() const;
    std::uint16_t mtuLocked() const;
    std::uint16_t clientConfigurationLocked(std::uint16_t valueHandle) const;
    const std::shared_ptr<Clock>& clock() const { return clock_; }

  private:
    friend class World;
    void notifyRemoved();
    std::optional<AttStatus> refuseWriteLocked(std::uint16_t valueHandle, const Bytes& value,
                                               bool withResponse) const;
    AttStatus deliverLocked(std::uint16_t valueHandle, const Bytes& value, bool withResponse);
    struct State;
    DeviceConfig config_;
    std::shared_ptr<Clock> clock_;
    std::unique_ptr<State> state_;
};

}  // namespace qb::emulator
