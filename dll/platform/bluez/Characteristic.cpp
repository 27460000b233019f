#include "Characteristic.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>

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
    stopReader();
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
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        resumeNotify_ = false;
    }
    stopReader();  // collects a reader that ended with a lost link
    const auto flags = flagsFromTree();
    if ((flags & prop::kNotify) != 0 && offers("NotifyAcquired")) {
        sdbus::UnixFd acquired;
        std::uint16_t mtu = 0;
        bool ok = true;
        try {
            context_->bus().call(
                path_, kCharIface, "AcquireNotify",
                [](sdbus::MethodCall& m) { m << std::map<std::string, sdbus::Variant>{}; },
                [&](sdbus::MethodReply& r) { r >> acquired >> mtu; });
        } catch (const PlatformError& e) {
            if (e.code() == hr::kDeviceNotConnected) throw;
            ok = false;  // another client's StartNotify session: fall back to ours
        }
        if (ok) {
            startReader(acquired.release());
            return GattCommunicationStatus::Success;
        }
    }
    context_->bus().call(path_, kCharIface, "StartNotify", {}, {});
    std::lock_guard<std::mutex> lock(stateMutex_);
    notifyMode_ = NotifyMode::Started;
    return GattCommunicationStatus::Success;
}

GattCommunicationStatus BluezCharacteristic::disableNotify() {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        resumeNotify_ = false;
    }
    const NotifyMode mode = notifyMode();
    if (mode == NotifyMode::Acquired) {
        stopReader();
        // Off at the bridge too before we return, and a new AcquireNotify is not refused as taken.
        waitForDaemonToRelease("NotifyAcquired");
        return GattCommunicationStatus::Success;
    }
    if (mode == NotifyMode::Started) {
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            notifyMode_ = NotifyMode::Off;
        }
        try {
            context_->bus().call(path_, kCharIface, "StopNotify", {}, {});
        } catch (const PlatformError& e) {
            // The session is gone already (our name left the bus, or the object was dropped).
            if (e.code() != hr::kFail && e.code() != hr::kNotFound) throw;
        }
    }
    return GattCommunicationStatus::Success;
}

// The acquired socket and the reader's wake-up; owned jointly by the characteristic and its reader
// thread, so a handler that drops the last reference on the reader thread leaves nothing dangling.
struct BluezCharacteristic::NotifyChannel {
    int fd = -1;
    int wake = -1;
    NotifyChannel(int f, int w) : fd(f), wake(w) {}
    ~NotifyChannel() {
        if (fd >= 0) ::close(fd);
        if (wake >= 0) ::close(wake);
    }
    NotifyChannel(const NotifyChannel&) = delete;
    NotifyChannel& operator=(const NotifyChannel&) = delete;
};

void BluezCharacteristic::startReader(int fd) {
    auto channel = std::make_shared<NotifyChannel>(fd, ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    std::lock_guard<std::mutex> lock(stateMutex_);
    channel_ = channel;
    notifyMode_ = NotifyMode::Acquired;
    std::weak_ptr<BluezCharacteristic> weak = weak_from_this();
    reader_ = std::thread([channel, weak] { readerLoop(channel, weak); });
}

void BluezCharacteristic::stopReader() {
    std::thread reader;
    std::shared_ptr<NotifyChannel> channel;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        reader = std::move(reader_);
        channel = std::move(channel_);
        if (notifyMode_ == NotifyMode::Acquired) notifyMode_ = NotifyMode::Off;
    }
    if (channel && channel->wake >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(channel->wake, &one, sizeof one);
    }
    // The reader may outlive this call; the daemon hears the end now, not when the reader ends.
    if (channel && channel->fd >= 0) ::shutdown(channel->fd, SHUT_RDWR);
    // Not joined: its handler may be waiting for a lock our caller holds (the library's, while it
    // unsubscribes during a flood), and joining would deadlock. It starts no delivery after the
    // wake-up, ends once a delivery in flight returns, and holds only the channel and a weak owner.
    if (reader.joinable()) reader.detach();
}

void BluezCharacteristic::readerLoop(const std::shared_ptr<NotifyChannel>& channel,
                                     std::weak_ptr<BluezCharacteristic> owner) {
    std::uint8_t buffer[1024];
    for (;;) {
        pollfd fds[2] = {{channel->fd, POLLIN, 0}, {channel->wake, POLLIN, 0}};
        const int ready = ::poll(fds, channel->wake >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (channel->wake >= 0 && (fds[1].revents & POLLIN) != 0) return;
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t got = ::recv(channel->fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0) {
                auto self = owner.lock();
                if (!self) return;
                self->deliver(Bytes(buffer, buffer + got));
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            break;  // end of stream: the link or the daemon dropped the socket
        }
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) break;
    }
    if (auto self = owner.lock()) {
        std::lock_guard<std::mutex> lock(self->stateMutex_);
        if (self->channel_ == channel && self->notifyMode_ == NotifyMode::Acquired) {
            self->notifyMode_ = NotifyMode::Off;
            // Like a StartNotify session, the subscription comes back with the link.
            self->resumeNotify_ = true;
            // The thread object stays joinable; stopReader or the destructor lets it go.
        }
    }
}

void BluezCharacteristic::resumeNotify() {
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!resumeNotify_) return;
    }
    std::lock_guard<std::mutex> op(opMutex_);
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (!resumeNotify_) return;  // the caller switched notifications meanwhile
    }
    try {
        enableNotify();
    } catch (const PlatformError&) {
        // The link went again; the next ServicesResolved tries once more.
    }
}

void BluezCharacteristic::deliver(const Bytes& value) {
    valueChanged_.invoke(*this, value);
}

void BluezCharacteristic::onTreeEvent(const TreeEvent& event) {
    if (event.path == devicePath_ && event.iface == kDeviceIface && event.kind == TreeEvent::Kind::Changed) {
        auto connectedNow = propAs<bool>(event.changed, "Connected");
        if (connectedNow && !*connectedNow) releaseWriteSocket();
        auto resolved = propAs<bool>(event.changed, "ServicesResolved");
        if (resolved && *resolved) resumeNotify();
        return;
    }
    if (event.path != path_ || event.iface != kCharIface || event.kind != TreeEvent::Kind::Changed) return;
    auto value = propAs<Bytes>(event.changed, "Value");
    if (!value) return;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        const auto now = std::chrono::steady_clock::now();
        while (!echoes_.empty() && now - echoes_.front().at > kEchoLifetime) echoes_.pop_front();
        if (!echoes_.empty() && echoes_.front().value == *value) {
            echoes_.pop_front();
            return;
        }
        if (notifyMode_ != NotifyMode::Started) return;
    }
    deliver(*value);
}

platform::EventToken BluezCharacteristic::addValueChanged(ValueChangedHandler handler) {
    return valueChanged_.add(std::move(handler));
}

void BluezCharacteristic::removeValueChanged(platform::EventToken token) {
    valueChanged_.remove(token);
}

}  // namespace qb::bluez
