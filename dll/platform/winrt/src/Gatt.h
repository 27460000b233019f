// GATT service, characteristic and session over the runtime's GenericAttributeProfile classes.
#pragma once

#include <memory>
#include <string>

#include "Abi.h"
#include "qb7720/platform/Gatt.h"

namespace qb::winrt {

class WinrtCharacteristic final : public platform::GattCharacteristic,
                                  public std::enable_shared_from_this<WinrtCharacteristic> {
  public:
    explicit WinrtCharacteristic(ComPtr<gatt::IGattCharacteristic> characteristic)
        : characteristic_(std::move(characteristic)) {}

    platform::Guid uuid() override;
    std::uint32_t characteristicProperties() override;
    std::uint16_t attributeHandle() override;
    platform::GattCommunicationStatus writeValueWithResult(const platform::Bytes& value,
                                                           platform::GattWriteOption option) override;
    platform::GattReadResult readValue(platform::BluetoothCacheMode mode) override;
    platform::GattCommunicationStatus writeClientCharacteristicConfigurationDescriptor(
        platform::GattClientCharacteristicConfigurationDescriptorValue value) override;
    platform::EventToken addValueChanged(ValueChangedHandler handler) override;
    void removeValueChanged(platform::EventToken token) override;

  private:
    ComPtr<gatt::IGattCharacteristic> characteristic_;
};

class WinrtService final : public platform::GattDeviceService {
  public:
    explicit WinrtService(ComPtr<gatt::IGattDeviceService> service) : service_(std::move(service)) {}

    platform::Guid uuid() override;
    platform::DeviceAccessStatus requestAccess() override;
    platform::GattCharacteristicsResult getCharacteristics(platform::BluetoothCacheMode mode) override;

  private:
    ComPtr<gatt::IGattDeviceService> service_;
};

class WinrtSession final : public platform::GattSession {
  public:
    explicit WinrtSession(ComPtr<gatt::IGattSession> session) : session_(std::move(session)) {}

    std::uint16_t maxPduSize() override;
    bool canMaintainConnection() override;
    bool maintainConnection() override;
    void setMaintainConnection(bool value) override;

  private:
    ComPtr<gatt::IGattSession> session_;
};

// GattSession.FromDeviceIdAsync(BluetoothDeviceId.FromId(id)).
std::shared_ptr<platform::GattSession> gattSessionFromDeviceId(const std::string& bluetoothDeviceId);

}  // namespace qb::winrt
