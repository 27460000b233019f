// HCI and L2CAP codecs against packets laid out as the kernel's virtual controllers send them and
// as the Bluetooth Core documents them.
#include <gtest/gtest.h>

#include "HciPackets.h"
#include "L2cap.h"

namespace qb::hci {
namespace {

Bytes hex(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

TEST(HciEvents, DecodeAsLaidOut) {
    // Command Complete of LE Read Buffer Size: 192-byte buffers, one of them.
    auto in = decodePacket(hex({0x04, 0x0E, 0x07, 0x01, 0x02, 0x20, 0x00, 0xC0, 0x00, 0x01}));
    const auto& complete = std::get<CommandComplete>(std::get<Event>(in));
    EXPECT_EQ(complete.opcode, opcode::kLeReadBufferSize);
    EXPECT_EQ(complete.credits, 1);
    EXPECT_EQ(complete.status(), 0);
    EXPECT_EQ(complete.returned, hex({0x00, 0xC0, 0x00, 0x01}));

    in = decodePacket(hex({0x04, 0x0F, 0x04, 0x0C, 0x01, 0x06, 0x04}));
    const auto& status = std::get<CommandStatus>(std::get<Event>(in));
    EXPECT_EQ(status.status, hci_error::kCommandDisallowed);
    EXPECT_EQ(status.opcode, opcode::kDisconnect);

    // The top four bits of a handle field are flags, never part of the handle.
    in = decodePacket(hex({0x04, 0x05, 0x04, 0x00, 0x42, 0x30, 0x13}));
    const auto& gone = std::get<DisconnectionComplete>(std::get<Event>(in));
    EXPECT_EQ(gone.handle, 0x042);
    EXPECT_EQ(gone.reason, 0x13);

    in = decodePacket(hex({0x04, 0x13, 0x09, 0x02, 0x42, 0x00, 0x03, 0x00, 0x43, 0x00, 0x01, 0x00}));
    const auto& completed = std::get<CompletedPackets>(std::get<Event>(in));
    ASSERT_EQ(completed.counts.size(), 2u);
    EXPECT_EQ(completed.counts[0], (std::pair<std::uint16_t, std::uint16_t>{0x42, 3}));
    EXPECT_EQ(completed.counts[1], (std::pair<std::uint16_t, std::uint16_t>{0x43, 1}));
}

TEST(HciEvents, ConnectionCompleteInBothForms) {
    // Peer 00:AA:01:00:00:00 (bytes least significant first), interval 0x0028, timeout 0x01F4.
    const Bytes legacy = hex({0x04, 0x3E, 0x13, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                              0x01, 0xAA, 0x00, 0x28, 0x00, 0x00, 0x00, 0xF4, 0x01, 0x00});
    Bytes enhanced = legacy;
    enhanced[2] = 0x1F;
    enhanced[3] = 0x0A;
    enhanced.insert(enhanced.begin() + 4 + 11, 12, 0xEE);  // after status, handle, role, type, peer
    for (const Bytes& packet : {legacy, enhanced}) {
        auto in = decodePacket(packet);
        const auto& c = std::get<LeConnectionComplete>(std::get<Event>(in));
        EXPECT_EQ(c.handle, 0x0001);
        EXPECT_EQ(c.role, 0x01);
        EXPECT_EQ(c.peer.toUpperString(), "00:AA:01:00:00:00");
        EXPECT_EQ(c.interval, 0x0028);
        EXPECT_EQ(c.supervisionTimeout, 0x01F4);
    }
}

TEST(HciEvents, VerdictsOnDamagedPackets) {
    struct Case {
        const char* what;
        Bytes packet;
        PacketError error;
    };
    const Case cases[] = {
        {"nothing", {}, PacketError::Empty},
        {"unknown type", hex({0x07, 0x00}), PacketError::UnknownType},
        {"event shorter than its length", hex({0x04, 0x0E, 0x05, 0x01, 0x03}), PacketError::Truncated},
        {"event header cut", hex({0x04, 0x0E}), PacketError::Truncated},
        {"event longer than its length", hex({0x04, 0x10, 0x01, 0x00, 0x00}), PacketError::LengthMismatch},
        {"command complete without opcode", hex({0x04, 0x0E, 0x01, 0x01}), PacketError::LengthMismatch},
        {"completed packets count disagrees", hex({0x04, 0x13, 0x05, 0x02, 0x42, 0x00, 0x01, 0x00}),
         PacketError::LengthMismatch},
        {"connection complete cut", hex({0x04, 0x3E, 0x03, 0x01, 0x00, 0x01}), PacketError::LengthMismatch},
        {"acl shorter than its length", hex({0x02, 0x01, 0x20, 0x05, 0x00, 0x01}), PacketError::Truncated},
        {"acl longer than its length", hex({0x02, 0x01, 0x20, 0x00, 0x00, 0x01}), PacketError::LengthMismatch},
        {"acl reserved boundary", hex({0x02, 0x01, 0x30, 0x00, 0x00}), PacketError::BadBoundary},
    };
    for (const auto& c : cases) {
        const auto in = decodePacket(c.packet);
        ASSERT_TRUE(std::holds_alternative<PacketError>(in)) << c.what;
        EXPECT_EQ(std::get<PacketError>(in), c.error) << c.what;
    }
    EXPECT_TRUE(std::holds_alternative<Ignored>(decodePacket(hex({0x03, 0x01, 0x00, 0x00}))));
    const auto other = decodePacket(hex({0x04, 0x3E, 0x01, 0x07}));
    EXPECT_EQ(std::get<OtherEvent>(std::get<Event>(other)).subevent, 0x07);
}

TEST(HciCommands, EncodeOpcodeLittleEndianAndRefuseOversize) {
    EXPECT_EQ(*encodeCommand(opcode::kLeSetAdvertiseEnable, hex({0x01})), hex({0x01, 0x0A, 0x20, 0x01, 0x01}));
    EXPECT_FALSE(encodeCommand(opcode::kReset, Bytes(256, 0)));
    EXPECT_EQ(*encodeAcl(0x0042, AclBoundary::Continuing, hex({0xAB})), hex({0x02, 0x42, 0x10, 0x01, 0x00, 0xAB}));
    EXPECT_FALSE(encodeAcl(0x0F00, AclBoundary::Continuing, {}));
}

TEST(L2cap, FragmentsFitTheControllerAndJoinAgain) {
    Bytes payload(300);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i);
    const auto packets = fragmentFrame(0x0001, cid::kAtt, payload, 27);
    ASSERT_EQ(packets.size(), 12u);  // 304 bytes with the header
    Reassembler joiner(1024);
    std::optional<L2capFrame> frame;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const auto in = decodePacket(packets[i]);
        const auto& acl = std::get<AclData>(in);
        EXPECT_LE(acl.data.size(), 27u);
        EXPECT_EQ(acl.boundary, i == 0 ? AclBoundary::FirstNonFlushable : AclBoundary::Continuing);
        EXPECT_FALSE(frame);
        frame = joiner.feed(acl.boundary, acl.data);
    }
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->cid, cid::kAtt);
    EXPECT_EQ(frame->payload, payload);
    EXPECT_EQ(joiner.dropped(), 0u);
}

TEST(L2cap, ReassemblerDropsWhatCannotBelongToAFrame) {
    Reassembler joiner(64);
    // A continuation with no start.
    EXPECT_FALSE(joiner.feed(AclBoundary::Continuing, hex({1, 2, 3})));
    EXPECT_EQ(joiner.dropped(), 1u);
    // A start that a new start abandons; the second frame still arrives whole.
    EXPECT_FALSE(joiner.feed(AclBoundary::FirstFlushable, hex({0x05, 0x00, 0x04, 0x00, 0xAA})));
    auto frame = joiner.feed(AclBoundary::FirstFlushable, hex({0x01, 0x00, 0x04, 0x00, 0xBB}));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->payload, hex({0xBB}));
    EXPECT_EQ(joiner.dropped(), 2u);
    // More bytes than announced, and a frame above the limit.
    EXPECT_FALSE(joiner.feed(AclBoundary::FirstFlushable, hex({0x01, 0x00, 0x04, 0x00, 0xCC, 0xDD})));
    EXPECT_FALSE(joiner.feed(AclBoundary::FirstFlushable, hex({0x41, 0x00, 0x04, 0x00})));
    EXPECT_EQ(joiner.dropped(), 4u);
    // A header split across packets.
    EXPECT_FALSE(joiner.feed(AclBoundary::FirstFlushable, hex({0x02, 0x00})));
    frame = joiner.feed(AclBoundary::Continuing, hex({0x06, 0x00, 0x01, 0x02}));
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->cid, cid::kSecurityManager);
}

TEST(L2cap, SignallingAndSecurityRefuseWhatIsNotOffered) {
    struct Case {
        const char* what;
        Bytes in;
        std::optional<Bytes> out;
    };
    const Case cases[] = {
        {"credit-based connection refused", hex({0x14, 0x07, 0x0A, 0x00, 0x80, 0, 0x40, 0, 0x17, 0, 0x17, 0, 0x0A, 0}),
         hex({0x15, 0x07, 0x0A, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x00})},
        {"unknown request rejected", hex({0x12, 0x03, 0x00, 0x00}), hex({0x01, 0x03, 0x02, 0x00, 0x00, 0x00})},
        {"a response gets none", hex({0x13, 0x03, 0x02, 0x00, 0x00, 0x00}), std::nullopt},
        {"identifier 0 is never valid", hex({0x12, 0x00, 0x00, 0x00}), std::nullopt},
        {"cut header", hex({0x12, 0x03}), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(answerSignalling(c.in), c.out) << c.what;
    EXPECT_EQ(answerSecurity(hex({0x01, 0x03, 0x00, 0x01, 0x10, 0x07, 0x07})), hex({0x05, 0x05}));
    EXPECT_FALSE(answerSecurity(hex({0x0A})));
    EXPECT_FALSE(answerSecurity({}));
}

}  // namespace
}  // namespace qb::hci
