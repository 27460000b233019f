#include "DeviceObjects.h"

#include "qb7720/platform/PlatformError.h"

namespace qb::emulator::detail {

using platform::BluetoothCacheMode;
using platform::GattCommunicationStatus;
using platform::PlatformError;

namespace {

constexpr platform::HResult kAttReadNotPermitted = 0x80650002;

}  // namespace

GattCommunicationStatus toStatus(AttStatus status, const char* what) {
    switch (status) {
        case AttStatus::Success:
            return GattCommunicationStatus::Success;
        case AttStatus::Unreachable:
            return GattCommunicationStatus::Unreachable;
        case AttStatus::AccessDenied:
            return GattCommunicationStatus::AccessDenied;
        case AttStatus::InvalidHandle:
            return GattCommunicationStatus::ProtocolError;
        case AttStatus::ReadNotPermitted:
            throw PlatformError(kAttReadNotPermitted, std::string(what) + ": read not permitted");
        case AttStatus::WriteNotPermitted:
            throw PlatformError(platform::hresult::kAttWriteNotPermitted,
                                std::string(what) + ": write not permitted");
        case AttStatus::InvalidPdu:
            throw PlatformError(platform::hresult::kAttInvalidPdu, std::string(what) + ": invalid PDU");
        case AttStatus::InvalidAttributeLength:
            throw PlatformError(platform::hresult::kAttInvalidAttributeLength,
                                std::string(what) + ": invalid attribute value length");
    }
    return GattCommunicationStatus::ProtocolError;
}

// ---- BluetoothLEDevice

std::shared_ptr<EmuLEDevice> EmuLEDevice::create(std::shared_ptr<Emulator> emulator,
                                                 std::shared_ptr<DeviceHub> hub) {
    std::shared_ptr<EmuLEDevice> device(new EmuLEDevice(std::move(emulator), hub));
    hub->addDevice(device);
    return device;
}

EmuLEDevice::EmuLEDevice(std::shared_ptr<Emulator> emulator, std::shared_ptr<DeviceHub> hub)
    : emulator_(std::move(emulator)), hub_(std::move(hub)) {}

EmuLEDevice::~EmuLEDevice() {
    releaseHold();
}

CallSite EmuLEDevice::site() const {
    return CallSite{hub_->device()->address(), std::nullopt};
}

void EmuLEDevice::releaseHold() {
    bool release = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        release = holding_;
        holding_ = false;
    }
    if (release) hub_->release();
}

platform::BluetoothConnectionStatus EmuLEDevice::connectionStatus() {
    emulator_->internals().enter(Operation::DeviceConnectionStatus, site());
    return hub_->device()->connected() ? platform::BluetoothConnectionStatus::Connected
                                       : platform::BluetoothConnectionStatus::Disconnected;
}

platform::EventToken EmuLEDevice::addConnectionStatusChanged(ConnectionStatusChangedHandler handler) {
    emulator_->internals().enter(Operation::DeviceAddConnectionStatusChanged, site());
    return connectionChanged_.add(std::move(handler));
}

void EmuLEDevice::removeConnectionStatusChanged(platform::EventToken token) {
    emulator_->internals().enter(Operation::DeviceRemoveConnectionStatusChanged, site());
    connectionChanged_.remove(token);
}

platform::GattDeviceServicesResult EmuLEDevice::getGattServices(BluetoothCacheMode mode) {
    platform::GattDeviceServicesResult result;
    if (auto fault = emulator_->internals().enter(Operation::DeviceGetGattServices, site())) {
        result.status = *fault;
        return result;
    }
    const auto& device = hub_->device();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) throw PlatformError(platform::hresult::kIllegalMethodCall, "the device was closed");
    }
    if (mode == BluetoothCacheMode::Uncached || !device->connected()) {
        if (device->connect() != AttStatus::Success) {
            result.status = GattCommunicationStatus::Unreachable;
            return result;
        }
        bool take = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            take = !holding_;
            holding_ = true;
        }
        if (take) hub_->hold();
    }
    for (const auto& entry : device->database()) {
        result.services.push_back(std::make_shared<EmuService>(emulator_, hub_, entry));
    }
    result.status = GattCommunicationStatus::Success;
    return result;
}

std::string EmuLEDevice::bluetoothDeviceId() {
    emulator_->internals().enter(Operation::DeviceBluetoothDeviceId, site());
    return emulator_->deviceId(hub_->device()->address());
}

std::uint64_t EmuLEDevice::bluetoothAddress() {
    emulator_->internals().enter(Operation::DeviceBluetoothAddress, site());
    return hub_->device()->address();
}

std::string EmuLEDevice::name() {
    emulator_->internals().enter(Operation::DeviceName, site());
    return hub_->device()->name();
}

void EmuLEDevice::close() {
    emulator_->internals().enter(Operation::DeviceClose, site());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    releaseHold();
}

// ---- GattDeviceService

EmuService::EmuService(std::shared_ptr<Emulator> emulator, std::shared_ptr<DeviceHub> hub, ServiceEntry entry)
    : emulator_(std::move(emulator)), hub_(std::move(hub)), entry_(std::move(entry)) {}

CallSite EmuService::site() const {
    return CallSite{hub_->device()->address(), entry_.uuid.shortUuid()};
}

Guid EmuService::uuid() {
    emulator_->internals().enter(Operation::ServiceUuid, site());
    return entry_.uuid;
}

platform::DeviceAccessStatus EmuService::requestAccess() {
    emulator_->internals().enter(Operation::ServiceRequestAccess, site());
    return hub_->device()->serviceAccess(entry_.uuid);
}

platform::GattCharacteristicsResult EmuService::getCharacteristics(BluetoothCacheMode mode) {
    platform::GattCharacteristicsResult result;
    if (auto fault = emulator_->internals().enter(Operation::ServiceGetCharacteristics, site())) {
        result.status = *fault;
        return result;
    }
    const auto& device = hub_->device();
    if (device->serviceAccess(entry_.uuid) != platform::DeviceAccessStatus::Allowed) {
        result.status = GattCommunicationStatus::AccessDenied;
        return result;
    }
    if (mode == BluetoothCacheMode::Uncached && device->connect() != AttStatus::Success) {
        result.status = GattCommunicationStatus::Unreachable;
        return result;
    }
    for (const auto& c : entry_.characteristics) {
        result.characteristics.push_back(EmuCharacteristic::create(emulator_, hub_, c));
    }
    result.status = GattCommunicationStatus::Success;
    return result;
}

// ---- GattCharacteristic

std::shared_ptr<EmuCharacteristic> EmuCharacteristic::create(std::shared_ptr<Emulator> emulator,
                                                             std::shared_ptr<DeviceHub> hub,
                                                             CharacteristicEntry entry) {
    std::shared_ptr<EmuCharacteristic> c(new EmuCharacteristic(std::move(emulator), hub, std::move(entry)));
    hub->addCharacteristic(c);
    return c;
}

EmuCharacteristic::EmuCharacteristic(std::shared_ptr<Emulator> emulator, std::shared_ptr<DeviceHub> hub,
                                     CharacteristicEntry entry)
    : emulator_(std::move(emulator)), hub_(std::move(hub)), entry_(std::move(entry)) {}

CallSite EmuCharacteristic::site() const {
    return CallSite{hub_->device()->address(), entry_.uuid.shortUuid()};
}

bool EmuCharacteristic::ensureConnected() {
    return hub_->device()->connect() == AttStatus::Success;
}

Guid EmuCharacteristic::uuid() {
    emulator_->internals().enter(Operation::CharacteristicUuid, site());
    return entry_.uuid;
}

std::uint32_t EmuCharacteristic::characteristicProperties() {
    emulator_->internals().enter(Operation::CharacteristicProperties, site());
    return entry_.properties;
}

std::uint16_t EmuCharacteristic::attributeHandle() {
    emulator_->internals().enter(Operation::CharacteristicAttributeHandle, site());
    return entry_.valueHandle;
}

GattCommunicationStatus EmuCharacteristic::writeValueWithResult(const platform::Bytes& value,
                                                                platform::GattWriteOption option) {
    if (auto fault = emulator_->internals().enter(Operation::CharacteristicWriteValue, site())) return *fault;
    if (!ensureConnected()) return GattCommunicationStatus::Unreachable;
    const bool withResponse = option == platform::GattWriteOption::WriteWithResponse;
    return toStatus(hub_->device()->write(entry_.valueHandle, value, withResponse), "write");
}

platform::GattReadResult EmuCharacteristic::readValue(BluetoothCacheMode mode) {
    platform::GattReadResult result;
    if (auto fault = emulator_->internals().enter(Operation::CharacteristicReadValue, site())) {
        result.status = *fault;
        return result;
    }
    const auto& device = hub_->device();
    if (mode == BluetoothCacheMode::Cached) {
        // The platform's cache: the last value known, without asking the device.
        result.value = device->value(entry_.valueHandle);
        result.status = GattCommunicationStatus::Success;
        return result;
    }
    if (!ensureConnected()) {
        result.status = GattCommunicationStatus::Unreachable;
        return result;
    }
    auto read = device->read(entry_.valueHandle);
    result.status = toStatus(read.status, "read");
    if (result.status == GattCommunicationStatus::Success) result.value = std::move(read.value);
    return result;
}

GattCommunicationStatus EmuCharacteristic::writeClientCharacteristicConfigurationDescriptor(
    platform::GattClientCharacteristicConfigurationDescriptorValue value) {
    if (auto fault = emulator_->internals().enter(Operation::CharacteristicWriteCccd, site())) return *fault;
    if (!ensureConnected()) return GattCommunicationStatus::Unreachable;
    std::uint16_t bits = 0;
    switch (value) {
        case platform::GattClientCharacteristicConfigurationDescriptorValue::None:
            bits = 0;
            break;
        case platform::GattClientCharacteristicConfigurationDescriptorValue::Notify:
            bits = 1;
            break;
        case platform::GattClientCharacteristicConfigurationDescriptorValue::Indicate:
            bits = 2;
            break;
    }
    return toStatus(hub_->device()->setClientConfiguration(entry_.valueHandle, bits), "descriptor write");
}

platform::EventToken EmuCharacteristic::addValueChanged(ValueChangedHandler handler) {
    emulator_->internals().enter(Operation::CharacteristicAddValueChanged, site());
    return valueChanged_.add(std::move(handler));
}

void EmuCharacteristic::removeValueChanged(platform::EventToken token) {
    emulator_->internals().enter(Operation::CharacteristicRemoveValueChanged, site());
    valueChanged_.remove(token);
}

// ---- GattSession

EmuSession::EmuSession(std::shared_ptr<Emulator> emulator, std::shared_ptr<DeviceHub> hub)
    : emulator_(std::move(emulator)), hub_(std::move(hub)) {}

EmuSession::~EmuSession() {
    if (maintain_) hub_->release();
}

CallSite EmuSession::site() const {
    return CallSite{hub_->device()->address(), std::nullopt};
}

std::uint16_t EmuSession::maxPduSize() {
    emulator_->internals().enter(Operation::SessionMaxPduSize, site());
    return hub_->device()->mtu();
}

bool EmuSession::canMaintainConnection() {
    emulator_->internals().enter(Operation::SessionCanMaintainConnection, site());
    return true;
}

bool EmuSession::maintainConnection() {
    emulator_->internals().enter(Operation::SessionMaintainConnection, site());
    std::lock_guard<std::mutex> lock(mutex_);
    return maintain_;
}

void EmuSession::setMaintainConnection(bool value) {
    emulator_->internals().enter(Operation::SessionSetMaintainConnection, site());
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        changed = maintain_ != value;
        maintain_ = value;
    }
    if (!changed) return;
    if (value) {
        hub_->hold();
        hub_->device()->connect();
    } else {
        hub_->release();
    }
}

}  // namespace qb::emulator::detail
