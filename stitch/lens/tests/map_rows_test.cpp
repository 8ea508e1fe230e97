#include "map_rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace spherolux::lens_internal {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The row of a 5376-wide panorama's map at tilt alpha, with the longitudes the builder uses.
struct Row {
  double sin_a, t;
  std::vector<double> sin_l, cos_l;
};

Row MakeRow(double alpha, int n, double first, double step) {
  Row r{std::sin(alpha), std::cos(alpha), {}, {}};
  for (int c = 0; c < n; ++c) {
    r.sin_l.push_back(std::sin(first + c * step));
    r.cos_l.push_back(std::cos(first + c * step));
  }
  return r;
}

struct Directions {
  explicit Directions(int n) : theta(n), phi(n), cos_phi(n), sin_phi(n) {}
  RowDirections View() { return {theta.data(), phi.data(), cos_phi.data(), sin_phi.data()}; }
  std::vector<double> theta, phi, cos_phi, sin_phi;
};

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(MapRows, Atan2AgreesWithTheLibraryInEveryQuadrant) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> any(-1.0, 1.0);
  double worst = 0.0;
  for (int i = 0; i < 200000; ++i) {
    // Magnitudes from 1e-6 to 1e3, so that every reduction branch and ratio is met.
    const double y = any(rng) * std::pow(10.0, 9.0 * (any(rng) + 1.0) / 2.0 - 6.0);
    const double x = any(rng) * std::pow(10.0, 9.0 * (any(rng) + 1.0) / 2.0 - 6.0);
    worst = std::max(worst, std::fabs(Atan2(y, x) - std::atan2(y, x)));
  }
  EXPECT_LT(worst, 1e-15);
  // Axes, the branch boundary (ratio 0.66) and the diagonal.
  for (double y : {0.0, 1.0, -1.0, 0.66, -0.66, 0.6600000000000001}) {
    for (double x : {1.0, -1.0, 0.66, -0.66, 1e-300}) {
      EXPECT_NEAR(Atan2(y, x), std::atan2(y, x), 1e-15) << y << " " << x;
    }
  }
  EXPECT_EQ(Atan2(0.0, 0.0), 0.0);
  EXPECT_NEAR(Atan2(0.0, -1.0), kPi, 1e-15);
  EXPECT_NEAR(Atan2(-2.0, 0.0), -kPi / 2, 1e-15);
}

TEST(MapRows, DirectionsAreTheIncidenceAndAzimuthOfEachPixel) {
  const int n = 2987;
  const double step = kPi / 2688;
  for (double alpha : {kPi, kPi / 2, 1.0, 0.25, 1e-9, kPi - 1e-9, -0.5}) {
    SCOPED_TRACE(alpha);
    const Row row = MakeRow(alpha, n, -(n * step / 2), step);
    Directions d(n);
    ScalarMapRowKernels().directions(row.sin_a, row.t, row.sin_l.data(), row.cos_l.data(), n, d.View());
    for (int c = 0; c < n; ++c) {
      const double u = row.sin_a * row.sin_l[c];
      const double s = std::clamp(row.sin_a * row.cos_l[c], -1.0, 1.0);
      const double g = std::hypot(u, row.t);
      ASSERT_NEAR(d.theta[c], std::acos(s), 2e-8) << c;  // acos itself is only this good near 1
      if (g > 1e-12) {
        // The same direction: at the +-pi wrap either end may be taken.
        ASSERT_NEAR(std::remainder(d.phi[c] - std::atan2(row.t, u), 2 * kPi), 0.0, 1e-14) << c;
        ASSERT_NEAR(d.cos_phi[c], u / g, 1e-15) << c;
        ASSERT_NEAR(d.sin_phi[c], row.t / g, 1e-15) << c;
        ASSERT_TRUE(d.phi[c] >= -kPi && d.phi[c] < kPi) << c;
      }
    }
  }
  // On the lens axis (sin(alpha) = 1, longitude 0) the azimuth is 0 with cos 1 and sin 0.
  Directions d(1);
  const double zero = 0.0;
  const double one = 1.0;
  ScalarMapRowKernels().directions(1.0, 0.0, &zero, &one, 1, d.View());
  EXPECT_EQ(d.theta[0], 0.0);
  EXPECT_EQ(d.phi[0], 0.0);
  EXPECT_EQ(d.cos_phi[0], 1.0);
  EXPECT_EQ(d.sin_phi[0], 0.0);
  // Looking straight back (longitude pi): incidence pi.
  const double back = -1.0;
  ScalarMapRowKernels().directions(1.0, 0.0, &zero, &back, 1, d.View());
  EXPECT_NEAR(d.theta[0], kPi, 1e-15);
}

TEST(MapRows, SinCosAgreeWithTheLibrary) {
  std::vector<double> angles;
  for (int i = -40000; i <= 40000; ++i) angles.push_back(i * 1.7e-4);  // about +-2.2 pi
  for (int k = -16; k <= 16; ++k) {
    // Multiples of pi/4 and their neighbours: where the quarter turns change.
    const double m = k * kPi / 4;
    angles.insert(angles.end(), {m, std::nextafter(m, 10.0), std::nextafter(m, -10.0)});
  }
  angles.insert(angles.end(), {0.0, -0.0, 1e-300, 123456.789, -98765.4321});
  std::vector<double> c(angles.size()), s(angles.size());
  ScalarMapRowKernels().sin_cos(angles.data(), static_cast<int>(angles.size()), c.data(), s.data());
  for (size_t i = 0; i < angles.size(); ++i) {
    const double tolerance = std::fabs(angles[i]) < 100 ? 1e-15 : 1e-11;
    ASSERT_NEAR(c[i], std::cos(angles[i]), tolerance) << angles[i];
    ASSERT_NEAR(s[i], std::sin(angles[i]), tolerance) << angles[i];
  }
  // In place: the angles may be overwritten by their cosines.
  std::vector<double> in_place = angles;
  ScalarMapRowKernels().sin_cos(in_place.data(), static_cast<int>(in_place.size()), in_place.data(), s.data());
  EXPECT_TRUE(SameBits(in_place, c));
  // Not a number stays not a number.
  const double nan = std::nan("");
  double cn = 0.0, sn = 0.0;
  ScalarMapRowKernels().sin_cos(&nan, 1, &cn, &sn);
  EXPECT_TRUE(std::isnan(cn) && std::isnan(sn));
}

TEST(MapRows, PlaceClampsAndWeighsLikeTheEntryLayout) {
  const Placer p{480.0, 470.0, 958.0, 958.0, 960.0, 0.0};
  const double nan = std::nan("");
  const double cos_phi[] = {1.0, 0.0, -1.0, 0.6, 1.0, nan, 0.0, 1.0, 0.8};
  const double sin_phi[] = {0.0, 1.0, 0.0, 0.8, 0.0, 0.0, -1.0, 0.0, -0.6};
  const double radius[] = {100.25, 12.5, 600.0, 10.0, 1e30, 5.0, 470.0, 0.25, 3.3};
  RemapEntry e[9];
  PlaceRow(p, cos_phi, sin_phi, radius, 0.5, 9, e);
  // 480 + 100.25 = 580.25: column 580 (+960), weight 0.25 * 255 + 0.5 = 64.25 -> 64.
  EXPECT_EQ(e[0].x, 960 + 580);
  EXPECT_EQ(e[0].wx1, 64);
  EXPECT_EQ(e[0].wx0, 255 - 64);
  EXPECT_EQ(e[0].y, 470);
  EXPECT_EQ(e[0].wy1, 0);
  EXPECT_EQ(e[0].wy0, 255);
  EXPECT_EQ(e[1].y, 482);  // 470 + 12.5: half a pixel, 128 after rounding
  EXPECT_EQ(e[1].wy1, 128);
  EXPECT_EQ(e[2].x, 960);  // 480 - 600 < 0: clamped to the lens image's first column
  EXPECT_EQ(e[2].wx1, 0);
  EXPECT_EQ(e[3].x, 960 + 486);
  EXPECT_EQ(e[3].y, 478);
  EXPECT_EQ(e[4].x, 960 + 958);  // far outside: the last column whose neighbour exists
  EXPECT_EQ(e[5].x, 960);        // NaN goes to 0
  EXPECT_EQ(e[6].y, 0);          // 470 - 470 = 0 exactly
  EXPECT_EQ(e[7].wx1, 64);       // 0.25 * 255 + 0.5 = 64.25
  // Without rounding the weights truncate: 0.25 * 255 = 63.75 -> 63.
  PlaceRow(p, cos_phi + 7, sin_phi + 7, radius + 7, 0.0, 1, e);
  EXPECT_EQ(e[0].wx1, 63);
}

// The AVX2 forms must give the scalar forms' bits, including in the tail of a row whose
// length is not a multiple of four.
TEST(MapRows, Avx2FormsGiveTheScalarBits) {
  const MapRowKernels* avx2 = Avx2MapRowKernels();
  if (avx2 == nullptr) GTEST_SKIP() << "no AVX2 on this processor";
  const MapRowKernels& scalar = ScalarMapRowKernels();
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int n : {1, 3, 4, 7, 2987}) {
    for (double alpha : {kPi, 2.0, kPi / 2, 0.3, 1e-12}) {
      const Row row = MakeRow(alpha, n, -(n * 0.001 / 2) - 0.2, 0.001 + 0.5 / n);
      Directions a(n), b(n);
      scalar.directions(row.sin_a, row.t, row.sin_l.data(), row.cos_l.data(), n, a.View());
      avx2->directions(row.sin_a, row.t, row.sin_l.data(), row.cos_l.data(), n, b.View());
      ASSERT_TRUE(SameBits(a.theta, b.theta) && SameBits(a.phi, b.phi) && SameBits(a.cos_phi, b.cos_phi) &&
                  SameBits(a.sin_phi, b.sin_phi))
          << n << " " << alpha;
    }
    std::vector<double> angle(n), c1(n), s1(n), c2(n), s2(n);
    for (int i = 0; i < n; ++i) angle[i] = unit(rng) * 8.0;
    if (n > 3) {
      angle[0] = std::nan("");
      angle[1] = kPi / 4;
      angle[2] = -3 * kPi / 4;
    }
    scalar.sin_cos(angle.data(), n, c1.data(), s1.data());
    avx2->sin_cos(angle.data(), n, c2.data(), s2.data());
    ASSERT_TRUE(SameBits(c1, c2) && SameBits(s1, s2)) << n;
  }
}

}  // namespace
}  // namespace spherolux::lens_internal
