// ATT protocol data units as a server meets them: requests and commands decoded into structs (or a
// verdict on why not), and the responses it sends, encoded. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "Wire.h"
#include "qb7720/platform/Guid.h"

namespace qb::hci {

namespace att_op {
inline constexpr std::uint8_t kErrorResponse = 0x01;
inline constexpr std::uint8_t kExchangeMtuRequest = 0x02;
inline constexpr std::uint8_t kExchangeMtuResponse = 0x03;
inline constexpr std::uint8_t kFindInformationRequest = 0x04;
inline constexpr std::uint8_t kFindInformationResponse = 0x05;
inline constexpr std::uint8_t kFindByTypeValueRequest = 0x06;
inline constexpr std::uint8_t kFindByTypeValueResponse = 0x07;
inline constexpr std::uint8_t kReadByTypeRequest = 0x08;
inline constexpr std::uint8_t kReadByTypeResponse = 0x09;
inline constexpr std::uint8_t kReadRequest = 0x0A;
inline constexpr std::uint8_t kReadResponse = 0x0B;
inline constexpr std::uint8_t kReadBlobRequest = 0x0C;
inline constexpr std::uint8_t kReadBlobResponse = 0x0D;
inline constexpr std::uint8_t kReadMultipleRequest = 0x0E;
inline constexpr std::uint8_t kReadMultipleResponse = 0x0F;
inline constexpr std::uint8_t kReadByGroupTypeRequest = 0x10;
inline constexpr std::uint8_t kReadByGroupTypeResponse = 0x11;
inline constexpr std::uint8_t kWriteRequest = 0x12;
inline constexpr std::uint8_t kWriteResponse = 0x13;
inline constexpr std::uint8_t kHandleValueNotification = 0x1B;
inline constexpr std::uint8_t kHandleValueIndication = 0x1D;
inline constexpr std::uint8_t kHandleValueConfirmation = 0x1E;
inline constexpr std::uint8_t kWriteCommand = 0x52;
inline constexpr std::uint8_t kCommandFlag = 0x40;  // set in every opcode that gets no response
}  // namespace att_op

namespace att_error {
inline constexpr std::uint8_t kInvalidHandle = 0x01;
inline constexpr std::uint8_t kReadNotPermitted = 0x02;
inline constexpr std::uint8_t kWriteNotPermitted = 0x03;
inline constexpr std::uint8_t kInvalidPdu = 0x04;
inline constexpr std::uint8_t kInsufficientAuthorization = 0x08;
inline constexpr std::uint8_t kRequestNotSupported = 0x06;
inline constexpr std::uint8_t kInvalidOffset = 0x07;
inline constexpr std::uint8_t kAttributeNotFound = 0x0A;
inline constexpr std::uint8_t kInvalidAttributeValueLength = 0x0D;
inline constexpr std::uint8_t kUnlikelyError = 0x0E;
inline constexpr std::uint8_t kUnsupportedGroupType = 0x10;
}  // namespace att_error

inline constexpr std::uint16_t kDefaultAttMtu = 23;
inline constexpr std::uint16_t kMaxAttMtu = 517;

// A UUID on the wire: 2 bytes for a SIG 16-bit one, else 16, both little-endian.
Bytes encodeUuid(const platform::Guid& uuid);
std::optional<platform::Guid> decodeUuid(ByteView bytes);  // 2 or 16 bytes

struct ExchangeMtu { std::uint16_t clientMtu = 0; };
struct HandleRange { std::uint16_t start = 0; std::uint16_t end = 0; };
struct FindInformation { HandleRange range; };
struct FindByTypeValue { HandleRange range; std::uint16_t type = 0; Bytes value; };
struct ReadByType { HandleRange range; platform::Guid type; };
struct ReadByGroupType { HandleRange range; platform::Guid type; };
struct Read { std::uint16_t handle = 0; };
struct ReadBlob { std::uint16_t handle = 0; std::uint16_t offset = 0; };
struct ReadMultiple { std::vector<std::uint16_t> handles; };
struct Write { std::uint16_t handle = 0; Bytes value; bool withResponse = true; };
struct Confirmation {};
// The client's own notifications and indications (it is a server too); an indication wants a
// confirmation.
struct PeerValue { bool indication = false; };
// A response opcode, a signed write, or an opcode this server does not know.
struct Unsupported { std::uint8_t opcode = 0; };
// A known request whose parameters have the wrong size.
struct Malformed { std::uint8_t opcode = 0; };

using AttPdu = std::variant<ExchangeMtu, FindInformation, FindByTypeValue, ReadByType, ReadByGroupType, Read,
                            ReadBlob, ReadMultiple, Write, Confirmation, PeerValue, Unsupported, Malformed>;

// Nothing for an empty PDU.
std::optional<AttPdu> decodeAttPdu(ByteView pdu);

Bytes encodeErrorResponse(std::uint8_t requestOpcode, std::uint16_t handle, std::uint8_t error);
Bytes encodeNotification(std::uint16_t handle, ByteView value, bool indication);

}  // namespace qb::hci
