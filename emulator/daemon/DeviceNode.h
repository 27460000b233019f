// org.bluez.Device1 for one device of the world, and the GATT objects under it.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "GattNodes.h"
#include "Node.h"
#include "qb7720/emulator/Device.h"

namespace qb::emud {

class DeviceNode : public Node {
  public:
    DeviceNode(Daemon& daemon, std::shared_ptr<emulator::VirtualDevice> device,
               const platform::BluetoothLEAdvertisementReceivedEventArgs& first);
    ~DeviceNode() override;

    std::uint64_t address() const { return address_; }
    emulator::VirtualDevice& model() { return *device_; }
    bool connected() const;
    std::chrono::steady_clock::time_point lastHeard() const { return lastHeard_; }

    void onReport(const platform::BluetoothLEAdvertisementReceivedEventArgs& report);
    void onLinkChanged(bool connected);
    void onNotification(std::uint16_t valueHandle, const emulator::Bytes& value);
    void onNameChanged(const std::string& name);
    void onReadCompleted(std::uint16_t valueHandle, const emulator::Bytes& value);
    void discoveryStopped();
    void clientGone(const std::string& name);
    void disconnect();
    // Withdraws the GATT objects and the device.
    void withdrawAll();

  protected:
    void registerOn(sdbus::IObject& object) override;

  private:
    void connect();
    void resolveServices();
    void linkDown();

    std::shared_ptr<emulator::VirtualDevice> device_;
    std::uint64_t address_;
    std::uint64_t listener_ = 0;
    std::chrono::steady_clock::time_point lastHeard_;
    std::vector<std::unique_ptr<ServiceNode>> services_;
    std::vector<std::unique_ptr<CharNode>> characteristics_;
    std::vector<std::unique_ptr<DescNode>> descriptors_;
};

}  // namespace qb::emud
