// The decoder's interface: identifiers, result codes, strips, rewind, refused and damaged
// streams, and its use of the allocation callbacks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>

#include "jpeg/codec.h"
#include "test_util.h"

namespace spherolux::jpegtest {
namespace {

// A JPEG made by cjpeg from the test picture, as bytes.
std::vector<uint8_t> Cjpeg(int w, int h, const std::string& options) {
  const std::string tag =
      std::to_string(w) + "x" + std::to_string(h) + std::to_string(std::hash<std::string>{}(options));
  const std::string ppm = TempPath("d" + tag + ".ppm"), jpg = TempPath("d" + tag + ".jpg");
  if (!WritePnm(ppm, MakeTestImage(w, h, 3))) return {};
  if (RunCommand("cjpeg " + options + " -outfile " + jpg + " " + ppm) != 0) return {};
  return ReadFile(jpg);
}

// Offset of the first marker `m` at segment level (walks the segments before the scan).
size_t FindMarker(const std::vector<uint8_t>& d, uint8_t m) {
  size_t p = 2;
  while (p + 4 <= d.size() && d[p] == 0xFF) {
    if (d[p + 1] == m) return p;
    if (d[p + 1] == 0xDA) break;
    p += 2 + (d[p + 2] << 8 | d[p + 3]);
  }
  return std::string::npos;
}

class DecoderFile {
 public:
  explicit DecoderFile(const std::vector<uint8_t>& bytes, JpegAllocFn alloc = std::malloc,
                       JpegReleaseFn release = std::free) {
    path_ = TempPath("dec_" + std::to_string(counter_++) + ".jpg");
    WriteFile(path_, bytes);
    file_ = std::fopen(path_.c_str(), "rb");
    JpegDecoderStream s;
    s.file = file_;
    s.alloc = alloc;
    s.release = release;
    create_rc_ = JpegDecoderCreate(&dec_, s);
  }
  ~DecoderFile() {
    if (dec_) JpegDecoderDestroy(dec_);
    if (file_) std::fclose(file_);
  }
  JpegDecoder* get() const { return dec_; }
  int32_t create_rc() const { return create_rc_; }
  std::pair<int, int> Get8(uint32_t id) const {
    int32_t v[2] = {-1, -1};
    EXPECT_EQ(JpegDecoderGet(dec_, id, v, 8), kJpegOk) << std::hex << id;
    return {v[0], v[1]};
  }
  int Get4(uint32_t id) const {
    int32_t v = -1;
    EXPECT_EQ(JpegDecoderGet(dec_, id, &v, 4), kJpegOk) << std::hex << id;
    return v;
  }
  // Decodes the rest of the picture (4:2:0 or grey layout) into `planes` of the given size;
  // returns the first non-zero code.
  int32_t DecodeAll(int w, int h, std::vector<uint8_t>* out, int strip = 16) {
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    out->assign(static_cast<size_t>(w) * h + 2 * static_cast<size_t>(cw) * ch, 0);
    int32_t first = kJpegOk;
    for (int row = 0; row < h;) {
      uint8_t* planes[3] = {out->data() + static_cast<size_t>(row) * w,
                            out->data() + static_cast<size_t>(w) * h + static_cast<size_t>((row + 1) / 2) * cw,
                            out->data() + static_cast<size_t>(w) * h + static_cast<size_t>(cw) * ch +
                                static_cast<size_t>((row + 1) / 2) * cw};
      const int32_t strides[3] = {w, cw, cw};
      int32_t rows = strip;
      const int32_t rc = JpegDecoderDecodeRows(dec_, planes, strides, nullptr, &rows);
      if (rc != kJpegOk && first == kJpegOk) first = rc;
      if (rows <= 0) break;
      row += rows;
    }
    return first;
  }

 private:
  static inline int counter_ = 0;
  std::string path_;
  std::FILE* file_ = nullptr;
  JpegDecoder* dec_ = nullptr;
  int32_t create_rc_ = -1;
};

TEST(Decoder, ReportsTheFrameThroughItsIdentifiers) {
  DecoderFile d(Cjpeg(97, 61, "-quality 80"));
  ASSERT_EQ(d.create_rc(), kJpegOk);
  EXPECT_EQ(d.Get8(kJpegDecImageSize), std::make_pair(97, 61));
  EXPECT_EQ(d.Get4(kJpegDecComponents), 3);
  EXPECT_EQ(d.Get8(kJpegDecMcuSize), std::make_pair(16, 16));
  EXPECT_EQ(d.Get4(kJpegDecSampling), kJpegSampling420);
  EXPECT_EQ(d.Get8(kJpegDecSubsampling), std::make_pair(2, 2));
  EXPECT_EQ(d.Get4(kJpegDecProcess), 0);
  EXPECT_EQ(d.Get4(kJpegDecScale), 1);
  const std::pair<int, int> sizes[] = {{97, 61}, {48, 30}, {24, 15}, {12, 7}};
  for (int i = 0; i < 4; ++i) {
    int32_t denom = 1 << i;
    ASSERT_EQ(JpegDecoderSet(d.get(), kJpegDecScale, &denom, 4), kJpegOk);
    EXPECT_EQ(d.Get4(kJpegDecScale), denom);
    EXPECT_EQ(d.Get8(kJpegDecOutputSize), sizes[i]) << denom;
  }
  int32_t budget = 10240;
  EXPECT_EQ(JpegDecoderSet(d.get(), kJpegDecIndexBudget, &budget, 4), kJpegOk);

  DecoderFile tiny(Cjpeg(5, 3, "-grayscale"));
  ASSERT_EQ(tiny.create_rc(), kJpegOk);
  int32_t eight = 8;
  ASSERT_EQ(JpegDecoderSet(tiny.get(), kJpegDecScale, &eight, 4), kJpegOk);
  EXPECT_EQ(tiny.Get8(kJpegDecOutputSize), std::make_pair(1, 1));  // never below one pixel
  EXPECT_EQ(tiny.Get4(kJpegDecSampling), kJpegSamplingGrey);
  EXPECT_EQ(tiny.Get4(kJpegDecComponents), 1);
  EXPECT_EQ(tiny.Get8(kJpegDecMcuSize), std::make_pair(8, 8));
  int32_t v[2];
  EXPECT_EQ(JpegDecoderGet(tiny.get(), kJpegDecSubsampling, v, 8), kJpegNotPresent);

  DecoderFile prog(Cjpeg(40, 40, "-progressive -sample 2x1"));
  ASSERT_EQ(prog.create_rc(), kJpegOk);
  EXPECT_EQ(prog.Get4(kJpegDecProcess), 1);
  EXPECT_EQ(prog.Get4(kJpegDecSampling), kJpegSampling422);
  EXPECT_EQ(prog.Get8(kJpegDecSubsampling), std::make_pair(2, 1));

  DecoderFile odd(Cjpeg(40, 40, "-sample 4x1"));
  ASSERT_EQ(odd.create_rc(), kJpegOk);
  EXPECT_EQ(odd.Get4(kJpegDecSampling), kJpegSamplingOther);
  EXPECT_EQ(odd.Get8(kJpegDecSubsampling), std::make_pair(4, 1));
  EXPECT_EQ(odd.Get8(kJpegDecMcuSize), std::make_pair(32, 8));
}

TEST(Decoder, RefusesBadArguments) {
  DecoderFile d(Cjpeg(32, 32, ""));
  ASSERT_EQ(d.create_rc(), kJpegOk);
  int32_t v[2] = {};
  EXPECT_EQ(JpegDecoderGet(d.get(), kJpegDecImageSize, v, 4), kJpegInvalidArgument);  // needs 8 bytes
  EXPECT_EQ(JpegDecoderGet(d.get(), kJpegDecComponents, v, 8), kJpegInvalidArgument);
  EXPECT_EQ(JpegDecoderGet(d.get(), 0x1234, v, 4), kJpegInvalidArgument);
  EXPECT_EQ(JpegDecoderGet(d.get(), kJpegDecRewind, v, 4), kJpegInvalidArgument);  // set only
  EXPECT_EQ(JpegDecoderGet(d.get(), kJpegDecImageSize, nullptr, 8), kJpegInvalidArgument);
  EXPECT_EQ(JpegDecoderGet(nullptr, kJpegDecImageSize, v, 8), kJpegInvalidArgument);
  int32_t three = 3;
  EXPECT_EQ(JpegDecoderSet(d.get(), kJpegDecScale, &three, 4), kJpegInvalidArgument);
  int32_t two = 2;
  EXPECT_EQ(JpegDecoderSet(d.get(), kJpegDecScale, &two, 8), kJpegInvalidArgument);
  EXPECT_EQ(JpegDecoderSet(d.get(), kJpegDecImageSize, &two, 4), kJpegInvalidArgument);  // get only
  int32_t negative = -1;
  EXPECT_EQ(JpegDecoderSet(d.get(), kJpegDecIndexBudget, &negative, 4), kJpegInvalidArgument);

  std::vector<uint8_t> buf(32 * 32 * 2);
  uint8_t* planes[3] = {buf.data(), buf.data() + 1024, buf.data() + 1280};
  int32_t strides[3] = {32, 16, 16};
  int32_t rows = -1;
  EXPECT_EQ(JpegDecoderDecodeRows(d.get(), planes, strides, nullptr, &rows), kJpegInvalidArgument);
  rows = 16;
  uint8_t* no_v[3] = {buf.data(), buf.data() + 1024, nullptr};
  EXPECT_EQ(JpegDecoderDecodeRows(d.get(), no_v, strides, nullptr, &rows), kJpegInvalidArgument);
  int32_t narrow[3] = {31, 16, 16};
  EXPECT_EQ(JpegDecoderDecodeRows(d.get(), planes, narrow, nullptr, &rows), kJpegInvalidArgument);
  EXPECT_EQ(JpegDecoderDecodeRows(d.get(), planes, strides, nullptr, &rows), kJpegOk);
  EXPECT_EQ(rows, 16);
  EXPECT_EQ(JpegDecoderSet(d.get(), kJpegDecScale, &two, 4), kJpegBadState);  // mid-picture

  JpegDecoder* dec = nullptr;
  JpegDecoderStream none;
  EXPECT_EQ(JpegDecoderCreate(&dec, none), kJpegInvalidArgument);
  EXPECT_EQ(dec, nullptr);
  EXPECT_EQ(JpegDecoderDestroy(nullptr), kJpegInvalidArgument);
}

TEST(Decoder, StripsOfAnySizeGiveTheWholePictureAndClipAtTheEnd) {
  for (const char* opts : {"-quality 85", "-quality 85 -progressive", "-quality 85 -restart 2B"}) {
    std::vector<uint8_t> jpg = Cjpeg(97, 61, opts);
    std::vector<uint8_t> whole;
    {
      DecoderFile d(jpg);
      ASSERT_EQ(d.create_rc(), kJpegOk);
      ASSERT_EQ(d.DecodeAll(97, 61, &whole, 1000), kJpegOk);
    }
    for (int strip : {1, 2, 7, 16, 60}) {
      DecoderFile d(jpg);
      std::vector<uint8_t> part;
      ASSERT_EQ(d.DecodeAll(97, 61, &part, strip), kJpegOk);
      EXPECT_EQ(part, whole) << opts << " strip " << strip;
    }
    // Asking for more rows than remain delivers the rest, then nothing.
    DecoderFile d(jpg);
    std::vector<uint8_t> buf(97 * 61 * 2);
    uint8_t* planes[3] = {buf.data(), buf.data() + 97 * 61, buf.data() + 97 * 61 + 49 * 31};
    int32_t strides[3] = {97, 49, 49};
    int32_t rows = 50;
    ASSERT_EQ(JpegDecoderDecodeRows(d.get(), planes, strides, nullptr, &rows), kJpegOk);
    EXPECT_EQ(rows, 50);
    rows = 1000;
    uint8_t* rest[3] = {buf.data() + 50 * 97, planes[1] + 25 * 49, planes[2] + 25 * 49};
    ASSERT_EQ(JpegDecoderDecodeRows(d.get(), rest, strides, nullptr, &rows), kJpegOk);
    EXPECT_EQ(rows, 11);
    rows = 16;
    ASSERT_EQ(JpegDecoderDecodeRows(d.get(), rest, strides, nullptr, &rows), kJpegOk);
    EXPECT_EQ(rows, 0);
  }
}

TEST(Decoder, RewindsSequentialStreamsButNotProgressiveOnes) {
  for (const char* opts : {"-quality 85 -restart 1", "-quality 85 -grayscale"}) {
    std::vector<uint8_t> jpg = Cjpeg(64, 48, opts);
    DecoderFile d(jpg);
    ASSERT_EQ(d.create_rc(), kJpegOk);
    std::vector<uint8_t> first, again;
    std::vector<uint8_t> scratch(64 * 48 * 2);
    uint8_t* planes[3] = {scratch.data(), scratch.data() + 3072, scratch.data() + 3072 + 768};
    int32_t strides[3] = {64, 32, 32};
    int32_t rows = 24;
    ASSERT_EQ(JpegDecoderDecodeRows(d.get(), planes, strides, nullptr, &rows), kJpegOk);
    ASSERT_EQ(JpegDecoderSet(d.get(), kJpegDecRewind, nullptr, 0), kJpegOk);
    ASSERT_EQ(d.DecodeAll(64, 48, &again), kJpegOk);
    DecoderFile fresh(jpg);
    ASSERT_EQ(fresh.DecodeAll(64, 48, &first), kJpegOk);
    EXPECT_EQ(again, first) << opts;
  }
  DecoderFile prog(Cjpeg(32, 32, "-progressive"));
  ASSERT_EQ(prog.create_rc(), kJpegOk);
  EXPECT_EQ(JpegDecoderSet(prog.get(), kJpegDecRewind, nullptr, 0), kJpegBadState);
}

TEST(Decoder, RefusesProcessesAndMarkersItDoesNotImplement) {
  const std::vector<uint8_t> jpg = Cjpeg(32, 32, "");
  const size_t sof = FindMarker(jpg, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  // Lossless, differential and arithmetic-coded frames.
  for (uint8_t m : {0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF}) {
    std::vector<uint8_t> bad = jpg;
    bad[sof + 1] = m;
    DecoderFile d(bad);
    EXPECT_EQ(d.create_rc(), kJpegBadState) << std::hex << int(m);
    EXPECT_EQ(d.get(), nullptr);
  }
  // 12-bit samples.
  std::vector<uint8_t> twelve = jpg;
  twelve[sof + 4] = 12;
  EXPECT_EQ(DecoderFile(twelve).create_rc(), kJpegBadState);
  // DAC, JPG, JPGn and a reserved code inserted before the frame.
  for (uint8_t m : {0xCC, 0xC8, 0xF0, 0xFD, 0x02, 0xBF}) {
    std::vector<uint8_t> bad = jpg;
    const uint8_t seg[] = {0xFF, m, 0x00, 0x04, 0x00, 0x00};
    bad.insert(bad.begin() + static_cast<ptrdiff_t>(sof), seg, seg + sizeof seg);
    EXPECT_EQ(DecoderFile(bad).create_rc(), kJpegBadState) << std::hex << int(m);
  }
  // Comments, APPn, TEM and stray fill bytes are passed over.
  std::vector<uint8_t> extra = jpg;
  const uint8_t seg[] = {0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c', 0xFF, 0xFF, 0xEF, 0x00, 0x02, 0xFF, 0x01};
  extra.insert(extra.begin() + static_cast<ptrdiff_t>(sof), seg, seg + sizeof seg);
  DecoderFile ok(extra);
  EXPECT_EQ(ok.create_rc(), kJpegOk);
}

TEST(Decoder, ReportsDamagedAndTruncatedData) {
  const std::vector<uint8_t> jpg = Cjpeg(64, 64, "-quality 90");
  EXPECT_EQ(DecoderFile({}).create_rc(), kJpegCorrupt);
  EXPECT_EQ(DecoderFile({0x89, 'P', 'N', 'G', 0x0D, 0x0A}).create_rc(), kJpegCorrupt);
  EXPECT_EQ(DecoderFile({0xFF, 0xD8, 0xFF, 0xD9}).create_rc(), kJpegCorrupt);  // no scan
  // Cut inside the JFIF APP0 segment, which is skipped by its length.
  EXPECT_EQ(DecoderFile(std::vector<uint8_t>(jpg.begin(), jpg.begin() + 10)).create_rc(), kJpegCorrupt);
  // Cut in the middle of the entropy-coded data: the rows still arrive, flagged.
  const size_t sos = FindMarker(jpg, 0xDA);
  ASSERT_NE(sos, std::string::npos);
  std::vector<uint8_t> cut(jpg.begin(), jpg.begin() + static_cast<ptrdiff_t>((sos + jpg.size()) / 2));
  DecoderFile d(cut);
  ASSERT_EQ(d.create_rc(), kJpegOk);
  std::vector<uint8_t> out;
  EXPECT_EQ(d.DecodeAll(64, 64, &out), kJpegCorrupt);
  // The same for a progressive stream that stops after a few scans.
  const std::vector<uint8_t> prog = Cjpeg(64, 64, "-progressive");
  std::vector<uint8_t> short_prog(prog.begin(), prog.begin() + static_cast<ptrdiff_t>(prog.size() / 2));
  DecoderFile p(short_prog);
  ASSERT_EQ(p.create_rc(), kJpegOk);
  EXPECT_EQ(p.DecodeAll(64, 64, &out), kJpegCorrupt);
}

TEST(Decoder, SurvivesRandomDamage) {
  // Every damaged variant must end with a result code: no crash, no hang, nothing read
  // outside the buffers (the sanitizer build checks the last part).
  const std::vector<uint8_t> sources[] = {Cjpeg(48, 40, "-quality 90"), Cjpeg(48, 40, "-progressive"),
                                          Cjpeg(48, 40, "-restart 1B -sample 1x1"), Cjpeg(48, 40, "-grayscale")};
  const std::set<int32_t> codes = {kJpegOk, kJpegInvalidArgument, kJpegOutOfMemory, kJpegBadState, kJpegCorrupt};
  std::mt19937 rng(1234);
  int decoded = 0;
  for (int trial = 0; trial < 400; ++trial) {
    std::vector<uint8_t> bad = sources[trial % 4];
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
      const size_t at = rng() % bad.size();
      switch (rng() % 3) {
        case 0:
          bad[at] = static_cast<uint8_t>(rng());
          break;
        case 1:
          bad[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
          break;
        default:
          bad.resize(std::max<size_t>(at, 2));
          break;
      }
    }
    DecoderFile d(bad);
    ASSERT_TRUE(codes.count(d.create_rc())) << d.create_rc();
    if (d.create_rc() != kJpegOk) continue;
    int32_t wh[2];
    ASSERT_EQ(JpegDecoderGet(d.get(), kJpegDecOutputSize, wh, 8), kJpegOk);
    if (static_cast<int64_t>(wh[0]) * wh[1] > 4096 * 4096) continue;  // a damaged size field
    std::vector<uint8_t> out;
    const int32_t rc = d.DecodeAll(wh[0], wh[1], &out);
    EXPECT_TRUE(codes.count(rc)) << rc;
    ++decoded;
  }
  EXPECT_GT(decoded, 100);
}

TEST(Decoder, TakesTheHeightFromDnl) {
  // A sequential file rewritten with height 0 in its frame header and a DNL segment after
  // the scan decodes like the original.
  const std::vector<uint8_t> jpg = Cjpeg(40, 27, "-quality 90");
  const size_t sof = FindMarker(jpg, 0xC0);
  ASSERT_NE(sof, std::string::npos);
  std::vector<uint8_t> dnl = jpg;
  dnl[sof + 5] = 0;
  dnl[sof + 6] = 0;
  ASSERT_EQ(dnl[dnl.size() - 2], 0xFF);
  ASSERT_EQ(dnl[dnl.size() - 1], 0xD9);
  const uint8_t seg[] = {0xFF, 0xDC, 0x00, 0x04, 0x00, 27};
  dnl.insert(dnl.end() - 2, seg, seg + sizeof seg);
  DecoderFile d(dnl);
  ASSERT_EQ(d.create_rc(), kJpegOk);
  EXPECT_EQ(d.Get8(kJpegDecImageSize), std::make_pair(40, 27));
  std::vector<uint8_t> got, want;
  ASSERT_EQ(d.DecodeAll(40, 27, &got), kJpegOk);
  DecoderFile original(jpg);
  ASSERT_EQ(original.DecodeAll(40, 27, &want), kJpegOk);
  EXPECT_EQ(got, want);
  // Without the DNL segment the height is unknown.
  std::vector<uint8_t> missing = jpg;
  missing[sof + 5] = 0;
  missing[sof + 6] = 0;
  EXPECT_EQ(DecoderFile(missing).create_rc(), kJpegCorrupt);
}

TEST(Decoder, UsesTheTypicalTablesWhenAStreamHasNone) {
  // Motion-JPEG style: the DHT segments removed from a file coded with the Annex K tables.
  const std::vector<uint8_t> jpg = Cjpeg(48, 32, "-quality 80");
  std::vector<uint8_t> stripped = jpg;
  for (size_t at; (at = FindMarker(stripped, 0xC4)) != std::string::npos;) {
    const size_t len = 2 + (stripped[at + 2] << 8 | stripped[at + 3]);
    stripped.erase(stripped.begin() + static_cast<ptrdiff_t>(at), stripped.begin() + static_cast<ptrdiff_t>(at + len));
  }
  ASSERT_LT(stripped.size(), jpg.size());
  std::vector<uint8_t> got, want;
  DecoderFile a(stripped), b(jpg);
  ASSERT_EQ(a.DecodeAll(48, 32, &got), kJpegOk);
  ASSERT_EQ(b.DecodeAll(48, 32, &want), kJpegOk);
  EXPECT_EQ(got, want);
}

TEST(Decoder, AllocatesOnlyThroughTheCallbacksAndFreesEverything) {
  for (const char* opts : {"-quality 80", "-progressive"}) {
    const std::vector<uint8_t> jpg = Cjpeg(64, 48, opts);
    CountingAllocator::Reset();
    {
      DecoderFile d(jpg, CountingAllocator::Alloc, CountingAllocator::Release);
      ASSERT_EQ(d.create_rc(), kJpegOk);
      std::vector<uint8_t> out;
      ASSERT_EQ(d.DecodeAll(64, 48, &out), kJpegOk);
      EXPECT_GT(CountingAllocator::outstanding_bytes, 0);
    }
    EXPECT_GT(CountingAllocator::allocations, 2) << opts;
    EXPECT_EQ(CountingAllocator::allocations, CountingAllocator::releases) << opts;
    EXPECT_EQ(CountingAllocator::outstanding_bytes, 0) << opts;
    const int total = CountingAllocator::allocations;
    // Failing each allocation in turn gives 0x8002 from create or the first row call, and
    // still leaks nothing.
    for (int fail = 0; fail < total; ++fail) {
      CountingAllocator::Reset(fail);
      int32_t rc;
      {
        DecoderFile d(jpg, CountingAllocator::Alloc, CountingAllocator::Release);
        rc = d.create_rc();
        if (rc == kJpegOk) {
          std::vector<uint8_t> out;
          rc = d.DecodeAll(64, 48, &out);
        }
      }
      EXPECT_EQ(rc, kJpegOutOfMemory) << opts << " fail at " << fail;
      EXPECT_EQ(CountingAllocator::outstanding_bytes, 0) << opts << " fail at " << fail;
    }
  }
}

}  // namespace
}  // namespace spherolux::jpegtest
