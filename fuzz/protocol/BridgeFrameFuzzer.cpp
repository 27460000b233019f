#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "Check.h"
#include "qb7720/protocol/BridgeSide.h"
#include "qb7720/protocol/Frames.h"

using namespace qb::protocol;

namespace {

void checkParsed(const bridge::ParsedFrame& parsed, ByteView bytes) {
    if (!parsed.ok()) return;
    const std::size_t size = frameSize(parsed.frame.code);
    QB_FUZZ_CHECK(bytes.size() == size + parsed.trailingBytes);
    QB_FUZZ_CHECK(parsed.frame.payload.size() == payloadSize(parsed.frame.code));
    // A frame the bridge accepts with a good checksum is exactly what the host would have encoded.
    const Bytes encoded = encode(parsed.frame);
    QB_FUZZ_CHECK(encoded.size() == size);
    const bool same = std::equal(encoded.begin(), encoded.end(), bytes.begin());
    QB_FUZZ_CHECK(same == parsed.checksumValid);
}

}  // namespace

// The whole input is parsed as one write; then it is fed to the frame assembler in writes whose sizes come
// from the first byte, the way a host's 20-byte pieces arrive.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView whole(data, size);
    checkParsed(bridge::parseCommandFrame(whole), whole);
    if (size == 0) return 0;

    const std::size_t writeSize = static_cast<std::size_t>(data[0] % 32) + 1;
    const ByteView rest = whole.drop(1);
    bridge::FrameAssembler assembler;
    for (std::size_t offset = 0; offset < rest.size(); offset += writeSize) {
        const ByteView write = rest.drop(offset).first(writeSize);
        const auto result = assembler.feed(write);
        QB_FUZZ_CHECK(assembler.pendingBytes() < kWriteBlockFrameSize);
        if (result.progress == bridge::FrameAssembler::Progress::Frame && result.parsed.ok())
            QB_FUZZ_CHECK(result.parsed.frame.payload.size() == payloadSize(result.parsed.frame.code));
    }
    return 0;
}
