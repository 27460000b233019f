#pragma once

// The bridge's half of the protocol: what a bridge (or a model of one) needs to understand the host's
// command frames and to answer them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "qb7720/protocol/Bytes.h"
#include "qb7720/protocol/Types.h"

namespace qb::protocol::bridge {

enum class FrameError {
    None,
    Empty,
    UnknownCode,
    WrongLengthWord,
    Truncated,    // fewer bytes than the command's frame size
    UnknownArea,  // a block command whose selector is no BlockArea
};

std::string_view describe(FrameError error);

struct ParsedFrame {
    FrameError error = FrameError::None;
    std::uint8_t rawCode = 0;
    std::uint16_t lengthWord = 0;  // as received, when at least 3 bytes arrived
    CommandFrame frame;            // meaningful when error is None
    std::uint8_t checksum = 0;     // as received
    bool checksumValid = false;
    // Bytes after the frame; a host may pad a frame (the modem setter sends 4 zero bytes after it).
    std::size_t trailingBytes = 0;

    bool ok() const { return error == FrameError::None; }
};

// Parses one command frame from the start of bytes; a wrong checksum is reported, not rejected.
ParsedFrame parseCommandFrame(ByteView bytes);

// Gathers the writes arriving on the command characteristic into frames: a write-block frame arrives as
// 20-byte pieces, every other command as one write.
class FrameAssembler {
  public:
    enum class Progress { NeedMore, Frame };

    struct Result {
        Progress progress = Progress::NeedMore;
        ParsedFrame parsed;  // set when progress is Frame (which may still carry an error)
    };

    Result feed(ByteView write);
    // Drops a half-gathered write-block, e.g. when the link drops.
    void reset() { pending_.clear(); }
    std::size_t pendingBytes() const { return pending_.size(); }

  private:
    Bytes pending_;
};

struct BridgeStatus {
    bool pause = false;   // ask the host to stop transmitting
    bool resume = false;  // tell the host it may go on
    ModemInputs inputs;
};

// The 7-byte status report the bridge notifies: 88 00 00 00 flags modem 00.
Bytes encodeStatusReport(const BridgeStatus& status);

// The read-block reply as one stream: 4-byte header, the block, and the block's checksum.
Bytes encodeReadBlockReply(BlockArea area, const ParameterBlock& block);

// The 5-byte replies to write-block (0x82) and reset-block (0x83). A refusal keeps the top bit clear and
// byte 4 zero, so that neither area's acceptance rule can take it for success.
Bytes encodeWriteBlockReply(BlockArea area, bool accepted);
Bytes encodeResetBlockReply(BlockArea area, bool accepted);
// A plain acknowledgement for the commands whose reply is read but not judged (set-serial, set-modem).
Bytes encodeAcknowledgement(BridgeCommand command);

}  // namespace qb::protocol::bridge
