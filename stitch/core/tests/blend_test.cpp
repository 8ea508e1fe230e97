// Blending kernels: seam geometry worked out by hand from the layout of the panorama
// (lens 2 around column 0, lens 1 around column H), bilinear arithmetic, row slicing, and
// the vector path against the scalar reference on random maps.
#include "stitch/blend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "blend_dsp.h"

namespace spherolux {
namespace {

// A flat sample through weights summing to 255: (v * 255 * 255 + 32768) >> 16.
int Flat(int v) { return (v * 65025 + 32768) >> 16; }
int MixRef(int a, int b, int wa, int wb) { return (a * wa + b * wb + 128) >> 8; }

RemapEntry Entry(int x, int y, int fx = 0, int fy = 0) {
  return RemapEntry{static_cast<int16_t>(x), static_cast<uint8_t>(255 - fx), static_cast<uint8_t>(fx),
                    static_cast<int16_t>(y), static_cast<uint8_t>(255 - fy), static_cast<uint8_t>(fy)};
}

// Maps whose entry (row r, column k) points at column k of its own lens image, row r,
// without fractions. Lens 2's image sits right of lens 1's, each `lens_width` wide.
struct IdentityMaps {
  std::vector<RemapEntry> lens1, lens2;
};
IdentityMaps MakeIdentityMaps(int wm, int hm, int lens_width) {
  IdentityMaps m;
  for (int r = 0; r < hm; ++r) {
    for (int k = 0; k < wm; ++k) {
      m.lens1.push_back(Entry(k, r));
      m.lens2.push_back(Entry(k + lens_width, r));
    }
  }
  return m;
}

// Packed source whose pixel (x, y) encodes lens, column and row in separate channels.
std::vector<uint8_t> CodedPacked(int width, int height, int bpp, int lens_width) {
  std::vector<uint8_t> src(static_cast<size_t>(width) * height * bpp);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &src[(static_cast<size_t>(y) * width + x) * bpp];
      p[0] = x < lens_width ? 60 : 180;
      p[1] = static_cast<uint8_t>(2 * (x % lens_width) + 1);
      p[2] = static_cast<uint8_t>(3 * y + 5);
      if (bpp == 4) p[3] = 77;
    }
  }
  return src;
}

// Horizontal layout of a 80 x 40 packed panorama from 60-column maps: diff = 20 and
// hb = 10, so the seams cover columns 10..29 and 50..69. Lens 2's map feeds columns 0..29
// from its column 30 on and restarts at its column 0 at output column 50; lens 1's map
// feeds columns 10..69 from its column 0.
TEST(BlendHorizontal, PackedSeamColumnsAndWeights) {
  const int wm = 60, h = 40, w = 80, lw = 61;
  for (int bpp : {3, 4}) {
    SCOPED_TRACE(bpp);
    const int src_stride = 2 * lw * bpp;
    const auto src = CodedPacked(2 * lw, h + 1, bpp, lw);
    const auto maps = MakeIdentityMaps(wm, h, lw);
    const int out_stride = PackedRowStride(w, bpp);
    std::vector<uint8_t> out(static_cast<size_t>(out_stride) * h, 0xEE);
    ASSERT_TRUE(BlendHorizontalPacked(src.data(), src_stride, h + 1, bpp, out.data(), maps.lens2.data(),
                                      maps.lens1.data(), wm, h));
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) {
        const int col2 = c < 30 ? 30 + c : c - 50;
        const int col1 = c - 10;
        for (int k = 0; k < bpp; ++k) {
          const int v2 = col2 >= 0 && col2 < wm ? Flat(src[(r * 2 * lw + lw + col2) * bpp + k]) : -1;
          const int v1 = col1 >= 0 && col1 < wm ? Flat(src[(r * 2 * lw + col1) * bpp + k]) : -1;
          int expected;
          if (c < 10 || c >= 70) {
            expected = v2;
          } else if (c >= 30 && c < 50) {
            expected = v1;
          } else {
            const int i = c < 30 ? c - 10 : c - 50;
            const int wb = i * 255 / 20, wa = 255 - wb;
            expected = c < 30 ? MixRef(v2, v1, wa, wb) : MixRef(v2, v1, wb, wa);
          }
          ASSERT_EQ(out[r * out_stride + c * bpp + k], expected) << "row " << r << " col " << c << " ch " << k;
        }
      }
      // Row padding of 3-byte rows is not written.
      for (int p = w * bpp; p < out_stride; ++p) EXPECT_EQ(out[r * out_stride + p], 0xEE);
    }
  }
}

// I420, 84 x 42 output from 62-column maps: diff = 20, hb = 10, and the segment
// boundaries 11, 31, 53 and 73 round up to 12, 32, 54 and 74. Lens 2's first segment then
// reaches map column 31 + 31 = 62, one past the map: that column repeats column 61.
TEST(BlendHorizontal, I420EvenBoundariesAndTopLeftChroma) {
  const int wm = 62, h = 42, w = 84, lw = 64, sw = 2 * lw, sh = 44;
  std::vector<uint8_t> src(static_cast<size_t>(sw) * sh * 3 / 2);
  uint8_t* su = src.data() + sw * sh;
  uint8_t* sv = su + sw * sh / 4;
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x) src[y * sw + x] = static_cast<uint8_t>(2 * (x % lw) + (x < lw ? 0 : 128) + y % 2);
  for (int y = 0; y < sh / 2; ++y) {
    for (int x = 0; x < sw / 2; ++x) {
      su[y * sw / 2 + x] = static_cast<uint8_t>(x * 3 + y);
      sv[y * sw / 2 + x] = static_cast<uint8_t>(250 - x - 2 * y);
    }
  }
  // Odd rows of the maps get fractions, so the chroma must come from the even (top) row.
  IdentityMaps maps = MakeIdentityMaps(wm, h, lw);
  for (int r = 1; r < h; r += 2) {
    for (int k = 0; k < wm; ++k) {
      maps.lens1[r * wm + k] = Entry(k, r + 1, 0, 0);
      maps.lens2[r * wm + k] = Entry(k + lw, r + 1, 0, 0);
    }
  }
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3 / 2);
  ASSERT_TRUE(BlendHorizontalI420(src.data(), sw, sh, out.data(), maps.lens2.data(), maps.lens1.data(), wm, h));
  auto lens2_col = [](int c) { return c < 32 ? std::min(31 + c, 61) : c - 54; };
  auto lens1_col = [](int c) { return c - 12; };
  // Returns whether column c is mixed; w2 and w1 are the weights of lens 2 and lens 1.
  auto weights = [](int c, int* w2, int* w1) {
    *w2 = *w1 = 0;
    if (c >= 12 && c < 32) {
      const int wb = (c - 12) * 255 / 20;
      *w2 = 255 - wb, *w1 = wb;
    } else if (c >= 54 && c < 74) {
      const int wb = (c - 54) * 255 / 20;
      *w2 = wb, *w1 = 255 - wb;
    } else {
      return false;
    }
    return true;
  };
  for (int r = 0; r < h; ++r) {
    const int sy = r % 2 ? r + 1 : r;
    for (int c = 0; c < w; ++c) {
      int w2, w1;
      const bool mixed = weights(c, &w2, &w1);
      const bool lens1 = c >= 12 && c < 74;
      const int v2 = Flat(src[sy * sw + lw + lens2_col(c)]);
      const int v1 = lens1 ? Flat(src[sy * sw + lens1_col(c)]) : 0;
      const int expected = mixed ? MixRef(v2, v1, w2, w1) : lens1 ? v1 : v2;
      ASSERT_EQ(out[r * w + c], expected) << "row " << r << " col " << c;
    }
  }
  const uint8_t* ou = out.data() + w * h;
  const uint8_t* ov = ou + w * h / 4;
  for (int br = 0; br < h / 2; ++br) {
    for (int bc = 0; bc < w / 2; ++bc) {
      const int c = 2 * bc;
      int w2, w1;
      const bool mixed = weights(c, &w2, &w1);
      const bool lens1 = c >= 12 && c < 74;
      const int cy = br;  // top-left entry: row 2 * br, no fraction
      const int i2 = cy * sw / 2 + (lw + lens2_col(c)) / 2;
      const int i1 = cy * sw / 2 + std::max(lens1_col(c), 0) / 2;
      const int eu = mixed ? MixRef(su[i2], su[i1], w2, w1) : lens1 ? su[i1] : su[i2];
      const int ev = mixed ? MixRef(sv[i2], sv[i1], w2, w1) : lens1 ? sv[i1] : sv[i2];
      ASSERT_EQ(ou[br * w / 2 + bc], eu) << "block " << br << "," << bc;
      ASSERT_EQ(ov[br * w / 2 + bc], ev) << "block " << br << "," << bc;
    }
  }
}

// A flat source of 255 comes out as 253 away from the seams and 252 inside them (two
// 255-sum weightings); I420 chroma is copied (255) and only the seams scale it (254). The
// number of seam columns is 4 * hb with hb = min(Wm - H, cap) / 2.
TEST(BlendHorizontal, FlatSourceAndBlendWidths) {
  struct Case {
    int wm, h, seam_columns_packed, seam_columns_i420;
  };
  // diff 0 and 1 are hard cuts; diff 200 is capped at 80 (packed) and 48 (I420).
  const Case cases[] = {{40, 40, 0, 0}, {41, 40, 0, 0}, {60, 40, 40, 40}, {240, 200, 80, 80}, {400, 200, 160, 96}};
  for (const Case& cs : cases) {
    SCOPED_TRACE(cs.wm);
    const int w = 2 * cs.h;
    const auto maps = MakeIdentityMaps(cs.wm, cs.h, cs.wm + 2);
    const int sw = 2 * (cs.wm + 2), sh = cs.h + 2;
    std::vector<uint8_t> src(static_cast<size_t>(sw) * sh * 4, 255);
    std::vector<uint8_t> out(static_cast<size_t>(w) * cs.h * 4);
    ASSERT_TRUE(BlendHorizontalPacked(src.data(), sw * 4, sh, 4, out.data(), maps.lens2.data(), maps.lens1.data(),
                                      cs.wm, cs.h));
    int seam = 0;
    for (int c = 0; c < w; ++c) {
      const int v = out[(cs.h / 2 * w + c) * 4];
      ASSERT_TRUE(v == 253 || v == 252) << c;
      seam += v == 252;
    }
    EXPECT_EQ(seam, cs.seam_columns_packed);
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], out[(cs.h / 2 * w + i / 4 % w) * 4]);

    std::vector<uint8_t> out420(static_cast<size_t>(w) * cs.h * 3 / 2);
    ASSERT_TRUE(
        BlendHorizontalI420(src.data(), sw, sh, out420.data(), maps.lens2.data(), maps.lens1.data(), cs.wm, cs.h));
    seam = 0;
    for (int c = 0; c < w; ++c) {
      const int y = out420[c], u = out420[w * cs.h + c / 2];
      ASSERT_TRUE((y == 253 && u == 255) || (y == 252 && u == 254)) << c;
      seam += y == 252;
    }
    EXPECT_EQ(seam, cs.seam_columns_i420);
  }
}

// One bilinear sample worked out by hand: neighbours 10, 200 / 50, 90, fx = 64, fy = 128:
// top = 10 * 191 + 200 * 64 = 14710, bottom = 50 * 191 + 90 * 64 = 15310,
// (127 * 14710 + 128 * 15310 + 32768) >> 16 = 58.
TEST(BlendVertical, BilinearSampleByHand) {
  // Channel 0 of a 4-byte source carries the four neighbours; the other channels are 0.
  std::vector<uint8_t> src(4 * 3 * 4, 0);
  src[0] = 10, src[4] = 200, src[16] = 50, src[20] = 90;
  std::vector<RemapEntry> map(16 * 8, Entry(0, 0, 64, 128));
  std::vector<uint8_t> out(16 * 8 * 4);
  ASSERT_TRUE(BlendVerticalPacked(src.data(), 16, 3, 4, out.data(), map.data(), map.data(), 16, 8));
  for (int p = 0; p < 16 * 8; ++p) {
    ASSERT_EQ(out[p * 4], 58) << p;  // every row, blended or not: 58 mixed with itself stays 58
    ASSERT_EQ(out[p * 4 + 1], 0);
  }
}

// Vertical layout of an 80 x 40 panorama from 30-row maps: overlap 2 * 30 - 40 = 20, so
// rows 10..29 mix the first map's rows 10..29 with the second map's rows 0..19, with the
// first map weighted (20 - k) * 255 / 20 on blend row k.
TEST(BlendVertical, PackedSeamRowsAndWeights) {
  const int w = 80, h = 40, hm = 30;
  const int sw = 2 * w + 2, sh = hm + 1;
  const auto src = CodedPacked(sw, sh, 4, w + 1);
  const auto maps = MakeIdentityMaps(w, hm, w + 1);
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * 4);
  ASSERT_TRUE(BlendVerticalPacked(src.data(), sw * 4, sh, 4, out.data(), maps.lens1.data(), maps.lens2.data(), w, hm));
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      for (int k = 0; k < 4; ++k) {
        const int v1 = r < 30 ? Flat(src[(r * sw + c) * 4 + k]) : -1;
        const int v2 = r >= 10 ? Flat(src[((r - 10) * sw + w + 1 + c) * 4 + k]) : -1;
        int expected = r < 10 ? v1 : r >= 30 ? v2 : 0;
        if (r >= 10 && r < 30) {
          const int f = (20 - (r - 10)) * 255 / 20;
          expected = MixRef(v1, v2, f, 255 - f);
        }
        ASSERT_EQ(out[(r * w + c) * 4 + k], expected) << r << "," << c << "," << k;
      }
    }
  }
}

// Odd overlap: W = 82, H = 41, Hm = 30 gives 2 * 30 - 41 = 19, blended over 18 rows
// (hb = 9) around row 20: rows 11..28. The second map starts at row 30 - 20 - 9 = 1 on
// row 11, so the last output row would need map row 30, one past the map: it repeats 29.
TEST(BlendVertical, OddOverlapBlendsOneRowFewer) {
  const int w = 82, h = 41, hm = 30;
  const auto maps = MakeIdentityMaps(w, hm, w + 1);
  const int sw = 2 * w + 2, sh = hm + 1;
  const auto src = CodedPacked(sw, sh, 3, w + 1);
  const int stride = PackedRowStride(sw, 3);
  std::vector<uint8_t> padded(static_cast<size_t>(stride) * sh);
  for (int y = 0; y < sh; ++y) std::copy_n(&src[y * sw * 3], sw * 3, &padded[y * stride]);
  const int out_stride = PackedRowStride(w, 3);
  ASSERT_EQ(out_stride, 248);
  std::vector<uint8_t> out(static_cast<size_t>(out_stride) * h);
  ASSERT_TRUE(
      BlendVerticalPacked(padded.data(), stride, sh, 3, out.data(), maps.lens1.data(), maps.lens2.data(), w, hm));
  for (int r = 0; r < h; ++r) {
    const int c = 37;
    const int v1 = r < 30 ? Flat(padded[r * stride + c * 3 + 2]) : -1;
    const int v2 = Flat(padded[std::clamp(r - 10, 0, 29) * stride + (w + 1 + c) * 3 + 2]);
    int expected = r < 11 ? v1 : r >= 29 ? v2 : -1;
    if (r >= 11 && r < 29) {
      const int f = (18 - (r - 11)) * 255 / 18;
      expected = MixRef(v1, v2, f, 255 - f);
    }
    ASSERT_EQ(out[r * out_stride + c * 3 + 2], expected) << r;
  }
}

// Vertical I420, 84 x 42 from 31-row maps: overlap 20, hb = 10, seam row 21, blend rows
// 11..30 rounded up to 12..31; the second map starts at row 31 - 21 - 10 = 0 on row 12.
// The block's second luma row takes the weight of the next blend row, its chroma the
// weight of the first.
TEST(BlendVertical, I420EvenRowsAndChromaWeights) {
  const int w = 84, h = 42, hm = 31, lw = 86, sw = 2 * lw, sh = 34;
  std::vector<uint8_t> src(static_cast<size_t>(sw) * sh * 3 / 2);
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x) src[y * sw + x] = static_cast<uint8_t>(x < lw ? 20 + 5 * y : 230 - 3 * y);
  uint8_t* su = src.data() + sw * sh;
  for (int i = 0; i < sw * sh / 4; ++i) su[i] = static_cast<uint8_t>(i * 7);
  uint8_t* sv = su + sw * sh / 4;
  for (int i = 0; i < sw * sh / 4; ++i) sv[i] = static_cast<uint8_t>(i * 13 + 1);
  const auto maps = MakeIdentityMaps(w, hm, lw);
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3 / 2);
  ASSERT_TRUE(BlendVerticalI420(src.data(), sw, sh, out.data(), maps.lens2.data(), maps.lens1.data(), w, hm));
  // First map = lens 2 (right half of the source), second = lens 1.
  for (int r = 0; r < h; ++r) {
    const int c = 10;
    const int first_row = std::min(r, hm - 1);
    const int second_row = std::max(r - 12, 0);
    const int vf = Flat(src[first_row * sw + lw + c]);
    const int vs = Flat(src[second_row * sw + c]);
    int expected = r < 12 ? vf : r >= 32 ? vs : -1;
    if (r >= 12 && r < 32) {
      const int f = (20 - (r - 12)) * 255 / 20;
      expected = MixRef(vf, vs, f, 255 - f);
    }
    ASSERT_EQ(out[r * w + c], expected) << r;
    if (r % 2 == 0) {
      const int cf = (first_row / 2) * (sw / 2) + (lw + c) / 2;
      const int cs = (second_row / 2) * (sw / 2) + c / 2;
      const uint8_t* ou = out.data() + w * h;
      int eu = r < 12 ? su[cf] : r >= 32 ? su[cs] : -1;
      if (r >= 12 && r < 32) {
        const int f = (20 - (r - 12)) * 255 / 20;
        eu = MixRef(su[cf], su[cs], f, 255 - f);
      }
      ASSERT_EQ(ou[(r / 2) * (w / 2) + c / 2], eu) << r;
    }
  }
}

TEST(Blend, RefusesUnusableGeometry) {
  std::vector<RemapEntry> map(200 * 100, Entry(0, 0));
  std::vector<uint8_t> src(64 * 64 * 4, 1), out(400 * 200 * 4, 9);
  // Maps narrower than the output height (less than 180 degrees) or wider than the output.
  EXPECT_FALSE(BlendHorizontalPacked(src.data(), 64, 64, 4, out.data(), map.data(), map.data(), 39, 40));
  EXPECT_FALSE(BlendHorizontalPacked(src.data(), 64, 64, 4, out.data(), map.data(), map.data(), 81, 40));
  EXPECT_FALSE(BlendHorizontalPacked(src.data(), 64, 64, 2, out.data(), map.data(), map.data(), 60, 40));
  // I420 needs even output and source sizes, and row ranges on row pairs.
  EXPECT_FALSE(BlendHorizontalI420(src.data(), 32, 32, out.data(), map.data(), map.data(), 60, 41));
  EXPECT_FALSE(BlendHorizontalI420(src.data(), 31, 32, out.data(), map.data(), map.data(), 60, 40));
  EXPECT_FALSE(BlendHorizontalI420(src.data(), 32, 32, out.data(), map.data(), map.data(), 60, 40, {1, 10}));
  // Vertical maps must cover at least half the output height and at most all of it.
  EXPECT_FALSE(BlendVerticalPacked(src.data(), 64, 64, 4, out.data(), map.data(), map.data(), 80, 19));
  EXPECT_FALSE(BlendVerticalPacked(src.data(), 64, 64, 4, out.data(), map.data(), map.data(), 80, 41));
  EXPECT_FALSE(BlendVerticalI420(src.data(), 32, 32, out.data(), map.data(), map.data(), 82, 30));
  EXPECT_FALSE(BlendVerticalPacked(nullptr, 64, 64, 4, out.data(), map.data(), map.data(), 80, 30));
  for (uint8_t b : out) ASSERT_EQ(b, 9);
}

// ---------------------------------------------------------------------------------------
// Random maps: every code path against the scalar reference, and row slicing.

struct RandomCase {
  int src_width, src_height;  // whole frame
  std::vector<uint8_t> src;
  std::vector<RemapEntry> first, second;
};

// Entries anywhere in the frame, including the last valid column and row so that the
// vector path's end-of-buffer fallback is exercised.
RandomCase MakeRandomCase(std::mt19937* rng, int sw, int sh, int bytes, int wm, int hm) {
  RandomCase rc{sw, sh, std::vector<uint8_t>(bytes), {}, {}};
  for (auto& b : rc.src) b = static_cast<uint8_t>((*rng)());
  auto entry = [&]() {
    const int pick = (*rng)() % 8;
    const int x = pick == 0 ? sw - 2 : static_cast<int>((*rng)() % (sw - 1));
    const int y = pick == 1 ? sh - 2 : static_cast<int>((*rng)() % (sh - 1));
    return Entry(x, y, (*rng)() % 256, (*rng)() % 256);
  };
  for (int i = 0; i < wm * hm; ++i) rc.first.push_back(entry());
  for (int i = 0; i < wm * hm; ++i) rc.second.push_back(entry());
  return rc;
}

TEST(BlendPaths, VectorPathMatchesScalarBitForBit) {
  const BlendDsp* simd = Avx2BlendDsp();
  if (!simd) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937 rng(1234);
  const BlendDsp& ref = ScalarBlendDsp();
  for (int trial = 0; trial < 6; ++trial) {
    const int h = 2 * (20 + static_cast<int>(rng() % 20));  // even
    const int w = 2 * h;
    const int wm = h + static_cast<int>(rng() % (h / 2));
    const int hm = h / 2 + static_cast<int>(rng() % (h / 2));
    const int sw = 2 * (8 + static_cast<int>(rng() % 40)), sh = 2 * (8 + static_cast<int>(rng() % 40));
    SCOPED_TRACE(testing::Message() << "trial " << trial << " h " << h << " wm " << wm << " hm " << hm);

    // I420.
    RandomCase rc = MakeRandomCase(&rng, sw, sh, sw * sh * 3 / 2, wm, h);
    std::vector<uint8_t> a(w * h * 3 / 2), b(w * h * 3 / 2);
    ASSERT_TRUE(
        BlendHorizontalI420With(ref, rc.src.data(), sw, sh, a.data(), rc.first.data(), rc.second.data(), wm, h, 0, h));
    ASSERT_TRUE(BlendHorizontalI420With(*simd, rc.src.data(), sw, sh, b.data(), rc.first.data(), rc.second.data(), wm,
                                        h, 0, h));
    ASSERT_EQ(a, b);
    rc = MakeRandomCase(&rng, sw, sh, sw * sh * 3 / 2, w, hm);
    ASSERT_TRUE(
        BlendVerticalI420With(ref, rc.src.data(), sw, sh, a.data(), rc.first.data(), rc.second.data(), w, hm, 0, h));
    ASSERT_TRUE(
        BlendVerticalI420With(*simd, rc.src.data(), sw, sh, b.data(), rc.first.data(), rc.second.data(), w, hm, 0, h));
    ASSERT_EQ(a, b);

    // Packed, with a source stride that is not a whole number of pixels.
    for (int bpp : {3, 4}) {
      const int stride = sw * bpp + 4 * static_cast<int>(rng() % 3);
      const size_t out_size = static_cast<size_t>(PackedRowStride(w, bpp)) * h;
      std::vector<uint8_t> pa(out_size, 1), pb(out_size, 1);
      rc = MakeRandomCase(&rng, sw, sh, stride * sh, wm, h);
      ASSERT_TRUE(BlendHorizontalPackedWith(ref, rc.src.data(), stride, sh, bpp, pa.data(), rc.first.data(),
                                            rc.second.data(), wm, h, 0, h));
      ASSERT_TRUE(BlendHorizontalPackedWith(*simd, rc.src.data(), stride, sh, bpp, pb.data(), rc.first.data(),
                                            rc.second.data(), wm, h, 0, h));
      ASSERT_EQ(pa, pb) << "horizontal bpp " << bpp;
      rc = MakeRandomCase(&rng, sw, sh, stride * sh, w, hm);
      ASSERT_TRUE(BlendVerticalPackedWith(ref, rc.src.data(), stride, sh, bpp, pa.data(), rc.first.data(),
                                          rc.second.data(), w, hm, 0, h));
      ASSERT_TRUE(BlendVerticalPackedWith(*simd, rc.src.data(), stride, sh, bpp, pb.data(), rc.first.data(),
                                          rc.second.data(), w, hm, 0, h));
      ASSERT_EQ(pa, pb) << "vertical bpp " << bpp;
    }
  }
}

// Groups of eight entries close together on one or two source rows, as real maps give
// them, with the edges of the vector path's short-range reads: spreads of 14, 15 and 16
// columns, rows two apart, columns running backwards, groups on the last valid rows and
// columns, and an odd count so that a tail is left.
std::vector<RemapEntry> NearbyGroups(std::mt19937* rng, int sw, int sh, int groups) {
  std::vector<RemapEntry> out;
  for (int g = 0; g < groups; ++g) {
    const int kind = static_cast<int>((*rng)() % 8);
    const int spread = kind == 0 ? 14 : kind == 1 ? 15 : kind == 2 ? 16 : static_cast<int>((*rng)() % 15);
    const int rows = kind == 3 ? 2 : static_cast<int>((*rng)() % 2);
    const int x_room = sw - 2 - spread, y_room = sh - 2 - rows;
    const int xb = (*rng)() % 4 == 0 ? x_room : static_cast<int>((*rng)() % (x_room + 1));
    const int yb = (*rng)() % 4 == 0 ? y_room : static_cast<int>((*rng)() % (y_room + 1));
    std::vector<int> dx(8);
    for (int& d : dx) d = static_cast<int>((*rng)() % (spread + 1));
    std::sort(dx.begin(), dx.end());
    dx.front() = 0;
    dx.back() = spread;
    if ((*rng)() % 2) std::reverse(dx.begin(), dx.end());
    for (int k = 0; k < 8; ++k) {
      const int dy = k == 3 ? rows : static_cast<int>((*rng)() % (rows + 1));
      out.push_back(Entry(xb + dx[k], yb + dy, (*rng)() % 256, (*rng)() % 256));
    }
  }
  out.resize(out.size() - 3);
  return out;
}

TEST(BlendPaths, NearbyEntriesMatchScalarBitForBit) {
  const BlendDsp* simd = Avx2BlendDsp();
  if (!simd) GTEST_SKIP() << "no AVX2 on this processor";
  const BlendDsp& ref = ScalarBlendDsp();
  std::mt19937 rng(4321);
  for (int trial = 0; trial < 30; ++trial) {
    const int sw = 2 * (10 + static_cast<int>(rng() % 30)), sh = 2 * (2 + static_cast<int>(rng() % 12));
    SCOPED_TRACE(testing::Message() << "trial " << trial << " source " << sw << " x " << sh);
    const std::vector<RemapEntry> e = NearbyGroups(&rng, sw, sh, 40);
    const int n = static_cast<int>(e.size());
    std::vector<uint8_t> frame(static_cast<size_t>(sw) * sh * 3 / 2);
    for (auto& b : frame) b = static_cast<uint8_t>(rng());
    const SampleSource luma{frame.data(), sw, static_cast<size_t>(sw) * sh};
    std::vector<uint8_t> a(n), b(n);
    ref.sample_plane(luma, e.data(), n, a.data());
    simd->sample_plane(luma, e.data(), n, b.data());
    ASSERT_EQ(a, b) << "luma";
    // Chroma through every second entry, planes of (sw / 2) x (sh / 2).
    const size_t plane = static_cast<size_t>(sw / 2) * (sh / 2);
    const uint8_t* u = frame.data() + static_cast<size_t>(sw) * sh;
    const int blocks = (n + 1) / 2;
    std::vector<uint8_t> au(blocks), av(blocks), bu(blocks), bv(blocks);
    ref.pick_chroma(u, u + plane, plane, sw / 2, e.data(), blocks, au.data(), av.data());
    simd->pick_chroma(u, u + plane, plane, sw / 2, e.data(), blocks, bu.data(), bv.data());
    ASSERT_EQ(au, bu) << "u";
    ASSERT_EQ(av, bv) << "v";
    for (int bpp : {3, 4}) {
      const int stride = sw * bpp + 4 * static_cast<int>(rng() % 3);
      std::vector<uint8_t> packed(static_cast<size_t>(stride) * sh);
      for (auto& v : packed) v = static_cast<uint8_t>(rng());
      const SampleSource ps{packed.data(), stride, packed.size()};
      std::vector<uint8_t> pa(n * bpp), pb(n * bpp);
      (bpp == 3 ? ref.sample_packed3 : ref.sample_packed4)(ps, e.data(), n, pa.data());
      (bpp == 3 ? simd->sample_packed3 : simd->sample_packed4)(ps, e.data(), n, pb.data());
      ASSERT_EQ(pa, pb) << "bpp " << bpp;
    }
  }
}

// Smooth maps (entries sweeping curves through the source, as a lens map does) through the
// whole kernels, down to the last valid row and column.
TEST(BlendPaths, SmoothMapsMatchScalarBitForBit) {
  const BlendDsp* simd = Avx2BlendDsp();
  if (!simd) GTEST_SKIP() << "no AVX2 on this processor";
  const BlendDsp& ref = ScalarBlendDsp();
  const int h = 64, w = 2 * h, wm = 80, sw = 72, sh = 40;
  std::vector<uint8_t> src(static_cast<size_t>(sw) * sh * 4);
  std::mt19937 rng(77);
  for (auto& b : src) b = static_cast<uint8_t>(rng());
  // Position (in 1/256 pixel) of map column k on map row r: a slow curve scaled to the
  // source, so that neighbouring entries are 0.5 to 1 pixel apart.
  auto smooth = [&](int mw, int mh, int phase) {
    std::vector<RemapEntry> m;
    for (int r = 0; r < mh; ++r) {
      for (int k = 0; k < mw; ++k) {
        const int fx = (k * (sw - 2) * 256) / mw + (r * r * 3) % 256;
        const int fy = (r * (sh - 2) * 256) / mh + ((k + phase) % 37) * 6;
        const int x = std::min(fx >> 8, sw - 2), y = std::min(fy >> 8, sh - 2);
        m.push_back(Entry(x, y, fx & 255, fy & 255));
      }
    }
    return m;
  };
  std::vector<RemapEntry> m1 = smooth(wm, h, 0), m2 = smooth(wm, h, 11);
  std::vector<uint8_t> a(w * h * 3 / 2), b(w * h * 3 / 2);
  ASSERT_TRUE(BlendHorizontalI420With(ref, src.data(), sw, sh, a.data(), m1.data(), m2.data(), wm, h, 0, h));
  ASSERT_TRUE(BlendHorizontalI420With(*simd, src.data(), sw, sh, b.data(), m1.data(), m2.data(), wm, h, 0, h));
  ASSERT_EQ(a, b);
  for (int bpp : {3, 4}) {
    std::vector<uint8_t> pa(static_cast<size_t>(PackedRowStride(w, bpp)) * h), pb(pa.size());
    ASSERT_TRUE(
        BlendHorizontalPackedWith(ref, src.data(), sw * bpp, sh, bpp, pa.data(), m1.data(), m2.data(), wm, h, 0, h));
    ASSERT_TRUE(
        BlendHorizontalPackedWith(*simd, src.data(), sw * bpp, sh, bpp, pb.data(), m1.data(), m2.data(), wm, h, 0, h));
    ASSERT_EQ(pa, pb) << "bpp " << bpp;
  }
  const int hm = 40;
  m1 = smooth(w, hm, 3);
  m2 = smooth(w, hm, 20);
  ASSERT_TRUE(BlendVerticalI420With(ref, src.data(), sw, sh, a.data(), m1.data(), m2.data(), w, hm, 0, h));
  ASSERT_TRUE(BlendVerticalI420With(*simd, src.data(), sw, sh, b.data(), m1.data(), m2.data(), w, hm, 0, h));
  ASSERT_EQ(a, b);
}

// A back-to-back I420 frame copied into three separate planes with the given row strides.
// Each plane is allocated up to the end of its last row and no further, so that a read
// past it is a heap overflow under the sanitizers; the bytes between rows are noise.
struct PaddedPlanes {
  std::vector<uint8_t> y, u, v;
  I420View view;
};
PaddedPlanes PadPlanes(const std::vector<uint8_t>& frame, int w, int h, int y_stride, int uv_stride,
                       std::mt19937* rng) {
  PaddedPlanes p;
  auto copy = [&](const uint8_t* from, int pw, int ph, int stride, std::vector<uint8_t>* to) {
    to->resize(static_cast<size_t>(stride) * (ph - 1) + pw);
    for (auto& b : *to) b = static_cast<uint8_t>((*rng)());
    for (int r = 0; r < ph; ++r) std::copy_n(from + static_cast<size_t>(r) * pw, pw, to->data() + size_t(r) * stride);
  };
  const size_t luma = static_cast<size_t>(w) * h, chroma = luma / 4;
  copy(frame.data(), w, h, y_stride, &p.y);
  copy(frame.data() + luma, w / 2, h / 2, uv_stride, &p.u);
  copy(frame.data() + luma + chroma, w / 2, h / 2, uv_stride, &p.v);
  p.view = {p.y.data(), p.u.data(), p.v.data(), y_stride, uv_stride};
  return p;
}

// Planes with their own strides give the bytes of the same frame back to back, on every
// path, for both layouts: even padding, odd padding (rows start at every alignment), and
// strides equal to the widths in separate buffers. Maps reach the last row and column, so
// the vector loads near each plane's end must fall back rather than read past it.
TEST(BlendPaths, StridedPlanesMatchBackToBackBitForBit) {
  std::vector<const BlendDsp*> paths = {&ScalarBlendDsp()};
  if (const BlendDsp* simd = Avx2BlendDsp()) paths.push_back(simd);
  const BlendDsp& ref = ScalarBlendDsp();
  std::mt19937 rng(2024);
  struct Pads {
    int y, uv;
  };
  for (const Pads pads : {Pads{32, 16}, Pads{1, 3}, Pads{0, 0}, Pads{7, 0}}) {
    for (int trial = 0; trial < 3; ++trial) {
      const int h = 2 * (16 + static_cast<int>(rng() % 16));
      const int w = 2 * h;
      const int sw = 2 * (12 + static_cast<int>(rng() % 30)), sh = 2 * (6 + static_cast<int>(rng() % 20));
      SCOPED_TRACE(testing::Message() << "pads " << pads.y << "/" << pads.uv << " trial " << trial << " source " << sw
                                      << " x " << sh);
      // Random maps anywhere in the frame, and groups of nearby entries that take the
      // short-range row loads (in the horizontal layout's map width).
      const int wm = h + static_cast<int>(rng() % (h / 2));
      const int hm = h / 2 + static_cast<int>(rng() % (h / 2));
      RandomCase horizontal = MakeRandomCase(&rng, sw, sh, sw * sh * 3 / 2, wm, h);
      std::vector<RemapEntry> nearby1 = NearbyGroups(&rng, sw, sh, (wm * h + 7) / 8 + 1);
      std::vector<RemapEntry> nearby2 = NearbyGroups(&rng, sw, sh, (wm * h + 7) / 8 + 1);
      nearby1.resize(static_cast<size_t>(wm) * h);
      nearby2.resize(static_cast<size_t>(wm) * h);
      RandomCase vertical = MakeRandomCase(&rng, sw, sh, sw * sh * 3 / 2, w, hm);
      const PaddedPlanes planes = PadPlanes(horizontal.src, sw, sh, sw + pads.y, sw / 2 + pads.uv, &rng);
      for (const BlendDsp* dsp : paths) {
        SCOPED_TRACE(dsp->name);
        std::vector<uint8_t> want(w * h * 3 / 2, 1), got(w * h * 3 / 2, 2);
        for (int maps = 0; maps < 2; ++maps) {
          const RemapEntry* first = maps == 0 ? horizontal.first.data() : nearby1.data();
          const RemapEntry* second = maps == 0 ? horizontal.second.data() : nearby2.data();
          ASSERT_TRUE(
              BlendHorizontalI420With(ref, horizontal.src.data(), sw, sh, want.data(), first, second, wm, h, 0, h));
          ASSERT_TRUE(BlendHorizontalI420With(*dsp, planes.view, sw, sh, got.data(), first, second, wm, h, 0, h));
          ASSERT_EQ(want, got) << "horizontal, maps " << maps;
        }
        const PaddedPlanes vplanes = PadPlanes(vertical.src, sw, sh, sw + pads.y, sw / 2 + pads.uv, &rng);
        ASSERT_TRUE(BlendVerticalI420With(ref, vertical.src.data(), sw, sh, want.data(), vertical.first.data(),
                                          vertical.second.data(), w, hm, 0, h));
        ASSERT_TRUE(BlendVerticalI420With(*dsp, vplanes.view, sw, sh, got.data(), vertical.first.data(),
                                          vertical.second.data(), w, hm, 0, h));
        ASSERT_EQ(want, got) << "vertical";
      }
    }
  }
}

// A view with a missing plane or a stride below its plane's width is refused untouched.
TEST(Blend, RefusesUnusableViews) {
  const int sw = 32, sh = 32, h = 40, wm = 60;
  std::vector<uint8_t> frame(sw * sh * 3 / 2, 50), out(2 * h * h * 3 / 2, 9);
  std::vector<RemapEntry> map(static_cast<size_t>(wm) * h, Entry(0, 0));
  const I420View good = BackToBackI420(frame.data(), sw, sh);
  ASSERT_TRUE(BlendHorizontalI420(good, sw, sh, out.data(), map.data(), map.data(), wm, h));
  std::fill(out.begin(), out.end(), 9);
  for (int k = 0; k < 5; ++k) {
    I420View bad = good;
    if (k == 0) bad.y = nullptr;
    if (k == 1) bad.u = nullptr;
    if (k == 2) bad.v = nullptr;
    if (k == 3) bad.y_stride = sw - 1;
    if (k == 4) bad.uv_stride = sw / 2 - 1;
    EXPECT_FALSE(BlendHorizontalI420(bad, sw, sh, out.data(), map.data(), map.data(), wm, h)) << k;
    EXPECT_FALSE(BlendVerticalI420(bad, sw, sh, out.data(), map.data(), map.data(), 2 * h, 30)) << k;
  }
  EXPECT_FALSE(
      BlendHorizontalI420(static_cast<const uint8_t*>(nullptr), sw, sh, out.data(), map.data(), map.data(), wm, h));
  for (uint8_t b : out) ASSERT_EQ(b, 9);
}

TEST(BlendPaths, MixMatchesScalarOnEveryWeightPair) {
  const BlendDsp* simd = Avx2BlendDsp();
  if (!simd) GTEST_SKIP() << "no AVX2 on this processor";
  std::vector<uint8_t> a, b, wa, wb;
  for (int v = 0; v < 256; v += 3) {
    for (int w = 0; w < 256; ++w) {
      a.push_back(static_cast<uint8_t>(v));
      b.push_back(static_cast<uint8_t>(255 - v / 2));
      wa.push_back(static_cast<uint8_t>(w));
      wb.push_back(static_cast<uint8_t>(255 - w));
    }
  }
  const int n = static_cast<int>(a.size()) - 5;  // a length that leaves a scalar tail
  std::vector<uint8_t> r1(a.size()), r2(a.size());
  ScalarBlendDsp().mix(a.data(), b.data(), wa.data(), wb.data(), n, r1.data());
  simd->mix(a.data(), b.data(), wa.data(), wb.data(), n, r2.data());
  EXPECT_EQ(r1, r2);
  EXPECT_EQ(r1[0], 254);  // a = 0 weighted 0, b = 255 weighted 255: (65025 + 128) >> 8
}

TEST(BlendPaths, RowSlicesGiveTheWholeFrame) {
  std::mt19937 rng(99);
  const int h = 64, w = 128, wm = 90, hm = 40;
  const int sw = 96, sh = 48;
  RandomCase rc = MakeRandomCase(&rng, sw, sh, sw * sh * 4, wm, h);
  std::vector<uint8_t> whole(w * h * 4), sliced(w * h * 4);
  ASSERT_TRUE(
      BlendHorizontalPacked(rc.src.data(), sw * 4, sh, 4, whole.data(), rc.first.data(), rc.second.data(), wm, h));
  for (int r0 = 0; r0 < h;) {
    const int r1 = std::min(h, r0 + 1 + static_cast<int>(rng() % 9));
    ASSERT_TRUE(BlendHorizontalPacked(rc.src.data(), sw * 4, sh, 4, sliced.data(), rc.first.data(), rc.second.data(),
                                      wm, h, {r0, r1}));
    r0 = r1;
  }
  EXPECT_EQ(whole, sliced);

  rc = MakeRandomCase(&rng, sw, sh, sw * sh * 3 / 2, w, hm);
  std::vector<uint8_t> w420(w * h * 3 / 2), s420(w * h * 3 / 2);
  ASSERT_TRUE(BlendVerticalI420(rc.src.data(), sw, sh, w420.data(), rc.first.data(), rc.second.data(), w, hm, {0, h}));
  for (int r0 = 0; r0 < h; r0 += 6) {
    ASSERT_TRUE(BlendVerticalI420(rc.src.data(), sw, sh, s420.data(), rc.first.data(), rc.second.data(), w, hm,
                                  {r0, std::min(h, r0 + 6)}));
  }
  EXPECT_EQ(w420, s420);
}

// Turning the maps end to end (what rotation 180 does to them) turns the panorama, up to
// the one-column shifts of integer halving and the truncated ramp. The lens images differ
// little across the seams, as a calibrated camera's do.
TEST(BlendHorizontal, ReversedMapsTurnThePanorama) {
  const int h = 60, w = 120, wm = 80, lw = 100, sw = 2 * lw, sh = 62;
  std::vector<uint8_t> src(static_cast<size_t>(sw) * sh * 4);
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x)
      for (int k = 0; k < 4; ++k) src[(y * sw + x) * 4 + k] = static_cast<uint8_t>((x % lw) / 8 + 3 * y + 20 * k);
  std::vector<RemapEntry> m1, m2;
  for (int r = 0; r < h; ++r) {
    for (int k = 0; k < wm; ++k) {
      // Sub-pixel positions: 1.1 source pixels per map column.
      const int fx = (k * 11 % 10) * 255 / 10;
      m1.push_back(Entry(k * 11 / 10, r, fx, 100));
      m2.push_back(Entry(lw + k * 11 / 10, r, fx, 100));
    }
  }
  std::vector<RemapEntry> r1(m1.rbegin(), m1.rend()), r2(m2.rbegin(), m2.rend());
  std::vector<uint8_t> out0(w * h * 4), out180(w * h * 4);
  ASSERT_TRUE(BlendHorizontalPacked(src.data(), sw * 4, sh, 4, out0.data(), m2.data(), m1.data(), wm, h));
  ASSERT_TRUE(BlendHorizontalPacked(src.data(), sw * 4, sh, 4, out180.data(), r2.data(), r1.data(), wm, h));
  int worst = 0;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      for (int k = 0; k < 4; ++k) {
        const int d = std::abs(out0[(r * w + c) * 4 + k] - out180[((h - 1 - r) * w + (w - 1 - c)) * 4 + k]);
        worst = std::max(worst, d);
      }
  EXPECT_LE(worst, 2);
}

}  // namespace
}  // namespace spherolux
