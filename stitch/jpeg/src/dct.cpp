#include "dct.h"

#include <algorithm>

#include "base/system.h"
#include "dct_constants.h"

namespace spherolux::jpeg {

using namespace dct;  // NOLINT: the constants of this file's own transforms

namespace {

constexpr int32_t Descale(int32_t x, int n) { return (x + (1 << (n - 1))) >> n; }

// One 1-D inverse transform (the even and odd halves of the LLM flow graph); outputs are
// scaled by 2^kConstBits.
struct Idct1D {
  int32_t o[8];
  Idct1D(int32_t i0, int32_t i1, int32_t i2, int32_t i3, int32_t i4, int32_t i5, int32_t i6, int32_t i7) {
    const int32_t z1 = (i2 + i6) * k0_541196100;
    const int32_t tmp2 = z1 - i6 * k1_847759065;
    const int32_t tmp3 = z1 + i2 * k0_765366865;
    const int32_t tmp0 = (i0 + i4) * (1 << kConstBits);
    const int32_t tmp1 = (i0 - i4) * (1 << kConstBits);
    const int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;

    const int32_t z5 = (i7 + i3 + i5 + i1) * k1_175875602;
    const int32_t za = (i7 + i1) * -k0_899976223;
    const int32_t zb = (i5 + i3) * -k2_562915447;
    const int32_t zc = (i7 + i3) * -k1_961570560 + z5;
    const int32_t zd = (i5 + i1) * -k0_390180644 + z5;
    const int32_t a0 = i7 * k0_298631336 + za + zc;
    const int32_t a1 = i5 * k2_053119869 + zb + zd;
    const int32_t a2 = i3 * k3_072711026 + zb + zc;
    const int32_t a3 = i1 * k1_501321110 + za + zd;
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

// One 1-D forward transform. out[0] and out[4] are returned unscaled, the others scaled by
// 2^kConstBits, for the caller to descale.
struct Fdct1D {
  int32_t o[8];
  Fdct1D(int32_t d0, int32_t d1, int32_t d2, int32_t d3, int32_t d4, int32_t d5, int32_t d6, int32_t d7) {
    const int32_t tmp0 = d0 + d7, tmp7 = d0 - d7, tmp1 = d1 + d6, tmp6 = d1 - d6;
    const int32_t tmp2 = d2 + d5, tmp5 = d2 - d5, tmp3 = d3 + d4, tmp4 = d3 - d4;
    const int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    o[0] = tmp10 + tmp11;
    o[4] = tmp10 - tmp11;
    const int32_t z1 = (tmp12 + tmp13) * k0_541196100;
    o[2] = z1 + tmp13 * k0_765366865;
    o[6] = z1 - tmp12 * k1_847759065;
    const int32_t z5 = (tmp4 + tmp6 + tmp5 + tmp7) * k1_175875602;
    const int32_t za = (tmp4 + tmp7) * -k0_899976223;
    const int32_t zb = (tmp5 + tmp6) * -k2_562915447;
    const int32_t zc = (tmp4 + tmp6) * -k1_961570560 + z5;
    const int32_t zd = (tmp5 + tmp7) * -k0_390180644 + z5;
    o[7] = tmp4 * k0_298631336 + za + zc;
    o[5] = tmp5 * k2_053119869 + zb + zd;
    o[3] = tmp6 * k3_072711026 + zb + zc;
    o[1] = tmp7 * k1_501321110 + za + zd;
  }
};

using IdctFn = void (*)(const int16_t*, uint8_t*, int);
using FdctQuantFn = void (*)(const uint8_t*, int, const QuantDivisors&, int16_t*);

const IdctFn kIdct = CpuHasAvx2() ? InverseDct8x8Avx2 : InverseDct8x8Scalar;
const FdctQuantFn kFdctQuant = CpuHasAvx2() ? ForwardDctQuantizeAvx2 : ForwardDctQuantizeScalar;

}  // namespace

void InverseDct8x8Scalar(const int16_t* in, uint8_t* out, int stride) {
  // Pass 1: columns into a workspace scaled by 2^kPass1Bits.
  int32_t ws[64];
  for (int c = 0; c < 8; ++c) {
    const int16_t* p = in + c;
    if ((p[8] | p[16] | p[24] | p[32] | p[40] | p[48] | p[56]) == 0) {
      const int32_t dc = p[0] * (1 << kPass1Bits);  // what the full transform gives
      for (int r = 0; r < 8; ++r) ws[r * 8 + c] = dc;
      continue;
    }
    Idct1D t(p[0], p[8], p[16], p[24], p[32], p[40], p[48], p[56]);
    for (int r = 0; r < 8; ++r)
      ws[r * 8 + c] = std::clamp(Descale(t.o[r], kConstBits - kPass1Bits), -kMaxPass1, kMaxPass1);
  }
  // Pass 2: rows, removing the pass-1 scale and the factor 8, adding the level shift.
  constexpr int kShift = kConstBits + kPass1Bits + 3;
  constexpr int32_t kBias = (1 << (kShift - 1)) + (128 << kShift);
  for (int r = 0; r < 8; ++r, out += stride) {
    const int32_t* w = ws + r * 8;
    Idct1D t(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    for (int c = 0; c < 8; ++c) out[c] = static_cast<uint8_t>(std::clamp((t.o[c] + kBias) >> kShift, 0, 255));
  }
}

void InverseDct8x8(const int16_t* coef, uint8_t* out, int stride) { kIdct(coef, out, stride); }

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
  // Pass 1: columns; the results are scaled up by 2^kPass1Bits.
  int32_t ws[64];
  for (int c = 0; c < 8; ++c) {
    const uint8_t* p = in + c;
    Fdct1D t(p[0] - 128, p[stride] - 128, p[2 * stride] - 128, p[3 * stride] - 128, p[4 * stride] - 128,
             p[5 * stride] - 128, p[6 * stride] - 128, p[7 * stride] - 128);
    for (int r = 0; r < 8; ++r)
      ws[r * 8 + c] = (r & 3) == 0 ? t.o[r] * (1 << kPass1Bits) : Descale(t.o[r], kConstBits - kPass1Bits);
  }
  // Pass 2: rows; removes the pass-1 scale, leaving the factor 8.
  for (int r = 0; r < 8; ++r) {
    const int32_t* w = ws + r * 8;
    Fdct1D t(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    for (int c = 0; c < 8; ++c)
      out[r * 8 + c] = (c & 3) == 0 ? Descale(t.o[c], kPass1Bits) : Descale(t.o[c], kConstBits + kPass1Bits);
  }
}

void MakeDivisors(const uint16_t quant[64], bool round_to_nearest, QuantDivisors* out) {
  for (int i = 0; i < 64; ++i) {
    const uint32_t divisor = 8u * std::clamp<uint32_t>(quant[i], 1, 255);
    // floor(2^32 / d) + 1 makes (n * m) >> 32 == n / d for every n with n * d < 2^32.
    out->multiplier[i] = static_cast<uint32_t>((uint64_t{1} << 32) / divisor + 1);
    out->bias[i] = round_to_nearest ? divisor / 2 : 0;
  }
}

void QuantizeBlock(const int32_t dct[64], const QuantDivisors& d, int16_t out[64]) {
  for (int n = 0; n < 64; ++n) {
    const int32_t c = dct[n];
    const uint32_t mag = static_cast<uint32_t>(c < 0 ? -c : c) + d.bias[n];
    const int32_t q = static_cast<int32_t>((uint64_t{mag} * d.multiplier[n]) >> 32);
    out[n] = static_cast<int16_t>(c < 0 ? -q : q);
  }
}

void ForwardDctQuantizeScalar(const uint8_t* in, int stride, const QuantDivisors& divisors, int16_t out[64]) {
  int32_t dct[64];
  ForwardDct8x8(in, stride, dct);
  QuantizeBlock(dct, divisors, out);
}

void ForwardDctQuantize(const uint8_t* in, int stride, const QuantDivisors& divisors, int16_t out[64]) {
  kFdctQuant(in, stride, divisors, out);
}

}  // namespace spherolux::jpeg
