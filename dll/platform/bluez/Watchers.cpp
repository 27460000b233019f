#include "Watchers.h"

#include "Addressing.h"
#include "ErrorMap.h"

namespace qb::bluez {
namespace {

using platform::PlatformError;

bool isChildOf(const std::string& path, const std::string& parent) {
    return path.size() > parent.size() + 1 && path.compare(0, parent.size(), parent) == 0 &&
           path[parent.size()] == '/' && path.find('/', parent.size() + 1) == std::string::npos;
}

}  // namespace

std::string BluezDeviceInformation::name() {
    std::lock_guard<std::mutex> lock(mutex_);
    return name_;
}

void BluezDeviceInformation::update(const platform::DeviceInformationUpdate& update) {
    if (update.id != id_ || !update.name) return;
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = *update.name;
}

BluezDeviceWatcher::~BluezDeviceWatcher() {
    std::string adapter;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return;
        running_ = false;
        adapter = adapter_;
    }
    context_->bus().unsubscribe(subscription_);
    context_->releaseDiscovery(adapter);
}

void BluezDeviceWatcher::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_)
        throw PlatformError(platform::hresult::kIllegalMethodCall, "device watcher already started");
    adapter_ = context_->defaultAdapter();
    context_->acquireDiscovery(adapter_);
    running_ = true;
    known_.clear();
    std::weak_ptr<BluezDeviceWatcher> weak = shared_from_this();
    subscription_ = context_->bus().subscribe([weak](const TreeEvent& event) {
        if (auto strong = weak.lock()) strong->onTreeEvent(event);
    });
    // The devices already known come first, on the dispatcher like every later event.
    context_->bus().postJob([weak] {
        if (auto strong = weak.lock()) strong->enumerate();
    });
}

void BluezDeviceWatcher::enumerate() {
    std::string adapter;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return;
        adapter = adapter_;
    }
    for (const auto& path : context_->bus().objectsWith(kDeviceIface, adapter)) {
        if (auto props = context_->bus().properties(path, kDeviceIface)) addDevice(path, *props);
    }
    completed_.invoke(*this);
}

void BluezDeviceWatcher::addDevice(const std::string& path, const Properties& props) {
    auto address = propAs<std::string>(props, "Address");
    auto parsed = address ? parseAddress(*address) : std::nullopt;
    if (!parsed) return;
    std::string id;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_ || known_.count(path) != 0) return;
        id = makeDeviceId(adapterNameOf(adapter_), *parsed);
        known_.emplace(path, id);
    }
    auto info = std::make_shared<BluezDeviceInformation>(id, propAs<std::string>(props, "Name").value_or(""));
    added_.invoke(*this, info);
}

void BluezDeviceWatcher::onTreeEvent(const TreeEvent& event) {
    if (event.iface != kDeviceIface) return;
    std::string id;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_ || !isChildOf(event.path, adapter_)) return;
        auto it = known_.find(event.path);
        if (it != known_.end()) id = it->second;
    }
    switch (event.kind) {
        case TreeEvent::Kind::Added:
            addDevice(event.path, event.changed);
            break;
        case TreeEvent::Kind::Changed:
            if (!id.empty()) {
                if (auto name = propAs<std::string>(event.changed, "Name")) {
                    platform::DeviceInformationUpdate update;
                    update.id = id;
                    update.name = *name;
                    updated_.invoke(*this, update);
                }
            }
            break;
        case TreeEvent::Kind::Removed:
            if (!id.empty()) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    known_.erase(event.path);
                }
                platform::DeviceInformationUpdate update;
                update.id = id;
                removed_.invoke(*this, update);
            }
            break;
    }
}

void BluezDeviceWatcher::stop() {
    std::string adapter;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return;
        running_ = false;
        adapter = adapter_;
    }
    context_->bus().unsubscribe(subscription_);
    context_->releaseDiscovery(adapter);
    std::weak_ptr<BluezDeviceWatcher> weak = shared_from_this();
    context_->bus().postJob([weak] {
        if (auto strong = weak.lock()) strong->stopped_.invoke(*strong);
    });
}

std::vector<platform::BluetoothLEManufacturerData> manufacturerSections(const Properties& device) {
    std::vector<platform::BluetoothLEManufacturerData> sections;
    auto data = propAs<std::map<std::uint16_t, ByteString>>(device, "ManufacturerData");
    if (!data) return sections;
    for (const auto& [company, bytes] : *data) sections.push_back({company, bytes});
    return sections;
}

BluezAdvertisementWatcher::~BluezAdvertisementWatcher() {
    std::string adapter;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return;
        running_ = false;
        adapter = adapter_;
    }
    context_->bus().unsubscribe(subscription_);
    context_->releaseDiscovery(adapter);
}

void BluezAdvertisementWatcher::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_)
        throw PlatformError(platform::hresult::kIllegalMethodCall, "advertisement watcher already started");
    adapter_ = context_->defaultAdapter();
    context_->acquireDiscovery(adapter_);
    running_ = true;
    std::weak_ptr<BluezAdvertisementWatcher> weak = shared_from_this();
    subscription_ = context_->bus().subscribe([weak](const TreeEvent& event) {
        if (auto strong = weak.lock()) strong->onTreeEvent(event);
    });
}

void BluezAdvertisementWatcher::onTreeEvent(const TreeEvent& event) {
    if (event.iface != kDeviceIface || event.kind == TreeEvent::Kind::Removed) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_ || !isChildOf(event.path, adapter_)) return;
    }
    // Each report carries RSSI (and, with duplicates on, the manufacturer data); other changes
    // such as Connected are not advertisements.
    if (event.changed.count("RSSI") == 0 && event.changed.count("ManufacturerData") == 0) return;
    auto props = context_->bus().properties(event.path, kDeviceIface);
    const Properties& device = props ? *props : event.changed;
    auto address = propAs<std::string>(device, "Address");
    auto parsed = address ? parseAddress(*address) : std::nullopt;
    if (!parsed) return;
    platform::BluetoothLEAdvertisementReceivedEventArgs args;
    args.bluetoothAddress = *parsed;
    auto rssi = propAs<std::int16_t>(event.changed, "RSSI");
    if (!rssi) rssi = propAs<std::int16_t>(device, "RSSI");
    if (!rssi) return;  // no report behind this change
    args.rawSignalStrengthInDBm = *rssi;
    args.advertisementType = platform::BluetoothLEAdvertisementType::ConnectableUndirected;
    args.localName = propAs<std::string>(device, "Name").value_or("");
    args.manufacturerData = manufacturerSections(device);
    received_.invoke(*this, args);
}

void BluezAdvertisementWatcher::stop() {
    std::string adapter;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return;
        running_ = false;
        adapter = adapter_;
    }
    context_->bus().unsubscribe(subscription_);
    context_->releaseDiscovery(adapter);
    std::weak_ptr<BluezAdvertisementWatcher> weak = shared_from_this();
    context_->bus().postJob([weak] {
        if (auto strong = weak.lock()) strong->stopped_.invoke(*strong);
    });
}

}  // namespace qb::bluez
