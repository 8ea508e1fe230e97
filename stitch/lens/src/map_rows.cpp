#include "map_rows.h"

#include <cmath>

#include "base/system.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace spherolux::lens_internal {
namespace {

// atan(z) = z + z^3 P(z^2) / Q(z^2) for |z| <= 0.66: the rational approximation of the Cephes
// library (S. L. Moshier), relative error about 1e-16. Larger ratios are reduced with
// atan(a) = pi/4 + atan((a - 1) / (a + 1)).
constexpr double kP0 = -8.750608600031904122785e-1;
constexpr double kP1 = -1.615753718733365076637e1;
constexpr double kP2 = -7.500855792314704667340e1;
constexpr double kP3 = -1.228866684490136173410e2;
constexpr double kP4 = -6.485021904942025371773e1;
constexpr double kQ0 = 2.485846490142306297962e1;
constexpr double kQ1 = 1.650270098316988542046e2;
constexpr double kQ2 = 4.328810604912902668951e2;
constexpr double kQ3 = 4.853903996359136964868e2;
constexpr double kQ4 = 1.945506571482613964425e2;
constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfPi = 1.57079632679489661923;
constexpr double kQuarterPi = 0.78539816339744830962;
// What the doubles nearest pi, pi/2 and pi/4 lack of the true values, added back after each
// subtraction so that results next to the axes round as the true angle does.
constexpr double kPiTail = 1.224646799147353177226e-16;
constexpr double kHalfPiTail = 6.123233995736765886130e-17;
constexpr double kQuarterPiTail = 3.061616997868382943065e-17;
constexpr double kReduce = 0.66;

// sin(z) = z + z^3 S(z^2) and cos(z) = 1 - z^2/2 + z^4 C(z^2) for |z| <= pi/4 (Cephes), after
// the argument is reduced by multiples of pi/4 split into three parts (DP1 + DP2 + DP3), so
// that y * DP1 and y * DP2 are exact for the multiples y that occur.
constexpr double kS0 = 1.58962301576546568060e-10;
constexpr double kS1 = -2.50507477628578072866e-8;
constexpr double kS2 = 2.75573136213857245213e-6;
constexpr double kS3 = -1.98412698295895385996e-4;
constexpr double kS4 = 8.33333333332211858878e-3;
constexpr double kS5 = -1.66666666666666307295e-1;
constexpr double kC0 = -1.13585365213876817300e-11;
constexpr double kC1 = 2.08757008419747316778e-9;
constexpr double kC2 = -2.75573141792967388112e-7;
constexpr double kC3 = 2.48015872888517045348e-5;
constexpr double kC4 = -1.38888888888730564116e-3;
constexpr double kC5 = 4.16666666666665929218e-2;
constexpr double kDp1 = 7.85398125648498535156e-1;
constexpr double kDp2 = 3.77489470793079817668e-8;
constexpr double kDp3 = 2.69515142907905952645e-15;
constexpr double kFourOverPi = 1.27323954473516268615;

inline double Select(bool c, double a, double b) { return c ? a : b; }

}  // namespace

double Atan2(double y, double x) {
  const double ax = std::fabs(x);
  const double ay = std::fabs(y);
  const double hi = ax < ay ? ay : ax;  // max and min as _mm256_max_pd / _mm256_min_pd pick
  const double lo = ax < ay ? ax : ay;
  const bool reduce = lo > kReduce * hi;
  const double num = Select(reduce, lo - hi, lo);
  const double den = Select(hi == 0.0, 1.0, Select(reduce, lo + hi, hi));
  const double z = num / den;
  const double z2 = z * z;
  const double p = (((kP0 * z2 + kP1) * z2 + kP2) * z2 + kP3) * z2 + kP4;
  const double q = ((((z2 + kQ0) * z2 + kQ1) * z2 + kQ2) * z2 + kQ3) * z2 + kQ4;
  double r = z * (z2 * p / q) + z;
  r = Select(reduce, kQuarterPi + (r + kQuarterPiTail), r);
  r = Select(ay > ax, (kHalfPi - r) + kHalfPiTail, r);
  r = Select(x < 0.0, (kPi - r) + kPiTail, r);
  return Select(y < 0.0, -r, r);
}

namespace {

void RowDirectionsScalar(double sin_a, double t, const double* sin_l, const double* cos_l, int n,
                         const RowDirections& out) {
  const double tt = t * t;
  for (int c = 0; c < n; ++c) {
    const double u = sin_a * sin_l[c];
    const double s = sin_a * cos_l[c];
    const double g = std::sqrt(u * u + tt);
    out.theta[c] = Atan2(g, s);
    const bool axis = !(g > 0.0);
    const double inv_g = 1.0 / Select(axis, 1.0, g);
    const double phi = Atan2(t, u);
    out.phi[c] = Select(axis, 0.0, Select(phi >= kPi, phi - 2.0 * kPi, phi));
    out.cos_phi[c] = Select(axis, 1.0, u * inv_g);
    out.sin_phi[c] = Select(axis, 0.0, t * inv_g);
  }
}

void SinCosScalar(const double* angle, int n, double* cos_out, double* sin_out) {
  for (int i = 0; i < n; ++i) {
    const double a = angle[i];
    const double ax = std::fabs(a);
    double y = std::floor(ax * kFourOverPi);
    y = y + (y - 2.0 * std::floor(y * 0.5));           // odd multiples move up to the next even one
    const double j = y - 8.0 * std::floor(y * 0.125);  // 0, 2, 4 or 6: the quarter turn
    const double z = ((ax - y * kDp1) - y * kDp2) - y * kDp3;
    const double zz = z * z;
    const double sp = z + z * (zz * (((((kS0 * zz + kS1) * zz + kS2) * zz + kS3) * zz + kS4) * zz + kS5));
    const double cp = (1.0 - zz * 0.5) + zz * zz * (((((kC0 * zz + kC1) * zz + kC2) * zz + kC3) * zz + kC4) * zz + kC5);
    // sin over the quarter turns: sp, cp, -sp, -cp; cos: cp, -sp, -cp, sp.
    const bool odd = j == 2.0 || j == 6.0;
    const double sin_mag = Select(odd, cp, sp);
    const double cos_mag = Select(odd, sp, cp);
    const double s = Select(j >= 4.0, -sin_mag, sin_mag);
    cos_out[i] = Select(j == 2.0 || j == 4.0, -cos_mag, cos_mag);
    sin_out[i] = Select(a < 0.0, -s, s);
  }
}

constexpr MapRowKernels kScalar{&RowDirectionsScalar, &SinCosScalar};

}  // namespace

#if defined(__x86_64__) || defined(__i386__)

#define SPHEROLUX_AVX2 __attribute__((target("avx2")))

namespace {

SPHEROLUX_AVX2 inline __m256d Set(double v) { return _mm256_set1_pd(v); }
SPHEROLUX_AVX2 inline __m256d Add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
SPHEROLUX_AVX2 inline __m256d Sub(__m256d a, __m256d b) { return _mm256_sub_pd(a, b); }
SPHEROLUX_AVX2 inline __m256d Mul(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
SPHEROLUX_AVX2 inline __m256d Div(__m256d a, __m256d b) { return _mm256_div_pd(a, b); }
// c ? a : b, lane by lane (c all ones or all zeros).
SPHEROLUX_AVX2 inline __m256d Pick(__m256d c, __m256d a, __m256d b) { return _mm256_blendv_pd(b, a, c); }
SPHEROLUX_AVX2 inline __m256d Less(__m256d a, __m256d b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
SPHEROLUX_AVX2 inline __m256d Greater(__m256d a, __m256d b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }

SPHEROLUX_AVX2 inline __m256d Atan2Avx2(__m256d y, __m256d x) {
  const __m256d sign = Set(-0.0);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d ax = _mm256_andnot_pd(sign, x);
  const __m256d ay = _mm256_andnot_pd(sign, y);
  const __m256d swap = Less(ax, ay);
  const __m256d hi = Pick(swap, ay, ax);
  const __m256d lo = Pick(swap, ax, ay);
  const __m256d reduce = Greater(lo, Mul(Set(kReduce), hi));
  const __m256d num = Pick(reduce, Sub(lo, hi), lo);
  const __m256d den = Pick(_mm256_cmp_pd(hi, zero, _CMP_EQ_OQ), Set(1.0), Pick(reduce, Add(lo, hi), hi));
  const __m256d z = Div(num, den);
  const __m256d z2 = Mul(z, z);
  __m256d p = Add(Mul(Set(kP0), z2), Set(kP1));
  p = Add(Mul(p, z2), Set(kP2));
  p = Add(Mul(p, z2), Set(kP3));
  p = Add(Mul(p, z2), Set(kP4));
  __m256d q = Add(z2, Set(kQ0));
  q = Add(Mul(q, z2), Set(kQ1));
  q = Add(Mul(q, z2), Set(kQ2));
  q = Add(Mul(q, z2), Set(kQ3));
  q = Add(Mul(q, z2), Set(kQ4));
  __m256d r = Add(Mul(z, Div(Mul(z2, p), q)), z);
  r = Pick(reduce, Add(Set(kQuarterPi), Add(r, Set(kQuarterPiTail))), r);
  r = Pick(Greater(ay, ax), Add(Sub(Set(kHalfPi), r), Set(kHalfPiTail)), r);
  r = Pick(Less(x, zero), Add(Sub(Set(kPi), r), Set(kPiTail)), r);
  return Pick(Less(y, zero), _mm256_xor_pd(r, sign), r);
}

SPHEROLUX_AVX2 void RowDirectionsAvx2Impl(double sin_a, double t, const double* sin_l, const double* cos_l, int n,
                                          const RowDirections& out) {
  const __m256d va = Set(sin_a);
  const __m256d vt = Set(t);
  const __m256d tt = Set(t * t);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d one = Set(1.0);
  int c = 0;
  for (; c + 4 <= n; c += 4) {
    const __m256d u = Mul(va, _mm256_loadu_pd(sin_l + c));
    const __m256d s = Mul(va, _mm256_loadu_pd(cos_l + c));
    const __m256d g = _mm256_sqrt_pd(Add(Mul(u, u), tt));
    _mm256_storeu_pd(out.theta + c, Atan2Avx2(g, s));
    const __m256d axis = _mm256_cmp_pd(g, zero, _CMP_NGT_UQ);  // !(g > 0)
    const __m256d inv_g = Div(one, Pick(axis, one, g));
    const __m256d phi = Atan2Avx2(vt, u);
    const __m256d folded = Pick(_mm256_cmp_pd(phi, Set(kPi), _CMP_GE_OQ), Sub(phi, Set(2.0 * kPi)), phi);
    _mm256_storeu_pd(out.phi + c, Pick(axis, zero, folded));
    _mm256_storeu_pd(out.cos_phi + c, Pick(axis, one, Mul(u, inv_g)));
    _mm256_storeu_pd(out.sin_phi + c, Pick(axis, zero, Mul(vt, inv_g)));
  }
  if (c < n) {
    const RowDirections rest{out.theta + c, out.phi + c, out.cos_phi + c, out.sin_phi + c};
    RowDirectionsScalar(sin_a, t, sin_l + c, cos_l + c, n - c, rest);
  }
}

SPHEROLUX_AVX2 inline __m256d Floor(__m256d a) { return _mm256_round_pd(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }
SPHEROLUX_AVX2 inline __m256d Equal(__m256d a, double b) { return _mm256_cmp_pd(a, Set(b), _CMP_EQ_OQ); }
SPHEROLUX_AVX2 inline __m256d Negate(__m256d a) { return _mm256_xor_pd(a, Set(-0.0)); }

SPHEROLUX_AVX2 void SinCosAvx2(const double* angle, int n, double* cos_out, double* sin_out) {
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d a = _mm256_loadu_pd(angle + i);
    const __m256d ax = _mm256_andnot_pd(Set(-0.0), a);
    __m256d y = Floor(Mul(ax, Set(kFourOverPi)));
    y = Add(y, Sub(y, Mul(Set(2.0), Floor(Mul(y, Set(0.5))))));
    const __m256d j = Sub(y, Mul(Set(8.0), Floor(Mul(y, Set(0.125)))));
    const __m256d z = Sub(Sub(Sub(ax, Mul(y, Set(kDp1))), Mul(y, Set(kDp2))), Mul(y, Set(kDp3)));
    const __m256d zz = Mul(z, z);
    __m256d ps = Add(Mul(Set(kS0), zz), Set(kS1));
    ps = Add(Mul(ps, zz), Set(kS2));
    ps = Add(Mul(ps, zz), Set(kS3));
    ps = Add(Mul(ps, zz), Set(kS4));
    ps = Add(Mul(ps, zz), Set(kS5));
    __m256d pc = Add(Mul(Set(kC0), zz), Set(kC1));
    pc = Add(Mul(pc, zz), Set(kC2));
    pc = Add(Mul(pc, zz), Set(kC3));
    pc = Add(Mul(pc, zz), Set(kC4));
    pc = Add(Mul(pc, zz), Set(kC5));
    const __m256d sp = Add(z, Mul(z, Mul(zz, ps)));
    const __m256d cp = Add(Sub(Set(1.0), Mul(zz, Set(0.5))), Mul(Mul(zz, zz), pc));
    const __m256d odd = _mm256_or_pd(Equal(j, 2.0), Equal(j, 6.0));
    const __m256d sin_mag = Pick(odd, cp, sp);
    const __m256d cos_mag = Pick(odd, sp, cp);
    const __m256d s = Pick(_mm256_cmp_pd(j, Set(4.0), _CMP_GE_OQ), Negate(sin_mag), sin_mag);
    _mm256_storeu_pd(cos_out + i, Pick(_mm256_or_pd(Equal(j, 2.0), Equal(j, 4.0)), Negate(cos_mag), cos_mag));
    _mm256_storeu_pd(sin_out + i, Pick(Less(a, _mm256_setzero_pd()), Negate(s), s));
  }
  if (i < n) SinCosScalar(angle + i, n - i, cos_out + i, sin_out + i);
}

constexpr MapRowKernels kAvx2{&RowDirectionsAvx2Impl, &SinCosAvx2};

}  // namespace

const MapRowKernels* Avx2MapRowKernels() { return CpuHasAvx2() ? &kAvx2 : nullptr; }

#else

const MapRowKernels* Avx2MapRowKernels() { return nullptr; }

#endif

const MapRowKernels& ScalarMapRowKernels() { return kScalar; }

const MapRowKernels& ActiveMapRowKernels() {
  static const MapRowKernels* const avx2 = Avx2MapRowKernels();
  return avx2 ? *avx2 : kScalar;
}

}  // namespace spherolux::lens_internal
