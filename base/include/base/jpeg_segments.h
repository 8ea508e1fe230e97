// JPEG marker segments (ITU-T T.81, B.1.1), read one after another from a byte source.
//
// The reader is bounded: it never reads past the source, never trusts a length that reaches
// beyond the end, and takes at most the number of 0xFF bytes its rules allow before a marker
// code. It reads only markers and length fields; what a caller does with a segment's data
// (read it, skip it, stop) is the caller's choice. It does not follow entropy-coded data: a
// caller that meets SOS (0xDA) stops there.
//
// One reader per source and thread; the source outlives it.
#pragma once

#include <cstdint>
#include <limits>

#include "base/byte_source.h"
#include "base/bytes.h"

namespace spherolux {

// How markers are spelled in the files a caller accepts.
struct JpegMarkerRules {
  // 0xFF bytes before the marker code: the marker's own first byte, then fill bytes
  // (T.81, B.1.1.2). More than max_ff is malformed, and so are fewer than min_ff.
  int min_ff = 1;
  int max_ff = std::numeric_limits<int>::max();
  // TEM, RSTn, SOI and EOI are markers without a length field (T.81, B.1.1.3). When false,
  // every marker is taken to carry one.
  bool standalone_markers = true;
};

struct JpegSegment {
  uint8_t marker = 0;       // the marker code: 0xE1 for APP1, 0xC0 for SOF0, 0xDA for SOS, ...
  bool has_length = false;  // false for a standalone marker
  uint16_t length = 0;      // the length field, counting its own two bytes (>= 2)
  int64_t data = 0;         // position of the first data byte, after the length field
  int64_t data_size() const { return has_length ? length - 2 : 0; }
};

class JpegSegmentReader {
 public:
  explicit JpegSegmentReader(ByteSource& src, JpegMarkerRules rules = {}) : src_(src), rules_(rules) {}

  // Reads the SOI marker (0xFF 0xD8) that starts the source: kMalformed when it is not there.
  ReadStatus ReadSoi() {
    uint8_t b[2];
    if (!src_.Seek(0) || !src_.Read(b, 2)) return ReadStatus::kShort;
    if (b[0] != 0xFF || b[1] != 0xD8) return ReadStatus::kMalformed;
    next_ = 2;
    return ReadStatus::kOk;
  }

  // Reads the marker after the previous segment's data, and its length field. On kOk the
  // source is positioned at the segment's data, which lies wholly inside the source. kShort
  // when the source ends inside a marker, a length or the data; kMalformed for a byte where a
  // marker belongs, more or fewer 0xFF bytes than the rules allow, or a length below 2.
  ReadStatus Next(JpegSegment* segment) {
    if (!src_.Seek(next_)) return ReadStatus::kShort;
    uint8_t code = 0xFF;
    int ff = 0;
    for (;;) {
      if (!src_.Read(&code, 1)) return ReadStatus::kShort;
      if (code != 0xFF) break;
      if (++ff > rules_.max_ff) return ReadStatus::kMalformed;
    }
    if (ff < rules_.min_ff) return ReadStatus::kMalformed;
    *segment = JpegSegment{};
    segment->marker = code;
    segment->data = src_.Position();
    if (rules_.standalone_markers && IsStandalone(code)) {
      next_ = segment->data;
      return ReadStatus::kOk;
    }
    uint8_t length[2];
    if (!src_.Read(length, 2)) return ReadStatus::kShort;
    segment->has_length = true;
    segment->length = LoadBE16(length);
    segment->data += 2;
    if (segment->length < 2) return ReadStatus::kMalformed;
    if (segment->data_size() > src_.Size() - segment->data) return ReadStatus::kShort;
    next_ = segment->data + segment->data_size();
    return ReadStatus::kOk;
  }

  // TEM, RSTn, SOI, EOI.
  static bool IsStandalone(uint8_t code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD9); }

 private:
  ByteSource& src_;
  JpegMarkerRules rules_;
  int64_t next_ = 0;
};

}  // namespace spherolux
