#include "dct.h"

#include <algorithm>

#include "tables.h"

namespace spherolux::jpeg {
namespace {

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;

// cos/sin products of the LLM flow graph in 13-bit fixed point.
constexpr int32_t k0_298631336 = 2446;
constexpr int32_t k0_390180644 = 3196;
constexpr int32_t k0_541196100 = 4433;
constexpr int32_t k0_765366865 = 6270;
constexpr int32_t k0_899976223 = 7373;
constexpr int32_t k1_175875602 = 9633;
constexpr int32_t k1_501321110 = 12299;
constexpr int32_t k1_847759065 = 15137;
constexpr int32_t k1_961570560 = 16069;
constexpr int32_t k2_053119869 = 16819;
constexpr int32_t k2_562915447 = 20995;
constexpr int32_t k3_072711026 = 25172;

template <typename T>
constexpr T Descale(T x, int n) {
  return (x + (T{1} << (n - 1))) >> n;
}

inline uint8_t ClampSample(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

// One 1-D inverse transform of the even and odd halves. T is the accumulator type.
template <typename T>
struct Idct1D {
  T o[8];
  Idct1D(T i0, T i1, T i2, T i3, T i4, T i5, T i6, T i7) {
    T z1 = (i2 + i6) * k0_541196100;
    T tmp2 = z1 - i6 * k1_847759065;
    T tmp3 = z1 + i2 * k0_765366865;
    T tmp0 = (i0 + i4) * (T{1} << kConstBits);
    T tmp1 = (i0 - i4) * (T{1} << kConstBits);
    T tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;

    T a0 = i7, a1 = i5, a2 = i3, a3 = i1;
    T za = a0 + a3, zb = a1 + a2, zc = a0 + a2, zd = a1 + a3;
    T z5 = (zc + zd) * k1_175875602;
    a0 *= k0_298631336;
    a1 *= k2_053119869;
    a2 *= k3_072711026;
    a3 *= k1_501321110;
    za *= -k0_899976223;
    zb *= -k2_562915447;
    zc = zc * -k1_961570560 + z5;
    zd = zd * -k0_390180644 + z5;
    a0 += za + zc;
    a1 += zb + zd;
    a2 += zb + zc;
    a3 += za + zd;
    o[0] = tmp10 + a3;
    o[7] = tmp10 - a3;
    o[1] = tmp11 + a2;
    o[6] = tmp11 - a2;
    o[2] = tmp12 + a1;
    o[5] = tmp12 - a1;
    o[3] = tmp13 + a0;
    o[4] = tmp13 - a0;
  }
};

}  // namespace

void InverseDct8x8(const int16_t* in, uint8_t* out, int stride) {
  // Pass 1: columns into a workspace scaled by 2^kPass1Bits. Inputs are at most 2^12, so
  // 32-bit sums cannot overflow here; the rows of pass 2 run in 64 bits for the same reason.
  int32_t ws[64];
  for (int c = 0; c < 8; ++c) {
    const int16_t* p = in + c;
    if ((p[8] | p[16] | p[24] | p[32] | p[40] | p[48] | p[56]) == 0) {
      const int32_t dc = p[0] * (1 << kPass1Bits);
      for (int r = 0; r < 8; ++r) ws[r * 8 + c] = dc;
      continue;
    }
    Idct1D<int32_t> t(p[0], p[8], p[16], p[24], p[32], p[40], p[48], p[56]);
    for (int r = 0; r < 8; ++r) ws[r * 8 + c] = Descale(t.o[r], kConstBits - kPass1Bits);
  }
  // Pass 2: rows, removing the pass-1 scale and the factor 8 of the transform.
  constexpr int kShift = kConstBits + kPass1Bits + 3;
  for (int r = 0; r < 8; ++r, out += stride) {
    const int32_t* w = ws + r * 8;
    if ((w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0) {
      const uint8_t v = ClampSample(Descale<int64_t>(w[0], kPass1Bits + 3) + 128);
      for (int c = 0; c < 8; ++c) out[c] = v;
      continue;
    }
    Idct1D<int64_t> t(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    for (int c = 0; c < 8; ++c) out[c] = ClampSample(Descale(t.o[c], kShift) + 128);
  }
}

void InverseDctReduced(const int16_t* coef, int shift, uint8_t* out, int stride) {
  const int n = 8 >> shift;
  uint8_t full[64];
  InverseDct8x8(coef, full, 8);
  const int area = 1 << (2 * shift);
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      int sum = 0;
      for (int dy = 0; dy < (1 << shift); ++dy)
        for (int dx = 0; dx < (1 << shift); ++dx) sum += full[((y << shift) + dy) * 8 + (x << shift) + dx];
      out[y * stride + x] = static_cast<uint8_t>((sum + area / 2) / area);
    }
  }
}

void ForwardDct8x8(const uint8_t* in, int stride, int32_t out[64]) {
  int32_t ws[64];
  // Pass 1: rows; the results are scaled up by 2^kPass1Bits.
  for (int r = 0; r < 8; ++r, in += stride) {
    const int32_t d0 = in[0] - 128, d1 = in[1] - 128, d2 = in[2] - 128, d3 = in[3] - 128;
    const int32_t d4 = in[4] - 128, d5 = in[5] - 128, d6 = in[6] - 128, d7 = in[7] - 128;
    int32_t* w = ws + r * 8;
    int32_t tmp0 = d0 + d7, tmp7 = d0 - d7, tmp1 = d1 + d6, tmp6 = d1 - d6;
    int32_t tmp2 = d2 + d5, tmp5 = d2 - d5, tmp3 = d3 + d4, tmp4 = d3 - d4;
    int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    w[0] = (tmp10 + tmp11) * (1 << kPass1Bits);
    w[4] = (tmp10 - tmp11) * (1 << kPass1Bits);
    int32_t z1 = (tmp12 + tmp13) * k0_541196100;
    w[2] = Descale(z1 + tmp13 * k0_765366865, kConstBits - kPass1Bits);
    w[6] = Descale(z1 - tmp12 * k1_847759065, kConstBits - kPass1Bits);
    int32_t za = tmp4 + tmp7, zb = tmp5 + tmp6, zc = tmp4 + tmp6, zd = tmp5 + tmp7;
    int32_t z5 = (zc + zd) * k1_175875602;
    tmp4 *= k0_298631336;
    tmp5 *= k2_053119869;
    tmp6 *= k3_072711026;
    tmp7 *= k1_501321110;
    za *= -k0_899976223;
    zb *= -k2_562915447;
    zc = zc * -k1_961570560 + z5;
    zd = zd * -k0_390180644 + z5;
    w[7] = Descale(tmp4 + za + zc, kConstBits - kPass1Bits);
    w[5] = Descale(tmp5 + zb + zd, kConstBits - kPass1Bits);
    w[3] = Descale(tmp6 + zb + zc, kConstBits - kPass1Bits);
    w[1] = Descale(tmp7 + za + zd, kConstBits - kPass1Bits);
  }
  // Pass 2: columns; removes the pass-1 scale, leaving the factor 8.
  for (int c = 0; c < 8; ++c) {
    const int32_t* w = ws + c;
    int32_t tmp0 = w[0] + w[56], tmp7 = w[0] - w[56], tmp1 = w[8] + w[48], tmp6 = w[8] - w[48];
    int32_t tmp2 = w[16] + w[40], tmp5 = w[16] - w[40], tmp3 = w[24] + w[32], tmp4 = w[24] - w[32];
    int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    out[c] = Descale(tmp10 + tmp11, kPass1Bits);
    out[32 + c] = Descale(tmp10 - tmp11, kPass1Bits);
    int32_t z1 = (tmp12 + tmp13) * k0_541196100;
    out[16 + c] = Descale(z1 + tmp13 * k0_765366865, kConstBits + kPass1Bits);
    out[48 + c] = Descale(z1 - tmp12 * k1_847759065, kConstBits + kPass1Bits);
    int32_t za = tmp4 + tmp7, zb = tmp5 + tmp6, zc = tmp4 + tmp6, zd = tmp5 + tmp7;
    int32_t z5 = (zc + zd) * k1_175875602;
    tmp4 *= k0_298631336;
    tmp5 *= k2_053119869;
    tmp6 *= k3_072711026;
    tmp7 *= k1_501321110;
    za *= -k0_899976223;
    zb *= -k2_562915447;
    zc = zc * -k1_961570560 + z5;
    zd = zd * -k0_390180644 + z5;
    out[56 + c] = Descale(tmp4 + za + zc, kConstBits + kPass1Bits);
    out[40 + c] = Descale(tmp5 + zb + zd, kConstBits + kPass1Bits);
    out[24 + c] = Descale(tmp6 + zb + zc, kConstBits + kPass1Bits);
    out[8 + c] = Descale(tmp7 + za + zd, kConstBits + kPass1Bits);
  }
}

Reciprocal MakeReciprocal(int quant, bool round_to_nearest) {
  const uint32_t divisor = 8u * static_cast<uint32_t>(std::clamp(quant, 1, 255));
  // floor(2^32 / d) + 1 makes (n * m) >> 32 == n / d for every n with n * d < 2^32.
  return {static_cast<uint32_t>((uint64_t{1} << 32) / divisor + 1), round_to_nearest ? divisor / 2 : 0};
}

void QuantizeBlock(const int32_t dct[64], const Reciprocal recip[64], int16_t out_zigzag[64]) {
  for (int k = 0; k < 64; ++k) {
    const int n = kZigzagToNatural[k];
    const int32_t c = dct[n];
    const uint32_t mag = static_cast<uint32_t>(c < 0 ? -c : c) + recip[n].bias;
    const int32_t q = static_cast<int32_t>((uint64_t{mag} * recip[n].multiplier) >> 32);
    out_zigzag[k] = static_cast<int16_t>(c < 0 ? -q : q);
  }
}

}  // namespace spherolux::jpeg
