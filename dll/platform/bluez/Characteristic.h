// A remote characteristic: ReadValue/WriteValue, an AcquireWrite socket where the characteristic
// offers one, and StartNotify for notifications.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Bus.h"
#include "qb7720/platform/Gatt.h"

namespace qb::bluez {

class Context;

class BluezCharacteristic : public platform::GattCharacteristic,
                            public std::enable_shared_from_this<BluezCharacteristic> {
  public:
    static std::shared_ptr<BluezCharacteristic> create(std::shared_ptr<Context> context, std::string path,
                                                       std::string devicePath);
    ~BluezCharacteristic() override;

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

    const std::string& path() const { return path_; }
    // How notifications currently reach us (for tests and benchmarks).
    enum class NotifyMode { Off, Started };
    NotifyMode notifyMode() const;
    bool writeAcquired() const;

  private:
    BluezCharacteristic(std::shared_ptr<Context> context, std::string path, std::string devicePath);
    void onTreeEvent(const TreeEvent& event);
    bool connected() const;
    std::uint32_t flagsFromTree() const;
    bool offers(const char* property) const;

    platform::GattCommunicationStatus writeThroughSocket(const platform::Bytes& value, bool& handled);
    platform::GattCommunicationStatus writeThroughBus(const platform::Bytes& value,
                                                      platform::GattWriteOption option);
    void releaseWriteSocket();
    void waitForDaemonToRelease(const char* acquiredProperty);
    platform::GattCommunicationStatus enableNotify();
    platform::GattCommunicationStatus disableNotify();
    // Notifications reach the handlers on a thread of this characteristic's own, in order: a
    // handler that takes its time holds up neither the bus nor another characteristic.
    struct Delivery;
    void startDelivery();
    void stopDelivery();
    static void deliveryLoop(const std::shared_ptr<Delivery>& delivery, std::weak_ptr<BluezCharacteristic> owner);

    std::shared_ptr<Context> context_;
    std::string path_;
    std::string devicePath_;
    std::uint64_t subscription_ = 0;
    platform::EventSource<platform::GattCharacteristic&, const platform::Bytes&> valueChanged_;

    // Serialises the operations of callers on this characteristic.
    std::mutex opMutex_;

    mutable std::mutex stateMutex_;
    int writeFd_ = -1;
    std::uint16_t writeMtu_ = 0;
    NotifyMode notifyMode_ = NotifyMode::Off;
    std::shared_ptr<Delivery> delivery_;
    // Values our own reads put into Value; the PropertiesChanged they cause is not a notification.
    struct Echo {
        platform::Bytes value;
        std::chrono::steady_clock::time_point at;
    };
    std::deque<Echo> echoes_;
};

}  // namespace qb::bluez
