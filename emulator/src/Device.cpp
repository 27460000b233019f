#include <algorithm>
#include <deque>
#include <map>

#include "qb7720/emulator/Clock.h"
#include "qb7720/emulator/Device.h"
#include "qb7720/protocol/Types.h"

namespace qb::emulator {

using platform::BluetoothLEAdvertisementReceivedEventArgs;
using platform::BluetoothLEAdvertisementType;

namespace {

using protocol::kMaxAttributeValue;
// Legacy advertising payload, and the bytes the flags and a name section's header take.
constexpr std::size_t kAdvertisingPayload = 31;

}  // namespace

const char* attStatusName(AttStatus status) {
    switch (status) {
        case AttStatus::Success:
            return "success";
        case AttStatus::Unreachable:
            return "unreachable";
        case AttStatus::ReadNotPermitted:
            return "read not permitted";
        case AttStatus::WriteNotPermitted:
            return "write not permitted";
        case AttStatus::InvalidPdu:
            return "invalid PDU";
        case AttStatus::InvalidAttributeLength:
            return "invalid attribute value length";
        case AttStatus::InvalidHandle:
            return "invalid handle";
        case AttStatus::AccessDenied:
            return "access denied";
    }
    return "?";
}

struct VirtualDevice::State {
    mutable std::mutex mutex;
    std::string name;
    std::int16_t rssi = 0;
    bool inRange = true;
    bool connected = false;
    std::uint16_t configuredMtu = 247;
    std::uint16_t mtu = 247;
    std::vector<ServiceEntry> database;
    std::map<std::uint16_t, Bytes> values;
    std::map<std::uint16_t, std::uint16_t> clientConfig;  // by value handle
    std::vector<WriteRecord> writes;
    std::uint64_t droppedNotifications = 0;
    std::map<std::uint64_t, std::shared_ptr<DeviceListener>> listeners;
    std::uint64_t lastToken = 0;
    // The controller's side of the link: packets queued or in the air, oldest first.
    struct Packet {
        std::uint64_t id = 0;
        Clock::TimePoint arrives{0};
        std::uint16_t valueHandle = 0;
        Bytes value;
        bool withResponse = false;
    };
    std::deque<Packet> inFlight;
    Clock::TimePoint airBusyUntil{0};
    std::uint64_t lastPacket = 0;
    std::map<std::uint64_t, AttStatus> answers;  // of write requests, until their writer takes them
    std::size_t aclBuffers = 1;

    const CharacteristicEntry* byValueHandle(std::uint16_t handle, const ServiceEntry** owner) const {
        for (const auto& service : database) {
            if (handle < service.startHandle || handle > service.endHandle) continue;
            for (const auto& c : service.characteristics) {
                if (c.valueHandle == handle) {
                    if (owner) *owner = &service;
                    return &c;
                }
            }
        }
        return nullptr;
    }

    template <typename F>
    void emit(F&& f) {
        for (const auto& entry : listeners) f(*entry.second);
    }
};

VirtualDevice::VirtualDevice(DeviceConfig config, std::shared_ptr<Clock> clock)
    : config_(std::move(config)), clock_(std::move(clock)), state_(std::make_unique<State>()) {
    state_->name = config_.name;
    state_->rssi = config_.rssi;
    state_->configuredMtu = std::max<std::uint16_t>(23, config_.mtu);
    state_->mtu = state_->configuredMtu;
    std::vector<ServiceSpec> defs;
    if (config_.standardServices) defs = standardServices(config_.name);
    defs.insert(defs.end(), config_.services.begin(), config_.services.end());
    state_->database = assignHandles(defs);
    // Values follow the handles they were assigned.
    std::size_t s = 0;
    for (const auto& def : defs) {
        const auto& service = state_->database[s++];
        for (std::size_t c = 0; c < def.characteristics.size(); ++c) {
            Bytes value = def.characteristics[c].value;
            if (value.size() > kMaxAttributeValue) value.resize(kMaxAttributeValue);
            state_->values[service.characteristics[c].valueHandle] = std::move(value);
        }
    }
}

VirtualDevice::~VirtualDevice() = default;

std::uint64_t VirtualDevice::address() const {
    return config_.address;
}

std::string VirtualDevice::name() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->name;
}

void VirtualDevice::setName(const std::string& name) {
    std::vector<std::shared_ptr<DeviceListener>> listeners;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->name == name) return;
        state_->name = name;
        for (const auto& service : state_->database) {
            for (const auto& c : service.characteristics) {
                if (c.uuid == Guid::fromShortUuid(0x2A00)) {
                    state_->values[c.valueHandle] = Bytes(name.begin(), name.end());
                }
            }
        }
        for (const auto& entry : state_->listeners) listeners.push_back(entry.second);
    }
    // Outside the lock: those who hear of a new name read it back.
    for (const auto& listener : listeners) listener->onNameChanged(name);
}

std::int16_t VirtualDevice::rssi() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->rssi;
}

void VirtualDevice::setRssi(std::int16_t rssi) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->rssi = rssi;
}

std::vector<ServiceEntry> VirtualDevice::database() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->database;
}

const CharacteristicEntry* VirtualDevice::findCharacteristic(std::uint16_t shortUuid) const {
    // The database's layout never changes after construction, so the pointer stays valid.
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (const auto& service : state_->database) {
        for (const auto& c : service.characteristics) {
            if (c.uuid.shortUuid() == shortUuid) return &c;
        }
    }
    return nullptr;
}

void VirtualDevice::setServiceAccess(const Guid& service, platform::DeviceAccessStatus access) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (auto& s : state_->database) {
        if (s.uuid == service) s.access = access;
    }
}

platform::DeviceAccessStatus VirtualDevice::serviceAccess(const Guid& service) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (const auto& s : state_->database) {
        if (s.uuid == service) return s.access;
    }
    return platform::DeviceAccessStatus::Unspecified;
}

bool VirtualDevice::inRange() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->inRange;
}

void VirtualDevice::setInRange(bool inRange) {
    bool drop = false;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->inRange = inRange;
        drop = !inRange && state_->connected;
    }
    if (drop) disconnect();
}

bool VirtualDevice::connected() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->connected;
}

AttStatus VirtualDevice::connect() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->connected) return AttStatus::Success;
    if (!state_->inRange || !config_.connectable) return AttStatus::Unreachable;
    state_->connected = true;
    state_->mtu = state_->configuredMtu;
    onConnectionChangeLocked(true);
    state_->emit([](DeviceListener& l) { l.onConnectionChanged(true); });
    return AttStatus::Success;
}

void VirtualDevice::disconnect() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->connected) return;
    state_->connected = false;
    // The bridge bonds with nobody, so what the host enabled ends with the link.
    state_->clientConfig.clear();
    // Packets still queued in the controller go down with the link.
    state_->inFlight.clear();
    onConnectionChangeLocked(false);
    state_->emit([](DeviceListener& l) { l.onConnectionChanged(false); });
}

std::uint16_t VirtualDevice::mtu() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->mtu;
}

void VirtualDevice::setMtu(std::uint16_t mtu) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->configuredMtu = std::clamp<std::uint16_t>(mtu, 23, 517);
    state_->mtu = state_->configuredMtu;
}

AttReadResult VirtualDevice::read(std::uint16_t valueHandle) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->connected) return {AttStatus::Unreachable, {}};
    const ServiceEntry* service = nullptr;
    const CharacteristicEntry* entry = state_->byValueHandle(valueHandle, &service);
    if (!entry) return {AttStatus::InvalidHandle, {}};
    if (service->access != platform::DeviceAccessStatus::Allowed) return {AttStatus::AccessDenied, {}};
    if (!(entry->properties & platform::gatt_property::kRead)) return {AttStatus::ReadNotPermitted, {}};
    return onReadLocked(*entry);
}

std::optional<AttStatus> VirtualDevice::refuseWriteLocked(std::uint16_t valueHandle, const Bytes& value,
                                                         bool withResponse) const {
    if (!state_->connected) return AttStatus::Unreachable;
    const ServiceEntry* service = nullptr;
    const CharacteristicEntry* entry = state_->byValueHandle(valueHandle, &service);
    if (!entry) return AttStatus::InvalidHandle;
    if (service->access != platform::DeviceAccessStatus::Allowed) return AttStatus::AccessDenied;
    const std::uint32_t needed =
        withResponse ? platform::gatt_property::kWrite : platform::gatt_property::kWriteWithoutResponse;
    if (!(entry->properties & needed)) return AttStatus::WriteNotPermitted;
    if (value.size() > kMaxAttributeValue) return AttStatus::InvalidAttributeLength;
    // Without a response there is no long write: the value must fit one PDU.
    if (!withResponse && value.size() + 3 > state_->mtu) return AttStatus::InvalidPdu;
    return std::nullopt;
}

AttStatus VirtualDevice::deliverLocked(std::uint16_t valueHandle, const Bytes& value, bool withResponse) {
    // The link may have dropped while the packet was in the air.
    if (!state_->connected) return AttStatus::Unreachable;
    const CharacteristicEntry* entry = state_->byValueHandle(valueHandle, nullptr);
    if (!entry) return AttStatus::InvalidHandle;
    state_->writes.push_back(WriteRecord{valueHandle, entry->uuid, value, withResponse});
    return onWriteLocked(*entry, value, withResponse);
}

void VirtualDevice::deliverDueWritesLocked(std::chrono::nanoseconds now) {
    while (!state_->inFlight.empty() && state_->inFlight.front().arrives <= now) {
        State::Packet packet = std::move(state_->inFlight.front());
        state_->inFlight.pop_front();
        const AttStatus status = deliverLocked(packet.valueHandle, packet.value, packet.withResponse);
        if (packet.withResponse) state_->answers[packet.id] = status;
    }
}

std::optional<std::chrono::nanoseconds> VirtualDevice::nextWriteDeliveryLocked() const {
    if (state_->inFlight.empty()) return std::nullopt;
    return state_->inFlight.front().arrives;
}

AttStatus VirtualDevice::write(std::uint16_t valueHandle, const Bytes& value, bool withResponse) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (auto refused = refuseWriteLocked(valueHandle, value, withResponse)) return *refused;
    deliverDueWritesLocked(clock_->now());
    const LinkTiming timing = linkTimingLocked(value.size());
    if (timing.air.count() <= 0) {
        // No link model (any more): what was still queued goes first.
        deliverDueWritesLocked(Clock::TimePoint::max());
        return deliverLocked(valueHandle, value, withResponse);
    }
    state_->aclBuffers = std::max<std::size_t>(1, timing.aclBuffers);
    // Every buffer taken: wait for the oldest packet to be acknowledged, as a host's write does.
    while (state_->inFlight.size() >= state_->aclBuffers) {
        const auto oldest = state_->inFlight.front().arrives;
        lock.unlock();
        clock_->waitUntil(oldest);
        lock.lock();
        deliverDueWritesLocked(clock_->now());
    }
    if (auto refused = refuseWriteLocked(valueHandle, value, withResponse)) return *refused;
    const auto now = clock_->now();
    State::Packet packet;
    packet.id = ++state_->lastPacket;
    packet.arrives = std::max(now, state_->airBusyUntil) + timing.air;
    packet.valueHandle = valueHandle;
    packet.value = value;
    packet.withResponse = withResponse;
    state_->airBusyUntil = packet.arrives;
    const auto id = packet.id;
    const auto answered = packet.arrives + timing.response;
    state_->inFlight.push_back(std::move(packet));
    onLinkQueuedLocked();
    if (!withResponse) return AttStatus::Success;
    lock.unlock();
    clock_->waitUntil(answered);
    lock.lock();
    deliverDueWritesLocked(clock_->now());
    const auto it = state_->answers.find(id);
    // Lost with the link before it arrived.
    if (it == state_->answers.end()) return AttStatus::Unreachable;
    const AttStatus status = it->second;
    state_->answers.erase(it);
    return status;
}

std::chrono::nanoseconds VirtualDevice::writeWait() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    const auto now = clock_->now();
    std::size_t due = 0;
    for (const auto& packet : state_->inFlight) {
        if (packet.arrives <= now) ++due;
    }
    const std::size_t waiting = state_->inFlight.size() - due;
    if (waiting < state_->aclBuffers) return std::chrono::nanoseconds{0};
    return state_->inFlight[due + waiting - state_->aclBuffers].arrives - now;
}

std::size_t VirtualDevice::packetsInFlight() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->inFlight.size();
}

AttStatus VirtualDevice::setClientConfiguration(std::uint16_t valueHandle, std::uint16_t value) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->connected) return AttStatus::Unreachable;
    const ServiceEntry* service = nullptr;
    const CharacteristicEntry* entry = state_->byValueHandle(valueHandle, &service);
    if (!entry) return AttStatus::InvalidHandle;
    if (service->access != platform::DeviceAccessStatus::Allowed) return AttStatus::AccessDenied;
    if (entry->cccdHandle == 0) return AttStatus::WriteNotPermitted;
    if (value > 3) return AttStatus::InvalidPdu;
    if (value == 0) {
        state_->clientConfig.erase(valueHandle);
    } else {
        state_->clientConfig[valueHandle] = value;
    }
    return AttStatus::Success;
}

std::uint16_t VirtualDevice::clientConfiguration(std::uint16_t valueHandle) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return clientConfigurationLocked(valueHandle);
}

std::uint16_t VirtualDevice::clientConfigurationLocked(std::uint16_t valueHandle) const {
    const auto it = state_->clientConfig.find(valueHandle);
    return it == state_->clientConfig.end() ? 0 : it->second;
}

bool VirtualDevice::notify(std::uint16_t valueHandle, const Bytes& value) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return notifyLocked(valueHandle, value);
}

bool VirtualDevice::notifyLocked(std::uint16_t valueHandle, const Bytes& value) {
    const CharacteristicEntry* entry = state_->byValueHandle(valueHandle, nullptr);
    if (!entry || !state_->connected || clientConfigurationLocked(valueHandle) == 0) {
        ++state_->droppedNotifications;
        return false;
    }
    Bytes sent = value;
    // A notification carries at most MTU - 3 bytes.
    if (sent.size() + 3 > state_->mtu) sent.resize(state_->mtu - 3u);
    state_->values[valueHandle] = sent;
    state_->emit([&](DeviceListener& l) { l.onNotification(valueHandle, sent); });
    return true;
}

std::uint64_t VirtualDevice::droppedNotifications() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->droppedNotifications;
}

std::vector<WriteRecord> VirtualDevice::writes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->writes;
}

void VirtualDevice::clearWrites() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->writes.clear();
}

Bytes VirtualDevice::value(std::uint16_t valueHandle) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    const auto it = state_->values.find(valueHandle);
    return it == state_->values.end() ? Bytes{} : it->second;
}

void VirtualDevice::setValue(std::uint16_t valueHandle, const Bytes& value) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->byValueHandle(valueHandle, nullptr)) return;
    Bytes v = value;
    if (v.size() > kMaxAttributeValue) v.resize(kMaxAttributeValue);
    state_->values[valueHandle] = std::move(v);
}

std::uint64_t VirtualDevice::addListener(std::shared_ptr<DeviceListener> listener) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    const auto token = ++state_->lastToken;
    state_->listeners.emplace(token, std::move(listener));
    return token;
}

void VirtualDevice::removeListener(std::uint64_t token) {
    std::shared_ptr<DeviceListener> released;
    std::lock_guard<std::mutex> lock(state_->mutex);
    const auto it = state_->listeners.find(token);
    if (it == state_->listeners.end()) return;
    released = std::move(it->second);
    state_->listeners.erase(it);
}

void VirtualDevice::notifyRemoved() {
    std::vector<std::shared_ptr<DeviceListener>> listeners;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        for (const auto& entry : state_->listeners) listeners.push_back(entry.second);
    }
    for (const auto& listener : listeners) listener->onRemoved();
}

std::vector<BluetoothLEAdvertisementReceivedEventArgs> VirtualDevice::advertisements() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<BluetoothLEAdvertisementReceivedEventArgs> out;
    if (!config_.advertises || !state_->inRange) return out;
    BluetoothLEAdvertisementReceivedEventArgs adv;
    adv.bluetoothAddress = config_.address & 0xFFFFFFFFFFFFull;
    adv.rawSignalStrengthInDBm = state_->rssi;
    adv.advertisementType = config_.connectable ? BluetoothLEAdvertisementType::ConnectableUndirected
                                                : BluetoothLEAdvertisementType::NonConnectableUndirected;
    adv.manufacturerData = config_.manufacturerData;
    // Flags take 3 bytes; each manufacturer section 4 plus its data; a name 2 plus its text.
    std::size_t used = 3;
    for (const auto& m : adv.manufacturerData) used += 4 + m.data.size();
    if (!state_->name.empty() && used + 2 + state_->name.size() <= kAdvertisingPayload) {
        adv.localName = state_->name;
    }
    out.push_back(adv);
    if (config_.connectable && !state_->name.empty()) {
        BluetoothLEAdvertisementReceivedEventArgs response;
        response.bluetoothAddress = adv.bluetoothAddress;
        response.rawSignalStrengthInDBm = state_->rssi;
        response.advertisementType = BluetoothLEAdvertisementType::ScanResponse;
        response.localName = state_->name;
        out.push_back(response);
    }
    return out;
}

AttReadResult VirtualDevice::onReadLocked(const CharacteristicEntry& entry) {
    const auto it = state_->values.find(entry.valueHandle);
    return {AttStatus::Success, it == state_->values.end() ? Bytes{} : it->second};
}

AttStatus VirtualDevice::onWriteLocked(const CharacteristicEntry& entry, const Bytes& value, bool) {
    state_->values[entry.valueHandle] = value;
    return AttStatus::Success;
}

void VirtualDevice::onConnectionChangeLocked(bool) {}

VirtualDevice::LinkTiming VirtualDevice::linkTimingLocked(std::size_t) const {
    return {};
}

std::mutex& VirtualDevice::mutex() const {
    return state_->mutex;
}

bool VirtualDevice::connectedLocked() const {
    return state_->connected;
}

std::uint16_t VirtualDevice::mtuLocked() const {
    return state_->mtu;
}

}  // namespace qb::emulator
