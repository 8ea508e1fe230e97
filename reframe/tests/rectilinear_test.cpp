#include "reframe/rectilinear.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

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
