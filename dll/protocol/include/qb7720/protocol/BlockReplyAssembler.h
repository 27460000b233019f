#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "qb7720/protocol/Bytes.h"
#include "qb7720/protocol/Types.h"

namespace qb::protocol {

// Gathers a read-block reply from the pieces successive reads return: a 4-byte header, the 512 block
// bytes and the block's checksum (selector and block, like a command's). The block counts only once
// the whole stream is in and its checksum holds. A stream that stops short (an empty piece, a failed
// read), runs past the checksum, or whose checksum is wrong ends as failed, so a cut or damaged piece
// can never pass for a block.
class BlockReplyAssembler {
  public:
    enum class Progress { NeedMore, Complete, Failed };

    static constexpr std::size_t kHeaderSize = 4;
    static constexpr std::size_t kStreamSize = kHeaderSize + kBlockSize + 1;

    // Takes one piece. Once Complete or Failed, further pieces change nothing and get the same answer.
    Progress feed(ByteView piece);
    // A read that failed on the way ends the gathering.
    Progress fail();

    Progress progress() const { return progress_; }
    // Block bytes received so far (the header and checksum not counted).
    std::size_t stored() const;
    // The block bytes received so far, zero beyond them; whole and checked only when Complete.
    ParameterBlock block() const;

    void reset() { *this = BlockReplyAssembler{}; }

  private:
    std::array<std::uint8_t, kStreamSize> stream_{};
    std::size_t received_ = 0;
    Progress progress_ = Progress::NeedMore;
};

}  // namespace qb::protocol
