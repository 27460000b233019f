#include "AttPdu.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qb::hci {
namespace {

// The Guid's 16 bytes most significant first (its text order).
std::array<std::uint8_t, 16> guidBytes(const platform::Guid& g) {
    std::array<std::uint8_t, 16> b{};
    for (int i = 0; i < 4; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(g.data1 >> (24 - 8 * i));
    b[4] = static_cast<std::uint8_t>(g.data2 >> 8);
    b[5] = static_cast<std::uint8_t>(g.data2);
    b[6] = static_cast<std::uint8_t>(g.data3 >> 8);
    b[7] = static_cast<std::uint8_t>(g.data3);
    std::memcpy(b.data() + 8, g.data4, 8);
    return b;
}

HandleRange readRange(Reader& r) {
    HandleRange range;
    range.start = r.u16();
    range.end = r.u16();
    return range;
}

}  // namespace

Bytes encodeUuid(const platform::Guid& uuid) {
    if (uuid.isSigShortUuid()) {
        Writer w;
        w.u16(uuid.shortUuid());
        return w.take();
    }
    const auto msb = guidBytes(uuid);
    return Bytes(msb.rbegin(), msb.rend());
}

std::optional<platform::Guid> decodeUuid(ByteView bytes) {
    if (bytes.size() == 2) return platform::Guid::fromShortUuid(static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8));
    if (bytes.size() != 16) return std::nullopt;
    platform::Guid g;
    auto at = [&](std::size_t msbIndex) { return bytes[15 - msbIndex]; };
    g.data1 = std::uint32_t(at(0)) << 24 | std::uint32_t(at(1)) << 16 | std::uint32_t(at(2)) << 8 | at(3);
    g.data2 = static_cast<std::uint16_t>(at(4) << 8 | at(5));
    g.data3 = static_cast<std::uint16_t>(at(6) << 8 | at(7));
    for (std::size_t i = 0; i < 8; ++i) g.data4[i] = at(8 + i);
    return g;
}

std::optional<AttPdu> decodeAttPdu(ByteView pdu) {
    if (pdu.empty()) return std::nullopt;
    const std::uint8_t op = pdu[0];
    Reader r(pdu.drop(1));
    auto exact = [&](auto value) -> AttPdu {
        if (!r.ok() || r.remaining() != 0) return Malformed{op};
        return value;
    };
    switch (op) {
        case att_op::kExchangeMtuRequest: {
            ExchangeMtu m{r.u16()};
            return exact(m);
        }
        case att_op::kFindInformationRequest: {
            FindInformation f{readRange(r)};
            return exact(f);
        }
        case att_op::kFindByTypeValueRequest: {
            FindByTypeValue f;
            f.range = readRange(r);
            f.type = r.u16();
            if (!r.ok()) return Malformed{op};
            const ByteView value = r.rest();
            f.value.assign(value.begin(), value.end());
            return f;
        }
        case att_op::kReadByTypeRequest:
        case att_op::kReadByGroupTypeRequest: {
            const HandleRange range = readRange(r);
            if (!r.ok()) return Malformed{op};
            const auto uuid = decodeUuid(r.rest());
            if (!uuid) return Malformed{op};
            if (op == att_op::kReadByTypeRequest) return ReadByType{range, *uuid};
            return ReadByGroupType{range, *uuid};
        }
        case att_op::kReadRequest: {
            Read read{r.u16()};
            return exact(read);
        }
        case att_op::kReadBlobRequest: {
            ReadBlob blob;
            blob.handle = r.u16();
            blob.offset = r.u16();
            return exact(blob);
        }
        case att_op::kReadMultipleRequest: {
            ReadMultiple m;
            if (r.remaining() < 4 || r.remaining() % 2 != 0) return Malformed{op};
            while (r.remaining() > 0) m.handles.push_back(r.u16());
            return m;
        }
        case att_op::kWriteRequest:
        case att_op::kWriteCommand: {
            Write w;
            w.handle = r.u16();
            w.withResponse = op == att_op::kWriteRequest;
            if (!r.ok()) return Malformed{op};
            const ByteView value = r.rest();
            w.value.assign(value.begin(), value.end());
            return w;
        }
        case att_op::kHandleValueConfirmation:
            return exact(Confirmation{});
        case att_op::kHandleValueNotification:
        case att_op::kHandleValueIndication:
            return PeerValue{op == att_op::kHandleValueIndication};
        default:
            return Unsupported{op};
    }
}

Bytes encodeErrorResponse(std::uint8_t requestOpcode, std::uint16_t handle, std::uint8_t error) {
    Writer w;
    w.u8(att_op::kErrorResponse).u8(requestOpcode).u16(handle).u8(error);
    return w.take();
}

Bytes encodeNotification(std::uint16_t handle, ByteView value, bool indication) {
    Writer w;
    w.u8(indication ? att_op::kHandleValueIndication : att_op::kHandleValueNotification).u16(handle).bytes(value);
    return w.take();
}

}  // namespace qb::hci
