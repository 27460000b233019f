// The device watcher and the advertisement watcher, both fed by the mirrored object tree while a
// discovery session runs on the adapter.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "Context.h"
#include "qb7720/platform/Advertisement.h"
#include "qb7720/platform/Enumeration.h"
#include "qb7720/platform/WatcherEvents.h"

namespace qb::bluez {

class BluezDeviceInformation : public platform::DeviceInformation {
  public:
    BluezDeviceInformation(std::string id, std::string name) : id_(std::move(id)), name_(std::move(name)) {}
    std::string id() override { return id_; }
    std::string name() override;
    void update(const platform::DeviceInformationUpdate& update) override;

  private:
    const std::string id_;
    std::mutex mutex_;
    std::string name_;
};

class BluezDeviceWatcher : public platform::DeviceWatcherEvents,
                           public std::enable_shared_from_this<BluezDeviceWatcher> {
  public:
    explicit BluezDeviceWatcher(std::shared_ptr<Context> context) : context_(std::move(context)) {}
    ~BluezDeviceWatcher() override;

    void start() override;
    void stop() override;

  private:
    void onTreeEvent(const TreeEvent& event);
    void addDevice(const std::string& path, const Properties& props);
    void enumerate();

    std::shared_ptr<Context> context_;

    std::mutex mutex_;
    bool running_ = false;
    std::string adapter_;
    std::uint64_t subscription_ = 0;
    std::map<std::string, std::string> known_;  // path -> id, of the devices reported as added
};

class BluezAdvertisementWatcher : public platform::AdvertisementWatcherEvents,
                                  public std::enable_shared_from_this<BluezAdvertisementWatcher> {
  public:
    explicit BluezAdvertisementWatcher(std::shared_ptr<Context> context) : context_(std::move(context)) {}
    ~BluezAdvertisementWatcher() override;

    void start() override;
    void stop() override;

  private:
    void onTreeEvent(const TreeEvent& event);

    std::shared_ptr<Context> context_;
    std::mutex mutex_;
    bool running_ = false;
    std::string adapter_;
    std::uint64_t subscription_ = 0;
};

// Device1's ManufacturerData (a{qv}, each variant an ay) as sections; malformed entries are skipped.
std::vector<platform::BluetoothLEManufacturerData> manufacturerSections(const Properties& device);

}  // namespace qb::bluez
