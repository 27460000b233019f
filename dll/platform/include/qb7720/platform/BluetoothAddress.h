// A 48-bit Bluetooth device address: its text forms and its two byte orders (most significant byte
// first, as people and the libraries' callbacks write it; least significant first, as HCI carries it).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qb::platform {

class BluetoothAddress {
  public:
    using ByteArray = std::array<std::uint8_t, 6>;

    constexpr BluetoothAddress() = default;
    // Only the low 48 bits count.
    explicit constexpr BluetoothAddress(std::uint64_t value) : value_(value & 0xFFFFFFFFFFFFull) {}

    // "c2:a1:b3:d4:e5:f6" in either case; nothing unless exactly six colon-separated hex pairs.
    static std::optional<BluetoothAddress> parse(std::string_view text);
    static BluetoothAddress fromBytesMsbFirst(const ByteArray& bytes);
    static BluetoothAddress fromBytesLsbFirst(const ByteArray& bytes);

    constexpr std::uint64_t value() const { return value_; }
    ByteArray bytesMsbFirst() const;
    ByteArray bytesLsbFirst() const;
    std::string toString() const;       // lower case, as BlueZ's and the enumeration's matching need
    std::string toUpperString() const;  // upper case, as the terminal shows it

    friend constexpr bool operator==(BluetoothAddress a, BluetoothAddress b) { return a.value_ == b.value_; }
    friend constexpr bool operator!=(BluetoothAddress a, BluetoothAddress b) { return a.value_ != b.value_; }

  private:
    std::uint64_t value_ = 0;
};

}  // namespace qb::platform
