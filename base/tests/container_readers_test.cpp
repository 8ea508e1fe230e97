// The bounded MP4 box and JPEG segment readers on hand-made bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "base/byte_source.h"
#include "base/jpeg_segments.h"
#include "base/mp4_boxes.h"

namespace spherolux {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A box header with the given 32-bit size field and type, then `body` zero bytes.
Bytes Box(uint32_t size_field, const char (&type)[5], size_t body) {
  Bytes out(8 + body, 0);
  StoreBE32(out.data(), size_field);
  StoreBE32(out.data() + 4, FourCC(type));
  return out;
}

TEST(Mp4BoxReader, SizesOfEveryFormAreBoundedByTheRange) {
  Bytes wide = Box(1, "mdat", 8 + 4);
  StoreBE64(wide.data() + 8, 20);
  const Bytes file = Cat({Box(16, "ftyp", 8), wide, Box(100, "moov", 4), Box(0, "free", 0)});
  MemorySource src(file);
  Mp4BoxReader boxes(src, 0, src.Size());
  Mp4Box box;
  ASSERT_EQ(boxes.Next(&box), ReadStatus::kOk);
  EXPECT_EQ(box.type, FourCC("ftyp"));
  EXPECT_EQ(box.body(), 8);
  ASSERT_EQ(boxes.Next(&box), ReadStatus::kOk);  // a 64-bit size
  EXPECT_EQ(box.type, FourCC("mdat"));
  EXPECT_EQ(box.header_size, 16);
  EXPECT_EQ(box.size, 20u);
  EXPECT_FALSE(box.cut);
  // A size reaching past the range is cut to it and says so; nothing after it is read.
  ASSERT_EQ(boxes.Next(&box), ReadStatus::kOk);
  EXPECT_EQ(box.type, FourCC("moov"));
  EXPECT_TRUE(box.cut);
  EXPECT_EQ(box.end(), src.Size());
  EXPECT_EQ(boxes.Next(&box), ReadStatus::kEnd);

  // Size 0 runs to the end of the range; a range can be the body of a box.
  const Bytes free_to_end = Box(0, "free", 3);
  MemorySource last(free_to_end);
  Mp4BoxReader tail(last, 0, 11);
  ASSERT_EQ(tail.Next(&box), ReadStatus::kOk);
  EXPECT_EQ(box.size, 11u);
  EXPECT_EQ(box.size_field, 0u);
  EXPECT_EQ(tail.Next(&box), ReadStatus::kEnd);
}

TEST(Mp4BoxReader, TrailingBytesSmallSizesAndShortSources) {
  const Bytes file = Cat({Box(8, "free", 0), Bytes{1, 2, 3}});
  MemorySource src(file);
  Mp4BoxReader boxes(src, 0, src.Size());
  Mp4Box box;
  ASSERT_EQ(boxes.Next(&box), ReadStatus::kOk);
  EXPECT_EQ(boxes.Next(&box), ReadStatus::kEnd);
  EXPECT_EQ(boxes.trailing(), 3);

  const Bytes too_small = Box(7, "free", 0);
  MemorySource tiny(too_small);
  EXPECT_EQ(Mp4BoxReader(tiny, 0, tiny.Size()).Next(&box), ReadStatus::kMalformed);
  Bytes small_wide = Box(1, "mdat", 8);
  StoreBE64(small_wide.data() + 8, 15);  // smaller than its own 16-byte header
  MemorySource wide(small_wide);
  EXPECT_EQ(Mp4BoxReader(wide, 0, wide.Size()).Next(&box), ReadStatus::kMalformed);
  // A 64-bit size announced in the last 12 bytes cannot be read.
  const Bytes wide_header_cut = Box(1, "mdat", 4);
  MemorySource cut_wide(wide_header_cut);
  EXPECT_EQ(Mp4BoxReader(cut_wide, 0, cut_wide.Size()).Next(&box), ReadStatus::kShort);
  // A range claimed beyond the source ends with the source.
  const Bytes one_box = Box(8, "free", 0);
  MemorySource short_src(one_box);
  Mp4BoxReader beyond(short_src, 0, 1 << 20);
  ASSERT_EQ(beyond.Next(&box), ReadStatus::kOk);
  EXPECT_EQ(beyond.Next(&box), ReadStatus::kEnd);
}

TEST(JpegSegmentReader, MarkersLengthsAndFillBytesFollowTheRules) {
  const Bytes file = {0xFF, 0xD8,                          // SOI
                      0xFF, 0xFF, 0xFF, 0xE0, 0, 4, 1, 2,  // APP0 after two fill bytes
                      0xFF, 0xD0,                          // RST0, no length
                      0xFF, 0xDB, 0,    2,                 // DQT without data
                      0xFF, 0xE1, 0,    9,    1, 2};       // APP1 whose data run past the end
  MemorySource src(file);
  JpegSegmentReader segments(src);
  JpegSegment s;
  ASSERT_EQ(segments.ReadSoi(), ReadStatus::kOk);
  ASSERT_EQ(segments.Next(&s), ReadStatus::kOk);
  EXPECT_EQ(s.marker, 0xE0);
  EXPECT_EQ(s.data, 8);
  EXPECT_EQ(s.data_size(), 2);
  ASSERT_EQ(segments.Next(&s), ReadStatus::kOk);
  EXPECT_EQ(s.marker, 0xD0);
  EXPECT_FALSE(s.has_length);
  ASSERT_EQ(segments.Next(&s), ReadStatus::kOk);
  EXPECT_EQ(s.marker, 0xDB);
  EXPECT_EQ(s.data_size(), 0);
  EXPECT_EQ(segments.Next(&s), ReadStatus::kShort);

  // Two fill bytes are too many where a marker is exactly one 0xFF and its code.
  JpegSegmentReader strict(src, {.min_ff = 1, .max_ff = 1});
  ASSERT_EQ(strict.ReadSoi(), ReadStatus::kOk);
  EXPECT_EQ(strict.Next(&s), ReadStatus::kMalformed);
  const Bytes bare = {0xFF, 0xD8, 0xE1, 0, 2, 0xFF, 0xD0, 0, 1};
  MemorySource bare_src(bare);
  JpegSegmentReader lenient(bare_src, {.min_ff = 0, .max_ff = 6, .standalone_markers = false});
  ASSERT_EQ(lenient.ReadSoi(), ReadStatus::kOk);
  ASSERT_EQ(lenient.Next(&s), ReadStatus::kOk);  // a code without 0xFF
  EXPECT_EQ(s.marker, 0xE1);
  EXPECT_EQ(lenient.Next(&s), ReadStatus::kMalformed);  // length 1

  const Bytes png = {0x89, 'P', 'N', 'G'};
  MemorySource not_jpeg(png);
  EXPECT_EQ(JpegSegmentReader(not_jpeg).ReadSoi(), ReadStatus::kMalformed);
}

}  // namespace
}  // namespace spherolux
