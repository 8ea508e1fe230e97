// Bounds-checked big-endian reads from a byte span, for box bodies and side-file records.
#pragma once

#include <cstdint>
#include <span>

#include "base/bytes.h"

namespace spherolux::mp4 {

// Reads past the end return zeros, move the position to the end and set `bad`; callers
// read a whole structure, then check `bad` once.
class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : b_(bytes) {}
  bool Has(size_t n) const { return n <= b_.size() - pos_; }
  size_t left() const { return b_.size() - pos_; }
  std::span<const uint8_t> Rest() const { return b_.subspan(pos_); }
  uint8_t U8() { return Take(1) ? b_[pos_ - 1] : 0; }
  uint16_t U16() { return Take(2) ? LoadBE16(b_.data() + pos_ - 2) : 0; }
  uint32_t U32() { return Take(4) ? LoadBE32(b_.data() + pos_ - 4) : 0; }
  uint64_t U64() { return Take(8) ? LoadBE64(b_.data() + pos_ - 8) : 0; }
  void Skip(size_t n) { Take(n); }
  // The next n bytes (empty, and `bad`, when fewer are left).
  std::span<const uint8_t> Bytes(size_t n) { return Take(n) ? b_.subspan(pos_ - n, n) : std::span<const uint8_t>(); }
  bool bad = false;

 private:
  bool Take(size_t n) {
    if (bad || !Has(n)) {
      bad = true;
      pos_ = b_.size();
      return false;
    }
    pos_ += n;
    return true;
  }
  std::span<const uint8_t> b_;
  size_t pos_ = 0;
};

}  // namespace spherolux::mp4
