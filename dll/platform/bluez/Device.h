// A remote LE device, its GATT services and its GATT session.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "Context.h"
#include "qb7720/platform/Device.h"
#include "qb7720/platform/Gatt.h"

namespace qb::bluez {

class BluezDevice : public platform::BluetoothLEDevice, public std::enable_shared_from_this<BluezDevice> {
  public:
    static std::shared_ptr<BluezDevice> create(std::shared_ptr<Context> context, std::string path,
                                               std::string id, std::uint64_t address);
    ~BluezDevice() override;

    platform::BluetoothConnectionStatus connectionStatus() override;
    platform::EventToken addConnectionStatusChanged(ConnectionStatusChangedHandler handler) override;
    void removeConnectionStatusChanged(platform::EventToken token) override;
    platform::GattDeviceServicesResult getGattServices(platform::BluetoothCacheMode mode) override;
    std::string bluetoothDeviceId() override { return id_; }
    std::uint64_t bluetoothAddress() override { return address_; }
    std::string name() override;
    void close() override;

    // How long a connect may take before GATT discovery counts as failed.
    static constexpr std::chrono::seconds kResolveLimit{20};

  private:
    BluezDevice(std::shared_ptr<Context> context, std::string path, std::string id, std::uint64_t address);
    void onTreeEvent(const TreeEvent& event);
    bool flag(const char* name) const;
    bool connectAndResolve();

    std::shared_ptr<Context> context_;
    std::string path_;
    std::string id_;
    std::uint64_t address_;
    std::uint64_t subscription_ = 0;
    platform::EventSource<platform::BluetoothLEDevice&> statusChanged_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool lastConnected_ = false;
    bool closed_ = false;
    bool connectRequested_ = false;
};

class BluezService : public platform::GattDeviceService {
  public:
    BluezService(std::shared_ptr<Context> context, std::string path, std::string devicePath)
        : context_(std::move(context)), path_(std::move(path)), devicePath_(std::move(devicePath)) {}
    platform::Guid uuid() override;
    platform::DeviceAccessStatus requestAccess() override;
    platform::GattCharacteristicsResult getCharacteristics(platform::BluetoothCacheMode mode) override;

  private:
    std::shared_ptr<Context> context_;
    std::string path_;
    std::string devicePath_;
};

class BluezSession : public platform::GattSession {
  public:
    BluezSession(std::shared_ptr<Context> context, std::string devicePath)
        : context_(std::move(context)), devicePath_(std::move(devicePath)) {}
    // The characteristics' MTU property while connected; 23, the ATT minimum, before any exchange.
    std::uint16_t maxPduSize() override;
    bool canMaintainConnection() override { return true; }
    bool maintainConnection() override { return maintain_; }
    void setMaintainConnection(bool value) override { maintain_ = value; }

  private:
    std::shared_ptr<Context> context_;
    std::string devicePath_;
    std::atomic<bool> maintain_{false};
};

}  // namespace qb::bluez
