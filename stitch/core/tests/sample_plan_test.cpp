// Sample plans: a compiled plan gives the bytes of the I420 kernels over the maps it came
// from, on every code path, layout, row slice and plane stride, and reads nothing outside
// the planes (the planes end at their last byte, for the sanitizers).
#include "sample_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "stitch/blend.h"

namespace spherolux {
namespace {

RemapEntry Entry(int x, int y, int fx, int fy) {
  return RemapEntry{static_cast<int16_t>(x), static_cast<uint8_t>(255 - fx), static_cast<uint8_t>(fx),
                    static_cast<int16_t>(y), static_cast<uint8_t>(255 - fy), static_cast<uint8_t>(fy)};
}

// A map of mw x mh entries into a sw x sh source, mostly smooth curves (neighbouring
// entries 0.3 to 1.5 pixels apart, so most groups are near), with stretches of random
// entries (far groups), entries on the last valid row and column, and rows that climb
// steeply (groups spanning more than two rows).
std::vector<RemapEntry> MixedMap(std::mt19937* rng, int mw, int mh, int sw, int sh) {
  std::vector<RemapEntry> m;
  const int step = 80 + static_cast<int>((*rng)() % 300);  // 1/256 pixel per column
  for (int r = 0; r < mh; ++r) {
    const int kind = static_cast<int>((*rng)() % 6);
    for (int k = 0; k < mw; ++k) {
      int fx = (k * step + r * 97) % ((sw - 1) * 256);
      int fy = (r * (sh - 1) * 256) / std::max(mh, 1) + (k * k) % 300;
      if (kind == 1) fy = ((sh - 2) << 8) - (k % 3) * 100;  // along the last rows
      if (kind == 2) fy = k * 200;                          // steep
      if (kind == 5) fy = (r << 8) + k * 60;                // eight pixels over two or three rows
      if (kind == 3 && (*rng)() % 3 == 0) {
        fx = static_cast<int>((*rng)() % ((sw - 1) * 256));
        fy = static_cast<int>((*rng)() % ((sh - 1) * 256));
      }
      if (kind == 4 && k % 9 == 0) fx = (sw - 2) << 8;  // last valid column
      const int x = std::clamp(fx >> 8, 0, sw - 2), y = std::clamp(fy >> 8, 0, sh - 2);
      m.push_back(Entry(x, y, fx & 255, std::max(fy, 0) & 255));
    }
  }
  return m;
}

// Planes of a sw x sh I420 frame with the given strides, each allocated up to the end of
// its last row and no further; every byte random.
struct Planes {
  std::vector<uint8_t> y, u, v;
  I420View view;
};
Planes MakePlanes(std::mt19937* rng, int sw, int sh, int y_stride, int uv_stride) {
  Planes p;
  auto fill = [&](std::vector<uint8_t>* plane, int width, int rows, int stride) {
    plane->resize(static_cast<size_t>(stride) * (rows - 1) + width);
    for (auto& b : *plane) b = static_cast<uint8_t>((*rng)());
  };
  fill(&p.y, sw, sh, y_stride);
  fill(&p.u, sw / 2, sh / 2, uv_stride);
  fill(&p.v, sw / 2, sh / 2, uv_stride);
  p.view = {p.y.data(), p.u.data(), p.v.data(), y_stride, uv_stride};
  return p;
}

std::vector<const PlanDsp*> PlanPaths() {
  std::vector<const PlanDsp*> paths = {&ScalarPlanDsp()};
  if (const PlanDsp* simd = Avx2PlanDsp()) paths.push_back(simd);
  return paths;
}

struct Case {
  bool horizontal;
  int h;  // output height; width 2 h
  int map_width, map_height;
  int sw, sh;
};

// Runs one case: the plan on every path, whole and in row slices, against the scalar
// kernels over the maps. Counts the luma groups of each kind into `kinds`.
void CheckCase(const Case& c, std::mt19937* rng, size_t* kinds) {
  const int w = 2 * c.h;
  SCOPED_TRACE(testing::Message() << (c.horizontal ? "horizontal" : "vertical") << " out " << w << "x" << c.h << " map "
                                  << c.map_width << "x" << c.map_height << " source " << c.sw << "x" << c.sh);
  const auto first = MixedMap(rng, c.map_width, c.map_height, c.sw, c.sh);
  const auto second = MixedMap(rng, c.map_width, c.map_height, c.sw, c.sh);
  I420Seams seams;
  EXPECT_TRUE(seams.Init(c.horizontal, first.data(), second.data(), c.map_width, c.map_height));
  SamplePlan plan;
  EXPECT_TRUE(BuildSamplePlan(seams, c.sw, c.sh, 1 + static_cast<int>((*rng)() % 3), &plan));
  const size_t size = static_cast<size_t>(w) * c.h * 3 / 2;
  for (int pad : {0, 1, 7, 64}) {
    const Planes planes = MakePlanes(rng, c.sw, c.sh, c.sw + pad, c.sw / 2 + (pad + 1) / 2);
    std::vector<uint8_t> expected(size, 0xEE);
    const bool ok = c.horizontal
                        ? BlendHorizontalI420With(ScalarBlendDsp(), planes.view, c.sw, c.sh, expected.data(),
                                                  first.data(), second.data(), c.map_width, c.map_height, 0, c.h)
                        : BlendVerticalI420With(ScalarBlendDsp(), planes.view, c.sw, c.sh, expected.data(),
                                                first.data(), second.data(), c.map_width, c.map_height, 0, c.h);
    EXPECT_TRUE(ok);
    for (const PlanDsp* path : PlanPaths()) {
      SCOPED_TRACE(testing::Message() << path->name << " pad " << pad);
      std::vector<uint8_t> out(size, 0xEE);
      EXPECT_TRUE(RunSamplePlan(*path, ActiveBlendDsp(), plan, planes.view, out.data(), 0, c.h));
      EXPECT_EQ(out, expected);
      // Row slices of uneven sizes give the same frame.
      std::vector<uint8_t> sliced(size, 0xEE);
      for (int r0 = 0; r0 < c.h;) {
        const int r1 = std::min(c.h, r0 + 2 * (1 + static_cast<int>((*rng)() % 5)));
        EXPECT_TRUE(RunSamplePlan(*path, ScalarBlendDsp(), plan, planes.view, sliced.data(), r0, r1));
        r0 = r1;
      }
      EXPECT_EQ(sliced, expected);
    }
  }
  for (const SampleRow& row : plan.rows) {
    for (int g = 0; g < (w + 7) / 8; ++g) ++kinds[plan.groups[row.groups + g].at.near];
  }
}

TEST(SamplePlan, MatchesTheMapKernelsBitForBit) {
  std::mt19937 rng(2024);
  // Widths that are and are not multiples of 8 and 16, maps from the narrowest to the
  // widest the kernels take, sources from barely enough for near groups to wide.
  const std::vector<Case> cases = {
      {true, 40, 40, 40, 64, 48},  {true, 40, 80, 40, 64, 48},    {true, 36, 51, 36, 90, 30},
      {true, 22, 30, 22, 16, 8},   {true, 64, 100, 64, 200, 100}, {false, 40, 80, 20, 64, 48},
      {false, 38, 76, 30, 50, 40}, {false, 22, 44, 12, 16, 6},    {false, 64, 128, 50, 200, 100},
      {true, 18, 30, 18, 14, 10},
  };
  size_t kinds[3] = {};
  for (const Case& c : cases) CheckCase(c, &rng, kinds);
  // The maps must have exercised every kind of group.
  EXPECT_GT(kinds[kFar], 100u);
  EXPECT_GT(kinds[kNear2], 100u);
  EXPECT_GT(kinds[kNear3], 100u);
}

TEST(SamplePlan, RefusesRowsAndViewsItCannotServe) {
  std::mt19937 rng(5);
  const int h = 20, w = 40, sw = 32, sh = 24;
  const auto map = MixedMap(&rng, 30, h, sw, sh);
  I420Seams seams;
  ASSERT_TRUE(seams.Init(true, map.data(), map.data(), 30, h));
  SamplePlan plan;
  ASSERT_TRUE(BuildSamplePlan(seams, sw, sh, 1, &plan));
  const Planes planes = MakePlanes(&rng, sw, sh, sw, sw / 2);
  std::vector<uint8_t> out(static_cast<size_t>(w) * h * 3 / 2, 9);
  const PlanDsp& dsp = ActivePlanDsp();
  EXPECT_FALSE(RunSamplePlan(dsp, ActiveBlendDsp(), plan, planes.view, out.data(), 1, h));  // odd start
  EXPECT_FALSE(RunSamplePlan(dsp, ActiveBlendDsp(), plan, planes.view, out.data(), 0, 5));  // odd end before H
  I420View narrow = planes.view;
  narrow.y_stride = sw - 1;
  EXPECT_FALSE(RunSamplePlan(dsp, ActiveBlendDsp(), plan, narrow, out.data(), 0, h));
  narrow = planes.view;
  narrow.v = nullptr;
  EXPECT_FALSE(RunSamplePlan(dsp, ActiveBlendDsp(), plan, narrow, out.data(), 0, h));
  for (uint8_t b : out) ASSERT_EQ(b, 9);
  // Maps the kernels refuse are refused here too.
  EXPECT_FALSE(seams.Init(true, map.data(), map.data(), 30, 19));  // odd height
  EXPECT_FALSE(seams.Init(true, map.data(), map.data(), 41, 20));  // wider than 2 H
}

}  // namespace
}  // namespace spherolux
