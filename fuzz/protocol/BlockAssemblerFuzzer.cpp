#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Check.h"
#include "qb7720/protocol/BlockReplyAssembler.h"

using namespace qb::protocol;
using Progress = BlockReplyAssembler::Progress;

// Input: a mode byte, then pieces, each a length byte (255 adds the next byte) and that many bytes.
// Mode bit 0 cuts every piece to the read capacity, bit 1 ends with a failed read.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool honourCapacity = data[0] & 0x01;
    const bool failAtEnd = data[0] & 0x02;
    std::size_t offset = 1;

    BlockReplyAssembler assembler;
    std::vector<std::uint8_t> stream;  // what the reads delivered, in order
    bool sawEmpty = false;
    while (offset < size) {
        std::size_t length = data[offset++];
        if (length == 255 && offset < size) length += data[offset++];
        length = std::min(length, size - offset);
        if (honourCapacity) length = std::min(length, assembler.nextReadCapacity());

        const bool gathering = assembler.progress() == Progress::NeedMore;
        const std::size_t before = assembler.stored();
        const Progress progress = assembler.feed(ByteView(data + offset, length));
        QB_FUZZ_CHECK(progress == assembler.progress());
        QB_FUZZ_CHECK(assembler.nextReadCapacity() <= kBlockSize);
        if (gathering) {
            stream.insert(stream.end(), data + offset, data + offset + length);
            sawEmpty = length == 0;
        } else {
            QB_FUZZ_CHECK(assembler.stored() == before);  // finished gatherings take nothing more
        }
        offset += length;
    }
    if (failAtEnd) assembler.fail();

    const std::size_t expected = stream.size() > 4 ? std::min(stream.size() - 4, kBlockSize) : 0;
    QB_FUZZ_CHECK(assembler.stored() == expected);
    QB_FUZZ_CHECK(std::equal(
        stream.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(4, stream.size())),
        stream.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(4, stream.size()) + expected),
        assembler.block().begin()));
    QB_FUZZ_CHECK(std::all_of(assembler.block().begin() + static_cast<std::ptrdiff_t>(expected),
                              assembler.block().end(), [](std::uint8_t b) { return b == 0; }));

    if (expected == kBlockSize) {
        QB_FUZZ_CHECK(assembler.progress() == Progress::Complete);
    } else if (sawEmpty || failAtEnd) {
        QB_FUZZ_CHECK(assembler.progress() == Progress::Failed);
    } else {
        QB_FUZZ_CHECK(assembler.progress() == Progress::NeedMore);
    }
    return 0;
}
