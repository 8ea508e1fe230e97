#include "calib/locator.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "base/bytes.h"
#include "walkers.h"

namespace spherolux {
namespace calib_internal {
namespace {

constexpr uint32_t kMoov = FourCC("moov");
constexpr uint32_t kTrak = FourCC("trak");
constexpr uint32_t kUdta = FourCC("udta");
constexpr uint32_t kUdat = FourCC("udat");
constexpr uint32_t kUuid = FourCC("uuid");
constexpr uint32_t kMdat = FourCC("mdat");

// Spherical Video V1 extended type ffcc8263-f855-4a93-8814-587a02521fdd.
constexpr uint8_t kSphericalV1Uuid[16] = {0xff, 0xcc, 0x82, 0x63, 0xf8, 0x55, 0x4a, 0x93,
                                          0x88, 0x14, 0x58, 0x7a, 0x02, 0x52, 0x1f, 0xdd};

constexpr int64_t kMaxSpanSize = std::numeric_limits<int32_t>::max();

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

// ISO/IEC 14496-12, 4.2: a box is a 32-bit size and a four-character type, optionally
// followed by a 64-bit size. Only the boxes that can lead to the metadata are entered.
class Mp4Walk {
 public:
  Mp4Walk(ByteSource& src, Mp4Mode mode, PayloadSpan* span) : src_(src), mode_(mode), span_(span) {}

  int Run() {
    const int64_t file_size = src_.Size();
    int64_t pos = 0;
    while (pos < file_size) {
      uint8_t h[8];
      if (!src_.Seek(pos) || !src_.Read(h, 8)) return kWalkShort;
      const uint32_t size32 = LoadBE32(h);
      const uint32_t type = LoadBE32(h + 4);
      const uint64_t left = static_cast<uint64_t>(file_size - pos);
      uint64_t size = size32;
      int header = 8;
      if (size32 == 1) {
        uint8_t large[8];
        if (!src_.Read(large, 8)) return kWalkShort;
        size = LoadBE64(large);
        header = 16;
        if (size < 16) return kWalkMalformed;
        if (type == kMdat) {
          // Media data is never entered: step over it without reading its body.
          if (size > left) return kWalkShort;
          pos += static_cast<int64_t>(size);
          continue;
        }
      } else if (size32 == 0) {
        size = left;  // the last box, running to the end of the file
      } else if (size32 < 8) {
        return kWalkMalformed;
      }
      if (int rc = HandleBox(type, pos, size, header, 0)) return rc;
      if (span_->size > 0) return kWalkOk;
      pos += static_cast<int64_t>(size);
    }
    return kWalkShort;
  }

 private:
  // Handles the box of `type` starting at `start`, `size` bytes long (header included).
  int HandleBox(uint32_t type, int64_t start, uint64_t size, int header, int depth) {
    const uint64_t file_size = static_cast<uint64_t>(src_.Size());
    // Checked before anything of the body is read or allocated.
    if (size > file_size - static_cast<uint64_t>(start)) return kWalkShort;
    const int64_t body_start = start + header;
    const auto body_size = static_cast<int64_t>(size) - header;
    if ((type == kUdta || type == kUdat) && mode_ == Mp4Mode::kUdta) {
      if (!src_.Seek(body_start)) return kWalkShort;
      return TakeSpan(src_, body_size, span_);
    }
    if (type == kUuid && mode_ == Mp4Mode::kSphericalUuid) {
      if (body_size < 16) return kWalkOk;
      uint8_t uuid[16];
      if (!src_.Seek(body_start) || !src_.Read(uuid, 16)) return kWalkShort;
      if (std::memcmp(uuid, kSphericalV1Uuid, 16) != 0) return kWalkOk;
      return TakeSpan(src_, body_size - 16, span_);
    }
    if (type == kMoov || type == kTrak) {
      if (depth >= kMaxBoxNesting) return kWalkMalformed;
      return WalkChildren(start, static_cast<int64_t>(size), header, depth + 1);
    }
    return kWalkOk;
  }

  // Children of moov or trak, in order. A child reaching past its parent is clamped to it.
  int WalkChildren(int64_t parent_start, int64_t parent_size, int header, int depth) {
    int64_t off = header;
    while (off < parent_size) {
      const int64_t left = parent_size - off;
      if (left < 8) break;  // trailing bytes too short to hold a box header
      uint8_t h[8];
      if (!src_.Seek(parent_start + off) || !src_.Read(h, 8)) return kWalkShort;
      const uint32_t size32 = LoadBE32(h);
      const uint32_t type = LoadBE32(h + 4);
      // Size 0 is only meaningful at the top level; 1..7 cannot hold the header itself.
      if (size32 < 8) return kWalkMalformed;
      const int64_t size = std::min<int64_t>(size32, left);
      if (int rc = HandleBox(type, parent_start + off, static_cast<uint64_t>(size), 8, depth)) return rc;
      if (type == kUdta || type == kUdat) break;
      off += size;
    }
    return kWalkOk;
  }

  ByteSource& src_;
  Mp4Mode mode_;
  PayloadSpan* span_;
};

uint16_t Be16(const uint8_t* p) { return LoadBE16(p); }

}  // namespace

int WalkMp4(ByteSource& src, Mp4Mode mode, PayloadSpan* span) {
  ClearSpan(span, 0);
  const int rc = Mp4Walk(src, mode, span).Run();
  if (rc != kWalkOk) ClearSpan(span, mode == Mp4Mode::kUdta ? -1 : 0);
  return rc;
}

// T.81, B.1.1: markers are 0xFF followed by a code; APPn segments carry a 16-bit big-endian
// length that counts itself.
int WalkJpegExif(ByteSource& src, PayloadSpan* span) {
  ClearSpan(span, 0);
  int rc = [&]() -> int {
    uint8_t b[4];
    if (!src.Read(b, 2)) return kWalkShort;
    if (Be16(b) != 0xFFD8) return kWalkMalformed;
    if (!src.Read(b, 2)) return kWalkShort;
    if (Be16(b) == 0xFFE0) {
      if (!src.Read(b, 2)) return kWalkShort;
      const uint16_t length = Be16(b);
      if (length <= 2) return kWalkMalformed;
      if (!src.Seek(src.Position() + length - 2) || !src.Read(b, 2)) return kWalkShort;
    }
    if (Be16(b) != 0xFFE1) return kWalkMalformed;
    if (!src.Read(b, 2)) return kWalkShort;
    const uint16_t length = Be16(b);
    if (!src.Read(b, 4)) return kWalkShort;
    if (std::memcmp(b, "Exif", 4) != 0 || length < 6) return kWalkMalformed;
    const int64_t n = length - 6;
    if (n > src.Size() - src.Position()) return kWalkShort;
    return TakeSpan(src, n, span);
  }();
  if (rc != kWalkOk) ClearSpan(span, -1);
  return rc;
}

}  // namespace calib_internal

namespace {

constexpr int64_t kMaxSpanSizeForBlock = std::numeric_limits<int32_t>::max();

// RFC 4648, table 1.
bool IsBase64Byte(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

using calib_internal::FileSource;

int WalkMp4Udta(const char* path, PayloadSpan* span) {
  if (!span) return kWalkCannotOpen;
  FileSource src(path);
  if (!src.ok()) {
    span->bytes.clear();
    span->size = -1;
    return kWalkCannotOpen;
  }
  return calib_internal::WalkMp4(src, calib_internal::Mp4Mode::kUdta, span);
}

int WalkMp4SphericalUuid(const char* path, PayloadSpan* span) {
  if (!span) return kWalkCannotOpen;
  FileSource src(path);
  if (!src.ok()) {
    span->bytes.clear();
    span->size = 0;
    return kWalkCannotOpen;
  }
  return calib_internal::WalkMp4(src, calib_internal::Mp4Mode::kSphericalUuid, span);
}

int WalkJpegExif(const char* path, PayloadSpan* span) {
  if (!span) return kWalkCannotOpen;
  FileSource src(path);
  if (!src.ok()) {
    span->bytes.clear();
    span->size = -1;
    return kWalkCannotOpen;
  }
  return calib_internal::WalkJpegExif(src, span);
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
  calib_internal::FileSource src(path);
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
  if (block.size() > size_t(kMaxSpanSizeForBlock)) return WholeFileResult::kCannotOpen;
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
