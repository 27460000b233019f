#include "qb7720/platform/BluetoothAddress.h"

#include "qb7720/platform/HexDigit.h"

namespace qb::platform {
namespace {

std::string format(std::uint64_t value, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text(17, ':');
    for (std::size_t i = 0; i < 6; ++i) {
        const unsigned byte = unsigned(value >> (8 * (5 - i))) & 0xFFu;
        text[i * 3] = digits[byte >> 4];
        text[i * 3 + 1] = digits[byte & 0xF];
    }
    return text;
}

}  // namespace

std::optional<BluetoothAddress> BluetoothAddress::parse(std::string_view text) {
    if (text.size() != 17) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t at = i * 3;
        if (i < 5 && text[at + 2] != ':') return std::nullopt;
        const int hi = hexDigit(text[at]);
        const int lo = hexDigit(text[at + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        value = value << 8 | static_cast<std::uint64_t>(hi << 4 | lo);
    }
    return BluetoothAddress(value);
}

BluetoothAddress BluetoothAddress::fromBytesMsbFirst(const ByteArray& bytes) {
    std::uint64_t value = 0;
    for (std::uint8_t b : bytes) value = value << 8 | b;
    return BluetoothAddress(value);
}

BluetoothAddress BluetoothAddress::fromBytesLsbFirst(const ByteArray& bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) value = value << 8 | bytes[i];
    return BluetoothAddress(value);
}

BluetoothAddress::ByteArray BluetoothAddress::bytesMsbFirst() const {
    ByteArray bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(value_ >> (8 * (bytes.size() - 1 - i)));
    }
    return bytes;
}

BluetoothAddress::ByteArray BluetoothAddress::bytesLsbFirst() const {
    ByteArray bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(value_ >> (8 * i));
    return bytes;
}

std::string BluetoothAddress::toString() const {
    return format(value_, false);
}

std::string BluetoothAddress::toUpperString() const {
    return format(value_, true);
}

}  // namespace qb::platform
