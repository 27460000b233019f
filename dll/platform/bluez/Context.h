// What every object of the backend shares: the bus, discovery sessions counted per adapter, and one
// characteristic object per D-Bus path (so acquired sockets and notify sessions are not duplicated).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Bus.h"

namespace qb::bluez {

class BluezCharacteristic;

class Context : public std::enable_shared_from_this<Context> {
  public:
    explicit Context(std::shared_ptr<Bus> bus) : bus_(std::move(bus)) {}

    Bus& bus() { return *bus_; }
    const std::shared_ptr<Bus>& busShared() { return bus_; }

    // The adapter to use: hci0 when present, else the first one. Throws PlatformError when none.
    std::string defaultAdapter() const;
    // The adapter path of hciN / of a device identifier's adapter name (empty: the default).
    std::string adapterByName(const std::string& name) const;

    // Starts LE discovery with duplicate reports on the first acquire, stops it on the last release.
    void acquireDiscovery(const std::string& adapterPath);
    void releaseDiscovery(const std::string& adapterPath);

    std::shared_ptr<BluezCharacteristic> characteristic(const std::string& path,
                                                        const std::string& devicePath);

  private:
    std::shared_ptr<Bus> bus_;
    std::mutex mutex_;
    std::map<std::string, int> discoveryUsers_;
    std::map<std::string, std::weak_ptr<BluezCharacteristic>> characteristics_;
};

}  // namespace qb::bluez
