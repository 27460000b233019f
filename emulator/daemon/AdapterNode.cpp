#include "AdapterNode.h"

#include "Daemon.h"
#include "DeviceNode.h"

namespace qb::emud {

AdapterNode::AdapterNode(Daemon& daemon, std::uint64_t address) : Node(daemon, "/org/bluez/hci0") {
    std::string text = emulator::World::addressText(address);
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    init(kAdapterIface, "Address", sdbus::Variant(text));
    init(kAdapterIface, "AddressType", sdbus::Variant(std::string("public")));
    init(kAdapterIface, "Name", sdbus::Variant(std::string("qb7720-emulator")));
    init(kAdapterIface, "Alias", sdbus::Variant(std::string("qb7720-emulator")));
    init(kAdapterIface, "Class", sdbus::Variant(std::uint32_t{0}));
    init(kAdapterIface, "Powered", sdbus::Variant(true));
    init(kAdapterIface, "Discoverable", sdbus::Variant(false));
    init(kAdapterIface, "DiscoverableTimeout", sdbus::Variant(std::uint32_t{180}));
    init(kAdapterIface, "Pairable", sdbus::Variant(false));
    init(kAdapterIface, "PairableTimeout", sdbus::Variant(std::uint32_t{0}));
    init(kAdapterIface, "Discovering", sdbus::Variant(false));
    init(kAdapterIface, "UUIDs", sdbus::Variant(std::vector<std::string>{}));
    init(kAdapterIface, "Roles", sdbus::Variant(std::vector<std::string>{"central", "peripheral"}));
}

bool AdapterNode::powered() const {
    return get(kAdapterIface, "Powered").get<bool>();
}
bool AdapterNode::discovering() const {
    return get(kAdapterIface, "Discovering").get<bool>();
}

bool AdapterNode::anyFilter() const {
    for (const auto& [client, filter] : filters_) {
        if (filter.set) return true;
    }
    return false;
}

bool AdapterNode::anyDuplicateData() const {
    for (const auto& [client, filter] : filters_) {
        if (filter.set && filter.duplicateData) return true;
    }
    return false;
}

void AdapterNode::registerOn(sdbus::IObject& o) {
    o.registerMethod("StartDiscovery").onInterface(kAdapterIface).implementedAs([this]() {
        startDiscovery(sender());
    });
    o.registerMethod("StopDiscovery").onInterface(kAdapterIface).implementedAs([this]() {
        stopDiscovery(sender());
    });
    o.registerMethod("SetDiscoveryFilter")
        .onInterface(kAdapterIface)
        .withInputParamNames("properties")
        .implementedAs([this](const std::map<std::string, sdbus::Variant>& filter) {
            setDiscoveryFilter(sender(), filter);
        });
    o.registerMethod("GetDiscoveryFilters")
        .onInterface(kAdapterIface)
        .withOutputParamNames("filters")
        .implementedAs([]() {
            return std::vector<std::string>{"UUIDs",         "RSSI",         "Pathloss", "Transport",
                                            "DuplicateData", "Discoverable", "Pattern"};
        });
    o.registerMethod("RemoveDevice")
        .onInterface(kAdapterIface)
        .withInputParamNames("device")
        .implementedAs([this](const sdbus::ObjectPath& path) {
            DeviceNode* node = daemon_.deviceByPath(path);
            if (node == nullptr) fail("org.bluez.Error.DoesNotExist", "Does Not Exist");
            daemon_.log("RemoveDevice %s", path.c_str());
            daemon_.removeDevice(node->address());
        });
    property<std::string>(o, kAdapterIface, "Address");
    property<std::string>(o, kAdapterIface, "AddressType");
    property<std::string>(o, kAdapterIface, "Name");
    writable<std::string>(o, kAdapterIface, "Alias",
                          [this](const std::string& v) { set(kAdapterIface, "Alias", sdbus::Variant(v)); });
    property<std::uint32_t>(o, kAdapterIface, "Class");
    writable<bool>(o, kAdapterIface, "Powered", [this](const bool& v) { setPowered(v); });
    writable<bool>(o, kAdapterIface, "Discoverable",
                   [this](const bool& v) { set(kAdapterIface, "Discoverable", sdbus::Variant(v)); });
    writable<std::uint32_t>(o, kAdapterIface, "DiscoverableTimeout", [this](const std::uint32_t& v) {
        set(kAdapterIface, "DiscoverableTimeout", sdbus::Variant(v));
    });
    writable<bool>(o, kAdapterIface, "Pairable",
                   [this](const bool& v) { set(kAdapterIface, "Pairable", sdbus::Variant(v)); });
    writable<std::uint32_t>(o, kAdapterIface, "PairableTimeout", [this](const std::uint32_t& v) {
        set(kAdapterIface, "PairableTimeout", sdbus::Variant(v));
    });
    property<bool>(o, kAdapterIface, "Discovering");
    property<std::vector<std::string>>(o, kAdapterIface, "UUIDs");
    property<std::vector<std::string>>(o, kAdapterIface, "Roles");
}

void AdapterNode::startDiscovery(const std::string& client) {
    if (!powered()) fail("org.bluez.Error.NotReady", "Resource Not Ready");
    if (sessions_.count(client) != 0) fail("org.bluez.Error.InProgress", "Operation already in progress");
    daemon_.log("StartDiscovery from %s", client.c_str());
    sessions_.insert(client);
    if (sessions_.size() == 1) {
        daemon_.world().setScanning(true);
        setAfterReply(kAdapterIface, "Discovering", sdbus::Variant(true));
    }
}

void AdapterNode::stopDiscovery(const std::string& client) {
    if (!powered()) fail("org.bluez.Error.NotReady", "Resource Not Ready");
    if (sessions_.count(client) == 0) fail("org.bluez.Error.Failed", "No discovery started");
    daemon_.log("StopDiscovery from %s", client.c_str());
    endSession(client);
}

void AdapterNode::endSession(const std::string& client) {
    if (sessions_.erase(client) == 0) return;
    filters_.erase(client);
    if (!sessions_.empty()) return;
    daemon_.world().setScanning(false);
    setAfterReply(kAdapterIface, "Discovering", sdbus::Variant(false));
    daemon_.discoveryStopped();
}

void AdapterNode::clientGone(const std::string& name) {
    endSession(name);
    filters_.erase(name);
}

void AdapterNode::setDiscoveryFilter(const std::string& client,
                                     const std::map<std::string, sdbus::Variant>& filter) {
    if (!powered()) fail("org.bluez.Error.NotReady", "Resource Not Ready");
    DiscoveryFilter parsed;
    bool hasRssi = false, hasPathloss = false;
    for (const auto& [key, value] : filter) {
        bool ok = false;
        if (key == "UUIDs") {
            ok = value.containsValueOfType<std::vector<std::string>>();
        } else if (key == "RSSI") {
            ok = value.containsValueOfType<std::int16_t>() && value.get<std::int16_t>() >= -127 &&
                 value.get<std::int16_t>() <= 20;
            hasRssi = true;
        } else if (key == "Pathloss") {
            ok = value.containsValueOfType<std::uint16_t>();
            hasPathloss = true;
        } else if (key == "Transport") {
            ok = value.containsValueOfType<std::string>();
            if (ok) {
                const auto t = value.get<std::string>();
                ok = t == "auto" || t == "bredr" || t == "le";
            }
        } else if (key == "DuplicateData") {
            ok = value.containsValueOfType<bool>();
            if (ok) parsed.duplicateData = value.get<bool>();
        } else if (key == "Discoverable") {
            ok = value.containsValueOfType<bool>();
        } else if (key == "Pattern") {
            ok = value.containsValueOfType<std::string>();
        }
        if (!ok) fail("org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
        parsed.keys.push_back(key);
    }
    if (hasRssi && hasPathloss) fail("org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
    parsed.set = !filter.empty();
    daemon_.log("SetDiscoveryFilter from %s: %zu keys%s", client.c_str(), filter.size(),
                parsed.duplicateData ? ", duplicates" : "");
    if (parsed.set) {
        filters_[client] = parsed;
    } else {
        filters_.erase(client);
    }
}

void AdapterNode::setPowered(bool on) {
    if (on == powered()) return;
    daemon_.log("Powered %s", on ? "on" : "off");
    if (!on) {
        auto clients = sessions_;
        for (const auto& c : clients) endSession(c);
        daemon_.disconnectAll();
    }
    set(kAdapterIface, "Powered", sdbus::Variant(on));
}

}  // namespace qb::emud
