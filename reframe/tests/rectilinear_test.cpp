#include "reframe/rectilinear.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "sample_row.h"

namespace spherolux::reframe {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Case {
  double yaw, pitch, roll, fov;  // the view
  double lon, lat;               // the mark, degrees (lon positive to the right of the centre)
};

// A panorama with one bright round mark centred on (lon, lat), rendered through each view:
// the mark's centre lands where the pinhole camera of that view puts it, within a pixel,
// straight ahead, across the panorama's left and right edges, next to both poles and with
// the view rolled.
TEST(RectilinearTest, MarksLandWhereThePinholeModelPutsThem) {
  const int pw = 2048, ph = 1024, w = 640, h = 360;
  const Case cases[] = {
      {0, 0, 0, 90, 20, 10},      {180, 0, 0, 90, 170, -5},     {180, 0, 0, 90, -172, 8},
      {0, 90, 0, 90, 45, 80},     {10, 88, 0, 60, -120, 89.2},  {30, -89, 0, 100, 100, -84},
      {-60, 20, 30, 70, -50, 25}, {120, 45, -20, 120, 150, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "view " << c.yaw << "/" << c.pitch << "/" << c.roll << " mark " << c.lon << "/"
                                      << c.lat);
    const double vc = (0.5 - c.lat / 180) * ph;
    const double lon = c.lon * kPi / 180, lat = c.lat * kPi / 180;
    const std::array<double, 3> mark = {std::cos(lat) * std::sin(lon), std::sin(lat), std::cos(lat) * std::cos(lon)};
    // The mark: every panorama pixel within 0.6 degrees of its direction.
    std::vector<uint8_t> pano(static_cast<size_t>(pw) * ph * 3 / 2, 0);
    std::fill(pano.begin() + static_cast<long>(pw) * ph, pano.end(), 128);
    for (int y = std::max(0, static_cast<int>(vc) - 40); y < std::min(ph, static_cast<int>(vc) + 40); ++y)
      for (int x = 0; x < pw; ++x) {
        const double l = ((x + 0.5) / pw - 0.5) * 2 * kPi, t = (0.5 - (y + 0.5) / ph) * kPi;
        const double dot =
            std::cos(t) * std::sin(l) * mark[0] + std::sin(t) * mark[1] + std::cos(t) * std::cos(l) * mark[2];
        if (dot > std::cos(0.6 * kPi / 180)) pano[static_cast<size_t>(y) * pw + x] = 255;
      }

    ViewState view;
    view.rotation = RotationOf(c.yaw, c.pitch, c.roll);
    view.fov = c.fov;
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3 / 2);
    ASSERT_TRUE(RenderRectilinear(BackToBackI420(pano.data(), pw, ph), pw, ph, view, out.data(), w, h, 2));
    double sum = 0, sx = 0, sy = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double v = out[static_cast<size_t>(y) * w + x];
        sum += v;
        sx += v * (x + 0.5);
        sy += v * (y + 0.5);
      }
    ASSERT_GT(sum, 255 * 20) << "the mark is in view";

    // The pinhole camera: the mark in camera axes, projected with f = (w/2) / tan(fov/2).
    const auto cx = RotateToWorld(view.rotation, {1, 0, 0}), cy = RotateToWorld(view.rotation, {0, 1, 0}),
               cz = RotateToWorld(view.rotation, {0, 0, 1});
    const auto dot = [&mark](const std::array<double, 3>& a) {
      return a[0] * mark[0] + a[1] * mark[1] + a[2] * mark[2];
    };
    const double f = (w / 2.0) / std::tan(c.fov * kPi / 360);
    EXPECT_NEAR(sx / sum, w / 2.0 + f * dot(cx) / dot(cz), 1.0);
    EXPECT_NEAR(sy / sum, h / 2.0 - f * dot(cy) / dot(cz), 1.0);
  }
}

// The rows PanoramaRows names are all a view reads: a panorama whose other rows hold
// something else renders to the same bytes, for views near the horizon, across the edges,
// rolled, wide and holding either pole; a level view needs well under the whole panorama.
TEST(RectilinearTest, AViewReadsOnlyThePanoramaRowsItNames) {
  const int pw = 1024, ph = 512, w = 320, h = 180;
  std::vector<uint8_t> pano(static_cast<size_t>(pw) * ph * 3 / 2);
  for (size_t i = 0; i < pano.size(); ++i) pano[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  const Case views[] = {{0, 0, 0, 90, 0, 0},      {175, -10, 0, 60, 0, 0}, {-40, 30, 45, 120, 0, 0},
                        {90, 70, 0, 90, 0, 0},    {0, -85, 10, 100, 0, 0}, {30, 45, -30, 160, 0, 0},
                        {-120, -5, 90, 40, 0, 0}, {0, 89, 0, 20, 0, 0}};
  for (const Case& c : views) {
    SCOPED_TRACE(::testing::Message() << "view " << c.yaw << "/" << c.pitch << "/" << c.roll << "/" << c.fov);
    ViewState view;
    view.rotation = RotationOf(c.yaw, c.pitch, c.roll);
    view.fov = c.fov;
    int first = -1, end = -1;
    PanoramaRows(pw, ph, view, w, h, &first, &end);
    ASSERT_TRUE(first >= 0 && first < end && end <= ph && first % 2 == 0 && end % 2 == 0) << first << " " << end;
    if (c.pitch == 0 && c.fov <= 90) {
      EXPECT_LT(end - first, ph / 2);
    }
    std::vector<uint8_t> masked = pano;
    for (int y = 0; y < ph; ++y) {
      if (y >= first && y < end) continue;
      std::fill_n(masked.begin() + static_cast<long>(y) * pw, pw, 0);
      if (y % 2 == 0)
        for (size_t plane : {static_cast<size_t>(pw) * ph, static_cast<size_t>(pw) * ph * 5 / 4})
          std::fill_n(masked.begin() + static_cast<long>(plane + static_cast<size_t>(y / 2) * (pw / 2)), pw / 2, 255);
    }
    std::vector<uint8_t> want(static_cast<size_t>(w) * h * 3 / 2), got(want.size());
    ASSERT_TRUE(RenderRectilinear(BackToBackI420(pano.data(), pw, ph), pw, ph, view, want.data(), w, h));
    ASSERT_TRUE(RenderRectilinear(BackToBackI420(masked.data(), pw, ph), pw, ph, view, got.data(), w, h));
    EXPECT_TRUE(got == want) << "the picture differs where rows outside [" << first << ", " << end << ") were changed";
  }
}

// The AVX2 sampler gives the reference's bytes for luma and chroma, with positions in every
// column (the last ones wrap to column 0), above the first and below the last row, and
// rows of any length.
TEST(SampleRowTest, Avx2GivesTheReferenceBytes) {
  const SampleRowFn avx2 = SampleRowAvx2();
  if (!avx2) GTEST_SKIP() << "no AVX2 on this processor";
  const int pw = 1000, ph = 500, stride = 1024;
  std::mt19937 rng(5);
  std::vector<uint8_t> pixels(static_cast<size_t>(stride) * ph);
  for (uint8_t& b : pixels) b = static_cast<uint8_t>(rng());
  for (int shift : {0, 1}) {
    const PlaneRef plane{pixels.data(), stride, pw >> shift, ph >> shift};
    for (int n : {1, 7, 8, 13, 333}) {
      std::vector<int32_t> u(static_cast<size_t>(n)), v(u.size());
      for (int k = 0; k < n; ++k) {
        // A quarter of the positions in the last two columns or off the top or bottom.
        const bool edge = rng() % 4 == 0;
        u[k] = edge ? static_cast<int32_t>(((pw - 2) << 16) + rng() % (2 << 16))
                    : static_cast<int32_t>(rng() % (pw << 16));
        v[k] = edge ? static_cast<int32_t>(rng() % 2 ? -(1 << 16) + rng() % (1 << 16) : (ph << 16) - rng() % (1 << 16))
                    : static_cast<int32_t>(rng() % (ph << 16));
      }
      std::vector<uint8_t> want(u.size()), got(u.size());
      SampleRowScalar(plane, u.data(), v.data(), n, shift, want.data());
      avx2(plane, u.data(), v.data(), n, shift, got.data());
      EXPECT_EQ(got, want) << "shift " << shift << ", " << n << " positions";
    }
  }
}

TEST(RectilinearTest, ImpossibleSizesWriteNothing) {
  std::vector<uint8_t> pano(64 * 32 * 3 / 2, 7), out(16 * 8 * 3 / 2, 1);
  ViewState view;
  for (const auto& [w, h] : {std::pair{15, 8}, {16, 7}, {0, 8}}) {
    EXPECT_FALSE(RenderRectilinear(BackToBackI420(pano.data(), 64, 32), 64, 32, view, out.data(), w, h));
  }
  EXPECT_EQ(out, std::vector<uint8_t>(16 * 8 * 3 / 2, 1));
  EXPECT_EQ(PanoramaWidthFor(1920, 90, 3840), 3840 & ~3);
  EXPECT_EQ(PanoramaWidthFor(1920, 120, 7680), 5760);
}

}  // namespace
}  // namespace spherolux::reframe
