// The GATT client objects of the emulated platform: device, service, characteristic, session.
#pragma once

#include <memory>

#include "Core.h"
#include "qb7720/platform/Device.h"
#include "qb7720/platform/Event.h"
#include "qb7720/platform/Gatt.h"

namespace qb::emulator::detail {

// Turns a model outcome into what the platform reports: a status, or a raised error.
platform::GattCommunicationStatus toStatus(AttStatus status, const char* what);

class EmuLEDevice : public platform::BluetoothLEDevice, public std::enable_shared_from_this<EmuLEDevice> {
  public:
    static std::shared_ptr<EmuLEDevice> create(std::shared_ptr<Emulator> emulator,
                                               std::shared_ptr<DeviceHub> hub);
    ~EmuLEDevice() override;

    platform::BluetoothConnectionStatus connectionStatus() override;
    platform::EventToken addConnectionStatusChanged(ConnectionStatusChangedHandler handler) override;
    void removeConnectionStatusChanged(platform::EventToken token) override;
    platform::GattDeviceServicesResult getGattServices(platform::BluetoothCacheMode mode) override;
    std::string bluetoothDeviceId() override;
    std::uint64_t bluetoothAddress() override;
    std::string name() override;
    void close() override;

    void raiseConnectionStatusChanged() { connectionChanged_.invoke(*this); }

  private:
    EmuLEDevice(std::shared_ptr<Emulator> emulator, std::shared_ptr<DeviceHub> hub);
    CallSite site() const;
    void releaseHold();

    std::shared_ptr<Emulator> emulator_;
    std::shared_ptr<DeviceHub> hub_;
    platform::EventSource<platform::BluetoothLEDevice&> connectionChanged_;
    std::mutex mutex_;
    bool holding_ = false;
    bool closed_ = false;
};

class EmuService : public platform::GattDeviceService {
  public:
    EmuService(std::shared_ptr<Emulator> emulator, std::shared_ptr<DeviceHub> hub, ServiceEntry entry);

    Guid uuid() override;
    platform::DeviceAccessStatus requestAccess() override;
    platform::GattCharacteristicsResult getCharacteristics(platform::BluetoothCacheMode mode) override;

  private:
    CallSite site() const;

    std::shared_ptr<Emulator> emulator_;
    std::shared_ptr<DeviceHub> hub_;
    ServiceEntry entry_;
};

class EmuCharacteristic : public platform::GattCharacteristic {
  public:
    static std::shared_ptr<EmuCharacteristic> create(std::shared_ptr<Emulator> emulator,
                                                     std::shared_ptr<DeviceHub> hub,
                                                     CharacteristicEntry entry);

    Guid uuid() override;
    std::uint32_t characteristicProperties() override;
    std::uint16_t attributeHandle() override;
    platform::GattCommunicationStatus writeValueWithResult(const platform::Bytes& value,
                                                           platform::GattWriteOption option) override;
    platform::GattReadResult readValue(platform::BluetoothCacheMode mode) override;
    platform::GattCommunicationStatus writeClientCharacteristicConfigurationDescriptor(
        platform::GattClientCharacteristicConfigurationDescriptorValue value) override;
    platform::EventToken addValueChanged(ValueChangedHandler handler) override;
    void removeValueChanged(platform::EventToken token) override;

    std::uint16_t valueHandle() const { return entry_.valueHandle; }
    void raiseValueChanged(const platform::Bytes& value) { valueChanged_.invoke(*this, value); }

  private:
    EmuCharacteristic(std::shared_ptr<Emulator> emulator, std::shared_ptr<DeviceHub> hub,
                      CharacteristicEntry entry);
    CallSite site() const;
    // Links are made on demand, as the platform does for a GATT operation.
    bool ensureConnected();

    std::shared_ptr<Emulator> emulator_;
    std::shared_ptr<DeviceHub> hub_;
    CharacteristicEntry entry_;
    platform::EventSource<platform::GattCharacteristic&, const platform::Bytes&> valueChanged_;
};

class EmuSession : public platform::GattSession {
  public:
    EmuSession(std::shared_ptr<Emulator> emulator, std::shared_ptr<DeviceHub> hub);
    ~EmuSession() override;

    std::uint16_t maxPduSize() override;
    bool canMaintainConnection() override;
    bool maintainConnection() override;
    void setMaintainConnection(bool value) override;

  private:
    CallSite site() const;

    std::shared_ptr<Emulator> emulator_;
    std::shared_ptr<DeviceHub> hub_;
    std::mutex mutex_;
    bool maintain_ = false;
};

}  // namespace qb::emulator::detail
