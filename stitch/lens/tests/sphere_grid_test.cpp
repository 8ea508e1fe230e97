#include "stitch/sphere_grid.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "sample_para.h"
#include "stitch/lens_model.h"

namespace spherolux {
namespace {

struct Grids {
  std::vector<float> a = std::vector<float>(kGridFloats, -7.0f);
  std::vector<float> b = std::vector<float>(kGridFloats, -7.0f);
  float ax(int ring, int col) const { return a[2 * (ring * kGridColumns + col)]; }
  float ay(int ring, int col) const { return a[2 * (ring * kGridColumns + col) + 1]; }
  float bx(int ring, int col) const { return b[2 * (ring * kGridColumns + col)]; }
  float by(int ring, int col) const { return b[2 * (ring * kGridColumns + col) + 1]; }
};

Grids Build(const DoubleFisheyeCameraPara& p, int width, bool generation = false) {
  Grids g;
  BuildSphereGrids(p, width, width / 2, kGridColumns, kGridRings, generation, g.a.data(), g.b.data());
  return g;
}

DoubleFisheyeCameraPara PlainPara(int32_t model) {
  DoubleFisheyeCameraPara p = lens_test::SamplePara(model, 0);
  p.stPoint1 = {480.0f, 480.0f, 450.0f};
  p.stPoint2 = {481.0f, 479.0f, 452.0f};
  return p;
}

TEST(SphereGrids, LastColumnRepeatsTheFirstBitForBit) {
  for (int32_t model : {2201, 401, 1000, 2501, 3, 2202}) {
    for (bool generation : {false, true}) {
      const Grids g = Build(lens_test::SamplePara(model, 4), 3840, generation);
      for (int ring = 0; ring < kGridRings; ++ring) {
        const size_t first = 2 * static_cast<size_t>(ring) * kGridColumns;
        const size_t last = first + 2 * (kGridColumns - 1);
        EXPECT_EQ(0, std::memcmp(&g.a[first], &g.a[last], 2 * sizeof(float))) << model << " ring " << ring;
        EXPECT_EQ(0, std::memcmp(&g.b[first], &g.b[last], 2 * sizeof(float))) << model << " ring " << ring;
      }
    }
  }
}

TEST(SphereGrids, RimRingLandsAtRatioTimesRadiusForEveryTable) {
  // F = 200: table A ring 50 and table B ring 1 lie at incidence 100 degrees, the rim,
  // where the radius is rho[c] * r whatever the heights in between. rho from
  // reference_values.py ("A(1.0) N=180"; model 3 uses base 0.997, "A(0.997) N=180").
  const int columns[] = {0, 45, 100, 110, 130, 179};
  const double rho[] = {1.0, 1.0, 1.00030005, 1.00509977, 1.01300001, 1.0};
  const double rho3[] = {0.996999979, 0.996999979, 0.997300029, 1.00209999, 1.00999999, 0.996999979};
  for (int32_t model : {2, 3, 4, 5, 702, 2201, 1901, 2200}) {
    SCOPED_TRACE(model);
    const Grids g = Build(PlainPara(model), 1920);
    for (int i = 0; i < 6; ++i) {
      const int c = columns[i];
      const double r = model == 3 ? rho3[i] : rho[i];
      const double phi1 = -c * kLensTwoPi / 180;
      EXPECT_NEAR(g.ax(50, c), 480 + std::cos(phi1) * r * 450, 2e-3) << c;
      EXPECT_NEAR(g.ay(50, c), 480 + std::sin(phi1) * r * 450, 2e-3) << c;
      const double phi2 = -kLensPi + c * kLensTwoPi / 180;
      EXPECT_NEAR(g.bx(1, c), 960 + 481 + std::cos(phi2) * r * 452, 2e-3) << c;
      EXPECT_NEAR(g.by(1, c), 479 + std::sin(phi2) * r * 452, 2e-3) << c;
    }
    // The axis rings collapse onto the centres: table A ring 0, table B ring 51.
    for (int c = 0; c < kGridColumns; ++c) {
      EXPECT_NEAR(g.ax(0, c), 480, 1e-3);
      EXPECT_NEAR(g.ay(0, c), 480, 1e-3);
      EXPECT_NEAR(g.bx(51, c), 960 + 481, 1e-3);
      EXPECT_NEAR(g.by(51, c), 479, 1e-3);
    }
  }
}

TEST(SphereGrids, ScaledCentresAreTruncated) {
  DoubleFisheyeCameraPara p = PlainPara(2201);
  p.stPoint1 = {480.9f, 480.7f, 450.0f};
  const Grids g = Build(p, 3840);  // s = 2: 961.8 -> 961, 961.4 -> 961
  EXPECT_EQ(g.ax(0, 0), 961.0f);
  EXPECT_EQ(g.ay(0, 0), 961.0f);
}

TEST(SphereGrids, QuarterTurnModelStartsAtMinusHalfPi) {
  const Grids g = Build(PlainPara(2501), 1920);
  // Column 0 of the rim ring points up: (cx, cy - rho[0] r), rho[0] = 1.
  EXPECT_NEAR(g.ax(50, 0), 480, 2e-3);
  EXPECT_NEAR(g.ay(50, 0), 480 - 450, 2e-3);
  EXPECT_NEAR(g.bx(1, 0), 960 + 481, 2e-3);
  EXPECT_NEAR(g.by(1, 0), 479 - 452, 2e-3);
}

TEST(SphereGrids, PointsAreClampedIntoTheirHalf) {
  // A second circle near the left edge: points left of it clamp to 0 before the W/2 offset.
  DoubleFisheyeCameraPara p = PlainPara(2201);
  p.stPoint2 = {5.0f, 479.0f, 452.0f};
  const Grids g = Build(p, 1920);
  EXPECT_EQ(g.bx(1, 0), 960.0f);  // azimuth -pi: straight left
  for (size_t i = 0; i < kGridFloats; i += 2) {
    ASSERT_GE(g.b[i], 960.0f);
    ASSERT_LE(g.b[i], 1919.0f);
  }

  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<DoubleFisheyeCameraPara> bad(5, lens_test::SamplePara(401, 3));
  bad[0].stPoint1 = {nan, nan, nan};
  bad[0].stPoint2 = {inf, -inf, nan};
  bad[1].fLensCoef = nan;
  bad[1].fRatio = inf;
  bad[2].stPoint1.radius = 3e38f;
  bad[2].stPoint2 = {-3e38f, 3e38f, -3e38f};
  bad[3].lPointNum = 1 << 30;
  bad[3].mstPf1[0] = {nan, 1e38f, -inf, 0};
  bad[4].lPointNum = -5;
  bad[4].fLensCoef = 0;
  for (size_t r = 0; r < bad.size(); ++r) {
    for (int width : {1920, 640, 8}) {
      const Grids g = Build(bad[r], width, r % 2 == 0);
      const float half = width / 2.0f;
      for (size_t i = 0; i < kGridFloats; i += 2) {
        ASSERT_TRUE(g.a[i] >= 0 && g.a[i] <= half - 1 && g.a[i + 1] >= 0 && g.a[i + 1] <= half - 1) << r;
        ASSERT_TRUE(g.b[i] >= half && g.b[i] <= 2 * half - 1 && g.b[i + 1] >= 0 && g.b[i + 1] <= half - 1) << r;
      }
    }
  }
}

TEST(SphereGrids, MissingArraysOrBadShapeBuildNothing) {
  const DoubleFisheyeCameraPara p = lens_test::SamplePara();
  std::vector<float> a(kGridFloats, -7.0f);
  BuildSphereGrids(p, 1920, 960, kGridColumns, kGridRings, false, a.data(), nullptr);
  BuildSphereGrids(p, 1920, 960, kGridColumns, 92, false, a.data(), a.data());  // more rings than positions
  BuildSphereGrids(p, 1920, 960, 0, kGridRings, false, a.data(), a.data());
  for (float v : a) ASSERT_EQ(v, -7.0f);
}

TEST(SphereGrids, TraceFilesOnlyWithATraceFolder) {
  const std::string dir = testing::TempDir() + "lens_trace_" + std::to_string(getpid());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  unsetenv("SPHEROLUX_TRACE_DIR");
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  Build(lens_test::SamplePara(), 1920);
  std::filesystem::current_path(cwd);
  EXPECT_TRUE(std::filesystem::is_empty(dir));

  setenv("SPHEROLUX_TRACE_DIR", dir.c_str(), 1);
  const Grids g = Build(lens_test::SamplePara(), 1920);
  Build(lens_test::SamplePara(), 1920);  // appended
  unsetenv("SPHEROLUX_TRACE_DIR");
  std::ifstream top(dir + "/topArray2.txt");
  ASSERT_TRUE(top.good());
  std::string line;
  ASSERT_TRUE(std::getline(top, line));
  EXPECT_EQ(line, " ");
  ASSERT_TRUE(std::getline(top, line));
  char first[64];
  std::snprintf(first, sizeof first, "%f %f ", g.a[0], g.a[1]);
  EXPECT_EQ(line.rfind(first, 0), 0u);
  EXPECT_EQ(std::count(line.begin(), line.end(), ' '), static_cast<long>(kGridFloats));
  ASSERT_TRUE(std::getline(top, line));
  EXPECT_EQ(line, " ");  // the second build's block
  EXPECT_TRUE(std::filesystem::exists(dir + "/bottomArray2.txt"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace spherolux
