#pragma once

#include <cstddef>
#include <cstdint>

#include "qb7720/protocol/Bytes.h"
#include "qb7720/protocol/Types.h"

namespace qb::protocol {

// Gathers the 512 block bytes of a read-block reply from the pieces successive reads return.
// The 4-byte header is dropped from the front of the stream however the reads split it, later bytes are
// stored up to 512, and the trailing checksum is never stored. An empty piece ends the gathering as failed:
// a bridge with nothing more to say would otherwise be read forever.
class BlockReplyAssembler {
  public:
    enum class Progress { NeedMore, Complete, Failed };

    static constexpr std::size_t kHeaderSize = 4;

    // Takes one piece. Once Complete or Failed, further pieces change nothing and get the same answer.
    Progress feed(ByteView piece);
    // A read that failed on the way ends the gathering.
    Progress fail();

    Progress progress() const { return progress_; }
    const ParameterBlock& block() const { return block_; }
    std::size_t stored() const { return stored_; }

    // How much the next read may ask for when each read's length caps the next (512 at first). Pieces
    // longer than that are still taken whole.
    std::size_t nextReadCapacity() const { return capacity_; }

    void reset() { *this = BlockReplyAssembler{}; }

  private:
    ParameterBlock block_{};
    std::size_t stored_ = 0;
    std::size_t headerLeft_ = kHeaderSize;
    std::size_t capacity_ = kBlockSize;
    Progress progress_ = Progress::NeedMore;
};

}  // namespace qb::protocol
