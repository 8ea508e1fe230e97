// MP4 box headers (ISO/IEC 14496-12, 4.2 "Object structure"), read one after another from a
// range of a byte source, and the constants every MP4 reader shares.
//
// The reader is bounded: it reads only box headers, never past the range, and cuts a box
// whose size reaches beyond the range to the range's end (and says so). A size field of 0
// runs to the end of the range; 1 announces a 64-bit size after the type. Which boxes a caller
// enters, and how deep, is the caller's choice; kMaxMp4BoxDepth bounds the nesting.
//
// One reader per range and thread; the source outlives it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "base/byte_source.h"
#include "base/bytes.h"

namespace spherolux {

// Deepest nesting of boxes a reader enters; deeper boxes are kept or refused whole.
constexpr int kMaxMp4BoxDepth = 16;

// Extended type of the Spherical Video V1 box ('uuid'), ffcc8263-f855-4a93-8814-587a02521fdd.
inline constexpr std::array<uint8_t, 16> kSphericalV1Uuid = {0xff, 0xcc, 0x82, 0x63, 0xf8, 0x55, 0x4a, 0x93,
                                                             0x88, 0x14, 0x58, 0x7a, 0x02, 0x52, 0x1f, 0xdd};

struct Mp4Box {
  uint32_t type = 0;        // four-character code, big-endian (FourCC("moov"))
  int64_t start = 0;        // position of the size field
  uint32_t size_field = 0;  // the 32-bit size as stored
  uint64_t size = 0;        // bytes of the whole box, header included, cut to the range
  int header_size = 8;      // 8, or 16 with a 64-bit size (a uuid's extended type is body)
  bool cut = false;         // the stored size reached past the range and was cut to it
  int64_t body() const { return start + header_size; }
  int64_t body_size() const { return static_cast<int64_t>(size) - header_size; }
  int64_t end() const { return start + static_cast<int64_t>(size); }
};

class Mp4BoxReader {
 public:
  // The boxes of [begin, end) of `src`; an end beyond the source is taken as the source's end.
  Mp4BoxReader(ByteSource& src, int64_t begin, int64_t end)
      : src_(src), next_(begin), end_(std::min(end, src.Size())) {}

  // Reads the next box header; the following call reads the header after this box's end.
  // kEnd when the range is used up (trailing() bytes at its end were too few for a header),
  // kShort when a read fails, kMalformed for a size smaller than its own header.
  ReadStatus Next(Mp4Box* box) {
    if (next_ >= end_) return ReadStatus::kEnd;
    const int64_t left = end_ - next_;
    if (left < 8) return ReadStatus::kEnd;
    uint8_t h[8];
    if (!src_.Seek(next_) || !src_.Read(h, 8)) return ReadStatus::kShort;
    *box = Mp4Box{};
    box->start = next_;
    box->size_field = LoadBE32(h);
    box->type = LoadBE32(h + 4);
    uint64_t size = box->size_field;
    if (box->size_field == 1) {
      if (left < 16) return ReadStatus::kShort;
      uint8_t large[8];
      if (!src_.Read(large, 8)) return ReadStatus::kShort;
      size = LoadBE64(large);
      box->header_size = 16;
    } else if (box->size_field == 0) {
      size = static_cast<uint64_t>(left);
    }
    if (size < static_cast<uint64_t>(box->header_size)) return ReadStatus::kMalformed;
    if (size > static_cast<uint64_t>(left)) {
      size = static_cast<uint64_t>(left);
      box->cut = true;
    }
    box->size = size;
    next_ = box->end();
    return ReadStatus::kOk;
  }

  // Bytes left at the end of the range that cannot hold a box header (after kEnd).
  int64_t trailing() const { return std::max<int64_t>(0, end_ - next_); }

 private:
  ByteSource& src_;
  int64_t next_;
  int64_t end_;
};

}  // namespace spherolux
