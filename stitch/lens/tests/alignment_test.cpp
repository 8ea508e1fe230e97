// Expected values come from reference_values.py in this folder (an independent model of the
// same rules, with single precision emulated), or are worked out in the comments.
#include "stitch/alignment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "stitch/lens_model.h"

namespace spherolux {
namespace {

std::vector<float> Ratio(RatioVariant v, float base, int n) {
  std::vector<float> r(static_cast<size_t>(n));
  BuildRadiusRatio(v, base, n, r.data());
  return r;
}

TEST(RadiusRatio, VariantASegmentsSitAtTheirFineIndex) {
  // With 1920 samples every sample is a fine-array value; segment s sits at 40 s + 20.
  // Variant A on base 1: flat to segment 26, +0.0018 per segment up to the cap 1.013
  // (segment 34), down again from segment 39 to 1.0018 at segment 45.
  const std::vector<float> r = Ratio(RatioVariant::kA, 1.0f, 1920);
  const double expected[48] = {1,      1,     1,      1,      1,      1,      1,     1,      1,      1,
                               1,      1,     1,      1,      1,      1,      1,     1,      1,      1,
                               1,      1,     1,      1,      1,      1,      1,     1.0018, 1.0036, 1.0054,
                               1.0072, 1.009, 1.0108, 1.0126, 1.013,  1.013,  1.013, 1.013,  1.013,  1.0126,
                               1.0108, 1.009, 1.0072, 1.0054, 1.0036, 1.0018, 1,     1};
  for (int s = 0; s < 48; ++s) EXPECT_NEAR(r[40 * s + 20], expected[s], 2e-6) << s;
  // Halfway between segments 27 (fine index 1100) and 28 (1140).
  EXPECT_NEAR(r[1120], 1.0018 + 0.0018 / 2, 2e-6);
  // The ramp from segment 47 to segment 0 wraps to the start: flat here since both are 1.
  EXPECT_FLOAT_EQ(r[0], 1.0f);
  EXPECT_FLOAT_EQ(r[1919], 1.0f);
}

TEST(RadiusRatio, VariantBSegments) {
  const std::vector<float> r = Ratio(RatioVariant::kB, 0.98f, 1920);
  const double expected[48] = {0.981,  0.982,  0.982,  0.982,  0.982,  0.982,  0.982,  0.982,  0.982,  0.982,
                               0.982,  0.982,  0.982,  0.982,  0.982,  0.982,  0.982,  0.982,  0.982,  0.982,
                               0.982,  0.981,  0.98,   0.98,   0.98,   0.98,   0.9815, 0.983,  0.9845, 0.986,
                               0.9875, 0.989,  0.9905, 0.992,  0.9935, 0.995,  0.993,  0.9915, 0.99,   0.9885,
                               0.987,  0.9855, 0.984,  0.9825, 0.981,  0.9795, 0.978,  0.978};
  for (int s = 0; s < 48; ++s) EXPECT_NEAR(r[40 * s + 20], expected[s], 2e-6) << s;
  // The wrap: fine index 0 lies halfway along the ramp from segment 47 (0.978) to 0 (0.981).
  EXPECT_NEAR(r[0], 0.9795, 2e-6);
}

TEST(RadiusRatio, ResampledCounts) {
  // reference_values.py: "A(1.0) N=180", "B(0.98) N=180", "A(1.0) N=720".
  const std::vector<float> a180 = Ratio(RatioVariant::kA, 1.0f, 180);
  const int ia[] = {0, 45, 100, 110, 130, 179};
  const float ea[] = {1.0f, 1.0f, 1.00030005f, 1.00509977f, 1.01300001f, 1.0f};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(a180[ia[i]], ea[i], 1e-6) << ia[i];
  const std::vector<float> b180 = Ratio(RatioVariant::kB, 0.98f, 180);
  const int ib[] = {0, 5, 80, 120, 170};
  const float eb[] = {0.979500055f, 0.981833339f, 0.98116672f, 0.989750087f, 0.979750156f};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(b180[ib[i]], eb[i], 1e-6) << ib[i];
  const std::vector<float> a720 = Ratio(RatioVariant::kA, 1.0f, 720);
  const int ic[] = {0, 100, 250, 400, 440, 719};
  const float ec[] = {1.0f, 1.0f, 1.0f, 1.00030005f, 1.00509989f, 1.0f};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(a720[ic[i]], ec[i], 1e-6) << ic[i];
  // Large counts (outputs up to 16384 wide) stay inside the fine array.
  const std::vector<float> big = Ratio(RatioVariant::kA, 1.0f, 16384);
  for (float v : big) ASSERT_TRUE(v >= 1.0f - 1e-6f && v <= 1.013f + 1e-6f);
  BuildRadiusRatio(RatioVariant::kA, 1.0f, 0, nullptr);  // nothing to fill
}

TEST(RatioRules, VariantAndBaseByPath) {
  const float r = 1.0f;
  auto same = [](RatioRule a, RatioVariant v, float base) { return a.variant == v && std::fabs(a.base - base) < 1e-7; };
  EXPECT_TRUE(same(VideoRatioRule(300, r, false), RatioVariant::kA, 0.997f));
  EXPECT_TRUE(same(VideoRatioRule(401, r, true), RatioVariant::kB, 1.0f));
  EXPECT_TRUE(same(VideoRatioRule(703, r, true), RatioVariant::kA, 1.0f));  // B only for the photo maps
  EXPECT_TRUE(same(PhotoRatioRule(703, r, true), RatioVariant::kB, 1.0f));
  EXPECT_TRUE(same(PhotoRatioRule(1301, r, true), RatioVariant::kB, 1.0f));
  EXPECT_TRUE(same(VideoRatioRule(1000, r, false), RatioVariant::kA, 0.996f));
  EXPECT_TRUE(same(PhotoRatioRule(1000, r, true), RatioVariant::kA, 0.996f));
  EXPECT_TRUE(same(VideoRatioRule(2201, r, false), RatioVariant::kA, 1.0f));
  EXPECT_TRUE(same(PhotoRatioRule(1300, r, false), RatioVariant::kA, 0.997f));
  EXPECT_TRUE(same(PhotoRatioRule(1300, r, true), RatioVariant::kA, 1.0f));
}

TEST(AzimuthCorrections, AgainstReferenceValues) {
  const struct {
    double phi, parallax_3000, parallax_1000_neg12, offset_3000, offset_1000;
  } cases[] = {
      {-3.0, -2.99386248143377, -3.00539778800106, -2.99587747867507, -2.98764751299119},
      {-1.0, -0.960299217717516, -1.02931698742861, -1.00224339021535, -1.00668337988658},
      {0.5, 0.476938798508903, 0.516385555960124, 0.496336103330872, 0.488964529707261},
      {2.0, 1.95927342665696, 2.0335405802594, 2.00174053784541, 2.00526159185277},
      {3.1, 3.09819242398229, 3.1015913865603, 3.1041637604509, 3.11249503380709},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(CorrectAzimuthParallax(c.phi, 3000, 12.5), c.parallax_3000, 1e-12) << c.phi;
    EXPECT_NEAR(CorrectAzimuthParallax(c.phi, 1000, -12.0), c.parallax_1000_neg12, 1e-12) << c.phi;
    EXPECT_NEAR(CorrectAzimuthOffset(c.phi, 3000), c.offset_3000, 1e-12) << c.phi;
    EXPECT_NEAR(CorrectAzimuthOffset(c.phi, 1000), c.offset_1000, 1e-12) << c.phi;
    // Seen from the distance of the correction itself nothing moves.
    EXPECT_EQ(CorrectAzimuthParallax(c.phi, 250, 12.5), c.phi);
  }
}

TEST(AzimuthCorrections, TabulatedFormsStepFromMinusPi) {
  std::vector<double> p(180);
  std::vector<double> o(180);
  TabulateAzimuthParallax(180, 3000, 14.0, p.data());
  TabulateAzimuthOffset(180, 1000, o.data());
  for (int i = 0; i < 180; ++i) {
    const double phi = -kLensPi + i * (kLensTwoPi / 180);
    EXPECT_NEAR(p[i], CorrectAzimuthParallax(phi, 3000, 14.0), 1e-12) << i;
    EXPECT_NEAR(o[i], CorrectAzimuthOffset(phi, 1000), 1e-12) << i;
  }
}

ControlLineSet Prepare(const std::vector<ControlLine>& src, const std::vector<ControlLine>& dst) {
  ControlLineSet set;
  PrepareControlLines(static_cast<int>(src.size()), src.data(), dst.data(), &set);
  return set;
}

TEST(ControlLines, CoefficientsWithWrapAtBothEnds) {
  // The first line lies near the right edge (x wraps by -2 pi), the last near the left edge
  // (x wraps by +2 pi). reference_values.py "three lines".
  const std::vector<ControlLine> src = {{1900, 300, 1910, 700}, {960, 300, 950, 700}, {20, 300, 25, 700}};
  const std::vector<ControlLine> dst = {{1905, 310, 1912, 690}, {958, 305, 952, 695}, {18, 300, 28, 700}};
  const ControlLineSet s = Prepare(src, dst);
  ASSERT_EQ(s.count, 3);
  const float ks[] = {-0.0249999501f, 0.0249999501f, -0.012499975f};
  const float bs[] = {-3.15304613f, -0.0539959297f, 3.2340405f};
  const float kd[] = {-0.0184212849f, 0.015384621f, -0.0250001326f};
  const float bd[] = {-3.1514957f, -0.039521642f, 3.25449371f};
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(s.pfKSrc[i], ks[i], 1e-6) << i;
    EXPECT_NEAR(s.pfBSrc[i], bs[i], 2e-6) << i;
    EXPECT_NEAR(s.pfKDst[i], kd[i], 1e-6) << i;
    EXPECT_NEAR(s.pfBDst[i], bd[i], 2e-6) << i;
  }
  // The stored points keep their unwrapped azimuths: x * pi / 960 - pi.
  EXPECT_NEAR(s.src[0].mfP1x, 1900 * kLensPi / 960 - kLensPi, 1e-6);
  EXPECT_NEAR(s.src[2].mfP1x, 20 * kLensPi / 960 - kLensPi, 1e-6);
  EXPECT_NEAR(s.src[0].mfP1y, kLensPi - 300 * kLensPi / 960, 1e-6);

  const struct {
    float theta, phi, phi_out, theta_out;
  } warps[] = {
      {1.6f, 0.2f, 0.2300179f, 4.03280926f},     // between lines 1 and 2
      {1.6f, -2.0f, -2.00638247f, 4.01154757f},  // between lines 0 and 1
      {1.7f, 3.1f, 3.03745747f, 4.31424141f},
      {1.7f, -3.1f, -3.1320765f, 4.25098133f},
  };
  for (const auto& w : warps) {
    float phi = 0;
    float theta = 0;
    WarpByControlLines(w.theta, w.phi, s, &phi, &theta);
    EXPECT_NEAR(phi, w.phi_out, 2e-6) << w.phi;
    EXPECT_NEAR(theta, w.theta_out, 4e-6) << w.phi;
  }
}

TEST(ControlLines, NoBracketInterpolatesAcrossTheWrap) {
  // reference_values.py "two lines": beyond both lines the last and the first line bracket
  // the azimuth across +-pi.
  const std::vector<ControlLine> src = {{600, 300, 610, 700}, {1300, 300, 1290, 700}};
  const std::vector<ControlLine> dst = {{604, 320, 612, 680}, {1296, 310, 1291, 690}};
  const ControlLineSet s = Prepare(src, dst);
  const struct {
    float phi, phi_out, theta_out;
  } warps[] = {
      {3.0f, 2.9936583f, 3.97089767f}, {-3.0f, -3.01109219f, 3.96656275f}, {0.0f, -0.00719258888f, 3.97012138f}};
  for (const auto& w : warps) {
    float phi = 0;
    float theta = 0;
    WarpByControlLines(1.6f, w.phi, s, &phi, &theta);
    EXPECT_NEAR(phi, w.phi_out, 2e-6) << w.phi;
    EXPECT_NEAR(theta, w.theta_out, 4e-6) << w.phi;
  }
}

TEST(ControlLines, CrossingInterceptsAreSeparated) {
  // Vertical lines: the first starts right of the second, so their intercepts cross and end
  // up 0.16 apart around their mean; both lines still pass through their first point.
  const std::vector<ControlLine> src = {{800, 200, 800, 700}, {700, 200, 700, 700}, {300, 200, 300, 700}};
  const ControlLineSet s = Prepare(src, src);
  const double x0 = 800 * kLensPi / 960 - kLensPi;
  const double x1 = 700 * kLensPi / 960 - kLensPi;
  const double mean = (x0 + x1) / 2;  // -0.687223375 in reference_values.py
  EXPECT_NEAR(s.pfBSrc[0], mean - 0.08, 2e-6);
  EXPECT_NEAR(s.pfBSrc[1], mean + 0.08, 2e-6);
  EXPECT_NEAR(s.pfBSrc[1] - s.pfBSrc[0], 0.16, 1e-6);
  const double y = kLensPi - 200 * kLensPi / 960;
  EXPECT_NEAR(s.pfKSrc[0] * y + s.pfBSrc[0], x0, 2e-6);
  EXPECT_NEAR(s.pfKSrc[1] * y + s.pfBSrc[1], x1, 2e-6);
  EXPECT_NEAR(s.pfKSrc[0], 0.0979554802, 1e-6);
  // The third line was in order and is untouched: vertical, K = 0; as the last line left
  // of -sigma (1920 / 3 pixels from the centre) it is wrapped by +2 pi.
  EXPECT_EQ(s.pfKSrc[2], 0.0f);
  EXPECT_NEAR(s.pfBSrc[2], 300 * kLensPi / 960 - kLensPi + kLensTwoPi, 2e-6);
  // The destination lines got the same treatment.
  EXPECT_EQ(s.pfBDst[0], s.pfBSrc[0]);
  EXPECT_EQ(s.pfKDst[1], s.pfKSrc[1]);
}

TEST(ControlLines, DegenerateLinesStayFinite) {
  // A horizontal line (P1.y == P2.y) has no x = K y + B form: it becomes the vertical line
  // through the mean of its x values. reference_values.py "horizontal".
  const std::vector<ControlLine> src = {{500, 300, 510, 700}, {900, 480, 1000, 480}, {1300, 300, 1290, 700}};
  const ControlLineSet s = Prepare(src, src);
  EXPECT_EQ(s.pfKSrc[1], 0.0f);
  EXPECT_NEAR(s.pfBSrc[1], -0.0327248871, 1e-6);
  float phi = 0;
  float theta = 0;
  WarpByControlLines(1.5f, -0.2f, s, &phi, &theta);
  EXPECT_NEAR(phi, -0.206627518f, 2e-6);
  EXPECT_NEAR(theta, 1.76510048f, 4e-6);

  // Crossing lines whose first point lies on the pole (y = 960 gives polar angle 0) keep
  // their slopes when separated instead of dividing by 0.
  const std::vector<ControlLine> pole = {{800, 960, 820, 200}, {700, 960, 690, 200}};
  const ControlLineSet p = Prepare(pole, pole);
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(std::isfinite(p.pfKSrc[i]) && std::isfinite(p.pfBSrc[i])) << i;
  }
  EXPECT_NEAR(p.pfBSrc[1] - p.pfBSrc[0], 0.16, 1e-6);

  // Identical lines, a zero P2.y, NaN and infinite points: every warp result is finite, and
  // lines that give no finite answer leave the direction unchanged.
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<std::vector<ControlLine>> bad = {
      {{500, 300, 500, 700}, {500, 300, 500, 700}},           {{500, 300, 510, 960}, {900, 300, 910, 960}},
      {{nan, 300, 510, 700}, {900, 300, 910, 700}},           {{inf, 300, 510, 700}, {900, -inf, 910, 700}},
      {{1e30f, 1e30f, -1e30f, -1e30f}, {900, 300, 910, 700}},
  };
  for (size_t b = 0; b < bad.size(); ++b) {
    const ControlLineSet set = Prepare(bad[b], bad[b]);
    for (float ph : {-3.1f, -1.0f, 0.0f, 0.3f, 3.1f}) {
      for (float th : {0.0f, 0.5f, 1.6f, 2.5f}) {
        float phi_out = 0;
        float theta_out = 0;
        WarpByControlLines(th, ph, set, &phi_out, &theta_out);
        ASSERT_TRUE(std::isfinite(phi_out) && std::isfinite(theta_out)) << b << " " << ph << " " << th;
      }
    }
  }
  float phi_out = 0;
  float theta_out = 0;
  const ControlLineSet nan_set = Prepare(bad[2], bad[2]);
  WarpByControlLines(1.0f, 0.0f, nan_set, &phi_out, &theta_out);
  EXPECT_EQ(phi_out, 0.0f);
  EXPECT_EQ(theta_out, 1.0f);
}

TEST(ControlLines, CountIsClampedAndEmptyIsIdentity) {
  std::vector<ControlLine> many(kMaxControlLines);
  for (int i = 0; i < kMaxControlLines; ++i) many[i] = {38.0f * i + 10, 300, 38.0f * i + 12, 700};
  ControlLineSet s;
  PrepareControlLines(1000, many.data(), many.data(), &s);
  EXPECT_EQ(s.count, kMaxControlLines);
  PrepareControlLines(-3, many.data(), many.data(), &s);
  EXPECT_EQ(s.count, 0);
  float phi = 0;
  float theta = 0;
  WarpByControlLines(1.25f, -0.5f, s, &phi, &theta);
  EXPECT_EQ(phi, -0.5f);
  EXPECT_EQ(theta, 1.25f);
}

}  // namespace
}  // namespace spherolux
