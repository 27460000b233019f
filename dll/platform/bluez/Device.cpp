#include "Device.h"

#include <optional>
#include <thread>

#include "Characteristic.h"
#include "ErrorMap.h"

namespace qb::bluez {
namespace {

using platform::GattCommunicationStatus;
using platform::PlatformError;
namespace hr = platform::hresult;

constexpr std::uint16_t kMinimumAttMtu = 23;
// bluetoothd signals within milliseconds; a daemon that never does costs a close this much.
constexpr std::chrono::seconds kLateSignalLimit{2};

}  // namespace

std::shared_ptr<BluezDevice> BluezDevice::create(std::shared_ptr<Context> context, std::string path,
                                                 std::string id, std::uint64_t address) {
    std::shared_ptr<BluezDevice> self(
        new BluezDevice(std::move(context), std::move(path), std::move(id), address));
    self->lastConnected_ = self->flag("Connected");
    std::weak_ptr<BluezDevice> weak = self;
    self->subscription_ = self->context_->bus().subscribe([weak](const TreeEvent& event) {
        if (auto strong = weak.lock()) strong->onTreeEvent(event);
    });
    return self;
}

BluezDevice::BluezDevice(std::shared_ptr<Context> context, std::string path, std::string id,
                         std::uint64_t address)
    : context_(std::move(context)), path_(std::move(path)), id_(std::move(id)), address_(address) {}

BluezDevice::~BluezDevice() {
    context_->bus().unsubscribe(subscription_);
}

bool BluezDevice::flag(const char* name) const {
    return variantAs<bool>(context_->bus().property(path_, kDeviceIface, name)).value_or(false);
}

void BluezDevice::onTreeEvent(const TreeEvent& event) {
    if (event.path != path_ || event.iface != kDeviceIface) return;
    bool now = false;
    if (event.kind == TreeEvent::Kind::Removed) {
        now = false;
    } else {
        auto connected = propAs<bool>(event.changed, "Connected");
        if (!connected && event.changed.count("ServicesResolved") == 0) return;
        now = flag("Connected");
    }
    bool raise = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        raise = now != lastConnected_;
        lastConnected_ = now;
    }
    changed_.notify_all();
    if (raise) statusChanged_.invoke(*this);
}

platform::BluetoothConnectionStatus BluezDevice::connectionStatus() {
    return flag("Connected") ? platform::BluetoothConnectionStatus::Connected
                             : platform::BluetoothConnectionStatus::Disconnected;
}

platform::EventToken BluezDevice::addConnectionStatusChanged(ConnectionStatusChangedHandler handler) {
    return statusChanged_.add(std::move(handler));
}

void BluezDevice::removeConnectionStatusChanged(platform::EventToken token) {
    statusChanged_.remove(token);
}

std::string BluezDevice::name() {
    return variantAs<std::string>(context_->bus().property(path_, kDeviceIface, "Name"))
        .value_or(std::string());
}

bool BluezDevice::connectAndResolve() {
    auto& bus = context_->bus();
    if (!bus.properties(path_, kDeviceIface)) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = false;
        // From here a close owes the daemon a Disconnect, whatever the mirror says by then.
        connectRequested_ = true;
    }
    // Always asked, even when the mirror still says connected: it may be a link that just dropped,
    // and Connect on a connected device answers at once.
    bool joined = false;
    try {
        bus.call(path_, kDeviceIface, "Connect", {}, {}, kResolveLimit);
    } catch (const PlatformError& e) {
        // A connect already under way (ours or another client's) is waited for below.
        if (e.code() != hresult_extra::kBusy) return false;
        joined = true;
    }
    // The reply may come before or after the signals of the same change: only the daemon's own
    // answer says where the link stands, and only a change after it is a drop.
    try {
        bus.refresh(path_, kDeviceIface, {"Connected", "ServicesResolved"});
    } catch (const PlatformError&) {
        return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    bool seenUp = false;
    changed_.wait_for(lock, kResolveLimit, [&] {
        if (!bus.properties(path_, kDeviceIface)) return true;
        const bool up = flag("Connected");
        seenUp = seenUp || up;
        if (up) return flag("ServicesResolved");
        // Down: a drop once it was up, or our own connect found nothing; a joined one may not be up yet.
        return seenUp || !joined;
    });
    return flag("Connected") && flag("ServicesResolved");
}

platform::GattDeviceServicesResult BluezDevice::getGattServices(platform::BluetoothCacheMode mode) {
    platform::GattDeviceServicesResult result;
    const bool ready = flag("Connected") && flag("ServicesResolved");
    if (!ready && (mode == platform::BluetoothCacheMode::Uncached ||
                   context_->bus().objectsWith(kServiceIface, path_).empty())) {
        if (!connectAndResolve()) return result;  // Unreachable
    }
    for (const auto& servicePath : context_->bus().objectsWith(kServiceIface, path_)) {
        result.services.push_back(std::make_shared<BluezService>(context_, servicePath, path_));
    }
    result.status = GattCommunicationStatus::Success;
    return result;
}

void BluezDevice::close() {
    bool requested = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        closed_ = true;
        requested = connectRequested_;
        connectRequested_ = false;
    }
    // A connect of ours may have brought the link up although the mirror has not heard of it yet.
    if (!requested && !flag("Connected")) return;
    try {
        context_->bus().call(path_, kDeviceIface, "Disconnect", {}, {}, std::chrono::seconds(10));
    } catch (const PlatformError&) {
        // Gone or already down: nothing is held any more either way.
    }
    // The daemon may signal the link's end after its reply. Seen only after a next connect, that
    // late signal would pass for the new link dropping, so the close lasts until the mirror has it.
    // Polled rather than awaited on changed_, which the dispatcher thread (maybe this one) raises.
    const auto deadline = std::chrono::steady_clock::now() + kLateSignalLimit;
    while ((flag("Connected") || flag("ServicesResolved")) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

platform::Guid BluezService::uuid() {
    auto text = variantAs<std::string>(context_->bus().property(path_, kServiceIface, "UUID"));
    if (!text) throw PlatformError(hr::kNotFound, "service " + path_ + " is gone");
    auto guid = platform::Guid::parse(*text);
    if (!guid) throw PlatformError(hr::kFail, "service " + path_ + " has a malformed UUID");
    return *guid;
}

platform::DeviceAccessStatus BluezService::requestAccess() {
    return context_->bus().properties(path_, kServiceIface) ? platform::DeviceAccessStatus::Allowed
                                                            : platform::DeviceAccessStatus::DeniedBySystem;
}

platform::GattCharacteristicsResult BluezService::getCharacteristics(platform::BluetoothCacheMode mode) {
    platform::GattCharacteristicsResult result;
    const bool connected =
        variantAs<bool>(context_->bus().property(devicePath_, kDeviceIface, "Connected")).value_or(false);
    if (mode == platform::BluetoothCacheMode::Uncached && !connected) return result;  // Unreachable
    for (const auto& charPath : context_->bus().objectsWith(kCharIface, path_)) {
        result.characteristics.push_back(context_->characteristic(charPath, devicePath_));
    }
    result.status = GattCommunicationStatus::Success;
    return result;
}

std::uint16_t BluezSession::maxPduSize() {
    auto& bus = context_->bus();
    for (const auto& service : bus.objectsWith(kServiceIface, devicePath_)) {
        for (const auto& chr : bus.objectsWith(kCharIface, service)) {
            // Asked, not mirrored: bluetoothd exchanges the MTU after the objects appear, and over
            // the real stack the mirror still held the 23 it was first told.
            std::optional<PropertyValue> value;
            try {
                value = bus.fetch(chr, kCharIface, "MTU", std::chrono::seconds(5));
            } catch (const PlatformError&) {
                value = bus.property(chr, kCharIface, "MTU");
            }
            if (!value) continue;
            if (auto mtu = valueAs<std::uint16_t>(*value)) {
                if (*mtu >= kMinimumAttMtu) return *mtu;
            }
        }
    }
    return kMinimumAttMtu;
}

}  // namespace qb::bluez
