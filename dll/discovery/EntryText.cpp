#include "EntryText.h"

#include <cstring>

#include "qb7720/platform/BluetoothAddress.h"

namespace qb::dll::discovery {
namespace {
bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}
// A UTF-8 character is at most four bytes long.
constexpr std::size_t kMaxContinuationBytes = 3;
}  // namespace

std::size_t utf8PrefixLength(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text.size();
    std::size_t cut = limit;
    std::size_t steps = 0;
    while (cut > 0 && steps < kMaxContinuationBytes && isContinuationByte(text[cut])) {
        --cut;
        ++steps;
    }
    if (isContinuationByte(text[cut])) return limit;
    return cut;
}

void copyToField(char* field, std::size_t fieldSize, std::string_view text) {
    const std::size_t length = utf8PrefixLength(text, fieldSize - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

std::string addressText(const BridgeAddress& address) {
    return platform::BluetoothAddress::fromBytesMsbFirst(address).toString();
}

std::size_t firstAddressIn(std::string_view id, const std::vector<std::string>& addresses) {
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (id.find(addresses[i]) != std::string_view::npos) return i;
    }
    return addresses.size();
}

}  // namespace qb::dll::discovery
