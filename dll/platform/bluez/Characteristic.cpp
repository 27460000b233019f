#include "Characteristic.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <thread>

#include "Addressing.h"
#include "Context.h"
#include "ErrorMap.h"

namespace qb::bluez {
namespace {

using platform::Bytes;
using platform::GattCommunicationStatus;
using platform::PlatformError;
namespace hr = platform::hresult;
namespace prop = platform::gatt_property;

constexpr auto kEchoLifetime = std::chrono::seconds(2);
constexpr std::size_t kMaxEchoes = 16;

std::uint32_t flagBit(const std::string& flag) {
    static const std::map<std::string, std::uint32_t> bits{
        {"broadcast", prop::kBroadcast},
        {"read", prop::kRead},
        {"write-without-response", prop::kWriteWithoutResponse},
        {"write", prop::kWrite},
        {"notify", prop::kNotify},
        {"indicate", prop::kIndicate},
        {"authenticated-signed-writes", 0x40},
        {"extended-properties", 0x80},
        {"reliable-write", 0x100},
        {"writable-auxiliaries", 0x200},
    };
    auto it = bits.find(flag);
    return it == bits.end() ? 0 : it->second;
}

// Outcomes that the platform reports as a status rather than as an error.
std::optional<GattCommunicationStatus> statusFor(const PlatformError& e, bool attAsStatus) {
    if (e.code() == hr::kDeviceNotConnected) return GattCommunicationStatus::Unreachable;
    if (attAsStatus && isAttError(e.code())) return GattCommunicationStatus::ProtocolError;
    return std::nullopt;
}

// Write errors the core tells apart (write not permitted, invalid PDU) stay errors; other ATT
// errors are a protocol status.
bool attWriteErrorRaised(platform::HResult code) {
    return code == hr::kAttWriteNotPermitted || code == hr::kAttInvalidPdu ||
           code == hr::kAttInvalidAttributeLength;
}

}  // namespace

std::shared_ptr<BluezCharacteristic> BluezCharacteristic::create(std::shared_ptr<Context> context,
                                                                 std::string path, std::string devicePath) {
    std::shared_ptr<BluezCharacteristic> self(
        new BluezCharacteristic(std::move(context), std::move(path), std::move(devicePath)));
    std::weak_ptr<BluezCharacteristic> weak = self;
    self->subscription_ = self->context_->bus().subscribe([weak](const TreeEvent& event) {
        if (auto strong = weak.lock()) strong->onTreeEvent(event);
    });
    return self;
}

BluezCharacteristic::BluezCharacteristic(std::shared_ptr<Context> context, std::string path,
                                         std::string devicePath)
    : context_(std::move(context)), path_(std::move(path)), devicePath_(std::move(devicePath)) {}

BluezCharacteristic::~BluezCharacteristic() {
    context_->bus().unsubscribe(subscription_);
    stopDelivery();
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (writeFd_ >= 0) ::close(writeFd_);
    // A StartNotify session belongs to our bus name and ends with it; leaving it running here is
    // harmless, and calling out from a destructor could block.
}

platform::Guid BluezCharacteristic::uuid() {
    auto text = variantAs<std::string>(context_->bus().property(path_, kCharIface, "UUID"));
    if (!text) throw PlatformError(hr::kNotFound, "characteristic " + path_ + " is gone");
    auto guid = platform::Guid::parse(*text);
    if (!guid) throw PlatformError(hr::kFail, "characteristic " + path_ + " has a malformed UUID");
    return *guid;
}

std::uint32_t BluezCharacteristic::flagsFromTree() const {
    auto flags = variantAs<std::vector<std::string>>(context_->bus().property(path_, kCharIface, "Flags"));
    std::uint32_t bits = 0;
    if (flags) {
        for (const auto& f : *flags) bits |= flagBit(f);
    }
    return bits;
}

std::uint32_t BluezCharacteristic::characteristicProperties() {
    return flagsFromTree();
}

std::uint16_t BluezCharacteristic::attributeHandle() {
    // Newer daemons publish the value handle; older ones only name the declaration in the path.
    if (auto handle = variantAs<std::uint16_t>(context_->bus().property(path_, kCharIface, "Handle"))) {
        if (*handle != 0) return *handle;
    }
    auto fromPath = valueHandleFromPath(path_);
    return fromPath ? *fromPath : 0;
}

bool BluezCharacteristic::offers(const char* property) const {
    return context_->bus().property(path_, kCharIface, property).has_value();
}

bool BluezCharacteristic::connected() const {
    return variantAs<bool>(context_->bus().property(devicePath_, kDeviceIface, "Connected")).value_or(false);
}

BluezCharacteristic::NotifyMode BluezCharacteristic::notifyMode() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return notifyMode_;
}

bool BluezCharacteristic::writeAcquired() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return writeFd_ >= 0;
}

GattCommunicationStatus BluezCharacteristic::writeValueWithResult(const Bytes& value,
                                                                  platform::GattWriteOption option) {
    std::lock_guard<std::mutex> op(opMutex_);
    // An empty packet would make the daemon stop reading the socket for good, so it never goes there.
    const bool socketCandidate = option == platform::GattWriteOption::WriteWithoutResponse &&
                                 !value.empty() && (flagsFromTree() & prop::kWriteWithoutResponse) != 0 &&
                                 offers("WriteAcquired");
    if (socketCandidate) {
        bool handled = false;
        auto status = writeThroughSocket(value, handled);
        if (handled) return status;
    }
    return writeThroughBus(value, option);
}

GattCommunicationStatus BluezCharacteristic::writeThroughSocket(const Bytes& value, bool& handled) {
    int fd = -1;
    std::uint16_t mtu = 0;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        fd = writeFd_;
        mtu = writeMtu_;
    }
    if (fd < 0) {
        if (!connected()) {
            handled = true;
            return GattCommunicationStatus::Unreachable;
        }
        sdbus::UnixFd acquired;
        try {
            context_->bus().call(
                path_, kCharIface, "AcquireWrite",
                [](sdbus::MethodCall& m) { m << std::map<std::string, sdbus::Variant>{}; },
                [&](sdbus::MethodReply& r) { r >> acquired >> mtu; });
        } catch (const PlatformError& e) {
            if (auto status = statusFor(e, false)) {
                handled = true;
                return *status;
            }
            return GattCommunicationStatus::Success;  // someone else holds it: the bus route still works
        }
        fd = acquired.release();
        std::lock_guard<std::mutex> lock(stateMutex_);
        writeFd_ = fd;
        writeMtu_ = mtu;
    }
    handled = true;
    // Oversize packets would be dropped silently on the other side; refuse them instead.
    if (mtu < 3 || value.size() > static_cast<std::size_t>(mtu - 3)) {
        throw PlatformError(
            hr::kAttInvalidAttributeLength,
            "write of " + std::to_string(value.size()) + " bytes exceeds ATT MTU " + std::to_string(mtu));
    }
    for (;;) {
        const ssize_t sent = ::send(fd, value.data(), value.size(), MSG_NOSIGNAL);
        if (sent == static_cast<ssize_t>(value.size())) return GattCommunicationStatus::Success;
        if (sent < 0 && errno == EINTR) continue;
        break;
    }
    // The link went away under the socket.
    releaseWriteSocket();
    return GattCommunicationStatus::Unreachable;
}

void BluezCharacteristic::releaseWriteSocket() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (writeFd_ >= 0) ::close(writeFd_);
    writeFd_ = -1;
    writeMtu_ = 0;
}

void BluezCharacteristic::waitForDaemonToRelease(const char* acquiredProperty) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
        std::optional<PropertyValue> acquired;
        try {
            acquired = context_->bus().fetch(path_, kCharIface, acquiredProperty, std::chrono::seconds(1));
        } catch (const PlatformError&) {
            return;  // the next call on this characteristic says what is wrong
        }
        if (!acquired || !valueAs<bool>(*acquired).value_or(false)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

GattCommunicationStatus BluezCharacteristic::writeThroughBus(const Bytes& value,
                                                             platform::GattWriteOption option) {
    bool hadSocket = false;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        hadSocket = writeFd_ >= 0;
    }
    if (hadSocket) {
        // WriteValue is refused while our socket holds the characteristic; give it back first.
        releaseWriteSocket();
        // The daemon's word, not the mirror's: its signal that the socket was acquired may not
        // even have arrived yet.
        waitForDaemonToRelease("WriteAcquired");
    }
    const std::string type = option == platform::GattWriteOption::WriteWithResponse ? "request" : "command";
    try {
        context_->bus().call(
            path_, kCharIface, "WriteValue",
            [&](sdbus::MethodCall& m) {
                m << value << std::map<std::string, sdbus::Variant>{{"type", sdbus::Variant(type)}};
            },
            {});
    } catch (const PlatformError& e) {
        if (attWriteErrorRaised(e.code())) throw;
        if (auto status = statusFor(e, true)) return *status;
        throw;
    }
    return GattCommunicationStatus::Success;
}

platform::GattReadResult BluezCharacteristic::readValue(platform::BluetoothCacheMode mode) {
    std::lock_guard<std::mutex> op(opMutex_);
    platform::GattReadResult result;
    if (mode == platform::BluetoothCacheMode::Cached) {
        if (auto cached = variantAs<Bytes>(context_->bus().property(path_, kCharIface, "Value"))) {
            result.status = GattCommunicationStatus::Success;
            result.value = *cached;
            return result;
        }
    }
    try {
        context_->bus().call(
            path_, kCharIface, "ReadValue",
            [](sdbus::MethodCall& m) { m << std::map<std::string, sdbus::Variant>{}; },
            [&](sdbus::MethodReply& r) {
                r >> result.value;
                // On the loop thread, so the echo is recorded before its signal is handled.
                std::lock_guard<std::mutex> lock(stateMutex_);
                if (echoes_.size() >= kMaxEchoes) echoes_.pop_front();
                echoes_.push_back({result.value, std::chrono::steady_clock::now()});
            });
    } catch (const PlatformError& e) {
        if (e.code() == hr::kAccessDenied) {
            result.status = GattCommunicationStatus::AccessDenied;
            return result;
        }
        if (auto status = statusFor(e, true)) {
            result.status = *status;
            return result;
        }
        throw;
    }
    result.status = GattCommunicationStatus::Success;
    return result;
}

GattCommunicationStatus BluezCharacteristic::writeClientCharacteristicConfigurationDescriptor(
    platform::GattClientCharacteristicConfigurationDescriptorValue value) {
    std::lock_guard<std::mutex> op(opMutex_);
    try {
        if (value == platform::GattClientCharacteristicConfigurationDescriptorValue::None)
            return disableNotify();
        return enableNotify();
    } catch (const PlatformError& e) {
        if (auto status = statusFor(e, true)) return *status;
        throw;
    }
}

GattCommunicationStatus BluezCharacteristic::enableNotify() {
    if (notifyMode() != NotifyMode::Off) return GattCommunicationStatus::Success;
    if (!connected()) return GattCommunicationStatus::Unreachable;
    // StartNotify, never AcquireNotify: bluetoothd writes acquired notifications to a non-blocking
    // socket and drops each one that finds it full (about 160 queued), and 5.66 never answers an
    // AcquireNotify whose descriptor write the device refuses, then crashes tidying it up. Its
    // signals queue on the bus instead, and a refused StartNotify is answered.
    context_->bus().call(path_, kCharIface, "StartNotify", {}, {});
    startDelivery();
    return GattCommunicationStatus::Success;
}

GattCommunicationStatus BluezCharacteristic::disableNotify() {
    if (notifyMode() == NotifyMode::Started) {
        stopDelivery();
        try {
            context_->bus().call(path_, kCharIface, "StopNotify", {}, {});
        } catch (const PlatformError& e) {
            // The session is gone already (our name left the bus, or the object was dropped).
            if (e.code() != hr::kFail && e.code() != hr::kNotFound) throw;
        }
    }
    return GattCommunicationStatus::Success;
}

struct BluezCharacteristic::Delivery {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Bytes> values;
    bool stopped = false;
};

void BluezCharacteristic::startDelivery() {
    auto delivery = std::make_shared<Delivery>();
    std::weak_ptr<BluezCharacteristic> weak = weak_from_this();
    // Detached: a handler may wait for a lock that the caller switching notifications off holds (the
    // library's, while it unsubscribes during a flood), so nobody may wait for this thread. It starts
    // no delivery once stopped, and holds only the queue and a weak owner.
    std::thread([delivery, weak] { deliveryLoop(delivery, weak); }).detach();
    std::lock_guard<std::mutex> lock(stateMutex_);
    delivery_ = std::move(delivery);
    notifyMode_ = NotifyMode::Started;
}

void BluezCharacteristic::stopDelivery() {
    std::shared_ptr<Delivery> delivery;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        notifyMode_ = NotifyMode::Off;
        delivery = std::move(delivery_);
    }
    if (!delivery) return;
    {
        std::lock_guard<std::mutex> lock(delivery->mutex);
        delivery->stopped = true;
        delivery->values.clear();
    }
    delivery->wake.notify_all();
}

void BluezCharacteristic::deliveryLoop(const std::shared_ptr<Delivery>& delivery,
                                       std::weak_ptr<BluezCharacteristic> owner) {
    for (;;) {
        Bytes value;
        {
            std::unique_lock<std::mutex> lock(delivery->mutex);
            delivery->wake.wait(lock, [&] { return delivery->stopped || !delivery->values.empty(); });
            if (delivery->stopped) return;
            value = std::move(delivery->values.front());
            delivery->values.pop_front();
        }
        auto self = owner.lock();
        if (!self) return;
        self->valueChanged_.invoke(*self, value);
    }
}

void BluezCharacteristic::onTreeEvent(const TreeEvent& event) {
    if (event.path == devicePath_ && event.iface == kDeviceIface && event.kind == TreeEvent::Kind::Changed) {
        auto connectedNow = propAs<bool>(event.changed, "Connected");
        if (connectedNow && !*connectedNow) releaseWriteSocket();
        return;
    }
    if (event.path != path_ || event.iface != kCharIface || event.kind != TreeEvent::Kind::Changed) return;
    auto value = propAs<Bytes>(event.changed, "Value");
    if (!value) return;
    std::shared_ptr<Delivery> delivery;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        const auto now = std::chrono::steady_clock::now();
        while (!echoes_.empty() && now - echoes_.front().at > kEchoLifetime) echoes_.pop_front();
        if (!echoes_.empty() && echoes_.front().value == *value) {
            echoes_.pop_front();
            return;
        }
        if (notifyMode_ != NotifyMode::Started || !delivery_) return;
        delivery = delivery_;
        std::lock_guard<std::mutex> queue(delivery->mutex);
        delivery->values.push_back(std::move(*value));
    }
    delivery->wake.notify_one();
}

platform::EventToken BluezCharacteristic::addValueChanged(ValueChangedHandler handler) {
    return valueChanged_.add(std::move(handler));
}

void BluezCharacteristic::removeValueChanged(platform::EventToken token) {
    valueChanged_.remove(token);
}

}  // namespace qb::bluez
