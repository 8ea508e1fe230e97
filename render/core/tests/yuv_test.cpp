#include "render/yuv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "base/system.h"

namespace spherolux::render {
namespace {

// A picture whose planes the test owns, each row `pad` bytes longer than the plane.
struct Planes {
  std::vector<uint8_t> y, u, v;
  YuvPicture picture;

  Planes(int width, int height, int pad, YuvColour colour) {
    const int cw = (width + 1) / 2;
    const int ch = (height + 1) / 2;
    y.assign(static_cast<size_t>(width + pad) * height, 0);
    u.assign(static_cast<size_t>(cw + pad) * ch, 128);
    v.assign(static_cast<size_t>(cw + pad) * ch, 128);
    picture.planes[0] = y.data();
    picture.planes[1] = u.data();
    picture.planes[2] = v.data();
    picture.pitches[0] = width + pad;
    picture.pitches[1] = picture.pitches[2] = cw + pad;
    picture.width = width;
    picture.height = height;
    picture.colour = colour;
  }
  uint8_t& Y(int x, int yy) { return y[static_cast<size_t>(yy) * picture.pitches[0] + x]; }
  uint8_t& U(int x, int yy) { return u[static_cast<size_t>(yy) * picture.pitches[1] + x]; }
  uint8_t& V(int x, int yy) { return v[static_cast<size_t>(yy) * picture.pitches[2] + x]; }
};

// R, G, B of one sample as the standards define them (ITU-R BT.601-7, BT.709-6, BT.2020-2):
// E'Y = kr R + kg G + kb B, E'Cb = (B - Y) / (2 (1 - kb)), E'Cr = (R - Y) / (2 (1 - kr)),
// coded in studio range as 219 E'Y + 16 and 224 E'C + 128, in full range as 255 E'Y and
// 255 E'C + 128.
std::array<double, 3> Reference(YuvColour colour, int y, int u, int v) {
  const double kr = colour.matrix == YuvMatrix::kBt601 ? 0.299 : colour.matrix == YuvMatrix::kBt709 ? 0.2126 : 0.2627;
  const double kb = colour.matrix == YuvMatrix::kBt601 ? 0.114 : colour.matrix == YuvMatrix::kBt709 ? 0.0722 : 0.0593;
  const double ey = colour.full_range ? y / 255.0 : (y - 16) / 219.0;
  const double cb = (u - 128) / (colour.full_range ? 255.0 : 224.0);
  const double cr = (v - 128) / (colour.full_range ? 255.0 : 224.0);
  const double r = ey + 2 * (1 - kr) * cr;
  const double b = ey + 2 * (1 - kb) * cb;
  const double g = (ey - kr * r - kb * b) / (1 - kr - kb);
  auto byte = [](double c) { return std::clamp(c * 255.0, 0.0, 255.0); };
  return {byte(r), byte(g), byte(b)};
}

TEST(YuvTest, EveryStandardAndRangeGivesTheColoursItDefines) {
  const int levels[] = {0, 1, 16, 17, 64, 128, 200, 235, 240, 254, 255};
  for (const YuvMatrix matrix : {YuvMatrix::kBt601, YuvMatrix::kBt709, YuvMatrix::kBt2020}) {
    for (const bool full : {false, true}) {
      const YuvColour colour{matrix, full};
      // Every (Y, U, V) of the levels, one 2 x 2 block each.
      constexpr int kLevels = std::size(levels);
      Planes p(2 * kLevels, 2 * kLevels * kLevels, 3, colour);
      for (int i = 0; i < kLevels; ++i) {
        for (int j = 0; j < kLevels * kLevels; ++j) {
          for (int k = 0; k < 4; ++k) p.Y(2 * i + k % 2, 2 * j + k / 2) = static_cast<uint8_t>(levels[i]);
          p.U(i, j) = static_cast<uint8_t>(levels[j / kLevels]);
          p.V(i, j) = static_cast<uint8_t>(levels[j % kLevels]);
        }
      }
      std::vector<uint8_t> out(static_cast<size_t>(p.picture.width) * p.picture.height * 4);
      YuvToBgraScalar(p.picture, out.data(), p.picture.width * 4);
      for (int i = 0; i < kLevels; ++i) {
        for (int j = 0; j < kLevels * kLevels; ++j) {
          const auto want = Reference(colour, levels[i], levels[j / kLevels], levels[j % kLevels]);
          const uint8_t* px = &out[(static_cast<size_t>(2 * j + 1) * p.picture.width + 2 * i + 1) * 4];
          SCOPED_TRACE(testing::Message() << "matrix " << static_cast<int>(matrix) << " full " << full << " yuv "
                                          << levels[i] << " " << levels[j / kLevels] << " " << levels[j % kLevels]);
          EXPECT_NEAR(px[2], want[0], 1.0);
          EXPECT_NEAR(px[1], want[1], 1.0);
          EXPECT_NEAR(px[0], want[2], 1.0);
          EXPECT_EQ(px[3], 255);
        }
      }
    }
  }
  // The ends of the studio range are exactly black and white.
  for (const auto& [y, want] : {std::pair{16, 0}, {235, 255}}) {
    Planes p(2, 2, 0, YuvColour{YuvMatrix::kBt709, false});
    p.y.assign(4, static_cast<uint8_t>(y));
    uint8_t out[16];
    YuvToBgraScalar(p.picture, out, 8);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(out[c], want);
  }
}

// Each chroma sample colours the 2 x 2 pixels it was coded for, including the last, half
// covered column and row of an odd-sized picture; rows are read `pitch` apart.
TEST(YuvTest, ChromaSamplesCoverTheirTwoByTwoPixels) {
  Planes p(7, 5, 5, YuvColour{YuvMatrix::kBt601, true});
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) p.Y(x, y) = 100;
  }
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) p.V(x, y) = static_cast<uint8_t>(130 + 10 * (4 * y + x));
  }
  std::vector<uint8_t> out(7 * 5 * 4 + 4 * 5);  // rows 32 bytes apart
  YuvToBgraScalar(p.picture, out.data(), 32);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) {
      const auto want = Reference(p.picture.colour, 100, 128, 130 + 10 * (4 * (y / 2) + x / 2));
      EXPECT_NEAR(out[static_cast<size_t>(y) * 32 + 4 * x + 2], want[0], 1.0) << x << ", " << y;
    }
  }
}

TEST(YuvTest, Avx2KernelGivesTheScalarBytes) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2 on this processor";
  std::mt19937 random(7);
  for (const auto& [w, h] : {std::pair{1, 1}, {8, 1}, {9, 3}, {37, 11}, {64, 4}, {1923, 7}}) {
    for (const bool full : {false, true}) {
      Planes p(w, h, 3, YuvColour{YuvMatrix::kBt709, full});
      for (auto* plane : {&p.y, &p.u, &p.v}) {
        for (uint8_t& b : *plane) b = static_cast<uint8_t>(random());
      }
      const ptrdiff_t stride = 4 * w + 4;
      std::vector<uint8_t> scalar(static_cast<size_t>(stride) * h, 0);
      std::vector<uint8_t> avx2(scalar);
      YuvToBgraScalar(p.picture, scalar.data(), stride);
      YuvToBgraAvx2(p.picture, avx2.data(), stride);
      EXPECT_EQ(scalar, avx2) << w << " x " << h << " full " << full;
    }
  }
}

}  // namespace
}  // namespace spherolux::render
