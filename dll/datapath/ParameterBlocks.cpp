// The parameter-block exports: one command exchange each on the command characteristic.
#include <cstring>

#include "QB7720DLL.h"
#include "datapath/CommandChannel.h"
#include "qb7720/protocol/BridgeFacts.h"
#include "qb7720/protocol/Protocol.h"

namespace qb::dll {
namespace {

using protocol::BlockArea;
using protocol::BlockReplyAssembler;

// The caller's block is written only once the whole reply is in and its checksum holds.
int32_t readBlock(QB7720DeviceHandle handle, BlockArea area, uint8_t* out) {
    if (out == nullptr) return 0;
    if (!writeCommand(handle, protocol::encodeReadBlock(area), true)) return 0;
    platformSleep(protocol::kReplyDelay);
    BlockReplyAssembler assembler;
    Reply piece;
    // Every piece is at least one byte, so this ends within one read per byte of the reply.
    while (assembler.progress() == BlockReplyAssembler::Progress::NeedMore) {
        if (!readReply(handle, piece)) return 0;
        assembler.feed(piece.view());
    }
    if (assembler.progress() != BlockReplyAssembler::Progress::Complete) return 0;
    const protocol::ParameterBlock block = assembler.block();
    std::memcpy(out, block.data(), block.size());
    return 1;
}

int32_t writeBlock(QB7720DeviceHandle handle, BlockArea area, const uint8_t* in) {
    if (in == nullptr) return 0;
    protocol::ParameterBlock block;
    std::memcpy(block.data(), in, block.size());
    const auto frame = protocol::encodeWriteBlock(area, block);
    for (const auto& piece : protocol::splitIntoPieces(frame, protocol::kWritePieceSize)) {
        if (!writeCommand(handle, piece, true)) return 0;
    }
    Reply reply;
    if (!awaitReply(handle, reply)) return 0;
    return protocol::writeBlockAcknowledged(reply.view(), area) ? 1 : 0;
}

int32_t resetBlock(QB7720DeviceHandle handle, BlockArea area) {
    if (!writeCommand(handle, protocol::encodeResetBlock(area), true)) return 0;
    Reply reply;
    if (!awaitReply(handle, reply)) return 0;
    return protocol::resetBlockAcknowledged(reply.view(), area) ? 1 : 0;
}

// Nothing thrown inside (a sleep, memory) reaches the caller: it is a failure like any other.
template <typename Exchange>
int32_t guarded(Exchange&& exchange) noexcept {
    try {
        return exchange();
    } catch (...) {
        return 0;
    }
}

}  // namespace
}  // namespace qb::dll

using namespace qb::dll;
using qb::protocol::BlockArea;

extern "C" QB7720_API int32_t QB7720_CALL QB7720GetCfgPara(QB7720DeviceHandle handle, uint8_t* block512) {
    return guarded([&] { return readBlock(handle, BlockArea::CfgPara, block512); });
}
extern "C" QB7720_API int32_t QB7720_CALL QB7720SetCfgPara(QB7720DeviceHandle handle,
                                                           const uint8_t* block512) {
    return guarded([&] { return writeBlock(handle, BlockArea::CfgPara, block512); });
}
extern "C" QB7720_API int32_t QB7720_CALL QB7720ResetCfgPara(QB7720DeviceHandle handle) {
    return guarded([&] { return resetBlock(handle, BlockArea::CfgPara); });
}
extern "C" QB7720_API int32_t QB7720_CALL QB7720GetExdCfg(QB7720DeviceHandle handle, uint8_t* block512) {
    return guarded([&] { return readBlock(handle, BlockArea::ExdCfg, block512); });
}
extern "C" QB7720_API int32_t QB7720_CALL QB7720SetExdCfg(QB7720DeviceHandle handle,
                                                          const uint8_t* block512) {
    return guarded([&] { return writeBlock(handle, BlockArea::ExdCfg, block512); });
}
extern "C" QB7720_API int32_t QB7720_CALL QB7720ResetExdCfg(QB7720DeviceHandle handle) {
    return guarded([&] { return resetBlock(handle, BlockArea::ExdCfg); });
}

extern "C" QB7720_API int32_t QB7720_CALL QB7720ResetCh(QB7720DeviceHandle handle) {
    // Reports 1 whatever the write gave: nothing answers a channel reset.
    guarded([&] { return writeCommand(handle, qb::protocol::encodeResetChannel(), false) ? 1 : 0; });
    return 1;
}
