// AVX2 forms of the transforms in dct.cpp: eight columns (or rows) at a time in 32-bit
// lanes, with the same operations and rounding as the scalar code.
#include <immintrin.h>

#include "dct.h"
#include "dct_constants.h"

namespace spherolux::jpeg {

using namespace dct;  // NOLINT: the constants of this file's own transforms

#if defined(__x86_64__) || defined(__i386__)

#define SPX_TARGET __attribute__((target("avx2")))

namespace {

SPX_TARGET inline __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
SPX_TARGET inline __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
SPX_TARGET inline __m256i Mul(__m256i a, int32_t k) { return _mm256_mullo_epi32(a, _mm256_set1_epi32(k)); }
SPX_TARGET inline __m256i Descale(__m256i a, int n) {
  return _mm256_srai_epi32(_mm256_add_epi32(a, _mm256_set1_epi32(1 << (n - 1))), n);
}

SPX_TARGET inline void Transpose(__m256i r[8]) {
  const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
  r[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
  r[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
  r[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
  r[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
  r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// The 1-D inverse transform of dct.cpp on eight lanes: i[] in, o[] scaled by 2^kConstBits.
SPX_TARGET inline void Idct1D(const __m256i i[8], __m256i o[8]) {
  const __m256i z1 = Mul(Add(i[2], i[6]), k0_541196100);
  const __m256i tmp2 = Sub(z1, Mul(i[6], k1_847759065));
  const __m256i tmp3 = Add(z1, Mul(i[2], k0_765366865));
  const __m256i tmp0 = _mm256_slli_epi32(Add(i[0], i[4]), kConstBits);
  const __m256i tmp1 = _mm256_slli_epi32(Sub(i[0], i[4]), kConstBits);
  const __m256i tmp10 = Add(tmp0, tmp3), tmp13 = Sub(tmp0, tmp3), tmp11 = Add(tmp1, tmp2), tmp12 = Sub(tmp1, tmp2);

  const __m256i z5 = Mul(Add(Add(i[7], i[3]), Add(i[5], i[1])), k1_175875602);
  const __m256i za = Mul(Add(i[7], i[1]), -k0_899976223);
  const __m256i zb = Mul(Add(i[5], i[3]), -k2_562915447);
  const __m256i zc = Add(Mul(Add(i[7], i[3]), -k1_961570560), z5);
  const __m256i zd = Add(Mul(Add(i[5], i[1]), -k0_390180644), z5);
  const __m256i a0 = Add(Mul(i[7], k0_298631336), Add(za, zc));
  const __m256i a1 = Add(Mul(i[5], k2_053119869), Add(zb, zd));
  const __m256i a2 = Add(Mul(i[3], k3_072711026), Add(zb, zc));
  const __m256i a3 = Add(Mul(i[1], k1_501321110), Add(za, zd));
  o[0] = Add(tmp10, a3);
  o[7] = Sub(tmp10, a3);
  o[1] = Add(tmp11, a2);
  o[6] = Sub(tmp11, a2);
  o[2] = Add(tmp12, a1);
  o[5] = Sub(tmp12, a1);
  o[3] = Add(tmp13, a0);
  o[4] = Sub(tmp13, a0);
}

// The 1-D forward transform of dct.cpp: o[0] and o[4] unscaled, the others times 2^13.
SPX_TARGET inline void Fdct1D(const __m256i d[8], __m256i o[8]) {
  const __m256i tmp0 = Add(d[0], d[7]), tmp7 = Sub(d[0], d[7]), tmp1 = Add(d[1], d[6]), tmp6 = Sub(d[1], d[6]);
  const __m256i tmp2 = Add(d[2], d[5]), tmp5 = Sub(d[2], d[5]), tmp3 = Add(d[3], d[4]), tmp4 = Sub(d[3], d[4]);
  const __m256i tmp10 = Add(tmp0, tmp3), tmp13 = Sub(tmp0, tmp3), tmp11 = Add(tmp1, tmp2), tmp12 = Sub(tmp1, tmp2);
  o[0] = Add(tmp10, tmp11);
  o[4] = Sub(tmp10, tmp11);
  const __m256i z1 = Mul(Add(tmp12, tmp13), k0_541196100);
  o[2] = Add(z1, Mul(tmp13, k0_765366865));
  o[6] = Sub(z1, Mul(tmp12, k1_847759065));
  const __m256i z5 = Mul(Add(Add(tmp4, tmp6), Add(tmp5, tmp7)), k1_175875602);
  const __m256i za = Mul(Add(tmp4, tmp7), -k0_899976223);
  const __m256i zb = Mul(Add(tmp5, tmp6), -k2_562915447);
  const __m256i zc = Add(Mul(Add(tmp4, tmp6), -k1_961570560), z5);
  const __m256i zd = Add(Mul(Add(tmp5, tmp7), -k0_390180644), z5);
  o[7] = Add(Mul(tmp4, k0_298631336), Add(za, zc));
  o[5] = Add(Mul(tmp5, k2_053119869), Add(zb, zd));
  o[3] = Add(Mul(tmp6, k3_072711026), Add(zb, zc));
  o[1] = Add(Mul(tmp7, k1_501321110), Add(za, zd));
}

}  // namespace

SPX_TARGET void InverseDct8x8Avx2(const int16_t* coef, uint8_t* out, int stride) {
  __m256i v[8], o[8];
  for (int r = 0; r < 8; ++r)
    v[r] = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8 * r)));
  // Pass 1 on the columns (lanes), clamped as in the scalar code.
  Idct1D(v, o);
  const __m256i lo = _mm256_set1_epi32(-kMaxPass1), hi = _mm256_set1_epi32(kMaxPass1);
  for (int r = 0; r < 8; ++r) o[r] = _mm256_min_epi32(_mm256_max_epi32(Descale(o[r], kConstBits - kPass1Bits), lo), hi);
  Transpose(o);
  // Pass 2 on the rows, now in the lanes; the results come out column by column.
  Idct1D(o, v);
  constexpr int kShift = kConstBits + kPass1Bits + 3;
  const __m256i bias = _mm256_set1_epi32((1 << (kShift - 1)) + (128 << kShift));
  for (int c = 0; c < 8; ++c) v[c] = _mm256_srai_epi32(_mm256_add_epi32(v[c], bias), kShift);
  Transpose(v);
  // Saturating packs clamp to 0..255 exactly as the scalar code does.
  for (int r = 0; r < 8; r += 4) {
    const __m256i a = _mm256_permute4x64_epi64(_mm256_packs_epi32(v[r], v[r + 1]), 0xD8);      // rows r, r+1
    const __m256i b = _mm256_permute4x64_epi64(_mm256_packs_epi32(v[r + 2], v[r + 3]), 0xD8);  // rows r+2, r+3
    const __m256i bytes = _mm256_packus_epi16(a, b);  // r | r+2 | r+1 | r+3, eight bytes each
    const __m128i l = _mm256_castsi256_si128(bytes), h = _mm256_extracti128_si256(bytes, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * stride), l);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 2) * stride), _mm_unpackhi_epi64(l, l));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 1) * stride), h);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 3) * stride), _mm_unpackhi_epi64(h, h));
  }
}

SPX_TARGET void ForwardDctQuantizeAvx2(const uint8_t* in, int stride, const QuantDivisors& d, int16_t out[64]) {
  __m256i v[8], o[8];
  const __m256i level = _mm256_set1_epi32(128);
  for (int r = 0; r < 8; ++r)
    v[r] = _mm256_sub_epi32(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + r * stride))),
                            level);
  // Pass 1 on the columns.
  Fdct1D(v, o);
  for (int r = 0; r < 8; ++r)
    o[r] = (r & 3) == 0 ? _mm256_slli_epi32(o[r], kPass1Bits) : Descale(o[r], kConstBits - kPass1Bits);
  Transpose(o);
  // Pass 2 on the rows, then back to rows of coefficients.
  Fdct1D(o, v);
  for (int c = 0; c < 8; ++c) v[c] = (c & 3) == 0 ? Descale(v[c], kPass1Bits) : Descale(v[c], kConstBits + kPass1Bits);
  Transpose(v);
  // Quantise: the high half of (|c| + bias) * multiplier, with the sign of c.
  for (int r = 0; r < 8; r += 2) {
    __m256i q[2];
    for (int k = 0; k < 2; ++k) {
      const __m256i c = v[r + k];
      const __m256i mag = _mm256_add_epi32(_mm256_abs_epi32(c),
                                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d.bias + 8 * (r + k))));
      const __m256i mul = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d.multiplier + 8 * (r + k)));
      const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(mag, mul), 32);
      const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(mag, 32), _mm256_srli_epi64(mul, 32));
      q[k] = _mm256_sign_epi32(_mm256_blend_epi32(even, odd, 0xAA), c);
    }
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(q[0], q[1]), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * r), packed);
  }
}

#else

void InverseDct8x8Avx2(const int16_t* coef, uint8_t* out, int stride) { InverseDct8x8Scalar(coef, out, stride); }
void ForwardDctQuantizeAvx2(const uint8_t* in, int stride, const QuantDivisors& d, int16_t out[64]) {
  ForwardDctQuantizeScalar(in, stride, d, out);
}

#endif

}  // namespace spherolux::jpeg
