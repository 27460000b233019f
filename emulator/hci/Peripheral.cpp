#include "Peripheral.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "AdvertisingData.h"

namespace qb::hci {
namespace {

// Everything the kernel's default leaves on, plus LE meta events (bit 61).
constexpr std::uint64_t kEventMask = 0x20001FFFFFFFFFFFull;
// Connection complete, advertising report, connection update, remote features, long-term key.
constexpr std::uint64_t kLeEventMask = 0x1F;
constexpr std::uint8_t kRolePeripheral = 0x01;
constexpr std::uint8_t kAdvertisingConnectableUndirected = 0x00;
constexpr std::uint8_t kAllChannels = 0x07;
constexpr std::uint8_t kReasonPowerOff = 0x15;
// ATT's largest PDU plus the L2CAP header, with room to spare for an over-long one to be refused.
constexpr std::size_t kMaxFrame = 1024;

Bytes mask(std::uint64_t value) {
    Bytes bytes(8);
    for (std::size_t i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

}  // namespace

struct Peripheral::ModelListener : emulator::DeviceListener {
    ModelListener(Peripheral* target, Post poster)
        : owner(target), post(std::move(poster)), alive(std::make_shared<bool>(true)) {}

    void onNotification(std::uint16_t valueHandle, const Bytes& value) override {
        post([target = owner, alive = alive, valueHandle, value] {
            if (*alive) target->notifyFromModel(valueHandle, value);
        });
    }
    void onConnectionChanged(bool) override {}
    void onNameChanged(const std::string&) override {
        post([target = owner, alive = alive] {
            if (*alive) target->advertiseName();
        });
    }
    void onRemoved() override {}

    Peripheral* owner;
    Post post;
    // Jobs run on the peripheral's thread, as does its destructor, which clears this.
    std::shared_ptr<bool> alive;
};

const char* stateName(Peripheral::State state) {
    switch (state) {
        case Peripheral::State::Idle:
            return "idle";
        case Peripheral::State::SettingUp:
            return "setting up";
        case Peripheral::State::Ready:
            return "ready";
        case Peripheral::State::Connected:
            return "connected";
        case Peripheral::State::Stopped:
            return "stopped";
        case Peripheral::State::Failed:
            return "failed";
    }
    return "?";
}

Peripheral::Peripheral(HciTransport& transport, std::shared_ptr<emulator::VirtualBridge> bridge, Post post, Log log)
    : transport_(transport),
      bridge_(std::move(bridge)),
      log_(std::move(log)),
      att_(bridge_, bridge_->bridgeConfig().mtu, [this](Bytes pdu) { sendFrame(cid::kAtt, pdu); }),
      reassembler_(kMaxFrame) {
    listener_ = std::make_shared<ModelListener>(this, std::move(post));
    listenerToken_ = bridge_->addListener(listener_);
}

Peripheral::~Peripheral() {
    *listener_->alive = false;
    bridge_->removeListener(listenerToken_);
    if (bridge_->connected()) bridge_->disconnect();
}

void Peripheral::logf(const char* format, ...) {
    if (!log_) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    log_(line);
}

void Peripheral::fail(const std::string& why) {
    logf("failed: %s", why.c_str());
    state_ = State::Failed;
    commands_.clear();
}

void Peripheral::start() {
    if (state_ != State::Idle) return;
    state_ = State::SettingUp;
    setUp();
}

void Peripheral::setUp() {
    command(opcode::kReset, {}, [this](std::uint8_t status, ByteView) {
        if (status != 0) fail("controller reset answered status " + std::to_string(status));
    });
    command(opcode::kSetEventMask, mask(kEventMask));
    command(opcode::kLeSetEventMask, mask(kLeEventMask));
    command(opcode::kReadBdAddr, {}, [this](std::uint8_t status, ByteView returned) {
        if (status != 0 || returned.size() < 6) return;
        platform::BluetoothAddress::ByteArray bytes{};
        for (std::size_t i = 0; i < 6; ++i) bytes[i] = returned[i];
        address_ = platform::BluetoothAddress::fromBytesLsbFirst(bytes);
    });
    command(opcode::kReadLocalVersion, {}, [this](std::uint8_t status, ByteView returned) {
        // HCI version, revision, LMP version, then the manufacturer.
        Reader r(returned);
        r.take(4);
        const std::uint16_t manufacturer = r.u16();
        if (status != 0 || !r.ok()) return;
        repeatAdvertising_ = manufacturer == kVirtualControllerManufacturer;
        repeatPeriod_ = std::max(kMinRepeat, bridge_->bridgeConfig().advertisingInterval);
    });
    command(opcode::kLeReadBufferSize, {}, [this](std::uint8_t status, ByteView returned) {
        Reader r(returned);
        const std::uint16_t length = r.u16();
        const std::uint8_t count = r.u8();
        if (status != 0 || !r.ok()) return fail("LE Read Buffer Size failed");
        if (length != 0 && count != 0) {
            aclMtu_ = length;
            aclTotal_ = aclFree_ = count;
            return setUpAdvertising();
        }
        // The controller shares its BR/EDR buffers with LE.
        command(opcode::kReadBufferSize, {}, [this](std::uint8_t st, ByteView ret) {
            Reader rr(ret);
            const std::uint16_t aclLength = rr.u16();
            rr.u8();
            const std::uint16_t aclCount = rr.u16();
            if (st != 0 || !rr.ok() || aclLength == 0 || aclCount == 0) return fail("Read Buffer Size failed");
            aclMtu_ = aclLength;
            aclTotal_ = aclFree_ = aclCount;
            setUpAdvertising();
        });
    });
}

void Peripheral::setUpAdvertising() {
    if (state_ == State::Failed) return;
    const auto& config = bridge_->bridgeConfig();
    const std::uint16_t interval =
        advertisingIntervalUnits(static_cast<unsigned>(config.advertisingInterval.count()));
    Writer params;
    params.u16(interval).u16(interval).u8(kAdvertisingConnectableUndirected);
    params.u8(0).u8(0).bytes(Bytes(6, 0)).u8(kAllChannels).u8(0);
    command(opcode::kLeSetAdvertisingParameters, params.take());
    const std::string name = bridge_->name();
    command(opcode::kLeSetAdvertisingData, advertisingCommandParameters(bridgeAdvertisingData(name, config.tag)));
    command(opcode::kLeSetScanResponseData, advertisingCommandParameters(bridgeScanResponseData(name)),
            [this](std::uint8_t, ByteView) {
                if (state_ == State::Failed) return;
                state_ = State::Ready;
                logf("controller %s: %zu ACL buffers of %zu bytes%s", address_.toUpperString().c_str(), aclTotal_,
                     aclMtu_, repeatAdvertising_ ? "; virtual, advertisements repeated" : "");
                if (stopping_) return finishStop();
                if (!outOfRange_) setAdvertising(true);
            });
}

void Peripheral::advertiseName() {
    // Before the set-up reaches the advertising data, it reads the name itself.
    if (state_ != State::Ready && state_ != State::Connected) return;
    const std::string name = bridge_->name();
    command(opcode::kLeSetAdvertisingData,
            advertisingCommandParameters(bridgeAdvertisingData(name, bridge_->bridgeConfig().tag)));
    command(opcode::kLeSetScanResponseData, advertisingCommandParameters(bridgeScanResponseData(name)));
}

void Peripheral::setAdvertising(bool on) {
    Bytes enable{static_cast<std::uint8_t>(on ? 1 : 0)};
    command(opcode::kLeSetAdvertiseEnable, enable, [this, on](std::uint8_t status, ByteView) {
        if (status == 0) {
            advertising_ = on;
            if (on) nextRepeat_ = Clock::now() + repeatPeriod_;
            logf("advertising %s", on ? "on" : "off");
        } else {
            logf("advertising %s refused (status 0x%02x)", on ? "on" : "off", status);
        }
        if (stopping_ && !on && state_ != State::Connected) state_ = State::Stopped;
    });
}

void Peripheral::repeatAdvertising() {
    const Bytes off{0};
    const Bytes on{1};
    command(opcode::kLeSetAdvertiseEnable, off, [this](std::uint8_t status, ByteView) {
        if (status == 0) advertising_ = false;
    });
    command(opcode::kLeSetAdvertiseEnable, on, [this](std::uint8_t status, ByteView) {
        if (status != 0) return logf("advertising again refused (status 0x%02x)", status);
        advertising_ = true;
        // A central connected in between: advertising must not go on beside the link.
        if (state_ != State::Ready || stopping_ || outOfRange_) setAdvertising(false);
    });
}

std::optional<Peripheral::Clock::time_point> Peripheral::nextTick() const {
    // Nothing is due while a command is on its way: its answer wakes the runner anyway.
    if (!repeatAdvertising_ || state_ != State::Ready || !advertising_ || stopping_ || outOfRange_ ||
        commandOutstanding_ || !commands_.empty()) {
        return std::nullopt;
    }
    return nextRepeat_;
}

void Peripheral::tick(Clock::time_point now) {
    if (!repeatAdvertising_ || state_ != State::Ready || !advertising_ || stopping_ || outOfRange_) return;
    if (now < nextRepeat_ || commandOutstanding_ || !commands_.empty()) return;
    nextRepeat_ = now + repeatPeriod_;
    repeatAdvertising();
}

void Peripheral::command(std::uint16_t opcode, Bytes parameters, std::function<void(std::uint8_t, ByteView)> done) {
    if (state_ == State::Failed) return;
    commands_.push_back(Command{opcode, std::move(parameters), std::move(done)});
    pumpCommands();
}

void Peripheral::pumpCommands() {
    if (commandOutstanding_ || commandCredits_ == 0 || commands_.empty() || state_ == State::Failed) return;
    outstanding_ = std::move(commands_.front());
    commands_.pop_front();
    const auto packet = encodeCommand(outstanding_.opcode, outstanding_.parameters);
    if (!packet) return fail("command parameters too long");
    commandOutstanding_ = true;
    transport_.send(*packet);
}

void Peripheral::onCommandDone(std::uint16_t opcode, std::uint8_t credits, std::uint8_t status, ByteView returned) {
    commandCredits_ = credits;
    if (commandOutstanding_ && opcode == outstanding_.opcode) {
        commandOutstanding_ = false;
        Command done = std::move(outstanding_);
        if (done.done) {
            done.done(status, returned);
        } else if (status != 0) {
            logf("command 0x%04x answered status 0x%02x", opcode, status);
        }
    }
    pumpCommands();
}

void Peripheral::receive(ByteView h4) {
    if (finished()) return;
    const Inbound packet = decodePacket(h4);
    if (const auto* event = std::get_if<Event>(&packet)) return onEvent(*event);
    if (const auto* acl = std::get_if<AclData>(&packet)) return onAcl(*acl);
    if (const auto* error = std::get_if<PacketError>(&packet)) logf("dropped a packet: %s", describe(*error).c_str());
}

void Peripheral::onEvent(const Event& event) {
    if (const auto* c = std::get_if<CommandComplete>(&event)) {
        const ByteView returned = c->returned.empty() ? ByteView{} : ByteView(c->returned).drop(1);
        return onCommandDone(c->opcode, c->credits, c->status(), returned);
    }
    if (const auto* s = std::get_if<CommandStatus>(&event)) return onCommandDone(s->opcode, s->credits, s->status, {});
    if (const auto* c = std::get_if<LeConnectionComplete>(&event)) return onConnected(*c);
    if (const auto* d = std::get_if<DisconnectionComplete>(&event)) return onDisconnected(*d);
    if (const auto* p = std::get_if<CompletedPackets>(&event)) {
        for (const auto& [handle, count] : p->counts) {
            if (handle == handle_) aclFree_ = std::min(aclTotal_, aclFree_ + count);
        }
        return pumpAcl();
    }
    if (const auto* h = std::get_if<HardwareError>(&event)) {
        return fail("controller hardware error 0x" + std::to_string(h->code));
    }
}

void Peripheral::onConnected(const LeConnectionComplete& c) {
    advertising_ = false;
    if (c.status != 0) {
        logf("connection attempt failed (status 0x%02x)", c.status);
        if (state_ == State::Ready && !stopping_ && !outOfRange_) setAdvertising(true);
        return;
    }
    if (state_ != State::Ready || c.role != kRolePeripheral || stopping_ || outOfRange_) {
        // One link at a time, and none while going away.
        Writer w;
        w.u16(c.handle).u8(hci_error::kRemoteUserTerminated);
        command(opcode::kDisconnect, w.take());
        return;
    }
    if (repeatAdvertising_ && c.handle != kVirtualControllerHandle) {
        // btvirt tells a peripheral the central's number for the link, which is not its own once the
        // central holds another link: nothing sent on it would arrive. Refused at once, saying why,
        // rather than left for the central to time out.
        logf("refusing link 0x%03x: this virtual controller numbers it 0x%03x, as the central holds another link",
             c.handle, kVirtualControllerHandle);
        Writer w;
        w.u16(kVirtualControllerHandle).u8(hci_error::kRemoteUserTerminated);
        command(opcode::kDisconnect, w.take());
        setAdvertising(true);
        return;
    }
    state_ = State::Connected;
    handle_ = c.handle;
    aclFree_ = aclTotal_;
    reassembler_.reset();
    att_.linkUp();
    bridge_->connect();
    logf("connected to %s (handle 0x%03x, interval %.2f ms)", c.peer.toUpperString().c_str(), c.handle,
         c.interval * 1.25);
}

void Peripheral::onDisconnected(const DisconnectionComplete& d) {
    if (d.status != 0 || d.handle != handle_) return;
    logf("disconnected (reason 0x%02x)", d.reason);
    // Where a lost byte went, if any was lost: past the serial line's buffers, or never notified.
    if (bridge_->droppedBytes() != 0 || bridge_->receiveDropped() != 0 || droppedNotifications_ != 0)
        logf("lost so far: %llu written bytes past the transmit buffer, %llu received bytes, %llu notifications",
             static_cast<unsigned long long>(bridge_->droppedBytes()),
             static_cast<unsigned long long>(bridge_->receiveDropped()),
             static_cast<unsigned long long>(droppedNotifications_));
    handle_ = kNoHandle;
    aclQueue_.clear();
    queuedBytes_ = 0;
    aclFree_ = aclTotal_;
    reassembler_.reset();
    att_.linkDown();
    bridge_->disconnect();
    state_ = State::Ready;
    if (stopping_) return finishStop();
    if (!outOfRange_) setAdvertising(true);
}

void Peripheral::onAcl(const AclData& acl) {
    if (state_ != State::Connected || acl.handle != handle_) return;
    if (auto frame = reassembler_.feed(acl.boundary, acl.data)) onFrame(*frame);
}

void Peripheral::onFrame(const L2capFrame& frame) {
    switch (frame.cid) {
        case cid::kAtt:
            return att_.receive(frame.payload);
        case cid::kLeSignalling:
            if (auto answer = answerSignalling(frame.payload)) sendFrame(cid::kLeSignalling, *answer);
            return;
        case cid::kSecurityManager:
            if (auto answer = answerSecurity(frame.payload)) sendFrame(cid::kSecurityManager, *answer);
            return;
        default:
            return;
    }
}

void Peripheral::sendFrame(std::uint16_t channel, const Bytes& payload) {
    if (state_ != State::Connected) return;
    for (auto& packet : fragmentFrame(handle_, channel, payload, aclMtu_)) {
        queuedBytes_ += packet.size();
        aclQueue_.push_back(std::move(packet));
    }
    pumpAcl();
}

void Peripheral::pumpAcl() {
    while (aclFree_ > 0 && !aclQueue_.empty()) {
        --aclFree_;
        queuedBytes_ -= aclQueue_.front().size();
        transport_.send(aclQueue_.front());
        aclQueue_.pop_front();
    }
}

void Peripheral::notifyFromModel(std::uint16_t valueHandle, const Bytes& value) {
    if (state_ != State::Connected) return;
    if (queuedBytes_ > kMaxQueuedBytes) {
        if (droppedNotifications_++ == 0) logf("the host does not keep up; dropping notifications");
        return;
    }
    att_.notifyFromModel(valueHandle, value);
}

void Peripheral::dropLink() {
    if (state_ != State::Connected) {
        logf("no link to drop");
        return;
    }
    logf("dropping the link");
    Writer w;
    w.u16(handle_).u8(hci_error::kRemoteUserTerminated);
    command(opcode::kDisconnect, w.take());
}

void Peripheral::setOutOfRange(bool outOfRange) {
    if (outOfRange == outOfRange_) return;
    outOfRange_ = outOfRange;
    logf("%s", outOfRange ? "out of range" : "back in range");
    bridge_->setInRange(!outOfRange);
    if (outOfRange) {
        if (state_ == State::Connected) {
            Writer w;
            w.u16(handle_).u8(hci_error::kRemoteUserTerminated);
            command(opcode::kDisconnect, w.take());
        } else if (state_ == State::Ready) {
            setAdvertising(false);
        }
    } else if (state_ == State::Ready && !stopping_) {
        setAdvertising(true);
    }
}

void Peripheral::stop() {
    if (stopping_ || finished()) return;
    stopping_ = true;
    logf("stopping");
    if (state_ == State::Connected) {
        Writer w;
        w.u16(handle_).u8(kReasonPowerOff);
        command(opcode::kDisconnect, w.take());
        return;
    }
    if (state_ == State::Ready) return finishStop();
    if (state_ == State::Idle) state_ = State::Stopped;
    // While setting up, the end of the set-up finishes the stop.
}

void Peripheral::finishStop() {
    // Nothing queued matters any more except turning advertising off, if it is on (a controller
    // may refuse to switch off what is off).
    commands_.clear();
    if (!advertising_) {
        state_ = State::Stopped;
        return;
    }
    setAdvertising(false);
}

}  // namespace qb::hci
