// The encoder's interface: the segments it writes, settings, strips, result codes and its
// use of the allocation callbacks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "calib/panorama_xmp.h"
#include "jpeg/codec.h"
#include "test_util.h"

namespace spherolux::jpegtest {
namespace {

struct Segment {
  uint8_t marker;
  std::vector<uint8_t> body;  // without the length field
};

// Splits a file into its segments up to SOS (whose header is the last entry).
std::vector<Segment> Segments(const std::vector<uint8_t>& d) {
  std::vector<Segment> out;
  size_t p = 2;
  while (p + 4 <= d.size() && d[p] == 0xFF) {
    const size_t len = static_cast<size_t>(d[p + 2] << 8 | d[p + 3]);
    if (p + 2 + len > d.size()) break;
    out.push_back({d[p + 1], std::vector<uint8_t>(d.begin() + static_cast<ptrdiff_t>(p + 4),
                                                  d.begin() + static_cast<ptrdiff_t>(p + 2 + len))});
    if (d[p + 1] == 0xDA) break;
    p += 2 + len;
  }
  return out;
}

class EncoderFile {
 public:
  EncoderFile(int w, int h, JpegAllocFn alloc = std::malloc, JpegReleaseFn release = std::free,
              const char* mode = "wb") {
    path_ = TempPath("enc_" + std::to_string(counter_++) + ".jpg");
    if (std::string(mode) != "wb") WriteFile(path_, {});
    file_ = std::fopen(path_.c_str(), mode);
    JpegEncoderStream s;
    s.file = file_;
    s.width = w;
    s.height = h;
    s.alloc = alloc;
    s.release = release;
    create_rc_ = JpegEncoderCreate(&enc_, s);
  }
  ~EncoderFile() {
    if (enc_) JpegEncoderDestroy(enc_);
    if (file_) std::fclose(file_);
  }
  JpegEncoder* get() const { return enc_; }
  int32_t create_rc() const { return create_rc_; }
  int32_t Set4(uint32_t id, int32_t v) { return JpegEncoderSet(enc_, id, &v, 4); }
  int32_t Rows(const Planes& p, int first, int rows) {
    const uint8_t* planes[3];
    int32_t strides[3];
    for (int c = 0; c < 3; ++c) {
      const int row = c == 0 ? first : (first + 1) / 2;
      planes[c] = p.plane[c].data() + static_cast<size_t>(row) * p.plane_w[c];
      strides[c] = p.plane_w[c];
    }
    return JpegEncoderEncodeRows(enc_, planes, strides, first, rows);
  }
  std::vector<uint8_t> Bytes() {
    if (file_) std::fflush(file_);
    return ReadFile(path_);
  }

 private:
  static inline int counter_ = 0;
  std::string path_;
  std::FILE* file_ = nullptr;
  JpegEncoder* enc_ = nullptr;
  int32_t create_rc_ = -1;
};

const Planes& Picture() {
  static const Planes p = RgbToI420(MakeTestImage(75, 45, 21));
  return p;
}

TEST(Encoder, WritesTheSegmentsInOrder) {
  EncoderFile e(75, 45);
  ASSERT_EQ(e.create_rc(), kJpegOk);
  ASSERT_EQ(e.Rows(Picture(), 0, 45), kJpegOk);
  ASSERT_EQ(JpegEncoderFinish(e.get()), kJpegOk);
  const std::vector<uint8_t> d = e.Bytes();
  ASSERT_GT(d.size(), 1000u);
  const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                          0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
  ASSERT_EQ(std::memcmp(d.data(), head, sizeof head), 0);
  EXPECT_EQ(d[d.size() - 2], 0xFF);
  EXPECT_EQ(d[d.size() - 1], 0xD9);
  uint64_t size = 0;
  ASSERT_EQ(JpegEncoderWrittenSize(e.get(), &size), kJpegOk);
  EXPECT_EQ(size, d.size());

  const std::vector<Segment> s = Segments(d);
  ASSERT_EQ(s.size(), 10u);
  const uint8_t order[] = {0xE0, 0xE1, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA};
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(s[i].marker, order[i]) << i;
  // The XMP segment is the fixed one, byte for byte.
  std::vector<uint8_t> xmp(d.begin() + 20, d.begin() + 20 + static_cast<ptrdiff_t>(kPanoramaXmpSegment.size()));
  EXPECT_TRUE(std::equal(xmp.begin(), xmp.end(), kPanoramaXmpSegment.begin()));
  // DQT: table 0 then 1, 8-bit, 64 entries each (length 67).
  EXPECT_EQ(s[2].body.size(), 65u);
  EXPECT_EQ(s[2].body[0], 0x00);
  EXPECT_EQ(s[3].body[0], 0x01);
  // SOF0: 8 bits, 45 x 75, three components Y 2x2 / table 0, Cb and Cr 1x1 / table 1.
  const std::vector<uint8_t> sof = {8, 0, 45, 0, 75, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
  EXPECT_EQ(s[4].body, sof);
  // DHT: DC 0, AC 0, DC 1, AC 1, lengths 19 + 12 and 19 + 162.
  const uint8_t classes[] = {0x00, 0x10, 0x01, 0x11};
  const size_t lengths[] = {12 + 17, 162 + 17, 12 + 17, 162 + 17};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(s[5 + i].body[0], classes[i]);
    EXPECT_EQ(s[5 + i].body.size(), lengths[i]);
  }
  const std::vector<uint8_t> sos = {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
  EXPECT_EQ(s[9].body, sos);
}

TEST(Encoder, WritesExifInsteadOfJfifWithTheXmpAfterIt) {
  EncoderFile e(16, 16);
  ASSERT_EQ(e.create_rc(), kJpegOk);
  const uint8_t exif[] = {0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0};
  JpegExifData data{exif, sizeof exif};
  ASSERT_EQ(JpegEncoderSet(e.get(), kJpegEncExif, &data, sizeof data), kJpegOk);
  const Planes p = RgbToI420(MakeTestImage(16, 16));
  ASSERT_EQ(e.Rows(p, 0, 16), kJpegOk);
  ASSERT_EQ(JpegEncoderFinish(e.get()), kJpegOk);
  const std::vector<uint8_t> d = e.Bytes();
  const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, sizeof exif + 6, 'E', 'x', 'i', 'f'};
  ASSERT_EQ(std::memcmp(d.data(), head, sizeof head), 0);
  EXPECT_EQ(std::memcmp(d.data() + 10, exif, sizeof exif), 0);
  EXPECT_EQ(std::memcmp(d.data() + 10 + sizeof exif, kPanoramaXmpSegment.data(), kPanoramaXmpSegment.size()), 0);
  // Our decoder passes over both APP1 segments.
  const std::string path = TempPath("exif.jpg");
  WriteFile(path, d);
  Planes back;
  EXPECT_EQ(DecodeJpegFile(path, &back), kJpegOk);
  EXPECT_EQ(back.width, 16);
}

TEST(Encoder, QualitySetsTheTablesItWrites) {
  auto dqt = [](int quality) {
    EncoderFile e(8, 8);
    EXPECT_EQ(e.Set4(kJpegEncQuality, quality), kJpegOk);
    const Planes p = RgbToI420(MakeTestImage(8, 8));
    EXPECT_EQ(e.Rows(p, 0, 8), kJpegOk);
    EXPECT_EQ(JpegEncoderFinish(e.get()), kJpegOk);
    const std::vector<Segment> s = Segments(e.Bytes());
    std::vector<uint8_t> both(s[2].body.begin() + 1, s[2].body.end());
    both.insert(both.end(), s[3].body.begin() + 1, s[3].body.end());
    return both;
  };
  // Quality 50: Annex K tables, in zig-zag order (K.1 first entries 16 11 12 14 12 10 16 14).
  const std::vector<uint8_t> q50 = dqt(50);
  const uint8_t lum_zz[] = {16, 11, 12, 14, 12, 10, 16, 14};
  const uint8_t chroma_zz[] = {17, 18, 18, 24, 21, 24, 47, 26};
  EXPECT_TRUE(std::equal(lum_zz, lum_zz + 8, q50.begin()));
  EXPECT_TRUE(std::equal(chroma_zz, chroma_zz + 8, q50.begin() + 64));
  EXPECT_EQ(q50[63], 99);
  const std::vector<uint8_t> q100 = dqt(100);
  EXPECT_EQ(q100, std::vector<uint8_t>(128, 1));
  EXPECT_EQ(dqt(0), dqt(1));  // clamped
  EXPECT_EQ(dqt(250), q100);
  const std::vector<uint8_t> def = dqt(85);
  EncoderFile e(8, 8);  // the default quality is 85
  const Planes p = RgbToI420(MakeTestImage(8, 8));
  ASSERT_EQ(e.Rows(p, 0, 8), kJpegOk);
  ASSERT_EQ(JpegEncoderFinish(e.get()), kJpegOk);
  const std::vector<Segment> s = Segments(e.Bytes());
  EXPECT_TRUE(std::equal(s[2].body.begin() + 1, s[2].body.end(), def.begin()));
}

TEST(Encoder, StripsOfAnySizeWriteTheSameFile) {
  const Planes& p = Picture();
  std::vector<uint8_t> whole;
  for (int strip : {45, 1, 2, 7, 16, 100}) {
    EncoderFile e(75, 45);
    for (int row = 0; row < 45; row += strip) ASSERT_EQ(e.Rows(p, row, strip), kJpegOk) << strip;
    ASSERT_EQ(JpegEncoderFinish(e.get()), kJpegOk);
    if (whole.empty()) {
      whole = e.Bytes();
    } else {
      EXPECT_EQ(e.Bytes(), whole) << strip;
    }
  }
}

TEST(Encoder, RoundingToNearestBeatsTruncation) {
  const Planes& p = Picture();
  std::vector<uint8_t> src;
  for (int c = 0; c < 3; ++c) src.insert(src.end(), p.plane[c].begin(), p.plane[c].end());
  double psnr[2];
  for (int rounding = 0; rounding < 2; ++rounding) {
    const std::string path = TempPath("round" + std::to_string(rounding) + ".jpg");
    ASSERT_EQ(EncodeI420(path, p, 90, 0, rounding), kJpegOk);
    Planes back;
    ASSERT_EQ(DecodeJpegFile(path, &back), kJpegOk);
    std::vector<uint8_t> got;
    for (int c = 0; c < 3; ++c) got.insert(got.end(), back.plane[c].begin(), back.plane[c].end());
    psnr[rounding] = Psnr(got, src);
  }
  EXPECT_GT(psnr[1], psnr[0] + 0.5);
}

TEST(Encoder, RefusesBadArgumentsAndOrder) {
  {
    JpegEncoder* enc = nullptr;
    std::FILE* f = std::fopen(TempPath("args.jpg").c_str(), "wb");
    JpegEncoderStream s;
    s.file = f;
    s.width = 16;
    s.height = 16;
    s.alloc = std::malloc;
    s.release = std::free;
    s.pixel_format = 24;
    EXPECT_EQ(JpegEncoderCreate(&enc, s), kJpegInvalidArgument);
    s.pixel_format = 0;
    EXPECT_EQ(JpegEncoderCreate(&enc, s), kJpegBadState);  // only I420 is implemented
    s.pixel_format = 1;
    s.width = 0;
    EXPECT_EQ(JpegEncoderCreate(&enc, s), kJpegInvalidArgument);
    s.width = 65536;
    EXPECT_EQ(JpegEncoderCreate(&enc, s), kJpegInvalidArgument);
    s.width = 16;
    s.alloc = nullptr;
    EXPECT_EQ(JpegEncoderCreate(&enc, s), kJpegInvalidArgument);
    EXPECT_EQ(enc, nullptr);
    std::fclose(f);
  }
  EncoderFile e(75, 45);
  ASSERT_EQ(e.create_rc(), kJpegOk);
  EXPECT_EQ(e.Set4(kJpegEncRounding, 2), kJpegInvalidArgument);
  EXPECT_EQ(e.Set4(0x2099, 1), kJpegInvalidArgument);
  EXPECT_EQ(e.Set4(kJpegEncIndexBudget, 0), kJpegOk);
  int64_t wide = 90;
  EXPECT_EQ(JpegEncoderSet(e.get(), kJpegEncQuality, &wide, 8), kJpegInvalidArgument);
  std::vector<uint8_t> big(65530);
  JpegExifData too_big{big.data(), big.size()};
  EXPECT_EQ(JpegEncoderSet(e.get(), kJpegEncExif, &too_big, sizeof too_big), kJpegInvalidArgument);
  uint64_t size;
  EXPECT_EQ(JpegEncoderWrittenSize(e.get(), &size), kJpegBadState);  // not finished
  EXPECT_EQ(e.Rows(Picture(), 16, 16), kJpegBadState);               // row 0 comes first
  EXPECT_EQ(e.Rows(Picture(), 0, 16), kJpegOk);
  EXPECT_EQ(e.Set4(kJpegEncQuality, 50), kJpegBadState);  // headers are out
  EXPECT_EQ(JpegEncoderFinish(e.get()), kJpegBadState);   // rows missing
  EXPECT_EQ(e.Rows(Picture(), 16, 1000), kJpegOk);        // clipped to the 29 left
  EXPECT_EQ(JpegEncoderFinish(e.get()), kJpegOk);
  EXPECT_EQ(JpegEncoderFinish(e.get()), kJpegBadState);
  EXPECT_EQ(e.Rows(Picture(), 45, 1), kJpegBadState);
  EXPECT_EQ(JpegEncoderWrittenSize(e.get(), &size), kJpegOk);
  EXPECT_EQ(size, e.Bytes().size());
}

TEST(Encoder, ReportsAFailedWrite) {
  EncoderFile e(64, 64, std::malloc, std::free, "rb");  // a file that cannot be written
  ASSERT_EQ(e.create_rc(), kJpegOk);
  const Planes p = RgbToI420(MakeTestImage(64, 64));
  e.Rows(p, 0, 64);
  EXPECT_EQ(JpegEncoderFinish(e.get()), kJpegCorrupt);
}

TEST(Encoder, AllocatesOnlyThroughTheCallbacksAndFreesEverything) {
  const Planes& p = Picture();
  const uint8_t exif[] = {0, 0, 1, 2, 3};
  JpegExifData data{exif, sizeof exif};
  CountingAllocator::Reset();
  {
    EncoderFile e(75, 45, CountingAllocator::Alloc, CountingAllocator::Release);
    ASSERT_EQ(e.create_rc(), kJpegOk);
    ASSERT_EQ(JpegEncoderSet(e.get(), kJpegEncExif, &data, sizeof data), kJpegOk);
    ASSERT_EQ(e.Rows(p, 0, 45), kJpegOk);
    ASSERT_EQ(JpegEncoderFinish(e.get()), kJpegOk);
  }
  const int total = CountingAllocator::allocations;
  EXPECT_GE(total, 5);
  EXPECT_EQ(CountingAllocator::releases, total);
  EXPECT_EQ(CountingAllocator::outstanding_bytes, 0);
  for (int fail = 0; fail < total; ++fail) {
    CountingAllocator::Reset(fail);
    int32_t rc;
    {
      EncoderFile e(75, 45, CountingAllocator::Alloc, CountingAllocator::Release);
      rc = e.create_rc();
      if (rc == kJpegOk) rc = JpegEncoderSet(e.get(), kJpegEncExif, &data, sizeof data);
    }
    EXPECT_EQ(rc, kJpegOutOfMemory) << fail;
    EXPECT_EQ(CountingAllocator::outstanding_bytes, 0) << fail;
  }
}

}  // namespace
}  // namespace spherolux::jpegtest
