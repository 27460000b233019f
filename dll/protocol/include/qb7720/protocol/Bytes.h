#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qb::protocol {

using Bytes = std::vector<std::uint8_t>;

// A read-only view of bytes someone else owns; a null pointer with size 0 is an empty view.
class ByteView {
  public:
    constexpr ByteView() = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size)
        : data_(size ? data : nullptr), size_(data ? size : 0) {}
    ByteView(const Bytes& bytes) : ByteView(bytes.data(), bytes.size()) {}
    template <std::size_t N>
    constexpr ByteView(const std::array<std::uint8_t, N>& bytes) : ByteView(bytes.data(), N) {}

    constexpr const std::uint8_t* data() const { return data_; }
    constexpr std::size_t size() const { return size_; }
    constexpr bool empty() const { return size_ == 0; }
    constexpr const std::uint8_t* begin() const { return data_; }
    constexpr const std::uint8_t* end() const { return data_ + size_; }
    constexpr std::uint8_t operator[](std::size_t i) const { return data_[i]; }
    // Bytes beyond the end read as zero, like the rest of a cleared reply buffer.
    constexpr std::uint8_t at_or_zero(std::size_t i) const { return i < size_ ? data_[i] : 0; }
    constexpr ByteView first(std::size_t n) const { return {data_, n < size_ ? n : size_}; }
    constexpr ByteView drop(std::size_t n) const {
        return n < size_ ? ByteView{data_ + n, size_ - n} : ByteView{};
    }

  private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace qb::protocol
