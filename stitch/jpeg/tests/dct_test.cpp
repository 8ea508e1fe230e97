// The integer transforms against the defining formulas of T.81 A.3.3 in double precision.
#include "dct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "base/system.h"

namespace spherolux::jpeg {
namespace {

const double kPi = 3.14159265358979323846;

double C(int u) { return u == 0 ? 1.0 / std::sqrt(2.0) : 1.0; }

// A.3.3: F(u,v) = 1/4 C(u) C(v) sum f(x,y) cos((2x+1)u pi/16) cos((2y+1)v pi/16).
void ReferenceFdct(const uint8_t* in, double out[64]) {
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
          s += (in[y * 8 + x] - 128.0) * std::cos((2 * x + 1) * u * kPi / 16) * std::cos((2 * y + 1) * v * kPi / 16);
      out[v * 8 + u] = 0.25 * C(u) * C(v) * s;
    }
}

void ReferenceIdct(const int16_t* in, uint8_t out[64]) {
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u)
          s +=
              C(u) * C(v) * in[v * 8 + u] * std::cos((2 * x + 1) * u * kPi / 16) * std::cos((2 * y + 1) * v * kPi / 16);
      out[y * 8 + x] = static_cast<uint8_t>(std::clamp(std::lround(0.25 * s + 128), 0L, 255L));
    }
}

TEST(Dct, ForwardMatchesTheDefinitionScaledByEight) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    uint8_t block[64];
    const int kind = trial % 3;  // noise, a smooth ramp, extremes
    for (int i = 0; i < 64; ++i)
      block[i] = static_cast<uint8_t>(kind == 0   ? rng() & 255
                                      : kind == 1 ? 40 + 2 * (i % 8) + 3 * (i / 8)
                                                  : ((rng() & 1) ? 255 : 0));
    int32_t got[64];
    ForwardDct8x8(block, 8, got);
    double want[64];
    ReferenceFdct(block, want);
    for (int i = 0; i < 64; ++i) EXPECT_NEAR(got[i], 8 * want[i], 2.0) << "trial " << trial << " coef " << i;
  }
}

TEST(Dct, InverseMatchesTheDefinitionWithinOne) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 500; ++trial) {
    int16_t coef[64] = {};
    if (trial % 2 == 0) {  // coefficients of a real block, quantised and dequantised
      uint8_t block[64];
      for (int i = 0; i < 64; ++i) block[i] = static_cast<uint8_t>(std::clamp(128 + int(rng() % 200) - 100, 0, 255));
      double f[64];
      ReferenceFdct(block, f);
      const int q = 1 + trial % 16;
      for (int i = 0; i < 64; ++i) coef[i] = static_cast<int16_t>(std::lround(f[i] / q) * q);
    } else {  // sparse random coefficients
      for (int n = 0; n < 1 + trial % 10; ++n) coef[rng() % 64] = static_cast<int16_t>(int(rng() % 601) - 300);
      coef[0] = static_cast<int16_t>(int(rng() % 2001) - 1000);
    }
    uint8_t got[64], want[64];
    InverseDct8x8(coef, got, 8);
    ReferenceIdct(coef, want);
    for (int i = 0; i < 64; ++i) EXPECT_NEAR(got[i], want[i], 1) << "trial " << trial << " sample " << i;
  }
}

TEST(Dct, InverseIsExactForTheHarshestRealBlocks) {
  // Extreme pictures (0/255 patterns) under the coarsest tables: the clamp inside the
  // transform, there for corrupt data, must never change such a block's result.
  std::mt19937 rng(5);
  for (int trial = 0; trial < 300; ++trial) {
    uint8_t block[64];
    for (int i = 0; i < 64; ++i) {
      const int x = i % 8, y = i / 8;
      const bool on = trial % 3 == 0 ? ((x + y) & 1) : trial % 3 == 1 ? (x < 4) != (y < 4) : (rng() & 1);
      block[i] = on ? 255 : 0;
    }
    double f[64];
    ReferenceFdct(block, f);
    const int q = trial % 2 ? 255 : 1 + trial % 64;
    int16_t coef[64];
    for (int i = 0; i < 64; ++i)
      coef[i] = static_cast<int16_t>(std::clamp<long>(std::lround(f[i] / q) * q, -kMaxDequantised, kMaxDequantised));
    uint8_t got[64], want[64];
    InverseDct8x8(coef, got, 8);
    ReferenceIdct(coef, want);
    for (int i = 0; i < 64; ++i) EXPECT_NEAR(got[i], want[i], 1) << trial << " " << i;
  }
}

TEST(Dct, ReducedInverseIsTheMeanOfTheFullBlock) {
  int16_t coef[64] = {};
  coef[0] = 240;
  coef[1] = -90;
  coef[9] = 60;
  coef[16] = 33;
  uint8_t full[64];
  ReferenceIdct(coef, full);
  for (int shift = 1; shift <= 3; ++shift) {
    const int n = 8 >> shift, k = 1 << shift;
    uint8_t got[64] = {};
    InverseDctReduced(coef, shift, got, 8);
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        double s = 0;
        for (int dy = 0; dy < k; ++dy)
          for (int dx = 0; dx < k; ++dx) s += full[(y * k + dy) * 8 + x * k + dx];
        EXPECT_NEAR(got[y * 8 + x], s / (k * k), 1.0) << shift << " " << x << "," << y;
      }
  }
}

TEST(Dct, ReciprocalQuantisationIsExactDivision) {
  for (int q = 1; q <= 255; ++q) {
    uint16_t table[64];
    std::fill(table, table + 64, static_cast<uint16_t>(q));
    QuantDivisors trunc, round;
    MakeDivisors(table, false, &trunc);
    MakeDivisors(table, true, &round);
    const int d = 8 * q;
    for (int c = -(1 << 15) + 1; c < (1 << 15); c += (q < 8 ? 1 : 7)) {
      int32_t dct[64] = {};
      dct[0] = c;
      int16_t zt[64], zr[64];
      QuantizeBlock(dct, trunc, zt);
      QuantizeBlock(dct, round, zr);
      const int mag = c < 0 ? -c : c;
      const int want_t = mag / d, want_r = (mag + d / 2) / d;
      ASSERT_EQ(zt[0], c < 0 ? -want_t : want_t) << "q " << q << " c " << c;
      ASSERT_EQ(zr[0], c < 0 ? -want_r : want_r) << "q " << q << " c " << c;
    }
  }
}

// The AVX2 kernels against the scalar ones, bit for bit, on random and extreme blocks.
TEST(Dct, Avx2KernelsMatchTheScalarOnesExactly) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "this processor has no AVX2; the scalar kernels are the ones in use";
  std::mt19937 rng(99);
  for (int trial = 0; trial < 20000; ++trial) {
    int16_t coef[64] = {};
    const int kind = trial % 4;
    for (int i = 0; i < 64; ++i) {
      if (kind == 0) coef[i] = static_cast<int16_t>(int(rng() % (2 * kMaxDequantised + 1)) - kMaxDequantised);
      if (kind == 1 && rng() % 8 == 0) coef[i] = static_cast<int16_t>(int(rng() % 401) - 200);
      if (kind == 2) coef[i] = static_cast<int16_t>((rng() & 1) ? kMaxDequantised : -kMaxDequantised);
    }
    if (kind == 3) coef[0] = static_cast<int16_t>(int(rng() % 2049) - 1024);  // DC only
    uint8_t a[8 * 12], b[8 * 12];
    std::fill(a, a + sizeof a, 7);
    std::fill(b, b + sizeof b, 7);
    InverseDct8x8Scalar(coef, a, 12);
    InverseDct8x8Avx2(coef, b, 12);
    ASSERT_EQ(std::vector<uint8_t>(a, a + sizeof a), std::vector<uint8_t>(b, b + sizeof b)) << "trial " << trial;

    uint8_t samples[10 * 8];
    for (auto& s : samples) s = static_cast<uint8_t>(kind == 2 ? ((rng() & 1) ? 255 : 0) : rng());
    uint16_t table[64];
    for (auto& t : table) t = static_cast<uint16_t>(trial % 3 == 0 ? 1 : 1 + rng() % 255);
    QuantDivisors d;
    MakeDivisors(table, trial % 2 == 0, &d);
    int16_t qa[64], qb[64];
    ForwardDctQuantizeScalar(samples, 10, d, qa);
    ForwardDctQuantizeAvx2(samples, 10, d, qb);
    ASSERT_EQ(std::vector<int16_t>(qa, qa + 64), std::vector<int16_t>(qb, qb + 64)) << "trial " << trial;
  }
}

}  // namespace
}  // namespace spherolux::jpeg
