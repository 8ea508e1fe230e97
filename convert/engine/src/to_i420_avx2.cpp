// The AVX2 form of to_i420.cpp: 32 pixels of a row pair per step, in 32-bit lanes with the
// same integer sums as the scalar code, so the bytes are the same.
#include "to_i420.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace spherolux::convert {

#if defined(__x86_64__) || defined(__i386__)

#define SPHEROLUX_AVX2 __attribute__((target("avx2")))

namespace {

using namespace i420;  // NOLINT: the coefficients this kernel shares with the scalar one

// A pixel's bytes 0 and 2 as the two 16-bit words of its lane (Lo), bytes 1 and 3 (Hi); the
// weights meet them in _mm256_madd_epi16.
struct Weights {
  __m256i lo;
  __m256i hi;
};

int WordPair(int low, int high) {
  return static_cast<int>((static_cast<uint32_t>(high) << 16) | (static_cast<uint32_t>(low) & 0xffff));
}

SPHEROLUX_AVX2 Weights MakeWeights(int kr, int kg, int kb, PixelOrder order) {
  const bool rgba = order == PixelOrder::kRgba;
  return {_mm256_set1_epi32(rgba ? WordPair(kr, kb) : WordPair(kb, kr)), _mm256_set1_epi32(WordPair(kg, 0))};
}

SPHEROLUX_AVX2 inline __m256i Lo(__m256i px) { return _mm256_and_si256(px, _mm256_set1_epi32(0x00ff00ff)); }
SPHEROLUX_AVX2 inline __m256i Hi(__m256i px) { return _mm256_srli_epi16(px, 8); }

SPHEROLUX_AVX2 inline __m256i Weigh(__m256i lo, __m256i hi, const Weights& w, int add, int shift) {
  const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(lo, w.lo), _mm256_madd_epi16(hi, w.hi));
  return _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(add)), shift);
}

SPHEROLUX_AVX2 inline __m256i Luma(__m256i px, const Weights& w) { return Weigh(Lo(px), Hi(px), w, kYAdd, 15); }

// Four vectors of eight 32-bit values (each 0-255) to 32 bytes in the same order. The packs
// work within 128-bit halves; the permutation puts the 4-byte groups back in order.
SPHEROLUX_AVX2 inline __m256i Pack(__m256i a, __m256i b, __m256i c, __m256i d) {
  const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
  return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// The sums of the eight 2 x 2 blocks of 16 columns, in order: a0, a1 are pixels 0-7 and 8-15
// of the upper row, b0, b1 of the lower. Word sums stay below 2^16, so 32-bit additions add
// both words of a lane at once.
SPHEROLUX_AVX2 inline void BlockSums(__m256i a0, __m256i a1, __m256i b0, __m256i b1, __m256i* lo, __m256i* hi) {
  const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
  *lo = _mm256_permutevar8x32_epi32(
      _mm256_hadd_epi32(_mm256_add_epi16(Lo(a0), Lo(b0)), _mm256_add_epi16(Lo(a1), Lo(b1))), order);
  *hi = _mm256_permutevar8x32_epi32(
      _mm256_hadd_epi32(_mm256_add_epi16(Hi(a0), Hi(b0)), _mm256_add_epi16(Hi(a1), Hi(b1))), order);
}

}  // namespace

SPHEROLUX_AVX2 void ToI420Avx2(const uint8_t* src, ptrdiff_t stride, int width, int height, PixelOrder order,
                               uint8_t* dst) {
  const Weights wy = MakeWeights(kYr, kYg, kYb, order);
  const Weights wu = MakeWeights(kUr, kUg, kUb, order);
  const Weights wv = MakeWeights(kVr, kVg, kVb, order);
  const size_t w = static_cast<size_t>(width);
  uint8_t* y_plane = dst;
  uint8_t* u_plane = dst + w * static_cast<size_t>(height);
  uint8_t* v_plane = u_plane + (w / 2) * static_cast<size_t>(height / 2);
  const int whole = width / 32 * 32;
  for (int row = 0; row < height; row += 2) {
    const uint8_t* r0 = src + stride * row;
    const uint8_t* r1 = r0 + stride;
    uint8_t* y0 = y_plane + w * row;
    uint8_t* y1 = y0 + w;
    uint8_t* u = u_plane + w / 2 * (row / 2);
    uint8_t* v = v_plane + w / 2 * (row / 2);
    for (int x = 0; x < whole; x += 32) {
      __m256i a[4], b[4];
      for (int k = 0; k < 4; ++k) {
        a[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + 4 * x + 32 * k));
        b[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r1 + 4 * x + 32 * k));
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(y0 + x),
                          Pack(Luma(a[0], wy), Luma(a[1], wy), Luma(a[2], wy), Luma(a[3], wy)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(y1 + x),
                          Pack(Luma(b[0], wy), Luma(b[1], wy), Luma(b[2], wy), Luma(b[3], wy)));
      __m256i lo01, hi01, lo23, hi23;
      BlockSums(a[0], a[1], b[0], b[1], &lo01, &hi01);
      BlockSums(a[2], a[3], b[2], b[3], &lo23, &hi23);
      const __m256i uv = Pack(Weigh(lo01, hi01, wu, kCAdd, 17), Weigh(lo23, hi23, wu, kCAdd, 17),
                              Weigh(lo01, hi01, wv, kCAdd, 17), Weigh(lo23, hi23, wv, kCAdd, 17));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x / 2), _mm256_castsi256_si128(uv));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x / 2), _mm256_extracti128_si256(uv, 1));
    }
    if (whole < width) RowPairScalar(r0, r1, whole, width, order, y0, y1, u, v);
  }
}

#else

void ToI420Avx2(const uint8_t* src, ptrdiff_t stride, int width, int height, PixelOrder order, uint8_t* dst) {
  ToI420Scalar(src, stride, width, height, order, dst);
}

#endif

}  // namespace spherolux::convert
