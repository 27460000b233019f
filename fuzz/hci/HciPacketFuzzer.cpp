// Packets from a controller: the H4 decoder, and ACL data joined into L2CAP frames and answered on
// the signalling and security channels.
#include <cstddef>
#include <cstdint>
#include <variant>

#include "../protocol/Check.h"
#include "HciPackets.h"
#include "L2cap.h"

using namespace qb::hci;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kMaxFrame = 600;
    Reassembler joiner(kMaxFrame);
    // The input is a run of packets, each led by its length byte.
    for (std::size_t at = 0; at < size;) {
        const std::size_t n = std::min<std::size_t>(data[at], size - at - 1);
        const ByteView packet(data + at + 1, n);
        at += 1 + n;
        const Inbound in = decodePacket(packet);
        if (const auto* acl = std::get_if<AclData>(&in)) {
            QB_FUZZ_CHECK(acl->data.size() + 5 == packet.size());
            // What decodes encodes back to the same bytes, but for the broadcast flags, which LE
            // links never set and the decoder does not keep.
            const auto again = encodeAcl(acl->handle, acl->boundary, acl->data);
            Bytes original(packet.begin(), packet.end());
            original[2] &= 0x3F;
            if (acl->handle <= 0x0EFF) QB_FUZZ_CHECK(again && *again == original);
            if (auto frame = joiner.feed(acl->boundary, acl->data)) {
                QB_FUZZ_CHECK(frame->payload.size() <= kMaxFrame);
                if (auto answer = answerSignalling(frame->payload)) QB_FUZZ_CHECK(answer->size() >= 4);
                if (auto answer = answerSecurity(frame->payload)) QB_FUZZ_CHECK(answer->size() == 2);
            }
        } else if (const auto* event = std::get_if<Event>(&in)) {
            QB_FUZZ_CHECK(packet.size() >= 3 && packet.size() == 3u + packet[2]);
            if (const auto* c = std::get_if<CommandComplete>(event)) QB_FUZZ_CHECK(c->returned.size() + 6 == packet.size());
        }
    }
    return 0;
}
