#include "L2cap.h"

#include <algorithm>

namespace qb::hci {
namespace {

constexpr std::uint8_t kCommandReject = 0x01;
constexpr std::uint8_t kCreditConnectionRequest = 0x14;
constexpr std::uint8_t kCreditConnectionResponse = 0x15;
constexpr std::uint8_t kEnhancedCreditConnectionRequest = 0x17;
constexpr std::uint8_t kEnhancedCreditConnectionResponse = 0x18;
constexpr std::uint16_t kRejectNotUnderstood = 0x0000;
constexpr std::uint16_t kResultSpsmNotSupported = 0x0002;

constexpr std::uint8_t kSmpPairingRequest = 0x01;
constexpr std::uint8_t kSmpPairingFailed = 0x05;
constexpr std::uint8_t kSmpPairingNotSupported = 0x05;

// Signalling codes that answer a request; those get no reply.
bool isResponse(std::uint8_t code) {
    switch (code) {
        case 0x01: case 0x03: case 0x05: case 0x07: case 0x09: case 0x0B:
        case 0x13: case 0x15: case 0x16: case 0x18: case 0x1A:
            return true;
        default:
            return false;
    }
}

Bytes signal(std::uint8_t code, std::uint8_t identifier, const Bytes& data) {
    Writer w;
    w.u8(code).u8(identifier).u16(static_cast<std::uint16_t>(data.size())).bytes(data);
    return w.take();
}

}  // namespace

std::vector<Bytes> fragmentFrame(std::uint16_t handle, std::uint16_t cid, ByteView payload, std::size_t aclMtu) {
    Writer w;
    w.u16(static_cast<std::uint16_t>(payload.size())).u16(cid).bytes(payload);
    const Bytes frame = w.take();
    const std::size_t step = std::max<std::size_t>(aclMtu, 1);
    std::vector<Bytes> packets;
    for (std::size_t at = 0; at < frame.size(); at += step) {
        const std::size_t n = std::min(step, frame.size() - at);
        const auto boundary = at == 0 ? AclBoundary::FirstNonFlushable : AclBoundary::Continuing;
        if (auto packet = encodeAcl(handle, boundary, ByteView{frame.data() + at, n})) {
            packets.push_back(std::move(*packet));
        }
    }
    return packets;
}

std::optional<L2capFrame> Reassembler::feed(AclBoundary boundary, ByteView data) {
    if (boundary == AclBoundary::Continuing) {
        if (!collecting_) {
            ++dropped_;
            return std::nullopt;
        }
        partial_.insert(partial_.end(), data.begin(), data.end());
    } else {
        if (collecting_) ++dropped_;
        partial_.assign(data.begin(), data.end());
        collecting_ = true;
    }
    return finishIfComplete();
}

std::optional<L2capFrame> Reassembler::finishIfComplete() {
    if (partial_.size() < kL2capHeaderSize) return std::nullopt;
    Reader r{ByteView(partial_)};
    const std::size_t length = r.u16();
    const std::uint16_t channel = r.u16();
    if (length > maxFrame_ || partial_.size() > kL2capHeaderSize + length) {
        ++dropped_;
        reset();
        return std::nullopt;
    }
    if (partial_.size() < kL2capHeaderSize + length) return std::nullopt;
    L2capFrame frame;
    frame.cid = channel;
    frame.payload.assign(partial_.begin() + kL2capHeaderSize, partial_.end());
    reset();
    return frame;
}

void Reassembler::reset() {
    partial_.clear();
    collecting_ = false;
}

std::optional<Bytes> answerSignalling(ByteView command) {
    Reader r(command);
    const std::uint8_t code = r.u8();
    const std::uint8_t identifier = r.u8();
    r.u16();
    // A frame too short for its header, or an identifier of 0 (never valid), is silently discarded.
    if (!r.ok() || identifier == 0 || isResponse(code)) return std::nullopt;
    if (code == kCreditConnectionRequest) {
        // Destination CID, MTU, MPS, initial credits: all 0 when refused.
        Bytes data(8, 0);
        data.push_back(static_cast<std::uint8_t>(kResultSpsmNotSupported & 0xFF));
        data.push_back(static_cast<std::uint8_t>(kResultSpsmNotSupported >> 8));
        return signal(kCreditConnectionResponse, identifier, data);
    }
    if (code == kEnhancedCreditConnectionRequest) {
        // MTU, MPS, credits, result; no channels.
        Bytes data(6, 0);
        data.push_back(static_cast<std::uint8_t>(kResultSpsmNotSupported & 0xFF));
        data.push_back(static_cast<std::uint8_t>(kResultSpsmNotSupported >> 8));
        return signal(kEnhancedCreditConnectionResponse, identifier, data);
    }
    return signal(kCommandReject, identifier,
                  Bytes{static_cast<std::uint8_t>(kRejectNotUnderstood & 0xFF),
                        static_cast<std::uint8_t>(kRejectNotUnderstood >> 8)});
}

std::optional<Bytes> answerSecurity(ByteView pdu) {
    if (pdu.empty() || pdu[0] != kSmpPairingRequest) return std::nullopt;
    return Bytes{kSmpPairingFailed, kSmpPairingNotSupported};
}

}  // namespace qb::hci
