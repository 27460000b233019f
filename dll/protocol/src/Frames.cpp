#include "qb7720/protocol/Frames.h"

#include <algorithm>

namespace qb::protocol {

std::uint8_t checksum(ByteView selectorAndPayload) {
    unsigned sum = 0;
    for (std::uint8_t b : selectorAndPayload) sum += b;
    return static_cast<std::uint8_t>(sum & 0xFF);
}

Bytes encode(const CommandFrame& frame) {
    const std::uint16_t word = lengthWord(frame.code);
    Bytes out;
    out.reserve(kFrameHeaderSize + frame.payload.size() + 1);
    out.push_back(static_cast<std::uint8_t>(frame.code));
    out.push_back(static_cast<std::uint8_t>(word & 0xFF));
    out.push_back(static_cast<std::uint8_t>(word >> 8));
    out.push_back(frame.selector);
    out.insert(out.end(), frame.payload.begin(), frame.payload.end());
    out.push_back(checksum(ByteView(out).drop(3)));
    return out;
}

Bytes encodeReadBlock(BlockArea area) {
    return encode({BridgeCommand::ReadBlock, static_cast<std::uint8_t>(area), {}});
}

Bytes encodeWriteBlock(BlockArea area, const ParameterBlock& block) {
    return encode(
        {BridgeCommand::WriteBlock, static_cast<std::uint8_t>(area), Bytes(block.begin(), block.end())});
}

Bytes encodeResetBlock(BlockArea area) {
    return encode({BridgeCommand::ResetBlock, static_cast<std::uint8_t>(area), {}});
}

Bytes encodeResetChannel() {
    return encode({BridgeCommand::ResetChannel, 0, {}});
}

Bytes encodeSetSerial(std::uint32_t baud, std::uint32_t dataBits, std::uint32_t stopBits,
                      std::uint32_t parity) {
    Bytes payload{
        static_cast<std::uint8_t>(baud & 0xFF),         static_cast<std::uint8_t>((baud >> 8) & 0xFF),
        static_cast<std::uint8_t>((baud >> 16) & 0xFF), static_cast<std::uint8_t>((baud >> 24) & 0xFF),
        static_cast<std::uint8_t>(dataBits & 0xFF),     static_cast<std::uint8_t>(stopBits & 0xFF),
        static_cast<std::uint8_t>(parity & 0xFF),
    };
    return encode({BridgeCommand::SetSerial, 0, std::move(payload)});
}

Bytes encodeSetModem(std::uint32_t flowControl, std::uint32_t dtr, std::uint32_t rts) {
    Bytes payload{static_cast<std::uint8_t>(flowControl & 0xFF), static_cast<std::uint8_t>(dtr & 0xFF),
                  static_cast<std::uint8_t>(rts & 0xFF)};
    return encode({BridgeCommand::SetModem, 0, std::move(payload)});
}

std::vector<Bytes> splitIntoPieces(ByteView bytes, std::size_t pieceSize) {
    std::vector<Bytes> pieces;
    if (pieceSize == 0) return pieces;
    for (std::size_t offset = 0; offset < bytes.size(); offset += pieceSize) {
        const std::size_t n = std::min(pieceSize, bytes.size() - offset);
        pieces.emplace_back(bytes.begin() + offset, bytes.begin() + offset + n);
    }
    return pieces;
}

}  // namespace qb::protocol
