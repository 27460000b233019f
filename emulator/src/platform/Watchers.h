// Device enumeration and advertisement scanning of the emulated platform.
#pragma once

#include <memory>
#include <set>

#include "Core.h"
#include "qb7720/platform/Advertisement.h"
#include "qb7720/platform/Enumeration.h"

namespace qb::emulator::detail {

class EmuDeviceInformation : public platform::DeviceInformation {
  public:
    EmuDeviceInformation(std::shared_ptr<Emulator> emulator, std::uint64_t address, std::string id,
                         std::string name);

    std::string id() override;
    std::string name() override;
    void update(const platform::DeviceInformationUpdate& update) override;

  private:
    std::shared_ptr<Emulator> emulator_;
    std::uint64_t address_;
    std::string id_;
    std::mutex mutex_;
    std::string name_;
};

class EmuDeviceWatcher : public platform::DeviceWatcher,
                         public std::enable_shared_from_this<EmuDeviceWatcher> {
  public:
    explicit EmuDeviceWatcher(std::shared_ptr<Emulator> emulator);
    ~EmuDeviceWatcher() override;

    platform::EventToken addAdded(AddedHandler handler) override;
    void removeAdded(platform::EventToken token) override;
    platform::EventToken addUpdated(UpdatedHandler handler) override;
    void removeUpdated(platform::EventToken token) override;
    platform::EventToken addRemoved(RemovedHandler handler) override;
    void removeRemoved(platform::EventToken token) override;
    platform::EventToken addEnumerationCompleted(SimpleHandler handler) override;
    void removeEnumerationCompleted(platform::EventToken token) override;
    platform::EventToken addStopped(SimpleHandler handler) override;
    void removeStopped(platform::EventToken token) override;
    void start() override;
    void stop() override;

    // From the World, on any thread: queued onto the watcher strand.
    void deviceAdded(const std::shared_ptr<VirtualDevice>& device);
    void deviceRemoved(const std::shared_ptr<VirtualDevice>& device);
    void deviceUpdated(const std::shared_ptr<VirtualDevice>& device);

  private:
    void post(std::function<void(EmuDeviceWatcher&)> task);
    void unlisten();

    std::shared_ptr<Emulator> emulator_;
    platform::EventSource<platform::DeviceWatcher&, std::shared_ptr<platform::DeviceInformation>> added_;
    platform::EventSource<platform::DeviceWatcher&, const platform::DeviceInformationUpdate&> updated_;
    platform::EventSource<platform::DeviceWatcher&, const platform::DeviceInformationUpdate&> removed_;
    platform::EventSource<platform::DeviceWatcher&> completed_;
    platform::EventSource<platform::DeviceWatcher&> stopped_;
    std::mutex mutex_;
    bool started_ = false;
    std::uint64_t listenerToken_ = 0;
    std::uint64_t generation_ = 0;      // events of an earlier start are not delivered after a stop
    std::set<std::uint64_t> reported_;  // addresses an Added went out for
};

class EmuAdvertisementWatcher : public platform::BluetoothLEAdvertisementWatcher,
                                public std::enable_shared_from_this<EmuAdvertisementWatcher> {
  public:
    explicit EmuAdvertisementWatcher(std::shared_ptr<Emulator> emulator);
    ~EmuAdvertisementWatcher() override;

    platform::EventToken addReceived(ReceivedHandler handler) override;
    void removeReceived(platform::EventToken token) override;
    platform::EventToken addStopped(StoppedHandler handler) override;
    void removeStopped(platform::EventToken token) override;
    void start() override;
    void stop() override;

    void advertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& args);

  private:
    bool unlisten();

    std::shared_ptr<Emulator> emulator_;
    platform::EventSource<platform::BluetoothLEAdvertisementWatcher&,
                          const platform::BluetoothLEAdvertisementReceivedEventArgs&>
        received_;
    platform::EventSource<platform::BluetoothLEAdvertisementWatcher&> stopped_;
    std::mutex mutex_;
    bool started_ = false;
    std::uint64_t listenerToken_ = 0;
    std::uint64_t generation_ = 0;
};

}  // namespace qb::emulator::detail
