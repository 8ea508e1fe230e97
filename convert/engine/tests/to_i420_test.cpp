// The same-size conversion to I420: against BT.601's defining formulas, the AVX2 kernel
// against the scalar one byte for byte, and rescale_csconvert's pixel orders and row orders.
#include "to_i420.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "base/system.h"
#include "convert/engine.h"

namespace spherolux::convert {
namespace {

std::vector<uint8_t> RandomPixels(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4);
  for (auto& b : px) b = static_cast<uint8_t>(rng());
  return px;
}

// The picture with its rows in the opposite order and R and B swapped, or either alone.
std::vector<uint8_t> Rearranged(const std::vector<uint8_t>& px, int width, int height, bool flip, bool swap) {
  std::vector<uint8_t> out(px.size());
  const size_t row = static_cast<size_t>(width) * 4;
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = px.data() + row * static_cast<size_t>(flip ? height - 1 - y : y);
    uint8_t* d = out.data() + row * static_cast<size_t>(y);
    for (size_t i = 0; i < row; i += 4) {
      d[i] = s[swap ? i + 2 : i];
      d[i + 1] = s[i + 1];
      d[i + 2] = s[swap ? i : i + 2];
      d[i + 3] = s[i + 3];
    }
  }
  return out;
}

TEST(ToI420, FollowsBt601LimitedRangeWithinRounding) {
  // Rec. 601: E'Y = 0.299 R + 0.587 G + 0.114 B; Y = 16 + 219 E'Y, Cb = 128 + 224 * 0.564 (B - E'Y),
  // Cr = 128 + 224 * 0.713 (R - E'Y), each chroma sample from the mean of its 2 x 2 pixels.
  const int w = 64, h = 8;
  const std::vector<uint8_t> px = RandomPixels(w, h, 7);
  std::vector<uint8_t> out(w * h * 3 / 2);
  ToI420Scalar(px.data(), w * 4, w, h, PixelOrder::kBgra, out.data());
  auto ey = [](double r, double g, double b) { return 0.299 * r + 0.587 * g + 0.114 * b; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &px[(y * w + x) * 4];
      ASSERT_NEAR(out[y * w + x], 16 + 219 * ey(p[2], p[1], p[0]) / 255, 0.6) << x << "," << y;
    }
  const uint8_t* u = out.data() + w * h;
  const uint8_t* v = u + w * h / 4;
  for (int y = 0; y < h / 2; ++y)
    for (int x = 0; x < w / 2; ++x) {
      double rgb[3] = {};
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx)
          for (int c = 0; c < 3; ++c) rgb[c] += px[((2 * y + dy) * w + 2 * x + dx) * 4 + 2 - c] / 4.0;
      const double e = ey(rgb[0], rgb[1], rgb[2]);
      ASSERT_NEAR(u[y * w / 2 + x], 128 + 224 * (rgb[2] - e) / (1.772 * 255), 0.6) << x << "," << y;
      ASSERT_NEAR(v[y * w / 2 + x], 128 + 224 * (rgb[0] - e) / (1.402 * 255), 0.6) << x << "," << y;
    }
}

TEST(ToI420, Avx2KernelMatchesTheScalarOneExactly) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "this processor has no AVX2; the scalar kernel is the one in use";
  // Widths with and without a remainder beyond the 32-pixel blocks; rows both ways up.
  for (const int w : {2, 30, 32, 34, 96, 1922}) {
    for (const PixelOrder order : {PixelOrder::kBgra, PixelOrder::kRgba}) {
      for (const bool bottom_up : {false, true}) {
        const int h = 6;
        std::vector<uint8_t> px = RandomPixels(w, h, static_cast<uint32_t>(w));
        // Extremes too: white and black blocks give the largest and smallest sums.
        std::fill_n(px.begin(), std::min<size_t>(px.size() / 3, 256), 255);
        std::fill_n(px.end() - std::min<size_t>(px.size() / 3, 256), std::min<size_t>(px.size() / 3, 256), 0);
        const ptrdiff_t row = ptrdiff_t{w} * 4;
        const uint8_t* top = bottom_up ? px.data() + row * (h - 1) : px.data();
        std::vector<uint8_t> a(w * h * 3 / 2, 1), b(w * h * 3 / 2, 2);
        ToI420Scalar(top, bottom_up ? -row : row, w, h, order, a.data());
        ToI420Avx2(top, bottom_up ? -row : row, w, h, order, b.data());
        ASSERT_EQ(a, b) << "width " << w << " rgba " << (order == PixelOrder::kRgba) << " bottom-up " << bottom_up;
      }
    }
  }
}

// One picture handed over in each pixel order and row order gives the same planes, on the
// same-size path and on the scaler's.
TEST(Rescale, PixelAndRowOrdersGiveTheSamePicture) {
  struct Size {
    int sw, sh, dw, dh;
  };
  for (const Size s : {Size{64, 32, 64, 32}, Size{80, 40, 64, 32}}) {
    SCOPED_TRACE(s.sw);
    const std::vector<uint8_t> bgra = RandomPixels(s.sw, s.sh, 3);
    const size_t out_size = static_cast<size_t>(s.dw) * s.dh * 3 / 2;
    std::vector<uint8_t> reference(out_size);
    ASSERT_EQ(rescale_csconvert(bgra.data(), reference.data(), s.sw, s.sh, CONVERT_PIXELS_BGRA, s.dw, s.dh, 0),
              CONVERT_OK);
    struct Variant {
      bool flip, swap;
      int code;
    };
    for (const Variant v :
         {Variant{false, true, CONVERT_PIXELS_RGBA}, Variant{true, false, CONVERT_PIXELS_BGRA | CONVERT_ROWS_BOTTOM_UP},
          Variant{true, true, CONVERT_PIXELS_RGBA | CONVERT_ROWS_BOTTOM_UP}}) {
      const std::vector<uint8_t> src = Rearranged(bgra, s.sw, s.sh, v.flip, v.swap);
      std::vector<uint8_t> out(out_size);
      ASSERT_EQ(rescale_csconvert(src.data(), out.data(), s.sw, s.sh, v.code, s.dw, s.dh, 0), CONVERT_OK);
      EXPECT_EQ(out, reference) << "format code " << v.code;
    }
  }
  std::vector<uint8_t> px(16 * 4), out(16 * 3 / 2);
  EXPECT_EQ(rescale_csconvert(px.data(), out.data(), 4, 4, 4, 4, 4, 0), CONVERT_ERR_FORMAT);
  EXPECT_EQ(rescale_csconvert(px.data(), out.data(), 4, 4, 0x200 | CONVERT_PIXELS_BGRA, 4, 4, 0), CONVERT_ERR_FORMAT);
}

}  // namespace
}  // namespace spherolux::convert
