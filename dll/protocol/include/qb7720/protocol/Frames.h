#pragma once

#include <cstdint>
#include <vector>

#include "qb7720/protocol/Bytes.h"
#include "qb7720/protocol/Types.h"

namespace qb::protocol {

// Sum of the selector and payload bytes, modulo 256.
std::uint8_t checksum(ByteView selectorAndPayload);

// Any command as bytes: code, fixed length word, selector, payload, checksum.
Bytes encode(const CommandFrame& frame);

Bytes encodeReadBlock(BlockArea area);
Bytes encodeWriteBlock(BlockArea area, const ParameterBlock& block);
Bytes encodeResetBlock(BlockArea area);
Bytes encodeResetChannel();
// One-byte fields keep their low 8 bits; the baud rate goes in as given (see BaudRate.h for the listed
// rates).
Bytes encodeSetSerial(std::uint32_t baud, std::uint32_t dataBits, std::uint32_t stopBits,
                      std::uint32_t parity);
Bytes encodeSetModem(std::uint32_t flowControl, std::uint32_t dtr, std::uint32_t rts);

// Consecutive pieces of at most pieceSize bytes; an empty input gives no pieces.
std::vector<Bytes> splitIntoPieces(ByteView bytes, std::size_t pieceSize = kWritePieceSize);

}  // namespace qb::protocol
