// Expected heights come from reference_values.py ("single-lens height"), an independent
// evaluation of the 5-point Lagrange model on the lens table.
#include "stitch/single_lens.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "stitch/lens_model.h"
#include "stitch/sphere_grid.h"

namespace spherolux {
namespace {

constexpr double kRim = 1.4576191;

TEST(SingleLensTable, RowsAndRadii) {
  EXPECT_EQ(SingleLensTable[0].angle, 0.0f);
  EXPECT_EQ(SingleLensTable[0].height, 0.0f);
  EXPECT_FLOAT_EQ(SingleLensTable[1].angle, 0.03316126f);
  EXPECT_FLOAT_EQ(SingleLensTable[50].angle, 1.6580628f);
  EXPECT_EQ(SingleLensTable[25].height, 0.8740894f);
  EXPECT_EQ(SingleLensTable[50].height, 1.4576191f);
  const double r = 500.0;
  const double k = r / kRim;
  EXPECT_NEAR(SingleLensGridRadius(20 * kLensPi / 180, r), 0.383421934408 * k, 1e-4);
  EXPECT_NEAR(SingleLensGridRadius(45 * kLensPi / 180, r), 0.832374110077 * k, 1e-4);
  EXPECT_NEAR(SingleLensGridRadius(SingleLensTable[50].angle, r), r, 1e-4);           // the rim
  EXPECT_NEAR(SingleLensGridRadius(96 * kLensPi / 180, r), 1.46392032635 * k, 1e-4);  // extrapolated
  EXPECT_EQ(SingleLensGridRadius(-0.1, r), 0.0);
  EXPECT_NEAR(SingleLensRemapRadius(45 * kLensPi / 180, r), 0.832374110077 * k, 1e-4);
  EXPECT_EQ(SingleLensRemapRadius(96 * kLensPi / 180, r), 1.0e8);
  EXPECT_EQ(SingleLensRemapRadius(-0.1, r), 1.0e8);
}

TEST(SingleLensGrid, RingsColumnsAndClamps) {
  const int columns = 180;
  const int rings = 48;
  std::vector<float> grid(kGridFloats, -1.0f);
  BuildSingleLensGrid(1920, 1080, columns, rings, 960.0f, 540.0f, 192.0f, 500.0f, grid.data());
  auto x = [&](int ring, int col) { return grid[2 * (ring * (columns + 1) + col)]; };
  auto y = [&](int ring, int col) { return grid[2 * (ring * (columns + 1) + col) + 1]; };
  const double k = 500.0 / kRim;
  for (int c = 0; c <= columns; ++c) {
    EXPECT_FLOAT_EQ(x(0, c), 960.0f);
    EXPECT_FLOAT_EQ(y(0, c), 540.0f);
  }
  // Ring 10 lies at 20 degrees. Column 0 points up (azimuth 3 pi / 2), column 45 left,
  // column 90 down.
  const double r20 = 0.383421934408 * k;
  EXPECT_NEAR(x(10, 0), 960.0, 1e-3);
  EXPECT_NEAR(y(10, 0), 540.0 - r20, 1e-3);
  EXPECT_NEAR(x(10, 45), 960.0 - r20, 1e-3);
  EXPECT_NEAR(y(10, 45), 540.0, 1e-3);
  // Ring 48 lies at 96 degrees, beyond the table: extrapolated.
  const double r96 = 1.46392032635 * k;
  EXPECT_NEAR(y(48, 90), 540.0 + r96, 1e-3);
  EXPECT_NEAR(x(48, 45), 960.0 - r96, 1e-3);
  EXPECT_NEAR(y(48, 0), 540.0 - r96, 1e-3);
  for (int ring = 0; ring <= rings; ++ring) {
    EXPECT_EQ(x(ring, columns), x(ring, 0));
    EXPECT_EQ(y(ring, columns), y(ring, 0));
  }
  // Nothing is written past the grid's (rings + 1) x (columns + 1) points.
  EXPECT_EQ(grid[2 * (rings + 1) * (columns + 1)], -1.0f);

  // A circle much larger than the frame: every point is clamped into it.
  BuildSingleLensGrid(200, 100, columns, rings, 100.0f, 50.0f, 192.0f, 5000.0f, grid.data());
  for (int i = 0; i < (rings + 1) * (columns + 1); ++i) {
    ASSERT_TRUE(grid[2 * i] >= 0 && grid[2 * i] <= 199 && grid[2 * i + 1] >= 0 && grid[2 * i + 1] <= 99) << i;
  }
}

struct Table {
  int w, h;
  std::vector<SingleLensRemapEntry> e;
  const SingleLensRemapEntry& at(int row, int col) const { return e[static_cast<size_t>(row) * w + col]; }
  bool black_row(int row) const {
    for (int c = 0; c < w; ++c) {
      if (at(row, c).x != -1 || at(row, c).y != -1) return false;
    }
    return true;
  }
};

Table Remap(int rotation, int src_w = 1920, int src_h = 1080, float cx = 960, float cy = 540, float r = 500) {
  Table t{720, 360, std::vector<SingleLensRemapEntry>(720 * 360, SingleLensRemapEntry{-5, -5})};
  EXPECT_TRUE(BuildSingleLensRemap(src_w, src_h, cx, cy, 190.0f, r, t.e.data(), t.w, t.h, rotation));
  return t;
}

double Distance(const SingleLensRemapEntry& e, double cx, double cy) {
  return std::hypot(e.x / 256.0 - cx, e.y / 256.0 - cy);
}

TEST(SingleLensRemap, ZenithRotation) {
  const Table t = Remap(0);
  for (int c = 0; c < t.w; ++c) {
    EXPECT_EQ(t.at(0, c).x, 960 * 256);
    EXPECT_EQ(t.at(0, c).y, 540 * 256);
  }
  // Rows at 95 degrees (row 190) and beyond are black; row 189 is not.
  EXPECT_FALSE(t.black_row(189));
  for (int row = 191; row < t.h; ++row) ASSERT_TRUE(t.black_row(row)) << row;
  // Row 90 lies at 45 degrees; column 180 at azimuth 2 pi - pi / 2 (up).
  const double r45 = 0.832374110077 * 500.0 / kRim;
  EXPECT_NEAR(t.at(90, 180).x / 256.0, 960.0, 2.0 / 256);
  EXPECT_NEAR(t.at(90, 180).y / 256.0, 540.0 - r45, 2.0 / 256);
}

TEST(SingleLensRemap, NadirRotation) {
  const Table t0 = Remap(0);
  const Table t = Remap(180);
  for (int row = 0; row < 170; ++row) ASSERT_TRUE(t.black_row(row)) << row;
  EXPECT_FALSE(t.black_row(171));
  // The last row lies one step (0.5 degrees) from the centre, as row 1 of rotation 0.
  const double d = Distance(t0.at(1, 0), 960, 540);
  EXPECT_GT(d, 1.0);
  for (int c = 0; c < t.w; c += 37) EXPECT_NEAR(Distance(t.at(t.h - 1, c), 960, 540), d, 2.0 / 256) << c;
}

TEST(SingleLensRemap, HorizonRotations) {
  for (int rotation : {90, 270}) {
    const Table t = Remap(rotation);
    // The lens axis: longitude 0 (column 360) on the equator (row 180).
    EXPECT_NEAR(t.at(180, 360).x / 256.0, 960.0, 1.0) << rotation;
    EXPECT_NEAR(t.at(180, 360).y / 256.0, 540.0, 1.0) << rotation;
    // Directions behind the lens are black: longitude +-180 degrees (column 0).
    EXPECT_EQ(t.at(180, 0).x, -1) << rotation;
    // No entry was left unwritten, and every valid one is inside the source.
    for (const SingleLensRemapEntry& e : t.e) {
      ASSERT_NE(e.x, -5);
      if (e.x != -1) {
        ASSERT_TRUE(e.x >= 0 && e.x <= 1919 * 256 && e.y >= 0 && e.y <= 1079 * 256);
      }
    }
  }
  // Rotation 270 walks the same directions backwards: its row 360 - p, column 720 - j has
  // the angles of rotation 90's row p, column j.
  const Table a = Remap(90);
  const Table b = Remap(270);
  for (int row = 20; row < 340; row += 40) {
    for (int col = 200; col < 520; col += 40) {
      const SingleLensRemapEntry& ea = a.at(row, col);
      const SingleLensRemapEntry& eb = b.at(360 - row, 720 - col);
      EXPECT_NEAR(ea.x, eb.x, 2) << row << " " << col;
      EXPECT_NEAR(ea.y, eb.y, 2) << row << " " << col;
    }
  }
}

TEST(SingleLensRemap, EdgesAndRefusals) {
  // A centre exactly on the last source column stays valid.
  const Table t = Remap(0, 64, 32, 63.0f, 16.0f, 10.0f);
  EXPECT_EQ(t.at(0, 5).x, 63 * 256);
  EXPECT_EQ(t.at(0, 5).y, 16 * 256);
  // Positions left of the source are refused.
  bool any_refused = false;
  for (int c = 0; c < t.w; ++c) any_refused |= t.at(20, c).x == -1;
  EXPECT_TRUE(any_refused);

  std::vector<SingleLensRemapEntry> e(8, SingleLensRemapEntry{-5, -5});
  EXPECT_FALSE(BuildSingleLensRemap(64, 32, 10, 10, 190, 10, e.data(), 4, 2, 45));
  EXPECT_FALSE(BuildSingleLensRemap(64, 32, 10, 10, 190, 10, e.data(), 0, 0, 0));
  for (const auto& v : e) EXPECT_EQ(v.x, -5);
  // NaN circles produce only refusals.
  const Table n = Remap(90, 64, 32, std::nanf(""), 16.0f, std::nanf(""));
  for (const auto& v : n.e) ASSERT_EQ(v.x, -1);
}

TEST(RemapSingleLens, BilinearLumaAndBlockChroma) {
  // 4 x 4 source, luma 10 x + 40 y; chroma planes 2 x 2.
  std::vector<uint8_t> src(16 + 4 + 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) src[y * 4 + x] = static_cast<uint8_t>(10 * x + 40 * y);
  }
  const uint8_t u[4] = {50, 51, 60, 61};
  const uint8_t v[4] = {200, 201, 210, 211};
  std::copy(u, u + 4, src.begin() + 16);
  std::copy(v, v + 4, src.begin() + 20);

  const SingleLensRemapEntry table[4] = {
      {1 * 256 + 128, 2 * 256 + 64},  // (1.5, 2.25): luma 15 + 90 = 105
      {-1, -1},                       // no source
      {3 * 256, 3 * 256},             // last column and row: 30 + 120 = 150
      {100000, 5},                    // outside the source
  };
  std::vector<uint8_t> out(4 + 1 + 1, 99);
  RemapSingleLens(src.data(), 4, 4, out.data(), 2, 2, table);
  EXPECT_EQ(out[0], 105);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 150);
  EXPECT_EQ(out[3], 0);
  // Chroma of the block from its top-left entry: source (1, 2) -> chroma (0, 1).
  EXPECT_EQ(out[4], 60);
  EXPECT_EQ(out[5], 210);

  const SingleLensRemapEntry none[4] = {{-1, -1}, {0, 0}, {0, 0}, {0, 0}};
  RemapSingleLens(src.data(), 4, 4, out.data(), 2, 2, none);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);  // source (0, 0)
  EXPECT_EQ(out[4], 128);
  EXPECT_EQ(out[5], 128);
}

TEST(RemapSingleLens, WholePictureThroughABuiltTable) {
  // A flat source comes out flat wherever the table has a source, black elsewhere.
  const int sw = 64;
  const int sh = 32;
  std::vector<uint8_t> src(sw * sh + 2 * (sw / 2) * (sh / 2), 77);
  const int w = 64;
  const int h = 32;
  std::vector<SingleLensRemapEntry> table(w * h);
  ASSERT_TRUE(BuildSingleLensRemap(sw, sh, 31.5f, 15.5f, 190, 15, table.data(), w, h, 0));
  std::vector<uint8_t> out(w * h + 2 * (w / 2) * (h / 2), 1);
  RemapSingleLens(src.data(), sw, sh, out.data(), w, h, table.data());
  for (int i = 0; i < w * h; ++i) ASSERT_EQ(out[i], table[i].x == -1 ? 0 : 77) << i;
}

SingleFisheyeCameraPara SinglePara(float x, float y, float r) {
  SingleFisheyeCameraPara p;
  p.stPfCenter.x = x;
  p.stPfCenter.y = y;
  p.fRadius = r;
  return p;
}

TEST(SingleLensCircle, CasesByFrameShape) {
  const SingleFisheyeCameraPara p = SinglePara(960.7f, 540.2f, 530.5f);
  struct Case {
    int w, h, x, y;
    float r;
  };
  // Worked out by hand: r = 530.5 - 10 = 520.5, s = H / 1080.
  const Case cases[] = {
      {1920, 1080, 960, 540, 520.5f},                    // 16:9, s = 1
      {3840, 2160, 1920, 1080, 1041.0f},                 // 16:9, s = 2
      {1440, 1080, 720, 540, 520.5f},                    // 4:3: x - 240
      {1944, 1080, 972, 540, 520.5f},                    // 18:10: + (1944 - 1920) / 2
      {1920, 1920, 960, 960, 520.5f * (1920 / 1080.f)},  // 1:1: (960 - 420) * 16 / 9
      {1280, 1024, 910, 512, 520.5f * (1024 / 1080.f)},  // other: 960 * 0.948148 = 910.2
  };
  for (const Case& c : cases) {
    const SingleLensCircle got = SingleLensCircleForFrame(p, c.w, c.h);
    EXPECT_EQ(got.x, c.x) << c.w << "x" << c.h;
    EXPECT_EQ(got.y, c.y) << c.w << "x" << c.h;
    EXPECT_NEAR(got.radius, c.r, 1e-3) << c.w << "x" << c.h;
  }
  // Values no int can hold saturate; NaN becomes 0.
  const SingleLensCircle huge = SingleLensCircleForFrame(SinglePara(3e38f, -3e38f, 1e30f), 1920, 1080);
  EXPECT_EQ(huge.x, INT32_MAX);
  EXPECT_EQ(huge.y, INT32_MIN);
  const SingleLensCircle nan = SingleLensCircleForFrame(SinglePara(std::nanf(""), 5.0f, 1.0f), 1440, 1080);
  EXPECT_EQ(nan.x, -240);
  EXPECT_EQ(nan.y, 5);
}

TEST(SingleLensCircle, PhotosShiftEveryAspectAndKeepTheWholeRadius) {
  const SingleFisheyeCameraPara p = SinglePara(960.7f, 540.2f, 530.5f);
  // Worked out by hand: x, y, r = 960, 540, 530 before scaling by H / 1080.
  const struct {
    int h, x, y;
    float r;
  } cases[] = {
      {1080, 720, 540, 530.0f},     // (960 - 240) * 1
      {2160, 1440, 1080, 1060.0f},  // s = 2
      {1920, 1280, 960, 942.0f},    // a 1:1 photo is shifted like any other: 720 * 1.7778 = 1280
  };
  for (const auto& c : cases) {
    const SingleLensCircle got = PhotoSingleLensCircle(p, c.h);
    EXPECT_EQ(got.x, c.x) << c.h;
    EXPECT_EQ(got.y, c.y) << c.h;
    EXPECT_EQ(got.radius, c.r) << c.h;
  }
  // A hostile record saturates instead of overflowing an int (x loses 240 after saturating).
  const SingleLensCircle huge = PhotoSingleLensCircle(SinglePara(3e38f, -3e38f, std::nanf("")), 1080);
  EXPECT_GT(huge.x, 2000000000);
  EXPECT_EQ(huge.y, INT32_MIN);
  EXPECT_EQ(huge.radius, 0.0f);
}

}  // namespace
}  // namespace spherolux
