// Stitching contexts: refusals, map and strip geometry at camera resolution, thread
// independence, and image-level checks on frames rendered from a known scene.
#include "stitch/stitch_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <vector>

#include "synthetic_camera.h"

namespace spherolux {
namespace {

using synthetic::RenderDualFisheye;
using synthetic::RenderOptions;
using synthetic::SceneAtPixel;

// Field of view 200 degrees, lens table L4 (model code 5, lens class 0), both circles
// centred in their 960-pixel lens images of a 1920-wide frame, no control lines.
DoubleFisheyeCameraPara TestRecord() {
  DoubleFisheyeCameraPara p;
  p.fLensCoef = 200;
  p.lModel = 5;
  p.stPoint1 = {480, 480, 470};
  p.stPoint2 = {480, 480, 470};
  p.fRatio = 1.0f;
  p.lPointNum = 0;
  return p;
}

// A smooth scene: no channel changes by more than about two levels per output pixel at
// 960 x 480, so small position differences stay small value differences.
double TestScene(double gamma, double psi, int channel) {
  switch (channel) {
    case 0:
      return 128 + 55 * std::sin(gamma) * std::cos(3 * psi) + 20 * std::cos(2 * gamma);
    case 1:
      return 128 + 50 * std::sin(gamma) * std::cos(psi);
    case 2:
      return 128 + 50 * std::sin(gamma) * std::sin(2 * psi);
    default:
      return 120 + 60 * std::cos(gamma);
  }
}

struct Ctx {
  StitchContext* ctx;
  explicit Ctx(StitchContext* c) : ctx(c) {}
  ~Ctx() { DestroyStitchContext(ctx); }
  Ctx(const Ctx&) = delete;
  Ctx& operator=(const Ctx&) = delete;
};

Ctx Make(int sw, int sh, int w, int format, int rotation, bool patch, const DoubleFisheyeCameraPara& p = TestRecord()) {
  return Ctx(CreateStitchContext(&p, sw, sh, w, w / 2, format, rotation, false, patch));
}

std::vector<uint8_t> Stitch(const Ctx& c, const std::vector<uint8_t>& src, int format, int w, int threads = 1) {
  std::vector<uint8_t> out(StitchFrameSize(format, w, w / 2), 0xCD);
  StitchImage(c.ctx, src.data(), out.data(), threads);
  return out;
}

TEST(StitchContext, RefusesWhatItCannotHold) {
  const DoubleFisheyeCameraPara good = TestRecord();
  auto refused = [](const DoubleFisheyeCameraPara* p, int sw, int sh, int w, int h, int format, int rotation) {
    StitchContext* c = CreateStitchContext(p, sw, sh, w, h, format, rotation, false, true);
    DestroyStitchContext(c);
    return c == nullptr;
  };
  EXPECT_FALSE(refused(&good, 960, 480, 960, 480, 0, 0));  // the baseline is accepted
  EXPECT_TRUE(refused(nullptr, 960, 480, 960, 480, 0, 0));
  EXPECT_TRUE(refused(&good, 960, 480, 960, 481, 0, 0));     // not 2:1
  EXPECT_TRUE(refused(&good, 960, 480, 16386, 8193, 2, 0));  // wider than the bound
  EXPECT_FALSE(refused(&good, 960, 480, 5376, 2688, 2, 0));  // a full-size camera photo fits
  EXPECT_TRUE(refused(&good, 960, 480, 0, 0, 0, 0));
  EXPECT_TRUE(refused(&good, 960, 480, 960, 480, 4, 0));   // unknown format
  EXPECT_TRUE(refused(&good, 960, 480, 960, 480, 0, 45));  // unknown rotation
  EXPECT_TRUE(refused(&good, 962, 481, 960, 480, 0, 0));   // odd I420 source side
  EXPECT_TRUE(refused(&good, 960, 480, 962, 481, 0, 90));  // I420 output height 481 is odd
  EXPECT_FALSE(refused(&good, 960, 480, 962, 481, 2, 90));
  for (int n : {-1, 51, std::numeric_limits<int32_t>::max()}) {
    DoubleFisheyeCameraPara p = good;
    p.lPointNum = n;
    EXPECT_TRUE(refused(&p, 960, 480, 960, 480, 0, 0)) << n;
  }
  DoubleFisheyeCameraPara p = good;
  p.lPointNum = 50;
  EXPECT_FALSE(refused(&p, 960, 480, 960, 480, 0, 0));
  for (float fov : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 170.0f, 400.0f}) {
    p = good;
    p.fLensCoef = fov;
    EXPECT_TRUE(refused(&p, 960, 480, 960, 480, 2, 0)) << fov;
  }
  p = good;
  p.stPoint2.radius = std::numeric_limits<float>::infinity();
  EXPECT_TRUE(refused(&p, 960, 480, 960, 480, 2, 0));
  p = good;
  p.fRatio = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(refused(&p, 960, 480, 960, 480, 2, 0));
}

TEST(StitchContext, FrameSizes) {
  EXPECT_EQ(StitchFrameSize(kStitchI420, 960, 480), 960u * 480 * 3 / 2);
  EXPECT_EQ(StitchFrameSize(kStitchPacked24, 962, 481), 2888u * 481);  // 962 * 3 = 2886 -> 2888
  EXPECT_EQ(StitchFrameSize(kStitchPacked32, 960, 480), 960u * 480 * 4);
  EXPECT_EQ(StitchFrameSize(7, 960, 480), 0u);
}

// At 3840 x 1920 with F = 200: maps of trunc(1920 * 200 / 180) = 2133 columns (rotation 0)
// or trunc(1920 * 200 / 360) = 1066 rows (rotation 90); the strip has 3840 / 20 = 192 rows
// with the emblem's rim on its first row and its centre on its last.
TEST(StitchContext, CameraResolutionMapsAndNadirStrip) {
  const int w = 3840, h = 1920;
  std::vector<uint8_t> flat(StitchFrameSize(kStitchPacked32, w, h), 100);
  {
    Ctx c = Make(w, h, w, kStitchPacked32, 0, true);
    ASSERT_TRUE(c.ctx);
    int wm, hm;
    StitchContextMapSize(c.ctx, &wm, &hm);
    EXPECT_EQ(wm, 2133);
    EXPECT_EQ(hm, 1920);
    ASSERT_EQ(StitchContextPatchRows(c.ctx), 192);
    const auto out = Stitch(c, flat, kStitchPacked32, w, 2);
    auto px = [&](int r, int col, int k) { return static_cast<int>(out[(static_cast<size_t>(r) * w + col) * 4 + k]); };
    // Above the strip: (100 * 255 * 255 + 32768) >> 16 = 99 in every byte, seams included.
    for (int col = 0; col < w; ++col) ASSERT_EQ(px(h - 193, col, 0), 99) << col;
    // The rim is amber (B, G, R, A = 44, 168, 236, 255), the centre the star's pale yellow
    // (208, 246, 255, 255), in every column.
    const int amber[4] = {44, 168, 236, 255}, star[4] = {208, 246, 255, 255};
    for (int col = 0; col < w; col += 7) {
      for (int k = 0; k < 4; ++k) {
        ASSERT_NEAR(px(h - 192, col, k), amber[k], 4) << col;
        ASSERT_NEAR(px(h - 1, col, k), star[k], 4) << col;
      }
    }
    // Between them the globe's lines cross the strip: a middle row is not uniform.
    int lo = 255, hi = 0;
    for (int col = 0; col < w; ++col) lo = std::min(lo, px(h - 120, col, 1)), hi = std::max(hi, px(h - 120, col, 1));
    EXPECT_GT(hi - lo, 100);
  }
  {
    Ctx c = Make(w, h, w, kStitchI420, 90, true);
    ASSERT_TRUE(c.ctx);
    int wm, hm;
    StitchContextMapSize(c.ctx, &wm, &hm);
    EXPECT_EQ(wm, 3840);
    EXPECT_EQ(hm, 1066);
    EXPECT_EQ(StitchContextPatchRows(c.ctx), 0);  // vertical layouts carry no strip
  }
  {
    // Rotation 180: the strip turned into the top rows, centre first. Luma of the star
    // 0.299 * 255 + 0.587 * 246 + 0.114 * 208 = 244, of the amber rim 174; Cb of the star
    // 107, of the rim 54 (full-range BT.601).
    Ctx c = Make(w, h, w, kStitchI420, 180, true);
    ASSERT_TRUE(c.ctx);
    ASSERT_EQ(StitchContextPatchRows(c.ctx), 192);
    const auto out = Stitch(c, flat, kStitchI420, w, 2);
    const uint8_t* u = out.data() + static_cast<size_t>(w) * h;
    for (int col = 0; col < w; col += 5) {
      ASSERT_NEAR(out[col], 244, 3) << col;
      ASSERT_NEAR(out[191 * w + col], 174, 3) << col;
      ASSERT_EQ(out[192 * w + col], 99) << col;
      ASSERT_NEAR(u[col / 2], 107, 3) << col;
      // Chroma is read without interpolation on a half-resolution grid, up to three pixels
      // off towards the black outside; three chroma rows in (radius 122) it is all amber.
      ASSERT_NEAR(u[92 * (w / 2) + col / 2], 54, 3) << col;
      ASSERT_EQ(u[96 * (w / 2) + col / 2], 100) << col;  // chroma is copied, not weighted
    }
  }
}

TEST(StitchContext, NoStripForPacked24OrVerticalLayouts) {
  const int w = 480;
  for (const auto& [format, rotation] : {std::pair{1, 0}, std::pair{1, 180}, std::pair{2, 90}, std::pair{0, 270}}) {
    SCOPED_TRACE(testing::Message() << format << " " << rotation);
    Ctx c = Make(w, w / 2, w, format, rotation, true);
    ASSERT_TRUE(c.ctx);
    EXPECT_EQ(StitchContextPatchRows(c.ctx), 0);
    std::vector<uint8_t> flat(StitchFrameSize(format, w, w / 2), 100);
    const auto out = Stitch(c, flat, format, w);
    const size_t luma_or_all = format == 0 ? static_cast<size_t>(w) * w / 2 : out.size();
    const int stride = format == 1 ? 1440 : 0;
    for (size_t i = 0; i < luma_or_all; ++i) {
      if (format == 1 && static_cast<int>(i % stride) >= w * 3) continue;  // row padding
      ASSERT_EQ(out[i], 99) << i;                                          // seams too: (99 * 255 + 128) >> 8 = 99
    }
  }
}

TEST(StitchContext, ThreadCountDoesNotChangeTheOutput) {
  const int w = 480, h = 240;
  std::mt19937 rng(7);
  for (int format : {0, 1, 2}) {
    std::vector<uint8_t> src(StitchFrameSize(format, w, h));
    for (auto& b : src) b = static_cast<uint8_t>(rng());
    for (int rotation : {0, 90, 180, 270}) {
      SCOPED_TRACE(testing::Message() << "format " << format << " rotation " << rotation);
      Ctx c = Make(w, h, w, format, rotation, true);
      ASSERT_TRUE(c.ctx);
      const auto one = Stitch(c, src, format, w, 1);
      EXPECT_EQ(one, Stitch(c, src, format, w, 2));
      EXPECT_EQ(one, Stitch(c, src, format, w, 7));
      EXPECT_EQ(one, Stitch(c, src, format, w, 1000));
      if (format != 1) {
        // Every byte is written: buffers filled differently beforehand end up equal.
        std::vector<uint8_t> zeros(one.size(), 0), ones(one.size(), 0xFF);
        StitchImage(c.ctx, src.data(), zeros.data(), 3);
        StitchImage(c.ctx, src.data(), ones.data(), 3);
        EXPECT_EQ(zeros, ones);
      }
    }
  }
}

// A back-to-back w x h I420 frame copied into three planes with the given row strides,
// each ending at its last row's last byte; the bytes between rows are noise.
struct StridedFrame {
  std::vector<uint8_t> y, u, v;
  I420View view;
};
StridedFrame Strided(const std::vector<uint8_t>& src, int w, int h, int ys, int cs, std::mt19937* rng) {
  StridedFrame f;
  auto copy = [&](const uint8_t* from, int pw, int ph, int stride, std::vector<uint8_t>* to) {
    to->resize(static_cast<size_t>(stride) * (ph - 1) + pw);
    for (auto& b : *to) b = static_cast<uint8_t>((*rng)());
    for (int r = 0; r < ph; ++r) std::copy_n(from + size_t(r) * pw, pw, to->data() + size_t(r) * stride);
  };
  copy(src.data(), w, h, ys, &f.y);
  copy(src.data() + size_t(w) * h, w / 2, h / 2, cs, &f.u);
  copy(src.data() + size_t(w) * h * 5 / 4, w / 2, h / 2, cs, &f.v);
  f.view = {f.y.data(), f.u.data(), f.v.data(), ys, cs};
  return f;
}

// A frame read in place from separate planes with padded rows stitches to the same bytes
// as the frame back to back, for every rotation, with and without the nadir strip, on one
// and two threads. Each plane ends at its last row's last byte.
TEST(StitchImagePlanes, PaddedPlanesGiveTheBackToBackPanorama) {
  const int w = 480, h = 240;
  std::mt19937 rng(11);
  std::vector<uint8_t> src(StitchFrameSize(kStitchI420, w, h));
  for (auto& b : src) b = static_cast<uint8_t>(rng());
  for (const int pad : {32, 1}) {
    const StridedFrame planes = Strided(src, w, h, w + pad, w / 2 + pad, &rng);
    const I420View& view = planes.view;
    for (int rotation : {0, 90, 180, 270}) {
      for (bool patch : {false, true}) {
        SCOPED_TRACE(testing::Message() << "pad " << pad << " rotation " << rotation << " patch " << patch);
        Ctx c = Make(w, h, w, kStitchI420, rotation, patch);
        ASSERT_TRUE(c.ctx);
        const auto want = Stitch(c, src, kStitchI420, w, 1);
        for (int threads : {1, 2}) {
          std::vector<uint8_t> got(want.size(), 0x5A);
          ASSERT_TRUE(StitchImagePlanes(c.ctx, view, got.data(), threads));
          ASSERT_EQ(want, got) << threads << " threads";
        }
      }
    }
  }
}

// A compiled context stitches the bytes of an uncompiled one, with real lens maps, for
// every rotation, with and without the strip, back to back and from padded planes, on one
// and several threads. Compiling twice is harmless; other formats are refused.
TEST(CompileStitchContext, SameBytesAsTheMaps) {
  const int w = 480, h = 240;
  std::mt19937 rng(13);
  std::vector<uint8_t> src(StitchFrameSize(kStitchI420, w, h));
  for (auto& b : src) b = static_cast<uint8_t>(rng());
  const StridedFrame planes = Strided(src, w, h, w + 7, w / 2 + 5, &rng);
  const I420View& view = planes.view;
  for (int rotation : {0, 90, 180, 270}) {
    for (bool patch : {false, true}) {
      SCOPED_TRACE(testing::Message() << "rotation " << rotation << " patch " << patch);
      Ctx maps = Make(w, h, w, kStitchI420, rotation, patch);
      Ctx compiled = Make(w, h, w, kStitchI420, rotation, patch);
      ASSERT_TRUE(maps.ctx && compiled.ctx);
      ASSERT_TRUE(CompileStitchContext(compiled.ctx, 2));
      ASSERT_TRUE(CompileStitchContext(compiled.ctx));
      const auto want = Stitch(maps, src, kStitchI420, w, 1);
      for (int threads : {1, 3}) {
        EXPECT_EQ(want, Stitch(compiled, src, kStitchI420, w, threads)) << threads << " threads";
        std::vector<uint8_t> got(want.size(), 0x5A);
        ASSERT_TRUE(StitchImagePlanes(compiled.ctx, view, got.data(), threads));
        EXPECT_EQ(want, got) << "planes, " << threads << " threads";
        // A band of rows, reaching into the strip: those rows and their chroma, nothing else.
        for (const Ctx* c : {&maps, &compiled}) {
          const int first = 60, end = 234;
          std::vector<uint8_t> band(want.size(), 0x5A), expected(want.size(), 0x5A);
          ASSERT_TRUE(StitchImagePlaneRows(c->ctx, view, band.data(), first, end, threads));
          const size_t luma = static_cast<size_t>(w) * h, chroma = luma / 4;
          std::copy(want.begin() + first * w, want.begin() + end * w, expected.begin() + first * w);
          for (size_t plane : {luma, luma + chroma})
            std::copy(want.begin() + static_cast<long>(plane) + first / 2 * (w / 2),
                      want.begin() + static_cast<long>(plane) + end / 2 * (w / 2),
                      expected.begin() + static_cast<long>(plane) + first / 2 * (w / 2));
          EXPECT_TRUE(band == expected) << "rows, " << threads << " threads";
        }
      }
    }
  }
  Ctx packed = Make(w, h, w, kStitchPacked32, 0, false);
  EXPECT_FALSE(CompileStitchContext(packed.ctx));
  Ctx rows = Make(w, h, w, kStitchI420, 0, false);
  std::vector<uint8_t> out(StitchFrameSize(kStitchI420, w, h), 0x5A);
  for (const auto& [first, end] : {std::pair{1, 10}, {10, 9}, {-2, 10}, {0, h + 2}})
    EXPECT_FALSE(StitchImagePlaneRows(rows.ctx, view, out.data(), first, end)) << first << " " << end;
  EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0x5A));
  EXPECT_FALSE(CompileStitchContext(nullptr));
}

TEST(StitchImagePlanes, RefusesWhatItCannotRead) {
  const int w = 240, h = 120;
  std::vector<uint8_t> src(StitchFrameSize(kStitchI420, w, h), 100);
  std::vector<uint8_t> out(StitchFrameSize(kStitchPacked32, w, h), 7);
  const I420View good = BackToBackI420(src.data(), w, h);
  Ctx i420 = Make(w, h, w, kStitchI420, 0, false);
  Ctx packed = Make(w, h, w, kStitchPacked32, 0, false);
  ASSERT_TRUE(i420.ctx && packed.ctx);
  EXPECT_FALSE(StitchImagePlanes(nullptr, good, out.data()));
  EXPECT_FALSE(StitchImagePlanes(i420.ctx, good, nullptr));
  EXPECT_FALSE(StitchImagePlanes(packed.ctx, good, out.data()));  // not an I420 context
  I420View narrow = good;
  narrow.y_stride = w - 2;
  EXPECT_FALSE(StitchImagePlanes(i420.ctx, narrow, out.data()));
  narrow = good;
  narrow.uv_stride = w / 2 - 1;
  EXPECT_FALSE(StitchImagePlanes(i420.ctx, narrow, out.data()));
  narrow = good;
  narrow.v = nullptr;
  EXPECT_FALSE(StitchImagePlanes(i420.ctx, narrow, out.data()));
  for (uint8_t b : out) ASSERT_EQ(b, 7);
  EXPECT_TRUE(StitchImagePlanes(i420.ctx, good, out.data()));
}

// Frames rendered from the scene through the lens model stitch back to the scene.
TEST(StitchImage, StitchedSceneMatchesTheScene) {
  const int w = 960, h = 480;
  const DoubleFisheyeCameraPara para = TestRecord();
  for (int format : {0, 2}) {
    SCOPED_TRACE(format);
    RenderOptions opt;
    opt.format = format;
    opt.output_height = h;
    const auto src = RenderDualFisheye(para, w, h, TestScene, opt);
    synthetic::MaybeWriteImage(format == 0 ? "source_i420" : "source_bgra", src, format, w, h);
    Ctx c = Make(w, h, w, format, 0, false);
    ASSERT_TRUE(c.ctx);
    const auto out = Stitch(c, src, format, w, 2);
    synthetic::MaybeWriteImage(format == 0 ? "stitched_i420" : "stitched_bgra", out, format, w, h);
    const int channels = format == 0 ? 1 : 4;
    double sum = 0;
    int worst = 0, count = 0;
    for (int r = 0; r < h; ++r) {
      for (int col = 0; col < w; ++col) {
        for (int k = 0; k < channels; ++k) {
          const int got = out[(static_cast<size_t>(r) * w + col) * channels + k];
          const int want = static_cast<int>(std::lround(SceneAtPixel(TestScene, w, h, r, col, k)));
          const int d = std::abs(got - want);
          sum += d, ++count, worst = std::max(worst, d);
        }
      }
    }
    // The 255/256 scaling of flat areas costs up to 2 levels, interpolation about one more.
    EXPECT_LT(sum / count, 2.0);
    EXPECT_LE(worst, 8);
    if (format == 0) {
      const uint8_t* u = out.data() + w * h;
      double csum = 0;
      for (int br = 0; br < h / 2; ++br)
        for (int bc = 0; bc < w / 2; ++bc)
          csum += std::abs(u[br * (w / 2) + bc] - SceneAtPixel(TestScene, w, h, 2 * br, 2 * bc, 1));
      EXPECT_LT(csum / (w * h / 4), 2.0);
    }
  }
}

// With lens 1 brighter by 30, the difference to an evenly exposed stitch is 0 where lens 2
// alone shows, about 30 where lens 1 alone shows, and ramps across the seams. At 960 x 480
// with F = 200: Wm = 533, overlap 53, so I420 (cap 48) blends columns 216..263 and
// 696..743, packed pixels (cap 80, hb = 26) columns 214..265 and 694..745. Vertically
// Hm = 266, overlap 52, capped to 48 rows around row 240: rows 216..263.
TEST(StitchImage, SeamsLieWhereTheLayoutPutsThem) {
  const int w = 960, h = 480;
  const DoubleFisheyeCameraPara para = TestRecord();
  auto profile = [&](int format, int rotation) {
    RenderOptions opt;
    opt.format = format;
    opt.output_height = h;
    const auto even = RenderDualFisheye(para, w, h, TestScene, opt);
    opt.lens1_gain = 30;
    const auto bright = RenderDualFisheye(para, w, h, TestScene, opt);
    Ctx c = Make(w, h, w, format, rotation, false);
    EXPECT_TRUE(c.ctx);
    const auto a = Stitch(c, even, format, w), b = Stitch(c, bright, format, w);
    const int bpp = format == 0 ? 1 : 4;
    std::vector<int> d;
    if (rotation == 0) {
      for (int col = 0; col < w; ++col) d.push_back(b[(h / 2 * w + col) * bpp] - a[(h / 2 * w + col) * bpp]);
    } else {
      for (int r = 0; r < h; ++r) d.push_back(b[(r * w + 300) * bpp] - a[(r * w + 300) * bpp]);
    }
    return d;
  };
  auto check = [](const std::vector<int>& d, int lens1_from, int lens1_to, int seam) {
    // lens1_from / lens1_to: first and last position that lens 1 reaches, blends included.
    for (int i = 0; i < static_cast<int>(d.size()); ++i) {
      const bool inside = i >= lens1_from && i <= lens1_to;
      const bool in_seam = inside && (i < lens1_from + seam || i > lens1_to - seam);
      if (!inside) {
        ASSERT_EQ(d[i], 0) << i;
      } else if (!in_seam) {
        ASSERT_NEAR(d[i], 30, 1) << i;
      } else {
        ASSERT_GE(d[i], 0) << i;
        ASSERT_LE(d[i], 31) << i;
      }
    }
  };
  {
    SCOPED_TRACE("I420 rotation 0");
    const auto d = profile(0, 0);
    check(d, 216, 743, 48);
    EXPECT_NEAR(d[240], 15, 2);  // the middle of the first seam
  }
  {
    SCOPED_TRACE("packed rotation 0");
    const auto d = profile(2, 0);
    check(d, 214, 745, 52);
  }
  {
    SCOPED_TRACE("packed rotation 270: lens 1 on top");
    const auto d = profile(2, 270);
    check(d, 0, 263, 48);
  }
  {
    SCOPED_TRACE("I420 rotation 90: lens 1 at the bottom");
    const auto d = profile(0, 90);
    check(d, 216, 479, 48);
  }
}

int TurnedDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int w, int h, int bpp,
                     double* mean) {
  int worst = 0;
  double sum = 0;
  for (int r = 0; r < h; ++r)
    for (int col = 0; col < w; ++col)
      for (int k = 0; k < bpp; ++k) {
        const int d = std::abs(a[(r * w + col) * bpp + k] - b[((h - 1 - r) * w + (w - 1 - col)) * bpp + k]);
        worst = std::max(worst, d), sum += d;
      }
  *mean = sum / (static_cast<double>(w) * h * bpp);
  return worst;
}

// Rotation 180 is rotation 0 turned, and 90 is 270 turned, up to the truncation of the
// ramp weights and one-pixel shifts of integer halving.
TEST(StitchImage, HalfTurnRotationsTurnThePanorama) {
  const int w = 960, h = 480;
  const DoubleFisheyeCameraPara para = TestRecord();
  RenderOptions opt;
  opt.format = 2;
  opt.output_height = h;
  const auto src = RenderDualFisheye(para, w, h, TestScene, opt);
  for (const auto& [ra, rb] : {std::pair{0, 180}, std::pair{270, 90}}) {
    SCOPED_TRACE(testing::Message() << ra << " vs " << rb);
    Ctx a = Make(w, h, w, 2, ra, false), b = Make(w, h, w, 2, rb, false);
    ASSERT_TRUE(a.ctx && b.ctx);
    const auto oa = Stitch(a, src, 2, w), ob = Stitch(b, src, 2, w);
    double mean;
    EXPECT_LE(TurnedDifference(oa, ob, w, h, 4, &mean), 6);
    EXPECT_LT(mean, 1.0);
  }
}

TEST(StitchContext, TraceFilesOnlyWhenAFolderIsNamed) {
  const auto dir = std::filesystem::temp_directory_path() / ("stitch_trace_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  unsetenv("SPHEROLUX_TRACE_DIR");
  { Ctx c = Make(480, 240, 480, 2, 0, false); }
  EXPECT_FALSE(std::filesystem::exists(dir / "Points1.txt"));
  setenv("SPHEROLUX_TRACE_DIR", dir.c_str(), 1);
  int wm = 0, hm = 0;
  {
    Ctx c = Make(480, 240, 480, 2, 0, false);
    StitchContextMapSize(c.ctx, &wm, &hm);
  }
  unsetenv("SPHEROLUX_TRACE_DIR");
  EXPECT_EQ(wm, 266);  // trunc(240 * 200 / 180)
  for (const char* name : {"Points1.txt", "Points2.txt"}) {
    ASSERT_TRUE(std::filesystem::exists(dir / name)) << name;
    EXPECT_EQ(std::filesystem::file_size(dir / name), static_cast<uintmax_t>(wm) * hm * 8) << name;
  }
  // Lens 2's entries lie in the right half of the 480-wide frame: x >= 240.
  std::FILE* f = std::fopen((dir / "Points2.txt").c_str(), "rb");
  ASSERT_TRUE(f);
  uint8_t e[8];
  ASSERT_EQ(std::fread(e, 1, 8, f), 8u);
  std::fclose(f);
  EXPECT_GE(e[0] | e[1] << 8, 240);
  EXPECT_EQ(e[2] + e[3], 255);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace spherolux
