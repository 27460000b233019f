#include "qb7720/protocol/BlockReplyAssembler.h"

#include <algorithm>
#include <cstring>

namespace qb::protocol {

BlockReplyAssembler::Progress BlockReplyAssembler::feed(ByteView piece) {
    if (progress_ != Progress::NeedMore) return progress_;
    if (piece.empty()) return fail();
    capacity_ = std::min(capacity_, piece.size());

    const std::size_t skip = std::min(headerLeft_, piece.size());
    headerLeft_ -= skip;
    const ByteView body = piece.drop(skip);
    const std::size_t n = std::min(body.size(), kBlockSize - stored_);
    if (n > 0) std::memcpy(block_.data() + stored_, body.data(), n);
    stored_ += n;

    if (stored_ == kBlockSize) progress_ = Progress::Complete;
    return progress_;
}

BlockReplyAssembler::Progress BlockReplyAssembler::fail() {
    if (progress_ == Progress::NeedMore) progress_ = Progress::Failed;
    return progress_;
}

}  // namespace qb::protocol
