#include "BridgeAdvert.h"

#include <cstdio>
#include <cstring>

namespace qb::devicelib {

namespace {

constexpr char kBridgeMark[] = "QB772";
constexpr std::size_t kMarkOffset = 2;
constexpr std::size_t kMarkLength = sizeof kBridgeMark - 1;
constexpr std::size_t kMinimumLength = 8;  // the mark and the tag byte after it

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

const platform::BluetoothLEManufacturerData* findBridgeData(
    const std::vector<platform::BluetoothLEManufacturerData>& sections) {
    for (const auto& section : sections) {
        if (section.companyId != kBridgeCompanyId || section.data.size() < kMinimumLength) continue;
        if (std::memcmp(section.data.data() + kMarkOffset, kBridgeMark, kMarkLength) == 0) return &section;
    }
    return nullptr;
}

std::string formatAddress(std::uint64_t address) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", unsigned(address >> 40) & 0xFF,
                  unsigned(address >> 32) & 0xFF, unsigned(address >> 24) & 0xFF,
                  unsigned(address >> 16) & 0xFF, unsigned(address >> 8) & 0xFF, unsigned(address) & 0xFF);
    return text;
}

std::optional<std::uint64_t> parseAddress(std::string_view text) {
    if (text.size() != 17) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != ':') return std::nullopt;
        int hi = hexDigit(text[at]);
        int lo = hexDigit(text[at + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        value = value << 8 | static_cast<std::uint64_t>(hi << 4 | lo);
    }
    return value;
}

}  // namespace qb::devicelib
