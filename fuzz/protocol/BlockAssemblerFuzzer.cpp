#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Check.h"
#include "qb7720/protocol/BlockReplyAssembler.h"
#include "qb7720/protocol/Frames.h"

using namespace qb::protocol;
using Progress = BlockReplyAssembler::Progress;

// Input: a mode byte, then pieces, each a length byte (255 adds the next byte) and that many bytes.
// Mode bit 1 ends with a failed read.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool failAtEnd = data[0] & 0x02;
    std::size_t offset = 1;

    BlockReplyAssembler assembler;
    std::vector<std::uint8_t> stream;  // the pieces the assembler took, in order
    bool broken = false;               // an empty piece, or one past the end of a reply
    while (offset < size) {
        std::size_t length = data[offset++];
        if (length == 255 && offset < size) length += data[offset++];
        length = std::min(length, size - offset);

        const bool gathering = assembler.progress() == Progress::NeedMore;
        const std::size_t before = assembler.stored();
        const Progress progress = assembler.feed(ByteView(data + offset, length));
        QB_FUZZ_CHECK(progress == assembler.progress());
        if (gathering) {
            if (length == 0 || stream.size() + length > BlockReplyAssembler::kStreamSize) {
                broken = true;
            } else {
                stream.insert(stream.end(), data + offset, data + offset + length);
            }
        } else {
            QB_FUZZ_CHECK(assembler.stored() == before);  // finished gatherings take nothing more
        }
        offset += length;
    }
    if (failAtEnd) assembler.fail();

    const std::size_t expected = stream.size() > 4 ? std::min(stream.size() - 4, kBlockSize) : 0;
    QB_FUZZ_CHECK(assembler.stored() == expected);
    const ParameterBlock block = assembler.block();
    QB_FUZZ_CHECK(std::equal(
        stream.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(4, stream.size())),
        stream.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(4, stream.size()) + expected),
        block.begin()));
    QB_FUZZ_CHECK(std::all_of(block.begin() + static_cast<std::ptrdiff_t>(expected), block.end(),
                              [](std::uint8_t b) { return b == 0; }));

    const bool whole = stream.size() == BlockReplyAssembler::kStreamSize;
    const bool sumHolds = whole && checksum(ByteView(stream.data() + 3, 1 + kBlockSize)) == stream.back();
    if (whole) {
        QB_FUZZ_CHECK(assembler.progress() == (sumHolds ? Progress::Complete : Progress::Failed));
    } else if (broken || failAtEnd) {
        QB_FUZZ_CHECK(assembler.progress() == Progress::Failed);
    } else {
        QB_FUZZ_CHECK(assembler.progress() == Progress::NeedMore);
    }
    return 0;
}
