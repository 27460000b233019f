#include "Context.h"

#include <algorithm>

#include "Characteristic.h"
#include "ErrorMap.h"

namespace qb::bluez {

std::string Context::defaultAdapter() const {
    auto adapters = bus_->objectsWith(kAdapterIface);
    if (adapters.empty()) throw toPlatformError("org.bluez.Error.NoSuchAdapter", "no Bluetooth adapter");
    auto hci0 = std::find(adapters.begin(), adapters.end(), "/org/bluez/hci0");
    return hci0 != adapters.end() ? *hci0 : adapters.front();
}

std::string Context::adapterByName(const std::string& name) const {
    if (name.empty()) return defaultAdapter();
    const std::string path = "/org/bluez/" + name;
    if (!bus_->properties(path, kAdapterIface)) {
        throw toPlatformError("org.bluez.Error.NoSuchAdapter", "no adapter " + name);
    }
    return path;
}

void Context::acquireDiscovery(const std::string& adapterPath) {
    std::lock_guard<std::mutex> lock(mutex_);
    int& users = discoveryUsers_[adapterPath];
    if (users == 0) {
        // With any filter set every advertiser is reported; DuplicateData keeps repeats coming.
        std::map<std::string, sdbus::Variant> filter{{"Transport", sdbus::Variant(std::string("le"))},
                                                     {"DuplicateData", sdbus::Variant(true)}};
        bus_->call(adapterPath, kAdapterIface, "SetDiscoveryFilter",
                   [&](sdbus::MethodCall& m) { m << filter; }, {});
        try {
            bus_->call(adapterPath, kAdapterIface, "StartDiscovery", {}, {});
        } catch (const platform::PlatformError& e) {
            if (e.code() != hresult_extra::kBusy) throw;  // our session already runs
        }
    }
    ++users;
}

void Context::releaseDiscovery(const std::string& adapterPath) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = discoveryUsers_.find(adapterPath);
    if (it == discoveryUsers_.end() || it->second == 0) return;
    if (--it->second > 0) return;
    discoveryUsers_.erase(it);
    try {
        bus_->call(adapterPath, kAdapterIface, "StopDiscovery", {}, {}, std::chrono::seconds(5));
    } catch (const platform::PlatformError&) {
        // Adapter gone or session already ended with it: nothing left to stop.
    }
}

std::shared_ptr<BluezCharacteristic> Context::characteristic(const std::string& path,
                                                             const std::string& devicePath) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& slot = characteristics_[path];
    if (auto existing = slot.lock()) return existing;
    auto created = BluezCharacteristic::create(shared_from_this(), path, devicePath);
    slot = created;
    return created;
}

}  // namespace qb::bluez
