// Little-endian readers and writers over byte buffers, shared by the HCI, L2CAP and ATT codecs. Reads
// are bounds-checked: a short buffer makes the reader fail, never read past the end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qb7720/protocol/Bytes.h"

namespace qb::hci {

using protocol::ByteView;
using protocol::Bytes;

class Reader {
  public:
    explicit Reader(ByteView bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    std::size_t remaining() const { return ok_ ? bytes_.size() - at_ : 0; }

    std::uint8_t u8() {
        if (!need(1)) return 0;
        return bytes_[at_++];
    }
    std::uint16_t u16() {
        if (!need(2)) return 0;
        const auto v = static_cast<std::uint16_t>(bytes_[at_] | bytes_[at_ + 1] << 8);
        at_ += 2;
        return v;
    }
    ByteView take(std::size_t n) {
        if (!need(n)) return {};
        const ByteView v{bytes_.data() + at_, n};
        at_ += n;
        return v;
    }
    ByteView rest() { return take(remaining()); }

  private:
    bool need(std::size_t n) {
        if (!ok_ || bytes_.size() - at_ < n) ok_ = false;
        return ok_;
    }
    ByteView bytes_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

class Writer {
  public:
    Writer& u8(std::uint8_t v) {
        bytes_.push_back(v);
        return *this;
    }
    Writer& u16(std::uint16_t v) {
        bytes_.push_back(static_cast<std::uint8_t>(v & 0xFF));
        bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
        return *this;
    }
    Writer& bytes(ByteView v) {
        bytes_.insert(bytes_.end(), v.begin(), v.end());
        return *this;
    }
    std::size_t size() const { return bytes_.size(); }
    Bytes take() { return std::move(bytes_); }

  private:
    Bytes bytes_;
};

}  // namespace qb::hci
