#include "stitch/lens_model.h"

#include <gtest/gtest.h>

#include <cmath>

namespace spherolux {
namespace {

struct TableFacts {
  int number;
  int rows;
  double second_angle, second_height;
  double last_degrees, last_height;
  double height_at_90;  // what the model must give at 90 degrees
};

// The lens data as the camera's lens designs state it.
constexpr TableFacts kFacts[] = {
    {1, 51, 0.03839724, 0.03888353, 110.0, 1.43846125, 1.325795},
    {2, 220, 0.008726646, 0.00856537, 110.0, 1.43414082, 1.316544},
    {3, 51, 0.035395277, 0.03322167, 101.4, 1.48718154, 1.363651},
    {4, 51, 0.038397244, 0.03488691, 110.0, 1.38088779, 1.258713},
    {5, 210, 0.00872665, 0.00957752, 105.0, 1.50680055, 1.426266},
    {6, 51, 0.03839724, 0.03951815, 110.0, 1.51201816, 1.378868},
    {7, 51, 0.03490659, 0.02588186, 100.0, 1.01317897, 0.962314},
    {8, 51, 0.038397244, 0.03553778, 110.0, 1.50704343, 1.322920},
};

TEST(LensTables, FixedRowsMonotonicAndNinetyDegreeHeight) {
  for (const TableFacts& f : kFacts) {
    SCOPED_TRACE(f.number);
    const LensProfile* t = LensTable(f.number);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->count, f.rows);
    EXPECT_EQ(t->angles[0], 0.0);
    EXPECT_EQ(t->heights[0], 0.0);
    EXPECT_EQ(t->angles[1], f.second_angle);
    EXPECT_EQ(t->heights[1], f.second_height);
    EXPECT_NEAR(t->angles[f.rows - 1], f.last_degrees * kLensPi / 180.0, 1e-10);
    EXPECT_EQ(t->heights[f.rows - 1], f.last_height);
    for (int i = 1; i < t->count; ++i) {
      EXPECT_GT(t->angles[i], t->angles[i - 1]) << i;
      EXPECT_GT(t->heights[i], t->heights[i - 1]) << i;
    }
    // Five significant digits of the lens design's height at 90 degrees.
    const double h90 = LensRadius(*t, kLensHalfPi, 1.0);
    EXPECT_NEAR(h90, f.height_at_90, 0.5e-5 * f.height_at_90);
  }
  EXPECT_EQ(LensTable(0), nullptr);
  EXPECT_EQ(LensTable(9), nullptr);
}

TEST(LensTables, HalfDegreeTablesLackTheNinetyDegreeRow) {
  for (int number : {2, 5}) {
    const LensProfile* t = LensTable(number);
    int below = -1;
    for (int i = 0; i < t->count; ++i) {
      EXPECT_GT(std::fabs(t->angles[i] - kLensHalfPi), 0.008) << number << " row " << i;
      if (t->angles[i] < kLensHalfPi) below = i;
    }
    // 89.5 degrees is followed directly by 90.5 degrees.
    EXPECT_NEAR(t->angles[below], 89.5 * kLensPi / 180.0, 1e-9);
    EXPECT_NEAR(t->angles[below + 1], 90.5 * kLensPi / 180.0, 1e-9);
  }
}

// A saw-toothed table makes every window choice visible. Expected values from
// reference_values.py ("saw lagrange").
TEST(LensRadius, WindowRuleAndExtrapolation) {
  double angles[8];
  const double heights[8] = {0, 1, 0, 1, 0, 1, 0, 1};
  for (int i = 0; i < 8; ++i) angles[i] = i * 0.1;
  const LensProfile saw{8, angles, heights};
  const struct {
    double theta, expected;
  } cases[] = {
      {0.05, 1.3125},   // c = 0: rows 0-4
      {0.15, 0.3125},   // c = 1: rows 0-4
      {0.25, 0.3125},   // c = 2: rows 0-4
      {0.35, 0.6875},   // c = 3: rows 1-5
      {0.45, 0.3125},   // c = 4: rows 2-6
      {0.55, 0.6875},   // c = 5 = n - 3: rows 3-7
      {0.65, -0.3125},  // c = 6 > n - 3: the last five rows
      {0.75, 5.6875},   // c = 7, beyond the last row: extrapolated
      {0.9, 65.0},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(LensRadius(saw, c.theta, 1.0), c.expected, 1e-9) << c.theta;
    EXPECT_NEAR(LensRadius(saw, c.theta, 3.0), 3.0 * c.expected, 3e-9) << c.theta;
  }
  // At a table angle the polynomial passes through that row exactly.
  for (int i = 0; i < 8; ++i) EXPECT_EQ(LensRadius(saw, angles[i], 1.0), heights[i]) << i;
  // Behind the lens.
  EXPECT_EQ(LensRadius(saw, -0.01, 1.0), 0.0);
  EXPECT_TRUE(std::isnan(LensRadius(saw, std::nan(""), 1.0)));
}

TEST(LensRadius, ScalePutsTheRimOnTheCircle) {
  for (int number = 1; number <= 8; ++number) {
    const LensProfile& t = *LensTable(number);
    for (double fov : {180.0, 195.0, 200.0, 210.0}) {
      const double k = LensScale(t, 950.0, fov);
      EXPECT_NEAR(LensRadius(t, fov * kLensPi / 360.0, k), 950.0, 1e-9) << number << " " << fov;
    }
  }
  EXPECT_FALSE(std::isfinite(LensScale(*LensTable(6), 950.0, 0.0)));  // rim height 0
}

TEST(CameraModelForCode, TableClassAndParallaxOffset) {
  const struct {
    int32_t code;
    int table, lens_class;
    double offset;
  } cases[] = {
      {2, 1, 0, 12.5},    {3, 2, 0, 12.5},    {4, 3, 0, 12.5},    {5, 4, 0, 12.5},    {300, 3, 1, 12.5},
      {301, 3, 1, 12.5},  {302, 3, 0, 12.5},  {303, 3, 0, 12.5},  {400, 3, 1, 12.5},  {401, 3, 1, 14.0},
      {700, 3, 1, 12.5},  {701, 3, 1, 12.5},  {702, 5, 0, 12.5},  {703, 3, 1, -12.0}, {1000, 3, 2, 12.5},
      {1001, 3, 2, 12.5}, {1002, 6, 2, 12.5}, {1300, 3, 1, 12.5}, {1301, 3, 1, 14.0}, {1600, 3, 0, 12.5},
      {2500, 3, 0, 12.5}, {2501, 3, 0, 12.5}, {1901, 7, 0, 12.5}, {2200, 8, 0, 12.5}, {2201, 6, 0, 12.5},
      {2202, 6, 1, 12.5}, {0, 6, 0, 12.5},    {-5, 6, 0, 12.5},   {999, 6, 0, 12.5},  {INT32_MAX, 6, 0, 12.5},
  };
  for (const auto& c : cases) {
    const CameraModel m = CameraModelForCode(c.code);
    EXPECT_EQ(m.table_number, c.table) << c.code;
    EXPECT_EQ(m.profile, LensTable(c.table)) << c.code;
    EXPECT_EQ(m.lens_class, c.lens_class) << c.code;
    EXPECT_EQ(m.parallax_offset, c.offset) << c.code;
  }
  EXPECT_FALSE(GenerationForCode(299));
  EXPECT_TRUE(GenerationForCode(300));
  EXPECT_EQ(ParallaxDistance(true), 1000.0);
  EXPECT_EQ(ParallaxDistance(false), 3000.0);
  EXPECT_FLOAT_EQ(RatioBase(300, 1.0f), 1.003f);
  EXPECT_FLOAT_EQ(RatioBase(301, 1.0f), 1.003f);
  EXPECT_FLOAT_EQ(RatioBase(3, 1.0f), 0.997f);
  EXPECT_EQ(RatioBase(2201, 1.0f), 1.0f);
}

}  // namespace
}  // namespace spherolux
