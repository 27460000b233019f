#include <cstddef>
#include <cstdint>

#include "Check.h"
#include "qb7720/protocol/Replies.h"

using namespace qb::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView reply(data, size);
    const bool writeCfg = writeBlockAcknowledged(reply, BlockArea::CfgPara);
    const bool writeExd = writeBlockAcknowledged(reply, BlockArea::ExdCfg);
    const bool resetCfg = resetBlockAcknowledged(reply, BlockArea::CfgPara);
    const bool resetExd = resetBlockAcknowledged(reply, BlockArea::ExdCfg);

    // A reply names one area at most, and only a full 5-byte answer can acknowledge a write.
    QB_FUZZ_CHECK(!(writeCfg && writeExd));
    if (writeCfg || writeExd) QB_FUZZ_CHECK(size >= 5 && data[0] == 0x82);
    // The extended area's reset rule is the stricter one.
    if (resetExd) QB_FUZZ_CHECK(resetCfg && size >= 5 && data[0] == 0x83 && data[4] == 0x03);
    if (resetCfg) QB_FUZZ_CHECK(size >= 1 && (data[0] == 0x83 || (size >= 5 && data[4] == 0x01)));
    return 0;
}
