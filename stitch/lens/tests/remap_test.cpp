#include "stitch/remap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "sample_para.h"

namespace spherolux {
namespace {

struct Maps {
  int width = 0;
  int height = 0;
  std::vector<RemapEntry> lens1, lens2;
};

Maps Build(const DoubleFisheyeCameraPara& para, const PhotoMapGeometry& geo) {
  Maps m;
  if (!PhotoMapSize(para, geo, &m.width, &m.height)) return m;
  m.lens1.resize(static_cast<size_t>(m.width) * m.height);
  m.lens2.resize(m.lens1.size());
  BuildRemapMaps(para, geo, m.lens1.data(), m.lens2.data());
  return m;
}

bool SameEntry(const RemapEntry& a, const RemapEntry& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

double DecodeX(const RemapEntry& e) { return e.x + e.wx1 / 255.0; }
double DecodeY(const RemapEntry& e) { return e.y + e.wy1 / 255.0; }

DoubleFisheyeCameraPara PlainPara(int32_t model) {
  DoubleFisheyeCameraPara p = lens_test::SamplePara(model, 0);
  p.stPoint1 = {480.0f, 480.0f, 450.0f};
  p.stPoint2 = {481.0f, 479.0f, 452.0f};
  return p;
}

TEST(PhotoMapSize, SizesAndRefusals) {
  DoubleFisheyeCameraPara p = lens_test::SamplePara();
  int w = 0;
  int h = 0;
  ASSERT_TRUE(PhotoMapSize(p, {3840, 1920, 3840, 1920, 0, false}, &w, &h));
  EXPECT_EQ(w, 2133);  // 1920 * 200 / 180
  EXPECT_EQ(h, 1920);
  ASSERT_TRUE(PhotoMapSize(p, {3840, 1920, 3840, 1920, 180, false}, &w, &h));
  EXPECT_EQ(w, 2133);
  ASSERT_TRUE(PhotoMapSize(p, {3840, 1920, 3840, 1920, 90, false}, &w, &h));
  EXPECT_EQ(w, 3840);
  EXPECT_EQ(h, 1066);  // 1920 * 200 / 360
  ASSERT_TRUE(PhotoMapSize(p, {3840, 1920, 3840, 1920, 270, false}, &w, &h));
  EXPECT_EQ(h, 1066);

  const PhotoMapGeometry good{3840, 1920, 3840, 1920, 0, false};
  auto refused = [&](DoubleFisheyeCameraPara para, PhotoMapGeometry geo) { return !PhotoMapSize(para, geo, &w, &h); };
  for (float fov : {0.0f, -200.0f, 361.0f, std::numeric_limits<float>::quiet_NaN(),
                    std::numeric_limits<float>::infinity(), 1e-6f}) {
    DoubleFisheyeCameraPara bad = p;
    bad.fLensCoef = fov;
    EXPECT_TRUE(refused(bad, good)) << fov;
  }
  EXPECT_TRUE(refused(p, {3840, 1920, 3840, 1921, 0, false}));  // not 2:1
  EXPECT_TRUE(refused(p, {3840, 1920, 0, 0, 0, false}));
  EXPECT_TRUE(refused(p, {3840, 1920, 2 * 8193, 8193, 0, false}));  // too wide
  EXPECT_TRUE(refused(p, {3840, 1920, 3840, 1920, 45, false}));
  EXPECT_TRUE(refused(p, {3840, 1920, 3840, 1920, -90, false}));
  EXPECT_TRUE(refused(p, {2, 960, 3840, 1920, 0, false}));
  EXPECT_TRUE(refused(p, {40000, 960, 3840, 1920, 0, false}));  // beyond 16-bit positions
}

TEST(RemapMaps, RotationsAreReversalsOfEachOther) {
  for (int32_t model : {2201, 401, 1000, 3}) {
    for (bool generation : {false, true}) {
      SCOPED_TRACE(model);
      const DoubleFisheyeCameraPara p = lens_test::SamplePara(model, 3);
      const Maps r0 = Build(p, {960, 480, 480, 240, 0, generation});
      const Maps r180 = Build(p, {960, 480, 480, 240, 180, generation});
      const Maps r90 = Build(p, {960, 480, 480, 240, 90, generation});
      const Maps r270 = Build(p, {960, 480, 480, 240, 270, generation});
      ASSERT_FALSE(r0.lens1.empty());
      ASSERT_FALSE(r90.lens1.empty());
      const size_t n = r0.lens1.size();
      const size_t nv = r90.lens1.size();
      for (size_t i = 0; i < n; ++i) {
        ASSERT_TRUE(SameEntry(r180.lens1[i], r0.lens1[n - 1 - i])) << i;
        ASSERT_TRUE(SameEntry(r180.lens2[i], r0.lens2[n - 1 - i])) << i;
      }
      for (size_t i = 0; i < nv; ++i) {
        ASSERT_TRUE(SameEntry(r90.lens1[i], r270.lens1[nv - 1 - i])) << i;
        ASSERT_TRUE(SameEntry(r90.lens2[i], r270.lens2[nv - 1 - i])) << i;
      }
    }
  }
}

TEST(RemapMaps, ThreadCountDoesNotChangeTheMaps) {
  // Row slices must reproduce the accumulated row angles of a single pass exactly.
  const DoubleFisheyeCameraPara p = lens_test::SamplePara(401, 3);
  for (int rotation : {0, 90, 180, 270}) {
    SCOPED_TRACE(rotation);
    const PhotoMapGeometry geo{960, 480, 480, 240, rotation, false};
    int wm = 0, hm = 0;
    ASSERT_TRUE(PhotoMapSize(p, geo, &wm, &hm));
    const size_t n = static_cast<size_t>(wm) * hm;
    std::vector<RemapEntry> a1(n), a2(n), b1(n), b2(n);
    BuildRemapMaps(p, geo, a1.data(), a2.data(), 1);
    BuildRemapMaps(p, geo, b1.data(), b2.data(), 3);
    ASSERT_TRUE(std::any_of(a2.begin(), a2.end(), [](const RemapEntry& e) { return e.x != 0; }));
    EXPECT_EQ(0, std::memcmp(a1.data(), b1.data(), n * sizeof(RemapEntry)));
    EXPECT_EQ(0, std::memcmp(a2.data(), b2.data(), n * sizeof(RemapEntry)));
  }
}

TEST(RemapMaps, LensAxesLandOnTheCircleCentres) {
  // Horizontal maps: the middle of each map looks along the lens axis (incidence 0).
  const DoubleFisheyeCameraPara p = PlainPara(2201);
  const Maps m = Build(p, {1920, 960, 720, 360, 0, false});
  ASSERT_EQ(m.width, 400);
  const RemapEntry& a = m.lens1[static_cast<size_t>(180) * m.width + 200];
  EXPECT_NEAR(DecodeX(a), 480.0, 0.01);
  EXPECT_NEAR(DecodeY(a), 480.0, 0.01);
  const RemapEntry& b = m.lens2[static_cast<size_t>(180) * m.width + 200];
  EXPECT_NEAR(DecodeX(b), 481.0 + 960.0, 0.01);  // the second lens image starts at l = 960
  EXPECT_NEAR(DecodeY(b), 479.0, 0.01);
}

TEST(RemapMaps, RimRowLandsAtRatioTimesRadiusForEveryTable) {
  // Vertical maps of a 720 x 360 output with F = 200: lens 2's map row 0 is output row
  // 360 - 200 = 160, at incidence 180 - 160 * 0.5 = 100 degrees = F / 2: the rim. There the
  // radius is rho[c] * r whatever the table's heights. rho from reference_values.py
  // ("A(1.0) N=720"); the lens-2 azimuth of column c is -pi + c * 0.5 degrees.
  const int columns[] = {0, 100, 250, 400, 440, 719};
  const double rho[] = {1.0, 1.0, 1.0, 1.00030005, 1.00509989, 1.0};
  for (int32_t model : {2, 4, 5, 702, 2201, 1901, 2200}) {
    SCOPED_TRACE(model);
    const DoubleFisheyeCameraPara p = PlainPara(model);
    const Maps m = Build(p, {1920, 960, 720, 360, 270, false});
    ASSERT_EQ(m.height, 200);
    for (int i = 0; i < 6; ++i) {
      const int c = columns[i];
      const double phi = -kLensPi + c * (kLensTwoPi / 720);
      const RemapEntry& e = m.lens2[c];
      // The vertical maps truncate the weights: the position is within 1/255 above.
      EXPECT_NEAR(DecodeX(e), 960 + 481 + std::cos(phi) * rho[i] * 452, 0.006) << c;
      EXPECT_NEAR(DecodeY(e), 479 + std::sin(phi) * rho[i] * 452, 0.006) << c;
    }
    // Lens 1's first row looks along its axis.
    EXPECT_NEAR(DecodeX(m.lens1[10]), 480, 0.006);
    EXPECT_NEAR(DecodeY(m.lens1[10]), 480, 0.006);
  }
}

void ExpectInsideFrame(const Maps& m, const PhotoMapGeometry& geo) {
  const bool stacked = geo.source_width < geo.source_height;
  const int l = stacked ? geo.source_width : geo.source_width / 2;
  const int mh = stacked ? geo.source_height / 2 : geo.source_height;
  for (const RemapEntry& e : m.lens1) {
    ASSERT_TRUE(e.x >= 0 && e.x <= l - 2 && e.y >= 0 && e.y <= mh - 2) << e.x << " " << e.y;
    ASSERT_EQ(e.wx0 + e.wx1, 255);
    ASSERT_EQ(e.wy0 + e.wy1, 255);
  }
  for (const RemapEntry& e : m.lens2) {
    if (stacked) {
      ASSERT_TRUE(e.x >= 0 && e.x <= l - 2 && e.y >= mh && e.y <= 2 * mh - 2) << e.x << " " << e.y;
    } else {
      ASSERT_TRUE(e.x >= l && e.x <= 2 * l - 2 && e.y >= 0 && e.y <= mh - 2) << e.x << " " << e.y;
    }
    ASSERT_TRUE(e.x + 1 < geo.source_width && e.y + 1 < geo.source_height);
    ASSERT_EQ(e.wx0 + e.wx1, 255);
    ASSERT_EQ(e.wy0 + e.wy1, 255);
  }
}

TEST(RemapMaps, ClampsKeepNeighboursInsideEachLensImage) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<DoubleFisheyeCameraPara> records;
  records.push_back(lens_test::SamplePara(2201, 2));
  DoubleFisheyeCameraPara huge = lens_test::SamplePara(401, 5);
  huge.stPoint1.radius = 1e30f;
  huge.stPoint2 = {-1e30f, 1e30f, 3e38f};
  records.push_back(huge);
  DoubleFisheyeCameraPara nans = lens_test::SamplePara(1000, 4);
  nans.stPoint1 = {nan, nan, nan};
  nans.stPoint2 = {inf, -inf, inf};
  nans.fRatio = nan;
  nans.mstPf1[1] = {nan, inf, -inf, nan};
  records.push_back(nans);
  DoubleFisheyeCameraPara zero = lens_test::SamplePara(2, 1);
  zero.stPoint1 = {0, 0, 0};
  zero.stPoint2 = {0, 0, 0};
  zero.fRatio = -1e30f;
  records.push_back(zero);
  DoubleFisheyeCameraPara edge = lens_test::SamplePara(2202, 50);
  edge.stPoint1 = {1919, 959, 2000};  // circle past the lens image
  edge.stPoint2 = {2, 2, 2000};
  records.push_back(edge);

  const PhotoMapGeometry sizes[] = {
      {1920, 960, 240, 120, 0, false},   {1920, 960, 240, 120, 90, true}, {480, 960, 240, 120, 180, false},
      {1000, 1800, 240, 120, 270, true},  // stacked with lens images of 1000 x 900
      {1000, 1800, 240, 120, 0, false},  {6, 4, 64, 32, 0, false},        {5, 9, 64, 32, 90, false},
  };
  for (size_t r = 0; r < records.size(); ++r) {
    for (const PhotoMapGeometry& geo : sizes) {
      SCOPED_TRACE(testing::Message() << "record " << r << " source " << geo.source_width << "x" << geo.source_height
                                      << " rotation " << geo.rotation);
      const Maps m = Build(records[r], geo);
      ASSERT_FALSE(m.lens1.empty());
      ExpectInsideFrame(m, geo);
    }
  }
}

TEST(RemapMaps, StackedSecondLensIsOffsetByTheLensImageHeight) {
  // A stacked frame whose lens images are not square: the second lens starts at row m.
  DoubleFisheyeCameraPara p = PlainPara(2201);
  const PhotoMapGeometry geo{1000, 1800, 360, 180, 0, false};
  const Maps m = Build(p, geo);
  const float s = 1800.0f / 1920.0f;
  const RemapEntry& centre = m.lens2[static_cast<size_t>(90) * m.width + m.width / 2];
  EXPECT_NEAR(DecodeX(centre), std::trunc(481 * s), 0.01);
  EXPECT_NEAR(DecodeY(centre), 900 + std::trunc(479 * s), 0.01);
}

TEST(RemapMaps, WarpAndCorrectionTouchOnlyTheSecondLens) {
  const DoubleFisheyeCameraPara plain = PlainPara(2201);
  DoubleFisheyeCameraPara lines = plain;
  lines.lPointNum = 3;
  for (int i = 0; i < 3; ++i) {
    lines.mstPf1[i] = {200.0f + 600 * i, 470, 205.0f + 600 * i, 490};
    lines.mstPf2[i] = {210.0f + 600 * i, 468, 212.0f + 600 * i, 492};
  }
  DoubleFisheyeCameraPara parallax = plain;
  parallax.lModel = 2202;  // lens class 1, same table
  for (int rotation : {0, 90}) {
    const PhotoMapGeometry geo{1920, 960, 360, 180, rotation, false};
    const Maps a = Build(plain, geo);
    const Maps b = Build(lines, geo);
    const Maps c = Build(parallax, geo);
    EXPECT_EQ(0, std::memcmp(a.lens1.data(), b.lens1.data(), a.lens1.size() * sizeof(RemapEntry)));
    EXPECT_EQ(0, std::memcmp(a.lens1.data(), c.lens1.data(), a.lens1.size() * sizeof(RemapEntry)));
    EXPECT_NE(0, std::memcmp(a.lens2.data(), b.lens2.data(), a.lens2.size() * sizeof(RemapEntry)));
    EXPECT_NE(0, std::memcmp(a.lens2.data(), c.lens2.data(), a.lens2.size() * sizeof(RemapEntry)));
  }
  // A record with more than 50 lines uses the 50 it holds.
  DoubleFisheyeCameraPara many = lines;
  many.lPointNum = 50;
  DoubleFisheyeCameraPara too_many = lines;
  too_many.lPointNum = 5000;
  const PhotoMapGeometry geo{1920, 960, 120, 60, 0, false};
  const Maps x = Build(many, geo);
  const Maps y = Build(too_many, geo);
  EXPECT_EQ(0, std::memcmp(x.lens2.data(), y.lens2.data(), x.lens2.size() * sizeof(RemapEntry)));
}

TEST(RemapMaps, OnePassForBothLensesMatchesSeparateBuilds) {
  // BuildRemapMaps builds both horizontal maps in one pass; BuildRemapHorizontal alone must
  // give the same entries for each lens.
  const DoubleFisheyeCameraPara p = lens_test::SamplePara(401, 3);
  const PhotoMapGeometry geo{1920, 960, 360, 180, 180, false};
  const Maps both = Build(p, geo);
  const CameraModel model = CameraModelForCode(p.lModel);
  const RatioRule rule = PhotoRatioRule(p.lModel, RatioBase(p.lModel, p.fRatio), false);
  std::vector<float> ratio(360);
  BuildRadiusRatio(rule.variant, rule.base, 360, ratio.data());
  ControlLineSet lines;
  PrepareControlLines(p.lPointNum, p.mstPf1, p.mstPf2, &lines);
  const RemapSetup setup{
      model.profile, model.lens_class, model.parallax_offset, 3000.0, p.fLensCoef, ratio.data(), &lines, 360,
      180,           both.width,       both.height,           960,    960,         false};
  std::vector<RemapEntry> one(both.lens1.size());
  BuildRemapHorizontal(setup, {480, 480, 470, false}, 180, one.data());
  EXPECT_EQ(0, std::memcmp(one.data(), both.lens1.data(), one.size() * sizeof(RemapEntry)));
  BuildRemapHorizontal(setup, {482, 478, 468, true}, 180, one.data());
  EXPECT_EQ(0, std::memcmp(one.data(), both.lens2.data(), one.size() * sizeof(RemapEntry)));
}

TEST(RemapMaps, RefusedGeometryWritesNothing) {
  DoubleFisheyeCameraPara p = lens_test::SamplePara();
  p.fLensCoef = std::numeric_limits<float>::quiet_NaN();
  std::vector<RemapEntry> m1(16, RemapEntry{7, 1, 2, 7, 3, 4});
  std::vector<RemapEntry> m2 = m1;
  BuildRemapMaps(p, {1920, 960, 8, 4, 0, false}, m1.data(), m2.data());
  for (const RemapEntry& e : m1) EXPECT_EQ(e.x, 7);
  for (const RemapEntry& e : m2) EXPECT_EQ(e.wy1, 4);
}

}  // namespace
}  // namespace spherolux
