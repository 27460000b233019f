#include "qb7720/protocol/BlockReplyAssembler.h"

#include <algorithm>
#include <cstring>

#include "qb7720/protocol/Frames.h"

namespace qb::protocol {

namespace {
constexpr std::size_t kSelectorOffset = BlockReplyAssembler::kHeaderSize - 1;
}  // namespace

BlockReplyAssembler::Progress BlockReplyAssembler::feed(ByteView piece) {
    if (progress_ != Progress::NeedMore) return progress_;
    if (piece.empty() || piece.size() > kStreamSize - received_) return fail();
    std::memcpy(stream_.data() + received_, piece.data(), piece.size());
    received_ += piece.size();
    if (received_ < kStreamSize) return progress_;

    const ByteView selectorAndBlock(stream_.data() + kSelectorOffset, 1 + kBlockSize);
    progress_ =
        checksum(selectorAndBlock) == stream_[kStreamSize - 1] ? Progress::Complete : Progress::Failed;
    return progress_;
}

BlockReplyAssembler::Progress BlockReplyAssembler::fail() {
    if (progress_ == Progress::NeedMore) progress_ = Progress::Failed;
    return progress_;
}

std::size_t BlockReplyAssembler::stored() const {
    if (received_ <= kHeaderSize) return 0;
    return std::min(received_ - kHeaderSize, kBlockSize);
}

ParameterBlock BlockReplyAssembler::block() const {
    ParameterBlock out{};
    std::memcpy(out.data(), stream_.data() + kHeaderSize, stored());
    return out;
}

}  // namespace qb::protocol
