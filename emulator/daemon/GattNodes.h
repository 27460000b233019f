// Remote GATT objects as BlueZ presents them: serviceXXXX / charXXXX / descXXXX under the device.
#pragma once

#include <chrono>

#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Node.h"
#include "qb7720/emulator/Device.h"

namespace qb::emud {

class DeviceNode;

class ServiceNode : public Node {
  public:
    ServiceNode(Daemon& daemon, const DeviceNode& device, const emulator::ServiceEntry& entry);

  protected:
    void registerOn(sdbus::IObject& object) override;
};

class CharNode : public Node {
  public:
    CharNode(Daemon& daemon, DeviceNode& device, const std::string& servicePath,
             const emulator::CharacteristicEntry& entry);
    ~CharNode() override;

    std::uint16_t valueHandle() const { return entry_.valueHandle; }
    void onNotification(const emulator::Bytes& value);
    void readCompleted(const std::vector<std::uint8_t>& value);
    // The link came up (MTU known, notify sessions re-enabled) or went down (sockets closed).
    void linkUp(std::uint16_t mtu);
    void linkDown();
    void clientGone(const std::string& name);

  protected:
    void registerOn(sdbus::IObject& object) override;

  private:
    std::vector<std::uint8_t> readValue(const std::map<std::string, sdbus::Variant>& options);
    void writeValue(const std::vector<std::uint8_t>& value,
                    const std::map<std::string, sdbus::Variant>& options);
    std::tuple<sdbus::UnixFd, std::uint16_t> acquireWrite();
    std::tuple<sdbus::UnixFd, std::uint16_t> acquireNotify();
    void startNotify(const std::string& client);
    void stopNotify(const std::string& client);
    void releaseWrite();
    void releaseNotify();
    void onWriteSocket(short events);
    bool holdWriteSocket(std::chrono::nanoseconds wait);
    void onWriteTimer();
    void onNotifySocket(short events);
    void flushNotifySocket();
    void updateNotifying();
    void requireConnected() const;

    DeviceNode& device_;
    emulator::CharacteristicEntry entry_;
    std::set<std::string> sessions_;
    int writeFd_ = -1;
    int writeTimerFd_ = -1;  // wakes a write socket held while the link's buffers are full
    int notifyFd_ = -1;
    std::deque<emulator::Bytes> pending_;
};

class DescNode : public Node {
  public:
    DescNode(Daemon& daemon, DeviceNode& device, const std::string& charPath, std::uint16_t handle,
             std::uint16_t uuid16, std::uint16_t charValueHandle);

  protected:
    void registerOn(sdbus::IObject& object) override;

  private:
    DeviceNode& device_;
    std::uint16_t uuid16_;
    std::uint16_t charValueHandle_;
};

// "%04x" of a handle, as in the object paths.
std::string hex4(std::uint16_t value);
// Options a client may pass to ReadValue/WriteValue; bad types are InvalidArguments.
struct IoOptions {
    std::uint16_t offset = 0;
    std::string type;
};
IoOptions parseOptions(const std::map<std::string, sdbus::Variant>& options);

}  // namespace qb::emud
