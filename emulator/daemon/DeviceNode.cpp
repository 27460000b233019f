#include "DeviceNode.h"

#include <cstdlib>

#include "AdapterNode.h"
#include "Daemon.h"

namespace qb::emud {
namespace {

// Hands model events to the daemon's thread; the device node may be gone by then.
class ModelListener : public emulator::DeviceListener {
  public:
    ModelListener(Daemon& daemon, std::uint64_t address) : daemon_(daemon), address_(address) {}
    void onNotification(std::uint16_t handle, const emulator::Bytes& value) override {
        daemon_.post([d = &daemon_, a = address_, handle, value] {
            if (auto* node = d->device(a)) node->onNotification(handle, value);
        });
    }
    void onConnectionChanged(bool connected) override {
        daemon_.post([d = &daemon_, a = address_, connected] {
            if (auto* node = d->device(a)) node->onLinkChanged(connected);
        });
    }
    void onNameChanged(const std::string& name) override {
        daemon_.post([d = &daemon_, a = address_, name] {
            if (auto* node = d->device(a)) node->onNameChanged(name);
        });
    }
    void onRemoved() override {
        daemon_.post([d = &daemon_, a = address_] { d->removeDevice(a); });
    }

  private:
    Daemon& daemon_;
    std::uint64_t address_;
};

std::string pathFor(std::uint64_t address) {
    std::string text = emulator::World::addressText(address);
    for (char& c : text) c = c == ':' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "/org/bluez/hci0/dev_" + text;
}

std::map<std::uint16_t, sdbus::Variant> manufacturerMap(
    const std::vector<platform::BluetoothLEManufacturerData>& sections) {
    std::map<std::uint16_t, sdbus::Variant> map;
    for (const auto& s : sections) map[s.companyId] = sdbus::Variant(s.data);
    return map;
}

bool isStandardService(const platform::Guid& uuid) {
    // The system daemon claims these for its own plugins and does not export them.
    return uuid.isSigShortUuid() && (uuid.shortUuid() == 0x1800 || uuid.shortUuid() == 0x180A);
}

}  // namespace

DeviceNode::DeviceNode(Daemon& daemon, std::shared_ptr<emulator::VirtualDevice> device,
                       const platform::BluetoothLEAdvertisementReceivedEventArgs& first)
    : Node(daemon, pathFor(device->address())), device_(std::move(device)), address_(device_->address()) {
    std::string text = emulator::World::addressText(address_);
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // Static random addresses have the two top bits set.
    const bool random = (address_ >> 46) == 0x3;
    init(kDeviceIface, "Address", sdbus::Variant(text));
    init(kDeviceIface, "AddressType", sdbus::Variant(std::string(random ? "random" : "public")));
    std::string name = first.localName;
    if (name.empty()) name = device_->name();
    if (!name.empty()) init(kDeviceIface, "Name", sdbus::Variant(name));
    std::string alias = name;
    if (alias.empty()) {
        alias = text;
        for (char& c : alias) c = c == ':' ? '-' : c;
    }
    init(kDeviceIface, "Alias", sdbus::Variant(alias));
    init(kDeviceIface, "Paired", sdbus::Variant(false));
    init(kDeviceIface, "Bonded", sdbus::Variant(false));
    init(kDeviceIface, "Trusted", sdbus::Variant(false));
    init(kDeviceIface, "Blocked", sdbus::Variant(false));
    init(kDeviceIface, "LegacyPairing", sdbus::Variant(false));
    init(kDeviceIface, "RSSI", sdbus::Variant(first.rawSignalStrengthInDBm));
    init(kDeviceIface, "Connected", sdbus::Variant(device_->connected()));
    init(kDeviceIface, "UUIDs", sdbus::Variant(std::vector<std::string>{}));
    init(kDeviceIface, "Adapter", sdbus::Variant(sdbus::ObjectPath("/org/bluez/hci0")));
    if (!first.manufacturerData.empty()) {
        init(kDeviceIface, "ManufacturerData", sdbus::Variant(manufacturerMap(first.manufacturerData)));
    }
    init(kDeviceIface, "ServicesResolved", sdbus::Variant(false));
    lastHeard_ = std::chrono::steady_clock::now();
    listener_ = device_->addListener(std::make_shared<ModelListener>(daemon, address_));
}

DeviceNode::~DeviceNode() {
    device_->removeListener(listener_);
}

bool DeviceNode::connected() const {
    return get(kDeviceIface, "Connected").get<bool>();
}

void DeviceNode::registerOn(sdbus::IObject& o) {
    o.registerMethod("Connect").onInterface(kDeviceIface).implementedAs([this]() { connect(); });
    o.registerMethod("Disconnect").onInterface(kDeviceIface).implementedAs([this]() {
        daemon_.log("Disconnect %s", path().c_str());
        disconnect();
    });
    o.registerMethod("ConnectProfile")
        .onInterface(kDeviceIface)
        .withInputParamNames("UUID")
        .implementedAs([](const std::string&) {
            fail("org.bluez.Error.NotAvailable", "Operation currently not available");
        });
    o.registerMethod("DisconnectProfile")
        .onInterface(kDeviceIface)
        .withInputParamNames("UUID")
        .implementedAs(
            [](const std::string&) { fail("org.bluez.Error.NotSupported", "Operation is not supported"); });
    o.registerMethod("Pair").onInterface(kDeviceIface).implementedAs([]() {
        fail("org.bluez.Error.AuthenticationFailed", "Authentication Failed");
    });
    o.registerMethod("CancelPairing").onInterface(kDeviceIface).implementedAs([]() {
        fail("org.bluez.Error.DoesNotExist", "Does Not Exist");
    });
    property<std::string>(o, kDeviceIface, "Address");
    property<std::string>(o, kDeviceIface, "AddressType");
    property<std::string>(o, kDeviceIface, "Name");
    writable<std::string>(o, kDeviceIface, "Alias",
                          [this](const std::string& v) { set(kDeviceIface, "Alias", sdbus::Variant(v)); });
    property<bool>(o, kDeviceIface, "Paired");
    property<bool>(o, kDeviceIface, "Bonded");
    writable<bool>(o, kDeviceIface, "Trusted",
                   [this](const bool& v) { set(kDeviceIface, "Trusted", sdbus::Variant(v)); });
    writable<bool>(o, kDeviceIface, "Blocked",
                   [this](const bool& v) { set(kDeviceIface, "Blocked", sdbus::Variant(v)); });
    property<bool>(o, kDeviceIface, "LegacyPairing");
    property<std::int16_t>(o, kDeviceIface, "RSSI");
    property<bool>(o, kDeviceIface, "Connected");
    property<std::vector<std::string>>(o, kDeviceIface, "UUIDs");
    property<sdbus::ObjectPath>(o, kDeviceIface, "Adapter");
    property<std::map<std::uint16_t, sdbus::Variant>>(o, kDeviceIface, "ManufacturerData");
    property<bool>(o, kDeviceIface, "ServicesResolved");
}

void DeviceNode::onReport(const platform::BluetoothLEAdvertisementReceivedEventArgs& report) {
    lastHeard_ = std::chrono::steady_clock::now();
    if (!report.localName.empty() &&
        (!has(kDeviceIface, "Name") || get(kDeviceIface, "Name").get<std::string>() != report.localName)) {
        onNameChanged(report.localName);
    }
    const auto& adapter = daemon_.adapter();
    if (!has(kDeviceIface, "RSSI")) {
        set(kDeviceIface, "RSSI", sdbus::Variant(report.rawSignalStrengthInDBm));
    } else {
        const int before = get(kDeviceIface, "RSSI").get<std::int16_t>();
        const int delta = std::abs(before - report.rawSignalStrengthInDBm);
        if (adapter.anyFilter() || delta >= 8)
            set(kDeviceIface, "RSSI", sdbus::Variant(report.rawSignalStrengthInDBm));
    }
    if (!report.manufacturerData.empty()) {
        auto fresh = manufacturerMap(report.manufacturerData);
        bool same = has(kDeviceIface, "ManufacturerData");
        if (same) {
            auto old = get(kDeviceIface, "ManufacturerData").get<std::map<std::uint16_t, sdbus::Variant>>();
            same = old.size() == fresh.size();
            for (auto it = old.begin(), jt = fresh.begin(); same && it != old.end(); ++it, ++jt) {
                same = it->first == jt->first && it->second.get<std::vector<std::uint8_t>>() ==
                                                     jt->second.get<std::vector<std::uint8_t>>();
            }
        }
        if (!same || adapter.anyDuplicateData()) set(kDeviceIface, "ManufacturerData", sdbus::Variant(fresh));
    }
}

void DeviceNode::onNameChanged(const std::string& name) {
    if (name.empty()) return;
    set(kDeviceIface, "Name", sdbus::Variant(name));
    set(kDeviceIface, "Alias", sdbus::Variant(name));
}

void DeviceNode::discoveryStopped() {
    unset(kDeviceIface, "RSSI");
}

void DeviceNode::connect() {
    if (connected()) return;
    if (!daemon_.adapter().powered()) fail("org.bluez.Error.NotReady", "Resource Not Ready");
    daemon_.log("Connect %s", path().c_str());
    daemon_.failIfDue(Daemon::Fault::Connect, address_);
    const auto status = device_->connect();
    if (status != emulator::AttStatus::Success) {
        daemon_.log("Connect %s failed: %s", path().c_str(), emulator::attStatusName(status));
        fail("org.bluez.Error.Failed", "le-connection-abort-by-local");
    }
    setAfterReply(kDeviceIface, "Connected", sdbus::Variant(true));
    // The reply goes out first; discovery finishes afterwards, as on a real link.
    daemon_.post([d = &daemon_, a = address_] {
        if (auto* node = d->device(a)) node->resolveServices();
    });
}

void DeviceNode::resolveServices() {
    if (!connected() || get(kDeviceIface, "ServicesResolved").get<bool>()) return;
    if (daemon_.takeFault(Daemon::Fault::Discover, address_)) {
        daemon_.log("discovery of %s failed as the control object asked", path().c_str());
        return;
    }
    if (services_.empty()) {
        for (const auto& service : device_->database()) {
            if (isStandardService(service.uuid)) continue;
            auto svc = std::make_unique<ServiceNode>(daemon_, *this, service);
            svc->publish();
            for (const auto& chr : service.characteristics) {
                auto node = std::make_unique<CharNode>(daemon_, *this, svc->path(), chr);
                node->publish();
                std::uint16_t handle = chr.valueHandle;
                if (chr.cccdHandle != 0) {
                    auto desc = std::make_unique<DescNode>(daemon_, *this, node->path(), chr.cccdHandle,
                                                           0x2902, chr.valueHandle);
                    desc->publish();
                    descriptors_.push_back(std::move(desc));
                    handle = chr.cccdHandle;
                }
                for (std::uint16_t extra = static_cast<std::uint16_t>(handle + 1); extra <= chr.endHandle;
                     ++extra) {
                    auto desc =
                        std::make_unique<DescNode>(daemon_, *this, node->path(), extra, 0, chr.valueHandle);
                    desc->publish();
                    descriptors_.push_back(std::move(desc));
                }
                characteristics_.push_back(std::move(node));
            }
            services_.push_back(std::move(svc));
        }
    }
    const std::uint16_t mtu = device_->mtu();
    for (auto& chr : characteristics_) chr->linkUp(mtu);
    daemon_.log("ServicesResolved %s (%zu services, MTU %u)", path().c_str(), services_.size(), mtu);
    set(kDeviceIface, "ServicesResolved", sdbus::Variant(true));
}

void DeviceNode::disconnect() {
    if (!connected()) return;
    device_->disconnect();
    linkDown();
}

void DeviceNode::onLinkChanged(bool up) {
    if (up) return;  // our Connect already said so; a link only comes up through it
    if (connected()) daemon_.log("link lost %s", path().c_str());
    linkDown();
}

void DeviceNode::linkDown() {
    if (!connected()) return;
    // A temporary device is kept for a while after its link, as after its last report.
    lastHeard_ = std::chrono::steady_clock::now();
    for (auto& chr : characteristics_) chr->linkDown();
    set(kDeviceIface, "ServicesResolved", sdbus::Variant(false));
    set(kDeviceIface, "Connected", sdbus::Variant(false));
}

void DeviceNode::onNotification(std::uint16_t valueHandle, const emulator::Bytes& value) {
    for (auto& chr : characteristics_) {
        if (chr->valueHandle() == valueHandle) {
            chr->onNotification(value);
            return;
        }
    }
}

void DeviceNode::onReadCompleted(std::uint16_t valueHandle, const emulator::Bytes& value) {
    for (auto& chr : characteristics_) {
        if (chr->valueHandle() == valueHandle) chr->readCompleted(value);
    }
}

void DeviceNode::clientGone(const std::string& name) {
    for (auto& chr : characteristics_) chr->clientGone(name);
}

void DeviceNode::withdrawAll() {
    disconnect();
    for (auto& d : descriptors_) d->withdraw();
    for (auto& c : characteristics_) c->withdraw();
    for (auto& s : services_) s->withdraw();
    withdraw();
}

}  // namespace qb::emud
