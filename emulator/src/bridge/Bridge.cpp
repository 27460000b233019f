#include <algorithm>

#include "CommandChannel.h"
#include "SerialLine.h"
#include "qb7720/emulator/Bridge.h"
#include "qb7720/emulator/Clock.h"
#include "qb7720/protocol/BridgeSide.h"

namespace qb::emulator {
namespace {

using namespace platform::gatt_property;
constexpr std::uint16_t kUserDescription = 0x2901;
constexpr std::size_t kMaxStatusRecords = 4096;

DeviceConfig deviceConfigOf(const BridgeConfig& config) {
    DeviceConfig device;
    device.name = config.name;
    device.address = config.address;
    device.rssi = config.rssi;
    device.advertisingInterval = config.advertisingInterval;
    device.mtu = config.mtu;
    device.standardServices = true;
    // Bytes 0 and 1 carry the firmware revision; hosts look only at the letters and the tag.
    device.manufacturerData = {{protocol::kBridgeCompanyId, protocol::encodeBridgeManufacturerData(config.tag)}};
    ServiceSpec vendor;
    vendor.uuid = Guid::fromShortUuid(protocol::kBridgeServiceUuid);
    vendor.characteristics = {
        {Guid::fromShortUuid(VirtualBridge::kReceiveUuid), kNotify, {}, {kUserDescription}},
        {Guid::fromShortUuid(VirtualBridge::kTransmitUuid),
         kWrite | kWriteWithoutResponse,
         {},
         {kUserDescription}},
        {Guid::fromShortUuid(VirtualBridge::kCommandUuid),
         kRead | kWrite | kWriteWithoutResponse | kNotify,
         {},
         {kUserDescription}},
    };
    device.services = {vendor};
    return device;
}

}  // namespace

struct VirtualBridge::Impl {
    explicit Impl(const BridgeConfig& config)
        : commands(config.readPieceSize), line(config), link(config.link) {}

    detail::CommandChannel commands;
    detail::SerialLine line;
    LinkModel link;
    std::vector<Bytes> statusReports;
    std::uint64_t receiveDropped = 0;
    std::chrono::nanoseconds notifyBusyUntil{0};
    std::uint16_t receiveHandle = 0;
    std::uint16_t transmitHandle = 0;
    std::uint16_t commandHandle = 0;
    std::function<void()> wake;
};

std::shared_ptr<VirtualBridge> VirtualBridge::create(BridgeConfig config, std::shared_ptr<Clock> clock) {
    return std::shared_ptr<VirtualBridge>(new VirtualBridge(std::move(config), std::move(clock)));
}

VirtualBridge::VirtualBridge(BridgeConfig config, std::shared_ptr<Clock> clock)
    : VirtualDevice(deviceConfigOf(config), std::move(clock)),
      bridgeConfig_(std::move(config)),
      impl_(std::make_unique<Impl>(bridgeConfig_)) {
    impl_->receiveHandle = findCharacteristic(kReceiveUuid)->valueHandle;
    impl_->transmitHandle = findCharacteristic(kTransmitUuid)->valueHandle;
    impl_->commandHandle = findCharacteristic(kCommandUuid)->valueHandle;
}

VirtualBridge::~VirtualBridge() = default;

ParameterBlock VirtualBridge::firmwareDefaults(BlockArea area) {
    ParameterBlock block{};
    const unsigned seed = static_cast<unsigned>(area) * 17u;
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>((i * 31u + seed) & 0xFFu);
    }
    return block;
}

ParameterBlock VirtualBridge::block(BlockArea area) const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->commands.block(area);
}

void VirtualBridge::setBlock(BlockArea area, const ParameterBlock& block) {
    std::lock_guard<std::mutex> lock(mutex());
    impl_->commands.setBlock(area, block);
}

LineSettings VirtualBridge::lineSettings() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->line.line();
}

ModemOutputs VirtualBridge::modemOutputs() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->line.modem();
}

std::vector<FrameRecord> VirtualBridge::frames() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->commands.frames();
}

std::uint64_t VirtualBridge::malformedFrames() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->commands.malformed();
}

std::size_t VirtualBridge::transmitFill() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->line.fill();
}

std::uint64_t VirtualBridge::droppedBytes() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->line.dropped();
}

std::uint64_t VirtualBridge::receiveDropped() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->receiveDropped + impl_->line.receiveOverflow();
}

bool VirtualBridge::pausing() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->line.pausing();
}

Bytes VirtualBridge::farSideReceived() const {
    std::lock_guard<std::mutex> lock(mutex());
    const auto& far = impl_->line.farSide();
    return Bytes(far.begin(), far.end());
}

void VirtualBridge::clearFarSideReceived() {
    std::lock_guard<std::mutex> lock(mutex());
    impl_->line.clearFarSide();
}

std::vector<Bytes> VirtualBridge::statusReports() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->statusReports;
}

void VirtualBridge::injectSerial(const Bytes& bytes) {
    std::lock_guard<std::mutex> lock(mutex());
    impl_->line.injectSerial(bytes);
    flushLocked(clock()->now());
    if (impl_->wake) impl_->wake();
}

ModemInputs VirtualBridge::modemInputs() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->line.inputs();
}

void VirtualBridge::setModemInputs(const ModemInputs& inputs) {
    std::lock_guard<std::mutex> lock(mutex());
    const auto now = clock()->now();
    impl_->line.setModemInputs(now, inputs);
    flushLocked(now);
    if (impl_->wake) impl_->wake();
}

void VirtualBridge::sendStatusReport(std::uint8_t pauseFlags) {
    std::uint8_t modem;
    {
        std::lock_guard<std::mutex> lock(mutex());
        modem = impl_->line.inputs().statusByte();
    }
    sendStatusReport(pauseFlags, modem);
}

void VirtualBridge::sendStatusReport(std::uint8_t pauseFlags, std::uint8_t modemStatus) {
    std::lock_guard<std::mutex> lock(mutex());
    protocol::bridge::BridgeStatus status;
    status.pause = (pauseFlags & 0x04) != 0;
    status.resume = (pauseFlags & 0x01) != 0;
    status.inputs = protocol::ModemInputs::fromStatusByte(modemStatus);
    const Bytes report = protocol::bridge::encodeStatusReport(status);
    if (impl_->statusReports.size() < kMaxStatusRecords) impl_->statusReports.push_back(report);
    notifyLocked(impl_->commandHandle, report);
}

void VirtualBridge::sendCommandNotification(const Bytes& value) {
    std::lock_guard<std::mutex> lock(mutex());
    notifyLocked(impl_->commandHandle, value);
}

void VirtualBridge::overrideReply(std::uint8_t commandCode, std::optional<Bytes> reply) {
    std::lock_guard<std::mutex> lock(mutex());
    impl_->commands.overrideReply(commandCode, std::move(reply));
}

void VirtualBridge::setIgnoreCommand(std::uint8_t commandCode, bool ignore) {
    std::lock_guard<std::mutex> lock(mutex());
    impl_->commands.setIgnore(commandCode, ignore);
}

void VirtualBridge::clearCommandFaults() {
    std::lock_guard<std::mutex> lock(mutex());
    impl_->commands.clearFaults();
}

LinkModel VirtualBridge::linkModel() const {
    std::lock_guard<std::mutex> lock(mutex());
    return impl_->link;
}

void VirtualBridge::setLinkModel(const LinkModel& link) {
    std::lock_guard<std::mutex> lock(mutex());
    impl_->link = link;
    impl_->notifyBusyUntil = std::chrono::nanoseconds{0};
    if (impl_->wake) impl_->wake();
}

void VirtualBridge::setWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(mutex());
    impl_->wake = std::move(wake);
}

void VirtualBridge::runUntil(std::chrono::nanoseconds now) {
    std::lock_guard<std::mutex> lock(mutex());
    deliverDueWritesLocked(now);
    impl_->line.advance(now);
    flushLocked(now);
}

std::optional<std::chrono::nanoseconds> VirtualBridge::nextDeadline() const {
    std::lock_guard<std::mutex> lock(mutex());
    auto next = impl_->line.deadline();
    if (auto arrival = nextWriteDeliveryLocked()) next = next ? std::min(*next, *arrival) : *arrival;
    auto& received = impl_->line.received();
    if (!received.empty()) {
        // Only the link model holds received bytes back.
        const auto at = impl_->notifyBusyUntil;
        next = next ? std::min(*next, at) : at;
    }
    return next;
}

void VirtualBridge::flushLocked(std::chrono::nanoseconds now) {
    for (const auto& report : impl_->line.takeReports()) {
        protocol::bridge::BridgeStatus status;
        status.pause = (report.pauseFlags & 0x04) != 0;
        status.resume = (report.pauseFlags & 0x01) != 0;
        status.inputs = protocol::ModemInputs::fromStatusByte(report.inputs.statusByte());
        const Bytes bytes = protocol::bridge::encodeStatusReport(status);
        if (impl_->statusReports.size() < kMaxStatusRecords) impl_->statusReports.push_back(bytes);
        notifyLocked(impl_->commandHandle, bytes);
    }
    auto& received = impl_->line.received();
    if (!received.empty() && (!connectedLocked() || clientConfigurationLocked(impl_->receiveHandle) == 0)) {
        // Nobody listens: the far side's bytes are lost, as on the device.
        impl_->receiveDropped += received.size();
        received.clear();
    }
    const std::size_t piece = static_cast<std::size_t>(mtuLocked()) - 3;
    while (!received.empty()) {
        if (impl_->link.enabled && impl_->notifyBusyUntil > now) break;
        const std::size_t n = std::min(piece, received.size());
        Bytes chunk(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(n));
        received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(n));
        if (impl_->link.enabled)
            impl_->notifyBusyUntil = std::max(now, impl_->notifyBusyUntil) + impl_->link.pduTime(n);
        notifyLocked(impl_->receiveHandle, chunk);
    }
}

AttReadResult VirtualBridge::onReadLocked(const CharacteristicEntry& entry) {
    if (entry.valueHandle == impl_->commandHandle) return {AttStatus::Success, impl_->commands.read()};
    return VirtualDevice::onReadLocked(entry);
}

AttStatus VirtualBridge::onWriteLocked(const CharacteristicEntry& entry, const Bytes& value,
                                       bool withResponse) {
    const auto now = clock()->now();
    if (entry.valueHandle == impl_->transmitHandle) {
        impl_->line.write(now, value);
        flushLocked(now);
        if (impl_->wake) impl_->wake();
        return AttStatus::Success;
    }
    if (entry.valueHandle == impl_->commandHandle) {
        const auto effect = impl_->commands.write(value, now);
        switch (effect.kind) {
            case detail::CommandEffect::Kind::SetSerial:
                impl_->line.setLine(now, effect.line);
                break;
            case detail::CommandEffect::Kind::SetModem:
                impl_->line.setModem(now, effect.modem);
                break;
            case detail::CommandEffect::Kind::ResetChannel:
                impl_->line.resetChannel(now);
                break;
            case detail::CommandEffect::Kind::None:
                break;
        }
        flushLocked(now);
        if (impl_->wake) impl_->wake();
        return AttStatus::Success;
    }
    return VirtualDevice::onWriteLocked(entry, value, withResponse);
}

void VirtualBridge::onConnectionChangeLocked(bool connected) {
    const auto now = clock()->now();
    impl_->line.setConnected(now, connected);
    if (!connected) {
        impl_->commands.linkDropped();
        impl_->notifyBusyUntil = std::chrono::nanoseconds{0};
    }
    if (impl_->wake) impl_->wake();
}

VirtualDevice::LinkTiming VirtualBridge::linkTimingLocked(std::size_t bytes) const {
    if (!impl_->link.enabled) return {};
    LinkTiming timing;
    timing.air = impl_->link.pduTime(bytes);
    // The answer comes back one connection event later.
    timing.response = impl_->link.connectionInterval;
    timing.aclBuffers = impl_->link.aclBuffers;
    return timing;
}

void VirtualBridge::onLinkQueuedLocked() {
    if (impl_->wake) impl_->wake();
}

}  // namespace qb::emulator
