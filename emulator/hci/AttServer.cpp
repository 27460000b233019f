#include "AttServer.h"

#include <algorithm>
#include <type_traits>

#include "qb7720/protocol/Types.h"

namespace qb::hci {
namespace {

using Kind = Attribute::Kind;
using emulator::AttStatus;
namespace prop = platform::gatt_property;

constexpr std::uint16_t kPrimaryService = 0x2800;
constexpr std::uint16_t kSecondaryService = 0x2801;
constexpr std::size_t kMaxValue = protocol::kMaxAttributeValue;
constexpr std::uint16_t kNotifyBit = 0x0001;
constexpr std::uint16_t kIndicateBit = 0x0002;

std::uint8_t errorOf(AttStatus status) {
    switch (status) {
        case AttStatus::Success:
            return 0;
        case AttStatus::ReadNotPermitted:
            return att_error::kReadNotPermitted;
        case AttStatus::WriteNotPermitted:
            return att_error::kWriteNotPermitted;
        case AttStatus::InvalidPdu:
            return att_error::kInvalidPdu;
        case AttStatus::InvalidAttributeLength:
            return att_error::kInvalidAttributeValueLength;
        case AttStatus::InvalidHandle:
            return att_error::kInvalidHandle;
        case AttStatus::AccessDenied:
            return att_error::kInsufficientAuthorization;
        case AttStatus::Unreachable:
            break;
    }
    return att_error::kUnlikelyError;
}

}  // namespace

AttServer::AttServer(std::shared_ptr<emulator::VirtualDevice> device, std::uint16_t serverMtu, Send send)
    : device_(std::move(device)),
      table_(attributeTable(*device_)),
      serverMtu_(std::clamp(serverMtu, kDefaultAttMtu, kMaxAttMtu)),
      send_(std::move(send)) {}

void AttServer::linkUp() {
    mtu_ = kDefaultAttMtu;
    readCache_.clear();
    awaitingConfirmation_ = false;
    indications_.clear();
    device_->setMtu(mtu_);
}

void AttServer::linkDown() {
    readCache_.clear();
    awaitingConfirmation_ = false;
    indications_.clear();
}

void AttServer::receive(ByteView pdu) {
    const auto decoded = decodeAttPdu(pdu);
    if (!decoded) return;
    std::visit(
        [&](const auto& m) {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, ExchangeMtu>) {
                exchangeMtu(m);
            } else if constexpr (std::is_same_v<T, FindInformation>) {
                findInformation(m);
            } else if constexpr (std::is_same_v<T, FindByTypeValue>) {
                findByTypeValue(m);
            } else if constexpr (std::is_same_v<T, ReadByType>) {
                readByType(m);
            } else if constexpr (std::is_same_v<T, ReadByGroupType>) {
                readByGroupType(m);
            } else if constexpr (std::is_same_v<T, Read>) {
                read(att_op::kReadRequest, m.handle, 0);
            } else if constexpr (std::is_same_v<T, ReadBlob>) {
                read(att_op::kReadBlobRequest, m.handle, m.offset);
            } else if constexpr (std::is_same_v<T, ReadMultiple>) {
                readMultiple(m);
            } else if constexpr (std::is_same_v<T, Write>) {
                write(m);
            } else if constexpr (std::is_same_v<T, Confirmation>) {
                confirmed();
            } else if constexpr (std::is_same_v<T, PeerValue>) {
                if (m.indication) send_(Bytes{att_op::kHandleValueConfirmation});
            } else if constexpr (std::is_same_v<T, Malformed>) {
                // A command has no response to carry an error, even for a malformed one.
                if (!(m.opcode & att_op::kCommandFlag)) error(m.opcode, 0, att_error::kInvalidPdu);
            } else if constexpr (std::is_same_v<T, Unsupported>) {
                // Commands and the peer's responses go unanswered; requests are refused.
                const bool command = (m.opcode & att_op::kCommandFlag) != 0;
                const bool response = (m.opcode % 2 == 1 && m.opcode <= 0x1F) || m.opcode == 0x21 || m.opcode == 0x23;
                if (!command && !response) error(m.opcode, 0, att_error::kRequestNotSupported);
            }
        },
        *decoded);
}

void AttServer::exchangeMtu(const ExchangeMtu& request) {
    Writer w;
    w.u8(att_op::kExchangeMtuResponse).u16(serverMtu_);
    send_(w.take());
    mtu_ = std::clamp(request.clientMtu, kDefaultAttMtu, serverMtu_);
    device_->setMtu(mtu_);
}

bool AttServer::rangeValid(std::uint8_t opcode, const HandleRange& range) {
    if (range.start == 0 || range.start > range.end) {
        error(opcode, range.start, att_error::kInvalidHandle);
        return false;
    }
    return true;
}

void AttServer::findInformation(const FindInformation& request) {
    if (!rangeValid(att_op::kFindInformationRequest, request.range)) return;
    Writer w;
    w.u8(att_op::kFindInformationResponse);
    std::size_t uuidSize = 0;
    for (const auto& a : table_) {
        if (a.handle < request.range.start || a.handle > request.range.end) continue;
        const Bytes uuid = encodeUuid(a.type);
        if (uuidSize == 0) {
            uuidSize = uuid.size();
            w.u8(uuidSize == 2 ? 0x01 : 0x02);
        }
        if (uuid.size() != uuidSize || w.size() + 2 + uuid.size() > mtu_) break;
        w.u16(a.handle).bytes(uuid);
    }
    if (uuidSize == 0) return error(att_op::kFindInformationRequest, request.range.start, att_error::kAttributeNotFound);
    send_(w.take());
}

void AttServer::findByTypeValue(const FindByTypeValue& request) {
    if (!rangeValid(att_op::kFindByTypeValueRequest, request.range)) return;
    const auto type = platform::Guid::fromShortUuid(request.type);
    Writer w;
    w.u8(att_op::kFindByTypeValueResponse);
    bool found = false;
    for (const auto& a : table_) {
        if (a.handle < request.range.start || a.handle > request.range.end || a.type != type) continue;
        if (a.kind != Kind::Service && a.kind != Kind::CharacteristicDeclaration) continue;
        if (a.declaration != request.value) continue;
        if (w.size() + 4 > mtu_) break;
        w.u16(a.handle).u16(a.kind == Kind::Service ? a.groupEnd : a.handle);
        found = true;
    }
    if (!found) return error(att_op::kFindByTypeValueRequest, request.range.start, att_error::kAttributeNotFound);
    send_(w.take());
}

void AttServer::readByType(const ReadByType& request) {
    if (!rangeValid(att_op::kReadByTypeRequest, request.range)) return;
    Writer w;
    w.u8(att_op::kReadByTypeResponse);
    std::size_t entry = 0;
    const std::size_t limit = std::min<std::size_t>(mtu_ - 4u, 253);
    for (const auto& a : table_) {
        if (a.handle < request.range.start || a.handle > request.range.end || a.type != request.type) continue;
        auto value = valueOf(a);
        if (auto* code = std::get_if<std::uint8_t>(&value)) {
            // The first attribute's error is the answer; a later one ends the list before it.
            if (entry == 0) return error(att_op::kReadByTypeRequest, a.handle, *code);
            break;
        }
        Bytes& bytes = std::get<Bytes>(value);
        if (bytes.size() > limit) bytes.resize(limit);
        if (entry == 0) {
            entry = 2 + bytes.size();
            w.u8(static_cast<std::uint8_t>(entry));
        }
        if (2 + bytes.size() != entry || w.size() + entry > mtu_) break;
        w.u16(a.handle).bytes(bytes);
    }
    if (entry == 0) return error(att_op::kReadByTypeRequest, request.range.start, att_error::kAttributeNotFound);
    send_(w.take());
}

void AttServer::readByGroupType(const ReadByGroupType& request) {
    if (!rangeValid(att_op::kReadByGroupTypeRequest, request.range)) return;
    if (request.type != platform::Guid::fromShortUuid(kPrimaryService) &&
        request.type != platform::Guid::fromShortUuid(kSecondaryService)) {
        return error(att_op::kReadByGroupTypeRequest, request.range.start, att_error::kUnsupportedGroupType);
    }
    Writer w;
    w.u8(att_op::kReadByGroupTypeResponse);
    std::size_t entry = 0;
    for (const auto& a : table_) {
        if (a.kind != Kind::Service || a.type != request.type) continue;
        if (a.handle < request.range.start || a.handle > request.range.end) continue;
        if (entry == 0) {
            entry = 4 + a.declaration.size();
            w.u8(static_cast<std::uint8_t>(entry));
        }
        if (4 + a.declaration.size() != entry || w.size() + entry > mtu_) break;
        w.u16(a.handle).u16(a.groupEnd).bytes(a.declaration);
    }
    if (entry == 0) return error(att_op::kReadByGroupTypeRequest, request.range.start, att_error::kAttributeNotFound);
    send_(w.take());
}

void AttServer::read(std::uint8_t opcode, std::uint16_t handle, std::uint16_t offset) {
    const Attribute* a = find(handle);
    if (!a) return error(opcode, handle, att_error::kInvalidHandle);
    if (refusal_) {
        if (const auto code = refusal_(opcode, handle)) return error(opcode, handle, *code);
    }
    Bytes value;
    const auto cached = readCache_.find(handle);
    if (opcode == att_op::kReadBlobRequest && offset > 0 && cached != readCache_.end()) {
        value = cached->second;
    } else {
        auto fresh = valueOf(*a);
        if (auto* code = std::get_if<std::uint8_t>(&fresh)) return error(opcode, handle, *code);
        value = std::move(std::get<Bytes>(fresh));
        readCache_[handle] = value;
    }
    if (offset > value.size()) return error(opcode, handle, att_error::kInvalidOffset);
    const std::size_t n = std::min<std::size_t>(value.size() - offset, mtu_ - 1u);
    Writer w;
    w.u8(opcode == att_op::kReadRequest ? att_op::kReadResponse : att_op::kReadBlobResponse);
    w.bytes(ByteView{value.data() + offset, n});
    send_(w.take());
}

void AttServer::readMultiple(const ReadMultiple& request) {
    Writer w;
    w.u8(att_op::kReadMultipleResponse);
    for (std::uint16_t handle : request.handles) {
        const Attribute* a = find(handle);
        if (!a) return error(att_op::kReadMultipleRequest, handle, att_error::kInvalidHandle);
        auto value = valueOf(*a);
        if (auto* code = std::get_if<std::uint8_t>(&value)) return error(att_op::kReadMultipleRequest, handle, *code);
        w.bytes(std::get<Bytes>(value));
    }
    Bytes pdu = w.take();
    if (pdu.size() > mtu_) pdu.resize(mtu_);
    send_(std::move(pdu));
}

void AttServer::write(const Write& request) {
    const std::uint8_t opcode = request.withResponse ? att_op::kWriteRequest : att_op::kWriteCommand;
    auto refuse = [&](std::uint8_t code) {
        if (request.withResponse) error(opcode, request.handle, code);
    };
    const Attribute* a = find(request.handle);
    if (!a) return refuse(att_error::kInvalidHandle);
    if (refusal_ && request.withResponse) {
        if (const auto code = refusal_(opcode, request.handle)) return refuse(*code);
    }
    if (request.value.size() > kMaxValue) return refuse(att_error::kInvalidAttributeValueLength);
    AttStatus status = AttStatus::WriteNotPermitted;
    if (a->kind == Kind::Value) {
        status = device_->write(a->valueHandle, request.value, request.withResponse);
    } else if (a->kind == Kind::ClientConfiguration) {
        if (request.value.size() != 2) return refuse(att_error::kInvalidAttributeValueLength);
        const auto config = static_cast<std::uint16_t>(request.value[0] | request.value[1] << 8);
        status = device_->setClientConfiguration(a->valueHandle, config);
    }
    if (status != AttStatus::Success) return refuse(errorOf(status));
    if (request.withResponse) send_(Bytes{att_op::kWriteResponse});
}

void AttServer::notifyFromModel(std::uint16_t valueHandle, const Bytes& value) {
    const std::uint16_t config = device_->clientConfiguration(valueHandle);
    if (config & kNotifyBit) return sendValue(valueHandle, value, false);
    if (!(config & kIndicateBit)) return;
    if (awaitingConfirmation_) {
        indications_.emplace_back(valueHandle, value);
        return;
    }
    sendValue(valueHandle, value, true);
    awaitingConfirmation_ = true;
}

void AttServer::confirmed() {
    awaitingConfirmation_ = false;
    if (indications_.empty()) return;
    auto next = std::move(indications_.front());
    indications_.pop_front();
    sendValue(next.first, next.second, true);
    awaitingConfirmation_ = true;
}

void AttServer::sendValue(std::uint16_t handle, const Bytes& value, bool indication) {
    const std::size_t n = std::min<std::size_t>(value.size(), mtu_ - 3u);
    send_(encodeNotification(handle, ByteView{value.data(), n}, indication));
}

const Attribute* AttServer::find(std::uint16_t handle) const {
    const auto it = std::lower_bound(table_.begin(), table_.end(), handle,
                                     [](const Attribute& a, std::uint16_t h) { return a.handle < h; });
    return it != table_.end() && it->handle == handle ? &*it : nullptr;
}

std::variant<Bytes, std::uint8_t> AttServer::valueOf(const Attribute& a) {
    switch (a.kind) {
        case Kind::Service:
        case Kind::CharacteristicDeclaration:
            return a.declaration;
        case Kind::ClientConfiguration: {
            const std::uint16_t config = device_->clientConfiguration(a.valueHandle);
            return Bytes{static_cast<std::uint8_t>(config & 0xFF), static_cast<std::uint8_t>(config >> 8)};
        }
        case Kind::Descriptor:
            return Bytes{};
        case Kind::Value:
            break;
    }
    auto result = device_->read(a.valueHandle);
    if (result.status != AttStatus::Success) return errorOf(result.status);
    return std::move(result.value);
}

void AttServer::error(std::uint8_t opcode, std::uint16_t handle, std::uint8_t code) {
    send_(encodeErrorResponse(opcode, handle, code));
}

}  // namespace qb::hci
