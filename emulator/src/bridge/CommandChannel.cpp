#include "CommandChannel.h"

#include <algorithm>

namespace qb::emulator::detail {
namespace {

namespace pb = protocol::bridge;
using protocol::BridgeCommand;

// Enough history for any test; a long demo run must not grow without bound.
constexpr std::size_t kMaxFrameRecords = 4096;
constexpr std::chrono::nanoseconds kPieceGap = std::chrono::seconds(1);

}  // namespace

CommandChannel::CommandChannel(std::size_t readPieceSize)
    : pieceSize_(std::max<std::size_t>(1, readPieceSize)),
      cfgPara_(VirtualBridge::firmwareDefaults(BlockArea::CfgPara)),
      exdCfg_(VirtualBridge::firmwareDefaults(BlockArea::ExdCfg)) {}

void CommandChannel::record(const Bytes& bytes, bool valid) {
    if (frames_.size() == kMaxFrameRecords) frames_.pop_front();
    frames_.push_back(FrameRecord{bytes, valid});
    if (!valid) ++malformed_;
}

void CommandChannel::rejectPending() {
    if (assembler_.pendingBytes() == 0) return;
    record(pendingRaw_, false);
    assembler_.reset();
    pendingRaw_.clear();
}

void CommandChannel::linkDropped() {
    rejectPending();
}

CommandEffect CommandChannel::write(const Bytes& value, std::chrono::nanoseconds now) {
    // Pieces of one frame come back to back; a host that stopped half way has given up on it.
    if (assembler_.pendingBytes() > 0 && now - lastPiece_ > kPieceGap) rejectPending();
    lastPiece_ = now;
    const bool gathering = assembler_.pendingBytes() > 0;
    const auto result = assembler_.feed(value);
    if (result.progress == pb::FrameAssembler::Progress::NeedMore) {
        if (!gathering) pendingRaw_.clear();
        pendingRaw_.insert(pendingRaw_.end(), value.begin(), value.end());
        return {};
    }
    Bytes raw;
    if (gathering) {
        raw = std::move(pendingRaw_);
        pendingRaw_.clear();
        raw.insert(raw.end(), value.begin(), value.end());
    } else {
        raw = value;
    }
    const auto& parsed = result.parsed;
    const std::size_t frameSize = raw.size() - parsed.trailingBytes;
    // Hosts pad some frames with zeros; anything else after a frame makes it suspect.
    const bool padding = parsed.ok() && std::all_of(raw.begin() + static_cast<std::ptrdiff_t>(frameSize),
                                                    raw.end(), [](std::uint8_t b) { return b == 0; });
    const bool selectorOk =
        parsed.ok() && (protocol::isBlockCommand(parsed.frame.code) || parsed.frame.selector == 0);
    const bool valid = parsed.ok() && parsed.checksumValid && padding && selectorOk;
    record(raw, valid);
    if (!valid) return {};
    return execute(parsed, raw);
}

CommandEffect CommandChannel::execute(const pb::ParsedFrame& parsed, const Bytes&) {
    const auto code = static_cast<std::uint8_t>(parsed.frame.code);
    if (ignored_.count(code)) return {};
    const auto& payload = parsed.frame.payload;
    const auto area = protocol::areaFromSelector(parsed.frame.selector);
    CommandEffect effect;
    switch (parsed.frame.code) {
        case BridgeCommand::ReadBlock:
            setReply(pb::encodeReadBlockReply(*area, block(*area)), true);
            break;
        case BridgeCommand::WriteBlock: {
            ParameterBlock b{};
            std::copy_n(payload.begin(), std::min(payload.size(), b.size()), b.begin());
            setBlock(*area, b);
            setReply(pb::encodeWriteBlockReply(*area, true), false);
            break;
        }
        case BridgeCommand::ResetBlock:
            setBlock(*area, VirtualBridge::firmwareDefaults(*area));
            setReply(pb::encodeResetBlockReply(*area, true), false);
            break;
        case BridgeCommand::ResetChannel:
            effect.kind = CommandEffect::Kind::ResetChannel;
            break;
        case BridgeCommand::SetSerial:
            effect.kind = CommandEffect::Kind::SetSerial;
            effect.line.baud =
                static_cast<std::uint32_t>(payload[0] | (payload[1] << 8) | (payload[2] << 16) |
                                           (static_cast<std::uint32_t>(payload[3]) << 24));
            effect.line.dataBits = payload[4];
            effect.line.stopBits = payload[5];
            effect.line.parity = payload[6];
            setReply(pb::encodeAcknowledgement(BridgeCommand::SetSerial), false);
            break;
        case BridgeCommand::SetModem:
            effect.kind = CommandEffect::Kind::SetModem;
            effect.modem.flowControl = payload[0] != 0;
            effect.modem.dtr = payload[1] != 0;
            effect.modem.rts = payload[2] != 0;
            setReply(pb::encodeAcknowledgement(BridgeCommand::SetModem), false);
            break;
    }
    const auto override = overrides_.find(code);
    if (override != overrides_.end())
        setReply(override->second, parsed.frame.code == BridgeCommand::ReadBlock);
    return effect;
}

void CommandChannel::setReply(Bytes reply, bool streamed) {
    reply_ = std::move(reply);
    streamed_ = streamed;
    streamOffset_ = 0;
}

Bytes CommandChannel::read() {
    // A host reads only after the whole frame went out; one that reads mid-frame gave up on it.
    rejectPending();
    if (!streamed_) return reply_;
    if (streamOffset_ >= reply_.size()) return {};
    const std::size_t n = std::min(pieceSize_, reply_.size() - streamOffset_);
    Bytes piece(reply_.begin() + static_cast<std::ptrdiff_t>(streamOffset_),
                reply_.begin() + static_cast<std::ptrdiff_t>(streamOffset_ + n));
    streamOffset_ += n;
    return piece;
}

ParameterBlock CommandChannel::block(BlockArea area) const {
    return area == BlockArea::CfgPara ? cfgPara_ : exdCfg_;
}

void CommandChannel::setBlock(BlockArea area, const ParameterBlock& block) {
    (area == BlockArea::CfgPara ? cfgPara_ : exdCfg_) = block;
}

void CommandChannel::overrideReply(std::uint8_t code, std::optional<Bytes> reply) {
    if (reply) {
        overrides_[code] = std::move(*reply);
    } else {
        overrides_.erase(code);
    }
}

void CommandChannel::setIgnore(std::uint8_t code, bool ignore) {
    if (ignore) {
        ignored_.insert(code);
    } else {
        ignored_.erase(code);
    }
}

void CommandChannel::clearFaults() {
    overrides_.clear();
    ignored_.clear();
}

}  // namespace qb::emulator::detail
