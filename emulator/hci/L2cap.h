// L2CAP over LE ACL links: basic frames cut into ACL packets of the controller's size and joined
// again, and the answers the peripheral gives on the LE signalling and security channels, where it
// offers nothing. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "HciPackets.h"
#include "Wire.h"

namespace qb::hci {

namespace cid {
inline constexpr std::uint16_t kAtt = 0x0004;
inline constexpr std::uint16_t kLeSignalling = 0x0005;
inline constexpr std::uint16_t kSecurityManager = 0x0006;
}  // namespace cid

inline constexpr std::size_t kL2capHeaderSize = 4;

struct L2capFrame {
    std::uint16_t cid = 0;
    Bytes payload;
};

// The H4 ACL packets of one basic frame, each carrying at most aclMtu bytes (at least 1).
std::vector<Bytes> fragmentFrame(std::uint16_t handle, std::uint16_t cid, ByteView payload, std::size_t aclMtu);

// Joins the ACL packets of one link into frames. Whatever cannot belong to a frame (a continuation
// without a start, more bytes than the frame announced, a frame above the size limit) is dropped and
// counted; a new start abandons an unfinished frame.
class Reassembler {
  public:
    explicit Reassembler(std::size_t maxFrame) : maxFrame_(maxFrame) {}

    std::optional<L2capFrame> feed(AclBoundary boundary, ByteView data);
    void reset();
    std::uint64_t dropped() const { return dropped_; }

  private:
    std::optional<L2capFrame> finishIfComplete();
    std::size_t maxFrame_;
    Bytes partial_;
    bool collecting_ = false;
    std::uint64_t dropped_ = 0;
};

// The reply to a frame on the LE signalling channel: a peripheral without credit-based channels
// refuses their requests and rejects every other request as not understood; responses need none.
std::optional<Bytes> answerSignalling(ByteView command);
// The reply on the security manager channel: a pairing request is refused (pairing not supported).
std::optional<Bytes> answerSecurity(ByteView pdu);

}  // namespace qb::hci
