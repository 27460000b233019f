#include "GattNodes.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Daemon.h"
#include "DeviceNode.h"

namespace qb::emud {
namespace {

namespace prop = platform::gatt_property;
using emulator::AttStatus;

constexpr std::size_t kWriteSocketBuffer = 512;
constexpr std::size_t kMaxPendingNotifications = 4096;

std::vector<std::string> flagsOf(std::uint32_t bits) {
    std::vector<std::string> flags;
    if (bits & prop::kBroadcast) flags.emplace_back("broadcast");
    if (bits & prop::kRead) flags.emplace_back("read");
    if (bits & prop::kWriteWithoutResponse) flags.emplace_back("write-without-response");
    if (bits & prop::kWrite) flags.emplace_back("write");
    if (bits & prop::kNotify) flags.emplace_back("notify");
    if (bits & prop::kIndicate) flags.emplace_back("indicate");
    if (bits & 0x40) flags.emplace_back("authenticated-signed-writes");
    if (bits & 0x80) flags.emplace_back("extended-properties");
    return flags;
}

[[noreturn]] void failAtt(AttStatus status) {
    switch (status) {
        case AttStatus::Unreachable:
            fail("org.bluez.Error.Failed", "Not connected");
        case AttStatus::ReadNotPermitted:
            fail("org.bluez.Error.NotPermitted", "Read not permitted");
        case AttStatus::WriteNotPermitted:
            fail("org.bluez.Error.NotPermitted", "Write not permitted");
        case AttStatus::InvalidAttributeLength:
            fail("org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
        case AttStatus::AccessDenied:
            fail("org.bluez.Error.NotAuthorized", "Not Authorized");
        case AttStatus::InvalidPdu:
            fail("org.bluez.Error.Failed", "Operation failed with ATT error: 0x04");
        case AttStatus::InvalidHandle:
            fail("org.bluez.Error.Failed", "Operation failed with ATT error: 0x01");
        case AttStatus::Success:
            break;
    }
    fail("org.bluez.Error.Failed", "Operation failed");
}

// Both ends close on exec; ours is non-blocking so the daemon never stalls on a slow client.
std::pair<int, int> seqpacketPair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        fail("org.bluez.Error.Failed", "Failed to create socket pair");
    }
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    return {fds[0], fds[1]};
}

}  // namespace

std::string hex4(std::uint16_t value) {
    char text[5];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

IoOptions parseOptions(const std::map<std::string, sdbus::Variant>& options) {
    IoOptions parsed;
    for (const auto& [key, value] : options) {
        if (key == "offset") {
            if (!value.containsValueOfType<std::uint16_t>())
                fail("org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
            parsed.offset = value.get<std::uint16_t>();
        } else if (key == "type") {
            if (!value.containsValueOfType<std::string>())
                fail("org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
            parsed.type = value.get<std::string>();
            if (parsed.type != "command" && parsed.type != "request" && parsed.type != "reliable") {
                fail("org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
            }
        }
        // Other keys ("device", "link", "mtu", "prepare-authorize") are accepted and ignored.
    }
    return parsed;
}

ServiceNode::ServiceNode(Daemon& daemon, const DeviceNode& device, const emulator::ServiceEntry& entry)
    : Node(daemon, device.path() + "/service" + hex4(entry.startHandle)) {
    init(kServiceIface, "UUID", sdbus::Variant(entry.uuid.toString()));
    init(kServiceIface, "Device", sdbus::Variant(sdbus::ObjectPath(device.path())));
    init(kServiceIface, "Primary", sdbus::Variant(true));
    init(kServiceIface, "Includes", sdbus::Variant(std::vector<sdbus::ObjectPath>{}));
}

void ServiceNode::registerOn(sdbus::IObject& o) {
    property<std::string>(o, kServiceIface, "UUID");
    property<sdbus::ObjectPath>(o, kServiceIface, "Device");
    property<bool>(o, kServiceIface, "Primary");
    property<std::vector<sdbus::ObjectPath>>(o, kServiceIface, "Includes");
}

CharNode::CharNode(Daemon& daemon, DeviceNode& device, const std::string& servicePath,
                   const emulator::CharacteristicEntry& entry)
    : Node(daemon, servicePath + "/char" + hex4(entry.declarationHandle)), device_(device), entry_(entry) {
    init(kCharIface, "UUID", sdbus::Variant(entry.uuid.toString()));
    init(kCharIface, "Service", sdbus::Variant(sdbus::ObjectPath(servicePath)));
    init(kCharIface, "Value", sdbus::Variant(std::vector<std::uint8_t>{}));
    if (entry.properties & (prop::kNotify | prop::kIndicate))
        init(kCharIface, "Notifying", sdbus::Variant(false));
    init(kCharIface, "Flags", sdbus::Variant(flagsOf(entry.properties)));
    if (entry.properties & prop::kWriteWithoutResponse)
        init(kCharIface, "WriteAcquired", sdbus::Variant(false));
    if (entry.properties & prop::kNotify) init(kCharIface, "NotifyAcquired", sdbus::Variant(false));
}

CharNode::~CharNode() {
    if (writeFd_ >= 0) {
        daemon_.unwatch(writeFd_);
        ::close(writeFd_);
    }
    if (writeTimerFd_ >= 0) {
        daemon_.unwatch(writeTimerFd_);
        ::close(writeTimerFd_);
    }
    if (notifyFd_ >= 0) {
        daemon_.unwatch(notifyFd_);
        ::close(notifyFd_);
    }
}

void CharNode::registerOn(sdbus::IObject& o) {
    using Options = std::map<std::string, sdbus::Variant>;
    o.registerMethod("ReadValue")
        .onInterface(kCharIface)
        .withInputParamNames("options")
        .withOutputParamNames("value")
        .implementedAs([this](const Options& options) { return readValue(options); });
    o.registerMethod("WriteValue")
        .onInterface(kCharIface)
        .withInputParamNames("value", "options")
        .implementedAs([this](const std::vector<std::uint8_t>& value, const Options& options) {
            writeValue(value, options);
        });
    o.registerMethod("AcquireWrite")
        .onInterface(kCharIface)
        .withInputParamNames("options")
        .withOutputParamNames("fd", "mtu")
        .implementedAs([this](const Options&) { return acquireWrite(); });
    o.registerMethod("AcquireNotify")
        .onInterface(kCharIface)
        .withInputParamNames("options")
        .withOutputParamNames("fd", "mtu")
        .implementedAs([this](const Options&) { return acquireNotify(); });
    o.registerMethod("StartNotify").onInterface(kCharIface).implementedAs([this]() {
        startNotify(sender());
    });
    o.registerMethod("StopNotify").onInterface(kCharIface).implementedAs([this]() { stopNotify(sender()); });
    property<std::string>(o, kCharIface, "UUID");
    property<sdbus::ObjectPath>(o, kCharIface, "Service");
    property<std::vector<std::uint8_t>>(o, kCharIface, "Value");
    property<bool>(o, kCharIface, "Notifying");
    property<std::vector<std::string>>(o, kCharIface, "Flags");
    property<bool>(o, kCharIface, "WriteAcquired");
    property<bool>(o, kCharIface, "NotifyAcquired");
    property<std::uint16_t>(o, kCharIface, "MTU");
}

void CharNode::requireConnected() const {
    if (!device_.connected()) fail("org.bluez.Error.Failed", "Not connected");
}

std::vector<std::uint8_t> CharNode::readValue(const std::map<std::string, sdbus::Variant>& options) {
    const IoOptions io = parseOptions(options);
    requireConnected();
    if ((entry_.properties & prop::kRead) == 0) fail("org.bluez.Error.NotPermitted", "Read not permitted");
    daemon_.failIfDue(Daemon::Fault::Read, device_.address());
    auto result = device_.model().read(entry_.valueHandle);
    if (result.status != AttStatus::Success) failAtt(result.status);
    if (io.offset > result.value.size())
        fail("org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
    std::vector<std::uint8_t> value(result.value.begin() + io.offset, result.value.end());
    daemon_.log("ReadValue %s: %zu bytes", path().c_str(), value.size());
    // The cached value changes after the reply has gone out, as the real daemon batches it.
    daemon_.post([d = &daemon_, address = device_.address(), handle = entry_.valueHandle, value] {
        if (auto* device = d->device(address)) device->onReadCompleted(handle, value);
    });
    return value;
}

void CharNode::readCompleted(const std::vector<std::uint8_t>& value) {
    set(kCharIface, "Value", sdbus::Variant(value));
}

void CharNode::writeValue(const std::vector<std::uint8_t>& value,
                          const std::map<std::string, sdbus::Variant>& options) {
    const IoOptions io = parseOptions(options);
    requireConnected();
    if (writeFd_ >= 0) fail("org.bluez.Error.NotPermitted", "Write acquired");
    std::string type = io.type;
    if (type.empty()) type = (entry_.properties & prop::kWrite) ? "request" : "command";
    const bool command = type == "command";
    if (command && (entry_.properties & prop::kWriteWithoutResponse) == 0) {
        fail("org.bluez.Error.NotSupported", "Operation is not supported");
    }
    if (!command && (entry_.properties & prop::kWrite) == 0)
        fail("org.bluez.Error.NotPermitted", "Write not permitted");
    if (io.offset != 0) fail("org.bluez.Error.InvalidArguments", "Invalid arguments in method call");
    if (command && value.size() + 3 > device_.model().mtu())
        fail("org.bluez.Error.Failed", "Failed to initiate write");
    daemon_.failIfDue(Daemon::Fault::Write, device_.address());
    const auto status = device_.model().write(entry_.valueHandle, value, !command);
    daemon_.log("WriteValue %s: %zu bytes (%s): %s", path().c_str(), value.size(), type.c_str(),
                emulator::attStatusName(status));
    if (!command && status != AttStatus::Success) failAtt(status);
    if (command && status == AttStatus::Unreachable) failAtt(status);
}

std::tuple<sdbus::UnixFd, std::uint16_t> CharNode::acquireWrite() {
    if ((entry_.properties & prop::kWriteWithoutResponse) == 0)
        fail("org.bluez.Error.NotSupported", "Operation is not supported");
    requireConnected();
    if (writeFd_ >= 0) fail("org.bluez.Error.NotPermitted", "Write acquired");
    // Failing writes must reach WriteValue, where they can fail.
    if (daemon_.faultPending(Daemon::Fault::Write, device_.address())) fail("org.bluez.Error.NotPermitted", "Write acquired");
    auto [ours, theirs] = seqpacketPair();
    writeFd_ = ours;
    daemon_.watch(ours, POLLIN, [this](short events) { onWriteSocket(events); });
    set(kCharIface, "WriteAcquired", sdbus::Variant(true));
    const std::uint16_t mtu = device_.model().mtu();
    daemon_.log("AcquireWrite %s: MTU %u", path().c_str(), mtu);
    return {sdbus::UnixFd(theirs, sdbus::adopt_fd), mtu};
}

void CharNode::onWriteSocket(short events) {
    const bool hangup = (events & (POLLHUP | POLLERR)) != 0;
    std::uint8_t buffer[kWriteSocketBuffer];
    for (;;) {
        // The link's buffers are all in the air: the rest stays in the socket, so the client's sends
        // back up as they do against a controller, and reading goes on once a packet has gone.
        const auto wait = device_.model().writeWait();
        if (wait.count() > 0 && holdWriteSocket(wait)) return;
        const ssize_t got = ::recv(writeFd_, buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN && !hangup) return;
            break;
        }
        if (got == 0) {
            if (hangup) break;  // the client closed its end and everything it sent has been read
            // An empty packet stalls the reader until the socket is given back.
            daemon_.log("AcquireWrite %s: empty packet, no longer reading", path().c_str());
            daemon_.watch(writeFd_, 0, [this](short e) { onWriteSocket(e); });
            return;
        }
        if (static_cast<std::size_t>(got) > sizeof buffer) continue;  // oversize: lost
        device_.model().write(entry_.valueHandle, emulator::Bytes(buffer, buffer + got), false);
    }
    releaseWrite();
}

bool CharNode::holdWriteSocket(std::chrono::nanoseconds wait) {
    if (writeTimerFd_ < 0) {
        writeTimerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        // No timer to come back with: the write itself then waits for its buffer.
        if (writeTimerFd_ < 0) return false;
    }
    // Not watched while held: a hang-up must not be taken for the end before the rest is read.
    daemon_.unwatch(writeFd_);
    const auto ns = std::max<std::int64_t>(wait.count(), 1000);
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    due.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    ::timerfd_settime(writeTimerFd_, 0, &due, nullptr);
    daemon_.watch(writeTimerFd_, POLLIN, [this](short) { onWriteTimer(); });
    return true;
}

void CharNode::onWriteTimer() {
    std::uint64_t expirations = 0;
    [[maybe_unused]] auto n = ::read(writeTimerFd_, &expirations, sizeof expirations);
    daemon_.unwatch(writeTimerFd_);
    if (writeFd_ < 0) return;
    daemon_.watch(writeFd_, POLLIN, [this](short events) { onWriteSocket(events); });
    onWriteSocket(POLLIN);
}

void CharNode::releaseWrite() {
    if (writeFd_ < 0) return;
    if (writeTimerFd_ >= 0) {
        daemon_.unwatch(writeTimerFd_);
        const itimerspec off{};
        ::timerfd_settime(writeTimerFd_, 0, &off, nullptr);
    }
    daemon_.unwatch(writeFd_);
    ::close(writeFd_);
    writeFd_ = -1;
    daemon_.log("WriteAcquired %s released", path().c_str());
    set(kCharIface, "WriteAcquired", sdbus::Variant(false));
}

std::tuple<sdbus::UnixFd, std::uint16_t> CharNode::acquireNotify() {
    if ((entry_.properties & prop::kNotify) == 0)
        fail("org.bluez.Error.NotSupported", "Operation is not supported");
    requireConnected();
    if (notifyFd_ >= 0) fail("org.bluez.Error.NotPermitted", "Notify acquired");
    if (!sessions_.empty()) fail("org.bluez.Error.InProgress", "Operation already in progress");
    // Failing subscriptions must reach StartNotify, where they can fail.
    if (daemon_.faultPending(Daemon::Fault::Notify, device_.address()))
        fail("org.bluez.Error.NotPermitted", "Notify acquired");
    const auto status = device_.model().setClientConfiguration(entry_.valueHandle, 1);
    if (status != AttStatus::Success) failAtt(status);
    auto [ours, theirs] = seqpacketPair();
    notifyFd_ = ours;
    daemon_.watch(ours, 0, [this](short events) { onNotifySocket(events); });
    set(kCharIface, "NotifyAcquired", sdbus::Variant(true));
    updateNotifying();
    const std::uint16_t mtu = device_.model().mtu();
    daemon_.log("AcquireNotify %s: MTU %u", path().c_str(), mtu);
    return {sdbus::UnixFd(theirs, sdbus::adopt_fd), mtu};
}

void CharNode::onNotifySocket(short events) {
    if (events & (POLLHUP | POLLERR)) {
        releaseNotify();
        return;
    }
    if (events & POLLOUT) flushNotifySocket();
}

void CharNode::flushNotifySocket() {
    while (!pending_.empty()) {
        const auto& packet = pending_.front();
        const ssize_t sent = ::send(notifyFd_, packet.data(), packet.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) break;
            releaseNotify();
            return;
        }
        pending_.pop_front();
    }
    daemon_.watch(notifyFd_, pending_.empty() ? 0 : POLLOUT, [this](short e) { onNotifySocket(e); });
}

void CharNode::releaseNotify() {
    if (notifyFd_ < 0) return;
    daemon_.unwatch(notifyFd_);
    ::close(notifyFd_);
    notifyFd_ = -1;
    pending_.clear();
    if (sessions_.empty() && device_.connected())
        device_.model().setClientConfiguration(entry_.valueHandle, 0);
    daemon_.log("NotifyAcquired %s released", path().c_str());
    set(kCharIface, "NotifyAcquired", sdbus::Variant(false));
    updateNotifying();
}

void CharNode::startNotify(const std::string& client) {
    if ((entry_.properties & (prop::kNotify | prop::kIndicate)) == 0)
        fail("org.bluez.Error.NotSupported", "Operation is not supported");
    if (notifyFd_ >= 0) fail("org.bluez.Error.NotPermitted", "Notify acquired");
    if (sessions_.count(client) != 0) return;
    requireConnected();
    daemon_.failIfDue(Daemon::Fault::Notify, device_.address());
    if (sessions_.empty()) {
        const std::uint16_t value = (entry_.properties & prop::kNotify) ? 1 : 2;
        const auto status = device_.model().setClientConfiguration(entry_.valueHandle, value);
        if (status != AttStatus::Success) failAtt(status);
    }
    sessions_.insert(client);
    daemon_.log("StartNotify %s from %s", path().c_str(), client.c_str());
    updateNotifying();
}

void CharNode::stopNotify(const std::string& client) {
    if (sessions_.erase(client) == 0) fail("org.bluez.Error.Failed", "No notify session started");
    daemon_.log("StopNotify %s from %s", path().c_str(), client.c_str());
    if (sessions_.empty() && notifyFd_ < 0 && device_.connected()) {
        device_.model().setClientConfiguration(entry_.valueHandle, 0);
    }
    updateNotifying();
}

void CharNode::clientGone(const std::string& name) {
    if (sessions_.count(name) != 0) stopNotify(name);
}

void CharNode::updateNotifying() {
    if (!has(kCharIface, "Notifying")) return;
    const bool now = notifyFd_ >= 0 || !sessions_.empty();
    if (get(kCharIface, "Notifying").get<bool>() != now) setAfterReply(kCharIface, "Notifying", sdbus::Variant(now));
}

void CharNode::onNotification(const emulator::Bytes& value) {
    if (notifyFd_ >= 0) {
        if (!pending_.empty()) {
            if (pending_.size() < kMaxPendingNotifications) pending_.push_back(value);
            return;
        }
        const ssize_t sent = ::send(notifyFd_, value.data(), value.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0 && errno == EAGAIN) {
            pending_.push_back(value);
            daemon_.watch(notifyFd_, POLLOUT, [this](short e) { onNotifySocket(e); });
        } else if (sent < 0) {
            releaseNotify();
        }
        return;
    }
    if (sessions_.empty()) return;
    set(kCharIface, "Value", sdbus::Variant(value));
}

void CharNode::linkUp(std::uint16_t mtu) {
    set(kCharIface, "MTU", sdbus::Variant(mtu));
    // Sessions outlive a dropped link; the subscription comes back with it.
    if (!sessions_.empty()) {
        const std::uint16_t value = (entry_.properties & prop::kNotify) ? 1 : 2;
        device_.model().setClientConfiguration(entry_.valueHandle, value);
    }
}

void CharNode::linkDown() {
    releaseWrite();
    if (notifyFd_ >= 0) {
        daemon_.unwatch(notifyFd_);
        ::close(notifyFd_);
        notifyFd_ = -1;
        pending_.clear();
        set(kCharIface, "NotifyAcquired", sdbus::Variant(false));
        updateNotifying();
    }
    unset(kCharIface, "MTU");
}

DescNode::DescNode(Daemon& daemon, DeviceNode& device, const std::string& charPath, std::uint16_t handle,
                   std::uint16_t uuid16, std::uint16_t charValueHandle)
    : Node(daemon, charPath + "/desc" + hex4(handle)),
      device_(device),
      uuid16_(uuid16),
      charValueHandle_(charValueHandle) {
    init(kDescIface, "UUID",
         sdbus::Variant(platform::Guid::fromShortUuid(uuid16 != 0 ? uuid16 : 0x2901).toString()));
    init(kDescIface, "Characteristic", sdbus::Variant(sdbus::ObjectPath(charPath)));
    init(kDescIface, "Value", sdbus::Variant(std::vector<std::uint8_t>{}));
}

void DescNode::registerOn(sdbus::IObject& o) {
    using Options = std::map<std::string, sdbus::Variant>;
    o.registerMethod("ReadValue")
        .onInterface(kDescIface)
        .withInputParamNames("options")
        .withOutputParamNames("value")
        .implementedAs([this](const Options& options) {
            parseOptions(options);
            if (!device_.connected()) fail("org.bluez.Error.Failed", "Not connected");
            std::vector<std::uint8_t> value;
            if (uuid16_ == 0x2902) {
                const std::uint16_t cfg = device_.model().clientConfiguration(charValueHandle_);
                value = {static_cast<std::uint8_t>(cfg & 0xFF), static_cast<std::uint8_t>(cfg >> 8)};
            }
            set(kDescIface, "Value", sdbus::Variant(value));
            return value;
        });
    o.registerMethod("WriteValue")
        .onInterface(kDescIface)
        .withInputParamNames("value", "options")
        .implementedAs([this](const std::vector<std::uint8_t>&, const Options& options) {
            parseOptions(options);
            if (!device_.connected()) fail("org.bluez.Error.Failed", "Not connected");
            // Subscriptions go through StartNotify/AcquireNotify only.
            fail("org.bluez.Error.NotPermitted", "Write not permitted");
        });
    property<std::string>(o, kDescIface, "UUID");
    property<sdbus::ObjectPath>(o, kDescIface, "Characteristic");
    property<std::vector<std::uint8_t>>(o, kDescIface, "Value");
}

}  // namespace qb::emud
