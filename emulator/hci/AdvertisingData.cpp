#include "AdvertisingData.h"

#include <algorithm>

#include "qb7720/protocol/BridgeFacts.h"

namespace qb::hci {
namespace {

constexpr std::uint8_t kTypeFlags = 0x01;
constexpr std::uint8_t kTypeShortenedName = 0x08;
constexpr std::uint8_t kTypeCompleteName = 0x09;
constexpr std::uint8_t kTypeManufacturerData = 0xFF;
constexpr std::uint8_t kFlagsGeneralDiscoverableLeOnly = 0x06;
constexpr unsigned kMinIntervalUnits = 0x0020;
constexpr unsigned kMaxIntervalUnits = 0x4000;

void structure(Writer& w, std::uint8_t type, ByteView data) {
    w.u8(static_cast<std::uint8_t>(data.size() + 1)).u8(type).bytes(data);
}

// The name in what room is left: whole, or cut and marked as shortened.
void name(Writer& w, const std::string& text) {
    if (text.empty() || w.size() + 2 >= kLegacyAdvertisingPayload) return;
    const std::size_t room = kLegacyAdvertisingPayload - w.size() - 2;
    const std::size_t n = std::min(room, text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    structure(w, n == text.size() ? kTypeCompleteName : kTypeShortenedName, ByteView{bytes, n});
}

}  // namespace

Bytes bridgeAdvertisingData(const std::string& text, std::uint8_t tag) {
    Writer w;
    const Bytes flags{kFlagsGeneralDiscoverableLeOnly};
    structure(w, kTypeFlags, flags);
    Writer manufacturer;
    manufacturer.u16(protocol::kBridgeCompanyId).bytes(protocol::encodeBridgeManufacturerData(tag));
    structure(w, kTypeManufacturerData, manufacturer.take());
    name(w, text);
    return w.take();
}

Bytes bridgeScanResponseData(const std::string& text) {
    Writer w;
    name(w, text);
    return w.take();
}

Bytes advertisingCommandParameters(ByteView payload) {
    Bytes params(1 + kLegacyAdvertisingPayload, 0);
    const std::size_t n = std::min(payload.size(), kLegacyAdvertisingPayload);
    params[0] = static_cast<std::uint8_t>(n);
    std::copy(payload.begin(), payload.begin() + n, params.begin() + 1);
    return params;
}

std::uint16_t advertisingIntervalUnits(unsigned milliseconds) {
    const unsigned long units = static_cast<unsigned long>(milliseconds) * 8 / 5;
    return static_cast<std::uint16_t>(std::clamp<unsigned long>(units, kMinIntervalUnits, kMaxIntervalUnits));
}

}  // namespace qb::hci
