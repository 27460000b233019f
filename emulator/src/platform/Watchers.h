// Device enumeration and advertisement scanning of the emulated platform.
#pragma once

#include <memory>
#include <set>

#include "Core.h"
#include "qb7720/platform/Advertisement.h"
#include "qb7720/platform/Enumeration.h"
#include "qb7720/platform/WatcherEvents.h"

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

class EmuDeviceWatcher : public platform::DeviceWatcherEvents,
                         public std::enable_shared_from_this<EmuDeviceWatcher> {
  public:
    explicit EmuDeviceWatcher(std::shared_ptr<Emulator> emulator);
    ~EmuDeviceWatcher() override;

    void start() override;
    void stop() override;

    // From the World, on any thread: queued onto the watcher strand.
    void deviceAdded(const std::shared_ptr<VirtualDevice>& device);
    void deviceRemoved(const std::shared_ptr<VirtualDevice>& device);
    void deviceUpdated(const std::shared_ptr<VirtualDevice>& device);

  protected:
    void beforeAddHandler() override;
    void beforeRemoveHandler() override;

  private:
    void post(std::function<void(EmuDeviceWatcher&)> task);
    void unlisten();

    std::shared_ptr<Emulator> emulator_;
    std::mutex mutex_;
    bool started_ = false;
    std::uint64_t listenerToken_ = 0;
    std::uint64_t generation_ = 0;      // events of an earlier start are not delivered after a stop
    std::set<std::uint64_t> reported_;  // addresses an Added went out for
};

class EmuAdvertisementWatcher : public platform::AdvertisementWatcherEvents,
                                public std::enable_shared_from_this<EmuAdvertisementWatcher> {
  public:
    explicit EmuAdvertisementWatcher(std::shared_ptr<Emulator> emulator);
    ~EmuAdvertisementWatcher() override;

    void start() override;
    void stop() override;

    void advertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& args);

  protected:
    void beforeAddHandler() override;
    void beforeRemoveHandler() override;

  private:
    bool unlisten();

    std::shared_ptr<Emulator> emulator_;
    std::mutex mutex_;
    bool started_ = false;
    std::uint64_t listenerToken_ = 0;
    std::uint64_t generation_ = 0;
};

}  // namespace qb::emulator::detail
