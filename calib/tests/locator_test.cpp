#include "calib/locator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "test_files.h"
#include "walkers.h"

namespace spherolux {
namespace {

using calib_internal::Mp4Mode;
using camgen::Box;
using camgen::Box64;
using testing::Bytes;
using testing::Cat;
using testing::ScratchDir;
using testing::Segment;
using testing::Text;

int WalkUdta(const Bytes& file, PayloadSpan* span) {
  MemorySource src(file);
  return calib_internal::WalkMp4(src, Mp4Mode::kUdta, span);
}

int WalkUuid(const Bytes& file, PayloadSpan* span) {
  MemorySource src(file);
  return calib_internal::WalkMp4(src, Mp4Mode::kSphericalUuid, span);
}

int WalkExif(const Bytes& file, PayloadSpan* span) {
  MemorySource src(file);
  return calib_internal::WalkJpegExif(src, span);
}

// A box header with an arbitrary size field, for sizes the box helpers would not write.
Bytes Header(uint32_t size, const char* type) {
  return {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size),
          uint8_t(type[0]),    uint8_t(type[1]),    uint8_t(type[2]),   uint8_t(type[3])};
}

const Bytes kFtyp = Box("ftyp", Text("isom\0\0\0\0isom"));
const Bytes kMeta = Text("metadata with a calibration block");

void ExpectSpan(const PayloadSpan& span, const Bytes& expected) {
  ASSERT_EQ(span.size, int32_t(expected.size()));
  EXPECT_EQ(span.bytes, expected);
}

TEST(Mp4Walk, FindsUdtaInMoovAtTopLevelAndSpelledUdat) {
  PayloadSpan span;
  EXPECT_EQ(WalkUdta(Cat({kFtyp, Box("moov", Cat({Box("mvhd", Bytes(100)), Box("udta", kMeta)}))}), &span), kWalkOk);
  ExpectSpan(span, kMeta);

  EXPECT_EQ(WalkUdta(Cat({kFtyp, Box("moov", Box("mvhd", Bytes(100))), Box("udta", kMeta)}), &span), kWalkOk);
  ExpectSpan(span, kMeta);

  EXPECT_EQ(WalkUdta(Cat({kFtyp, Box("moov", Box("udat", kMeta))}), &span), kWalkOk);
  ExpectSpan(span, kMeta);

  EXPECT_EQ(WalkUdta(Cat({Box("moov", Box("trak", Cat({Box("tkhd", Bytes(84)), Box("udta", kMeta)})))}), &span),
            kWalkOk);
  ExpectSpan(span, kMeta);
}

TEST(Mp4Walk, LaterTrakUdtaReplacesEarlierAndDirectUdtaEndsTheMoov) {
  const Bytes first = Text("first"), second = Text("second"), direct = Text("direct");
  PayloadSpan span;
  EXPECT_EQ(WalkUdta(Box("moov", Cat({Box("trak", Box("udta", first)), Box("trak", Box("udta", second))})), &span),
            kWalkOk);
  ExpectSpan(span, second);

  EXPECT_EQ(WalkUdta(Box("moov",
                         Cat({Box("trak", Box("udta", first)), Box("udta", direct), Box("trak", Box("udta", second))})),
                     &span),
            kWalkOk);
  ExpectSpan(span, direct);

  // The walk of a trak stops at its udta: a second udta in the same trak is not read.
  EXPECT_EQ(WalkUdta(Box("moov", Box("trak", Cat({Box("udta", first), Box("udta", second)}))), &span), kWalkOk);
  ExpectSpan(span, first);

  // The first top-level box that leaves a body ends the walk.
  EXPECT_EQ(WalkUdta(Cat({Box("moov", Box("udta", first)), Box("udta", second)}), &span), kWalkOk);
  ExpectSpan(span, first);
}

TEST(Mp4Walk, LargeMdatBeforeMoovIsSteppedOver) {
  PayloadSpan span;
  EXPECT_EQ(WalkUdta(Cat({kFtyp, Box64("mdat", Bytes(5000, 0xAB)), Box("moov", Box("udta", kMeta))}), &span), kWalkOk);
  ExpectSpan(span, kMeta);

  // A 64-bit mdat reaching past the end stops the walk.
  Bytes past = Box64("mdat", Bytes(64));
  past[15] += 1;
  EXPECT_EQ(WalkUdta(Cat({kFtyp, past, Box("moov", Box("udta", kMeta))}), &span), kWalkShort);
  EXPECT_EQ(span.size, -1);
  EXPECT_TRUE(span.bytes.empty());

  // 64-bit sizes below the 16-byte header cannot advance the walk.
  for (uint8_t large : {0, 8, 15}) {
    Bytes bad = Box64("mdat", {});
    bad[15] = large;
    EXPECT_EQ(WalkUdta(Cat({bad, Box("udta", kMeta)}), &span), kWalkMalformed) << int(large);
    EXPECT_EQ(span.size, -1);
  }
}

TEST(Mp4Walk, BoxesPastTheEndEndWithNoSpanAndNoAllocation) {
  PayloadSpan span;
  // A udta claiming 4 GiB in a file of a few bytes.
  EXPECT_EQ(WalkUdta(Cat({kFtyp, Header(0xFFFFFFFF, "udta"), kMeta}), &span), kWalkShort);
  EXPECT_EQ(span.size, -1);
  EXPECT_TRUE(span.bytes.empty());

  // A moov cut short: its udta lies inside the file, but the moov does not.
  Bytes moov = Box("moov", Box("udta", kMeta));
  moov[3] += 10;
  EXPECT_EQ(WalkUdta(moov, &span), kWalkShort);
  EXPECT_EQ(span.size, -1);

  // No udta at all: the walk runs out.
  EXPECT_EQ(WalkUdta(Cat({kFtyp, Box("moov", Box("mvhd", Bytes(10)))}), &span), kWalkShort);
  EXPECT_EQ(span.size, -1);

  // Truncated header.
  EXPECT_EQ(WalkUdta(Bytes{0, 0, 0, 16, 'f'}, &span), kWalkShort);
  EXPECT_EQ(span.size, -1);
}

TEST(Mp4Walk, OddSizesEndTheWalk) {
  PayloadSpan span;
  // A child of size 0 is malformed.
  EXPECT_EQ(WalkUdta(Box("moov", Cat({Header(0, "free"), Bytes(8), Box("udta", kMeta)})), &span), kWalkMalformed);
  EXPECT_EQ(span.size, -1);
  // Child sizes 1..7 cannot hold their own header.
  for (uint32_t size = 1; size < 8; ++size) {
    EXPECT_EQ(WalkUdta(Box("moov", Cat({Header(size, "free"), Box("udta", kMeta)})), &span), kWalkMalformed) << size;
  }
  // Top-level sizes 2..7 likewise.
  for (uint32_t size = 2; size < 8; ++size) {
    EXPECT_EQ(WalkUdta(Cat({Header(size, "free"), Box("udta", kMeta)}), &span), kWalkMalformed) << size;
  }
  // A top-level box of size 0 runs to the end of the file.
  EXPECT_EQ(WalkUdta(Cat({kFtyp, Header(0, "udta"), kMeta}), &span), kWalkOk);
  ExpectSpan(span, kMeta);
  EXPECT_EQ(WalkUdta(Cat({kFtyp, Header(0, "moov"), Box("udta", kMeta)}), &span), kWalkOk);
  ExpectSpan(span, kMeta);
  // A top-level box of size 1 other than mdat carries a 64-bit size too.
  EXPECT_EQ(WalkUdta(Cat({Box64("free", Bytes(40)), Box64("moov", Box("udta", kMeta))}), &span), kWalkOk);
  ExpectSpan(span, kMeta);
}

TEST(Mp4Walk, ChildrenAreClampedToTheirParent) {
  PayloadSpan span;
  // The udta claims 100 bytes more than its moov holds: its body ends with the moov.
  Bytes udta = Box("udta", kMeta);
  udta[3] += 100;
  EXPECT_EQ(WalkUdta(Cat({Box("moov", udta), Box("free", Bytes(200))}), &span), kWalkOk);
  ExpectSpan(span, kMeta);

  // Trailing bytes too short for a child header are ignored.
  EXPECT_EQ(WalkUdta(Cat({Box("moov", Cat({Box("mvhd", Bytes(4)), Bytes(4)})), Box("udta", kMeta)}), &span), kWalkOk);
  ExpectSpan(span, kMeta);
}

TEST(Mp4Walk, EndlessNestingEndsWithACode) {
  Bytes nested = Box("udta", kMeta);
  for (int i = 0; i < 100; ++i) nested = Box(i % 2 ? "moov" : "trak", nested);
  PayloadSpan span;
  EXPECT_EQ(WalkUdta(nested, &span), kWalkMalformed);
  EXPECT_EQ(span.size, -1);

  // Nesting within the cap is walked.
  Bytes shallow = Box("udta", kMeta);
  for (int i = 0; i < 6; ++i) shallow = Box(i % 2 ? "moov" : "trak", shallow);
  EXPECT_EQ(WalkUdta(shallow, &span), kWalkOk);
  ExpectSpan(span, kMeta);
}

TEST(Mp4Walk, SphericalUuidModeMatchesOnlyTheV1Uuid) {
  const Bytes v1 = {0xff, 0xcc, 0x82, 0x63, 0xf8, 0x55, 0x4a, 0x93, 0x88, 0x14, 0x58, 0x7a, 0x02, 0x52, 0x1f, 0xdd};
  Bytes other = v1;
  other[15] ^= 1;
  const Bytes xml = Text("<a/>");
  PayloadSpan span;
  EXPECT_EQ(WalkUuid(Cat({kFtyp, Box("moov", Box("trak", Box("uuid", Cat({v1, xml}))))}), &span), kWalkOk);
  ExpectSpan(span, xml);
  EXPECT_EQ(WalkUuid(Cat({Box("uuid", Cat({other, xml})), Box("moov", Box("uuid", Cat({v1, xml})))}), &span), kWalkOk);
  ExpectSpan(span, xml);

  // Only another UUID, or a uuid box too small for one: nothing, and the size stays 0.
  EXPECT_EQ(WalkUuid(Cat({kFtyp, Box("uuid", Cat({other, xml}))}), &span), kWalkShort);
  EXPECT_EQ(span.size, 0);
  EXPECT_EQ(WalkUuid(Cat({Box("uuid", Bytes(10)), Box("free", {})}), &span), kWalkShort);
  EXPECT_EQ(span.size, 0);
  // udta bodies are not taken in this mode.
  EXPECT_EQ(WalkUuid(Box("moov", Box("udta", kMeta)), &span), kWalkShort);
  EXPECT_EQ(span.size, 0);
}

TEST(Mp4Walk, RealClipsCarryTheBlockAtEveryPlacement) {
  const Bytes& mp4 = testing::BaseMp4();
  ASSERT_FALSE(mp4.empty());
  const Bytes block = testing::DualBlock();
  ScratchDir dir;
  using P = camgen::Mp4Placement;
  int n = 0;
  for (P place : {P::kMoovUdta, P::kTrakUdta, P::kTopLevelUdta, P::kTopLevelUdat}) {
    for (bool large_mdat : {false, true}) {
      Bytes file = camgen::EmbedInMp4(mp4, block, place);
      if (large_mdat) file = camgen::UseLargeMdat(camgen::MoveMoovToFront(file));
      ASSERT_FALSE(file.empty());
      const std::string path = dir.Write("clip" + std::to_string(n++) + ".mp4", file);
      PayloadSpan span;
      EXPECT_EQ(WalkMp4Udta(path.c_str(), &span), kWalkOk) << path;
      ASSERT_GT(span.size, 0);
      size_t offset = 0, left = 0;
      ASSERT_TRUE(FindSyncWord(span.bytes.data(), span.bytes.size(), &offset, &left));
      ASSERT_LE(block.size(), left);
      EXPECT_TRUE(std::equal(block.begin(), block.end(), span.bytes.begin() + ptrdiff_t(offset)));
    }
  }
  // The bare clip has no udta.
  PayloadSpan span;
  EXPECT_EQ(WalkMp4Udta(dir.Write("bare.mp4", mp4).c_str(), &span), kWalkShort);
  EXPECT_EQ(span.size, -1);
}

// A sparse file above 4 GiB: a 64-bit mdat, then moov beyond the 32-bit range.
TEST(Mp4Walk, PositionsAbove4GiB) {
  ScratchDir dir;
  const std::string path = dir.Path("big.mp4");
  const uint64_t mdat_size = (uint64_t{5} << 30) + 16;
  Bytes head = Cat({kFtyp, Bytes{0, 0, 0, 1, 'm', 'd', 'a', 't'}, Bytes(8)});
  for (int i = 0; i < 8; ++i) head[kFtyp.size() + 8 + i] = uint8_t(mdat_size >> (56 - 8 * i));
  const Bytes tail = Box("moov", Box("udta", kMeta));
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(head.data(), 1, head.size(), f), head.size());
  const off_t tail_at = off_t(kFtyp.size() + mdat_size);
  if (fseeko(f, tail_at, SEEK_SET) != 0 || std::fwrite(tail.data(), 1, tail.size(), f) != tail.size()) {
    std::fclose(f);
    GTEST_SKIP() << "no sparse files here";
  }
  std::fclose(f);
  PayloadSpan span;
  EXPECT_EQ(WalkMp4Udta(path.c_str(), &span), kWalkOk);
  ExpectSpan(span, kMeta);
}

TEST(Mp4Walk, MissingFileOrSpan) {
  PayloadSpan span;
  EXPECT_EQ(WalkMp4Udta("/nonexistent/clip.mp4", &span), kWalkCannotOpen);
  EXPECT_EQ(span.size, -1);
  EXPECT_EQ(WalkMp4Udta(nullptr, &span), kWalkCannotOpen);
  EXPECT_EQ(WalkMp4SphericalUuid("/nonexistent/clip.mp4", &span), kWalkCannotOpen);
  EXPECT_EQ(span.size, 0);
  EXPECT_EQ(WalkMp4Udta("/dev/null", nullptr), kWalkCannotOpen);
  EXPECT_EQ(WalkJpegExif("/dev/null", nullptr), kWalkCannotOpen);
}

const Bytes kSoi = {0xFF, 0xD8};
const Bytes kJfif = Segment(0xE0, Text(std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14)));
const Bytes kExifData = Text(std::string("\0\0II*\0", 6) + "calibration");

TEST(JpegExifWalk, ExifAfterSoiOrAfterJfif) {
  PayloadSpan span;
  const Bytes exif = Segment(0xE1, Cat({Text("Exif"), kExifData}));
  EXPECT_EQ(WalkExif(Cat({kSoi, kJfif, exif, Segment(0xDB, Bytes(65))}), &span), kWalkOk);
  ExpectSpan(span, kExifData);
  EXPECT_EQ(WalkExif(Cat({kSoi, exif}), &span), kWalkOk);
  ExpectSpan(span, kExifData);

  // An APP1 holding "Exif" alone is found but empty.
  EXPECT_EQ(WalkExif(Cat({kSoi, Segment(0xE1, Text("Exif"))}), &span), kWalkOk);
  EXPECT_EQ(span.size, 0);
}

TEST(JpegExifWalk, AnythingElseBeforeExifIsMalformed) {
  const Bytes exif = Segment(0xE1, Cat({Text("Exif"), kExifData}));
  const Bytes xmp = Segment(0xE1, Text(std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 34)));
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"APP2 first", Cat({kSoi, Segment(0xE2, Bytes(20)), exif})},
      {"DQT first", Cat({kSoi, Segment(0xDB, Bytes(65)), exif})},
      {"XMP APP1", Cat({kSoi, kJfif, xmp, exif})},
      {"no SOI", Cat({Bytes{0xFF, 0xD9}, exif})},
      {"APP0 length 2", Cat({kSoi, Bytes{0xFF, 0xE0, 0, 2}, exif})},
      {"APP1 length below its signature", Cat({kSoi, Bytes{0xFF, 0xE1, 0, 5}, Text("Exif"), Bytes(10)})},
  };
  for (const Case& c : cases) {
    PayloadSpan span;
    EXPECT_EQ(WalkExif(c.file, &span), kWalkMalformed) << c.what;
    EXPECT_EQ(span.size, -1) << c.what;
    EXPECT_TRUE(span.bytes.empty()) << c.what;
  }
}

TEST(JpegExifWalk, TruncatedFilesAreShort) {
  const Bytes full = Cat({kSoi, kJfif, Segment(0xE1, Cat({Text("Exif"), kExifData}))});
  for (size_t cut : {size_t{1}, size_t{3}, kSoi.size() + kJfif.size() + 1, full.size() - 1}) {
    PayloadSpan span;
    EXPECT_EQ(WalkExif(Bytes(full.begin(), full.begin() + ptrdiff_t(cut)), &span), kWalkShort) << cut;
    EXPECT_EQ(span.size, -1);
  }
}

TEST(JpegExifWalk, RealPhotoFromFile) {
  ASSERT_FALSE(testing::BaseJpeg().empty());
  ScratchDir dir;
  const Bytes block = testing::DualBlock();
  for (auto place : {camgen::JpegPlacement::kAfterSoi, camgen::JpegPlacement::kAfterJfif}) {
    const std::string path = dir.Write("photo.jpg", camgen::EmbedInJpeg(testing::BaseJpeg(), block, place));
    PayloadSpan span;
    EXPECT_EQ(WalkJpegExif(path.c_str(), &span), kWalkOk);
    size_t offset = 0, left = 0;
    ASSERT_TRUE(FindSyncWord(span.bytes.data(), span.bytes.size(), &offset, &left));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), span.bytes.begin() + ptrdiff_t(offset)));
  }
  PayloadSpan span;
  EXPECT_EQ(WalkJpegExif("/nonexistent.jpg", &span), kWalkCannotOpen);
  EXPECT_EQ(span.size, -1);
}

TEST(WholeFileRead, ReadsOrReportsWhy) {
  ScratchDir dir;
  PayloadSpan span;
  EXPECT_EQ(ReadWholeFile(dir.Write("data.bin", kMeta).c_str(), &span), WholeFileResult::kOk);
  ExpectSpan(span, kMeta);
  EXPECT_EQ(ReadWholeFile(dir.Write("empty.bin", {}).c_str(), &span), WholeFileResult::kEmpty);
  EXPECT_EQ(span.size, 0);
  EXPECT_EQ(ReadWholeFile(dir.Path("missing.bin").c_str(), &span), WholeFileResult::kCannotOpen);
  EXPECT_EQ(ReadWholeFile(nullptr, &span), WholeFileResult::kCannotOpen);
}

// The block alone as ReadBlockFromWholeFile returns it: sync word, 4 bytes, the text
// without its "=" padding.
Bytes TrimmedBlock(Bytes block) {
  while (block.size() > 20 && block.back() == '=') block.pop_back();
  return block;
}

TEST(WholeFileBlockRead, FindsTheBlockAcrossPieceBoundaries) {
  ScratchDir dir;
  const Bytes block = testing::DualBlock();
  const size_t piece = size_t{1} << 20;
  // The sync word across the first piece boundary; the text across it; the block at the
  // very end of the file with nothing after its text.
  for (size_t at : {piece - 7, piece - 100, 3 * piece - 15, 2 * piece + 5}) {
    Bytes file(at, 0);
    file.insert(file.end(), block.begin(), block.end());
    if (at != 2 * piece + 5) file.insert(file.end(), {0, 'A', 'R', 'V'});
    Bytes earlier = Text("ARVELOINSTRUMEN");  // a cut sync word earlier on is no match
    std::copy(earlier.begin(), earlier.end(), file.begin() + 10);
    const std::string path = dir.Write("raw.bin", file);
    PayloadSpan span;
    ASSERT_EQ(ReadBlockFromWholeFile(path.c_str(), &span), WholeFileResult::kOk) << at;
    ExpectSpan(span, TrimmedBlock(block));
  }
}

TEST(WholeFileBlockRead, NoSyncWordEmptyOrMissingFile) {
  ScratchDir dir;
  PayloadSpan span;
  EXPECT_EQ(ReadBlockFromWholeFile(dir.Write("none.bin", Bytes((size_t{1} << 20) + 99, 'A')).c_str(), &span),
            WholeFileResult::kOk);
  EXPECT_EQ(span.size, 0);
  EXPECT_EQ(ReadBlockFromWholeFile(dir.Write("empty.bin", {}).c_str(), &span), WholeFileResult::kEmpty);
  EXPECT_EQ(ReadBlockFromWholeFile(dir.Path("missing.bin").c_str(), &span), WholeFileResult::kCannotOpen);
  // A sync word in the last bytes: the block is cut before its text.
  EXPECT_EQ(ReadBlockFromWholeFile(dir.Write("cut.bin", Text("xxARVELOINSTRUMENT12")).c_str(), &span),
            WholeFileResult::kOk);
  ExpectSpan(span, Text("ARVELOINSTRUMENT12"));
}

TEST(SyncSearch, FirstOccurrenceAndLeftsize) {
  const Bytes payload = Cat({Text("xxARVELOINSTRUMENx"), Text("ARVELOINSTRUMENT1234abc"), Text("ARVELOINSTRUMENT")});
  size_t offset = 99, left = 99;
  ASSERT_TRUE(FindSyncWord(payload.data(), payload.size(), &offset, &left));
  EXPECT_EQ(offset, 18u);
  EXPECT_EQ(left, payload.size() - 18);

  // Exactly the sync word, and the sync word cut by the end of the payload.
  const Bytes exact = Text("ARVELOINSTRUMENT");
  ASSERT_TRUE(FindSyncWord(exact.data(), exact.size(), &offset, &left));
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(left, 16u);
  const Bytes cut = Text("abcARVELOINSTRUMEN");
  EXPECT_FALSE(FindSyncWord(cut.data(), cut.size(), &offset, &left));
  EXPECT_FALSE(FindSyncWord(exact.data(), 15, &offset, &left));
  EXPECT_FALSE(FindSyncWord(nullptr, 100, &offset, &left));
}

}  // namespace
}  // namespace spherolux
