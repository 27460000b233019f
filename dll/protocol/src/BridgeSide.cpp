#include "qb7720/protocol/BridgeSide.h"

#include "qb7720/protocol/Frames.h"

namespace qb::protocol::bridge {

namespace {

std::uint16_t readWord(ByteView bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

Bytes blockReply(BridgeCommand command, BlockArea area, bool accepted) {
    const auto code = static_cast<std::uint8_t>(command);
    if (!accepted) return {code, 0x02, 0x00, 0x00, 0x00};
    return {replyCode(command), 0x02, 0x00, 0x00, static_cast<std::uint8_t>(area)};
}

}  // namespace

std::string_view describe(FrameError error) {
    switch (error) {
        case FrameError::None:
            return "no error";
        case FrameError::Empty:
            return "empty write";
        case FrameError::UnknownCode:
            return "unknown command code";
        case FrameError::WrongLengthWord:
            return "length word does not match the command";
        case FrameError::Truncated:
            return "frame shorter than its command requires";
        case FrameError::UnknownArea:
            return "selector names no parameter block";
    }
    return "unknown error";
}

ParsedFrame parseCommandFrame(ByteView bytes) {
    ParsedFrame parsed;
    if (bytes.empty()) {
        parsed.error = FrameError::Empty;
        return parsed;
    }
    parsed.rawCode = bytes[0];
    const auto command = commandFromCode(bytes[0]);
    if (!command) {
        parsed.error = FrameError::UnknownCode;
        return parsed;
    }
    parsed.frame.code = *command;
    if (bytes.size() < 3) {
        parsed.error = FrameError::Truncated;
        return parsed;
    }
    parsed.lengthWord = readWord(bytes, 1);
    if (parsed.lengthWord != lengthWord(*command)) {
        parsed.error = FrameError::WrongLengthWord;
        return parsed;
    }
    const std::size_t size = frameSize(*command);
    if (bytes.size() < size) {
        parsed.error = FrameError::Truncated;
        return parsed;
    }
    parsed.frame.selector = bytes[3];
    if (isBlockCommand(*command) && !areaFromSelector(parsed.frame.selector)) {
        parsed.error = FrameError::UnknownArea;
        return parsed;
    }
    const ByteView payload = bytes.drop(kFrameHeaderSize).first(payloadSize(*command));
    parsed.frame.payload.assign(payload.begin(), payload.end());
    parsed.checksum = bytes[size - 1];
    parsed.checksumValid = checksum(bytes.drop(3).first(size - 4)) == parsed.checksum;
    parsed.trailingBytes = bytes.size() - size;
    return parsed;
}

FrameAssembler::Result FrameAssembler::feed(ByteView write) {
    if (pending_.empty()) {
        const bool startsWriteBlock =
            !write.empty() && write[0] == static_cast<std::uint8_t>(BridgeCommand::WriteBlock);
        // A wrong length word is refused at once rather than after 517 bytes of gathering.
        const bool plausible =
            write.size() < 3 || readWord(write, 1) == lengthWord(BridgeCommand::WriteBlock);
        if (startsWriteBlock && plausible && write.size() < kWriteBlockFrameSize) {
            pending_.assign(write.begin(), write.end());
            return {};
        }
        return {Progress::Frame, parseCommandFrame(write)};
    }
    pending_.insert(pending_.end(), write.begin(), write.end());
    if (pending_.size() < kWriteBlockFrameSize) return {};
    Result result{Progress::Frame, parseCommandFrame(pending_)};
    pending_.clear();
    return result;
}

Bytes encodeStatusReport(const BridgeStatus& status) {
    const std::uint8_t flags =
        static_cast<std::uint8_t>((status.pause ? 0x04 : 0) | (status.resume ? 0x01 : 0));
    return {kStatusReportCode, 0x00, 0x00, 0x00, flags, status.inputs.bits, 0x00};
}

Bytes encodeReadBlockReply(BlockArea area, const ParameterBlock& block) {
    const auto selector = static_cast<std::uint8_t>(area);
    Bytes out{replyCode(BridgeCommand::ReadBlock), 0x00, 0x02, selector};
    out.insert(out.end(), block.begin(), block.end());
    out.push_back(checksum(ByteView(out).drop(3)));
    return out;
}

Bytes encodeWriteBlockReply(BlockArea area, bool accepted) {
    return blockReply(BridgeCommand::WriteBlock, area, accepted);
}

Bytes encodeResetBlockReply(BlockArea area, bool accepted) {
    return blockReply(BridgeCommand::ResetBlock, area, accepted);
}

Bytes encodeAcknowledgement(BridgeCommand command) {
    return {replyCode(command), 0x02, 0x00, 0x00, 0x00};
}

}  // namespace qb::protocol::bridge
