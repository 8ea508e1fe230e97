#include "calib/locator.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "base/bytes.h"
#include "base/jpeg_segments.h"
#include "base/mp4_boxes.h"
#include "walkers.h"

namespace spherolux {
namespace {

// A span's size is a signed 32-bit count.
constexpr int64_t kMaxSpanSize = std::numeric_limits<int32_t>::max();

}  // namespace

namespace calib_internal {
namespace {

constexpr uint32_t kMoov = FourCC("moov");
constexpr uint32_t kTrak = FourCC("trak");
constexpr uint32_t kUdta = FourCC("udta");
constexpr uint32_t kUdat = FourCC("udat");
constexpr uint32_t kUuid = FourCC("uuid");

void ClearSpan(PayloadSpan* span, int32_t size) {
  span->bytes.clear();
  span->bytes.shrink_to_fit();
  span->size = size;
}

// Copies n bytes from the current position into the span, replacing what it held. The
// caller has checked that the bytes lie inside the source.
int TakeSpan(ByteSource& src, int64_t n, PayloadSpan* span) {
  if (n > kMaxSpanSize) return kWalkNoMemory;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(n));
  } catch (const std::bad_alloc&) {
    return kWalkNoMemory;
  }
  if (!src.Read(bytes.data(), bytes.size())) return kWalkShort;
  span->bytes = std::move(bytes);
  span->size = static_cast<int32_t>(n);
  return kWalkOk;
}

int WalkCode(ReadStatus status) {
  switch (status) {
    case ReadStatus::kOk:
      return kWalkOk;
    case ReadStatus::kMalformed:
      return kWalkMalformed;
    case ReadStatus::kEnd:  // the file ends without a find
    case ReadStatus::kShort:
      break;
  }
  return kWalkShort;
}

// ISO/IEC 14496-12, 4.2. Only the boxes that can lead to the metadata are entered; every
// other box, media data included, is stepped over by its size without reading its body.
class Mp4Walk {
 public:
  Mp4Walk(ByteSource& src, Mp4Mode mode, PayloadSpan* span) : src_(src), mode_(mode), span_(span) {}

  // The top-level boxes, until one leaves a body. Running out of boxes is a short file.
  int Run() {
    Mp4BoxReader boxes(src_, 0, src_.Size());
    for (;;) {
      Mp4Box box;
      const ReadStatus status = boxes.Next(&box);
      if (status != ReadStatus::kOk) return WalkCode(status);
      if (box.cut) return kWalkShort;  // a box that ends beyond the file
      if (int rc = HandleBox(box, 0)) return rc;
      if (span_->size > 0) return kWalkOk;
    }
  }

 private:
  int HandleBox(const Mp4Box& box, int depth) {
    if ((box.type == kUdta || box.type == kUdat) && mode_ == Mp4Mode::kUdta) {
      if (!src_.Seek(box.body())) return kWalkShort;
      return TakeSpan(src_, box.body_size(), span_);
    }
    if (box.type == kUuid && mode_ == Mp4Mode::kSphericalUuid) {
      if (box.body_size() < 16) return kWalkOk;
      uint8_t uuid[16];
      if (!src_.Seek(box.body()) || !src_.Read(uuid, 16)) return kWalkShort;
      if (std::memcmp(uuid, kSphericalV1Uuid.data(), 16) != 0) return kWalkOk;
      return TakeSpan(src_, box.body_size() - 16, span_);
    }
    if (box.type == kMoov || box.type == kTrak) {
      if (depth >= kMaxMp4BoxDepth) return kWalkMalformed;
      return WalkChildren(box, depth + 1);
    }
    return kWalkOk;
  }

  // Children of moov or trak, in order, each cut to its parent's end; trailing bytes too few
  // for a box header are passed over. The walk of a parent ends after its udta.
  int WalkChildren(const Mp4Box& parent, int depth) {
    Mp4BoxReader children(src_, parent.body(), parent.end());
    for (;;) {
      Mp4Box child;
      const ReadStatus status = children.Next(&child);
      if (status == ReadStatus::kEnd) return kWalkOk;
      if (status != ReadStatus::kOk) return WalkCode(status);
      // Inside a box, size 0 (to the end) and 1 (a 64-bit size) are not followed, and 2 to
      // 7 cannot hold the header itself.
      if (child.size_field < 8) return kWalkMalformed;
      if (int rc = HandleBox(child, depth)) return rc;
      if (child.type == kUdta || child.type == kUdat) return kWalkOk;
    }
  }

  ByteSource& src_;
  Mp4Mode mode_;
  PayloadSpan* span_;
};

}  // namespace

int WalkMp4(ByteSource& src, Mp4Mode mode, PayloadSpan* span) {
  ClearSpan(span, 0);
  const int rc = Mp4Walk(src, mode, span).Run();
  if (rc != kWalkOk) ClearSpan(span, mode == Mp4Mode::kUdta ? -1 : 0);
  return rc;
}

// T.81, B.1.1. The calibration's Exif segment is the first after SOI, or the second after a
// JFIF APP0; markers are read as two bytes, without fill bytes.
int WalkJpegExif(ByteSource& src, PayloadSpan* span) {
  ClearSpan(span, 0);
  int rc = [&]() -> int {
    JpegSegmentReader segments(src, {.min_ff = 1, .max_ff = 1});
    if (int code = WalkCode(segments.ReadSoi())) return code;
    JpegSegment segment;
    if (int code = WalkCode(segments.Next(&segment))) return code;
    if (segment.marker == 0xE0) {
      if (segment.length <= 2) return kWalkMalformed;
      if (int code = WalkCode(segments.Next(&segment))) return code;
    }
    if (segment.marker != 0xE1 || segment.length < 6) return kWalkMalformed;
    uint8_t signature[4];
    if (!src.Read(signature, 4)) return kWalkShort;
    if (std::memcmp(signature, "Exif", 4) != 0) return kWalkMalformed;
    return TakeSpan(src, segment.data_size() - 4, span);
  }();
  if (rc != kWalkOk) ClearSpan(span, -1);
  return rc;
}

}  // namespace calib_internal

namespace {

// Runs `walk` over the file at `path`. A file that cannot be opened leaves the span empty
// with `failed_size` (-1 for the walks that report errors in the span, else 0).
template <typename Walk>
int WalkFile(const char* path, PayloadSpan* span, int32_t failed_size, const Walk& walk) {
  if (!span) return kWalkCannotOpen;
  FileSource src(path);
  if (!src.ok()) {
    span->bytes.clear();
    span->size = failed_size;
    return kWalkCannotOpen;
  }
  return walk(src);
}

// RFC 4648, table 1.
bool IsBase64Byte(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

int WalkMp4Udta(const char* path, PayloadSpan* span) {
  return WalkFile(path, span, -1, [span](ByteSource& src) {
    return calib_internal::WalkMp4(src, calib_internal::Mp4Mode::kUdta, span);
  });
}

int WalkMp4SphericalUuid(const char* path, PayloadSpan* span) {
  return WalkFile(path, span, 0, [span](ByteSource& src) {
    return calib_internal::WalkMp4(src, calib_internal::Mp4Mode::kSphericalUuid, span);
  });
}

int WalkJpegExif(const char* path, PayloadSpan* span) {
  return WalkFile(path, span, -1, [span](ByteSource& src) { return calib_internal::WalkJpegExif(src, span); });
}

WholeFileResult ReadWholeFile(const char* path, PayloadSpan* span) {
  if (!span) return WholeFileResult::kCannotOpen;
  span->bytes.clear();
  span->size = 0;
  FileSource src(path);
  if (!src.ok()) return WholeFileResult::kCannotOpen;
  if (src.Size() == 0) return WholeFileResult::kEmpty;
  if (calib_internal::TakeSpan(src, src.Size(), span) != kWalkOk) {
    span->bytes.clear();
    span->size = 0;
    return WholeFileResult::kCannotOpen;
  }
  return WholeFileResult::kOk;
}

WholeFileResult ReadBlockFromWholeFile(const char* path, PayloadSpan* span) {
  if (!span) return WholeFileResult::kCannotOpen;
  span->bytes.clear();
  span->size = 0;
  FileSource src(path);
  if (!src.ok()) return WholeFileResult::kCannotOpen;
  if (src.Size() == 0) return WholeFileResult::kEmpty;

  // Pieces overlap by the sync word's length less one, so a word across two pieces is seen.
  constexpr size_t kPiece = size_t{1} << 20;
  std::vector<uint8_t> piece;
  int64_t found = -1;
  for (int64_t pos = 0; pos < src.Size() && found < 0;) {
    const auto n = static_cast<size_t>(std::min<int64_t>(int64_t(kPiece), src.Size() - pos));
    piece.resize(n);
    if (!src.Seek(pos) || !src.Read(piece.data(), n)) return WholeFileResult::kCannotOpen;
    size_t at = 0;
    if (FindSyncWord(piece.data(), n, &at, nullptr)) found = pos + int64_t(at);
    if (pos + int64_t(n) >= src.Size()) break;
    pos += int64_t(n - (kSyncWordSize - 1));
  }
  if (found < 0) return WholeFileResult::kOk;

  std::vector<uint8_t> block;
  if (!src.Seek(found)) return WholeFileResult::kCannotOpen;
  for (int64_t pos = found; pos < src.Size();) {
    const auto n = static_cast<size_t>(std::min<int64_t>(int64_t(kPiece), src.Size() - pos));
    const size_t start = block.size();
    try {
      block.resize(start + n);
    } catch (const std::bad_alloc&) {
      return WholeFileResult::kCannotOpen;
    }
    if (!src.Read(block.data() + start, n)) return WholeFileResult::kCannotOpen;
    pos += int64_t(n);
    // Past the text start, the block ends at the first byte outside the base64 alphabet.
    size_t i = std::max(start, kBlockTextOffset);
    while (i < block.size() && IsBase64Byte(block[i])) ++i;
    if (i < block.size()) {
      block.resize(i);
      break;
    }
  }
  if (block.size() > size_t(kMaxSpanSize)) return WholeFileResult::kCannotOpen;
  span->size = static_cast<int32_t>(block.size());
  span->bytes = std::move(block);
  return WholeFileResult::kOk;
}

bool FindSyncWord(const uint8_t* payload, size_t size, size_t* offset, size_t* leftsize) {
  if (!payload || size < kSyncWordSize) return false;
  const uint8_t* const end = payload + size - kSyncWordSize + 1;  // last possible start + 1
  for (const uint8_t* p = payload; p < end;) {
    p = static_cast<const uint8_t*>(std::memchr(p, kSyncWord[0], static_cast<size_t>(end - p)));
    if (!p) return false;
    if (std::memcmp(p, kSyncWord, kSyncWordSize) == 0) {
      const auto at = static_cast<size_t>(p - payload);
      if (offset) *offset = at;
      if (leftsize) *leftsize = size - at;
      return true;
    }
    ++p;
  }
  return false;
}

}  // namespace spherolux
