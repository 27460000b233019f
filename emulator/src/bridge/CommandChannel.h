// The bridge's command characteristic: frames in, replies out, the two parameter blocks kept.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>

#include "qb7720/emulator/Bridge.h"
#include "qb7720/protocol/BridgeSide.h"

namespace qb::emulator::detail {

struct CommandEffect {
    enum class Kind { None, SetSerial, SetModem, ResetChannel };
    Kind kind = Kind::None;
    LineSettings line;
    ModemOutputs modem;
};

class CommandChannel {
  public:
    explicit CommandChannel(std::size_t readPieceSize);

    // One ATT write to the command characteristic, at this time.
    CommandEffect write(const Bytes& value, std::chrono::nanoseconds now);
    // One read of it.
    Bytes read();
    // A half-gathered frame does not survive the link.
    void linkDropped();

    ParameterBlock block(BlockArea area) const;
    void setBlock(BlockArea area, const ParameterBlock& block);

    std::vector<FrameRecord> frames() const { return {frames_.begin(), frames_.end()}; }
    std::uint64_t malformed() const { return malformed_; }

    void overrideReply(std::uint8_t code, std::optional<Bytes> reply);
    void setIgnore(std::uint8_t code, bool ignore);
    void clearFaults();

  private:
    void record(const Bytes& bytes, bool valid);
    void rejectPending();
    CommandEffect execute(const protocol::bridge::ParsedFrame& parsed, const Bytes& raw);
    void setReply(Bytes reply, bool streamed);

    std::size_t pieceSize_;
    ParameterBlock cfgPara_;
    ParameterBlock exdCfg_;
    protocol::bridge::FrameAssembler assembler_;
    Bytes pendingRaw_;
    std::chrono::nanoseconds lastPiece_{0};
    std::deque<FrameRecord> frames_;
    std::uint64_t malformed_ = 0;
    Bytes reply_;
    bool streamed_ = false;
    std::size_t streamOffset_ = 0;
    std::map<std::uint8_t, Bytes> overrides_;
    std::set<std::uint8_t> ignored_;
};

}  // namespace qb::emulator::detail
