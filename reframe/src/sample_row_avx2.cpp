// The AVX2 row sampler: eight positions at a time, both source rows fetched by gathers of
// four bytes from each position's left column. A group whose left column lies in the last
// three of the plane (where four bytes would leave the row, or the right neighbour wraps to
// column 0) is sampled by the reference; the arithmetic is the reference's, so the bytes are.
#include "sample_row.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "base/system.h"

#define SPHEROLUX_AVX2 __attribute__((target("avx2")))

namespace spherolux::reframe {

namespace {

SPHEROLUX_AVX2 void SampleAvx2(const PlaneRef& plane, const int32_t* u, const int32_t* v, int n, int shift,
                               uint8_t* out) {
  const __m256i half = _mm256_set1_epi32(32768), byte = _mm256_set1_epi32(0xFF);
  const __m256i zero = _mm256_setzero_si256(), max_v = _mm256_set1_epi32((plane.height - 1) << 16);
  const __m256i width = _mm256_set1_epi32(plane.width), last_safe = _mm256_set1_epi32(plane.width - 4);
  const __m256i last_row = _mm256_set1_epi32(plane.height - 1), stride = _mm256_set1_epi32(plane.stride);
  const __m128i count = _mm_cvtsi32_si128(shift);
  // Low bytes of each 32-bit lane to the first four bytes of each 128-bit half.
  const __m256i gather_low = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8, 12,
                                              -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const auto* base = reinterpret_cast<const int*>(plane.data);
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256i su =
        _mm256_sub_epi32(_mm256_sra_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(u + k)), count), half);
    const __m256i sv = _mm256_min_epi32(
        _mm256_max_epi32(
            _mm256_sub_epi32(_mm256_sra_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + k)), count),
                             half),
            zero),
        max_v);
    __m256i x0 = _mm256_srai_epi32(su, 16);
    x0 = _mm256_add_epi32(x0, _mm256_and_si256(_mm256_cmpgt_epi32(zero, x0), width));
    if (!_mm256_testz_si256(_mm256_cmpgt_epi32(x0, last_safe), _mm256_cmpgt_epi32(x0, last_safe))) {
      SampleRowScalar(plane, u + k, v + k, 8, shift, out + k);
      continue;
    }
    const __m256i ax = _mm256_and_si256(_mm256_srai_epi32(su, 8), byte);
    const __m256i ay = _mm256_and_si256(_mm256_srai_epi32(sv, 8), byte);
    const __m256i y0 = _mm256_srai_epi32(sv, 16);
    const __m256i y1 = _mm256_min_epi32(_mm256_add_epi32(y0, _mm256_set1_epi32(1)), last_row);
    const __m256i g0 = _mm256_i32gather_epi32(base, _mm256_add_epi32(_mm256_mullo_epi32(y0, stride), x0), 1);
    const __m256i g1 = _mm256_i32gather_epi32(base, _mm256_add_epi32(_mm256_mullo_epi32(y1, stride), x0), 1);
    const __m256i a0 = _mm256_and_si256(g0, byte), a1 = _mm256_and_si256(_mm256_srli_epi32(g0, 8), byte);
    const __m256i b0 = _mm256_and_si256(g1, byte), b1 = _mm256_and_si256(_mm256_srli_epi32(g1, 8), byte);
    const __m256i top = _mm256_add_epi32(_mm256_slli_epi32(a0, 8), _mm256_mullo_epi32(_mm256_sub_epi32(a1, a0), ax));
    const __m256i bottom = _mm256_add_epi32(_mm256_slli_epi32(b0, 8), _mm256_mullo_epi32(_mm256_sub_epi32(b1, b0), ax));
    const __m256i mixed = _mm256_srai_epi32(
        _mm256_add_epi32(
            _mm256_add_epi32(_mm256_slli_epi32(top, 8), _mm256_mullo_epi32(_mm256_sub_epi32(bottom, top), ay)), half),
        16);
    const __m256i bytes =
        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(mixed, gather_low), _mm256_setr_epi32(0, 4, 1, 1, 1, 1, 1, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm256_castsi256_si128(bytes));
  }
  if (k < n) SampleRowScalar(plane, u + k, v + k, n - k, shift, out + k);
}

}  // namespace

SampleRowFn SampleRowAvx2() { return CpuHasAvx2() ? SampleAvx2 : nullptr; }

}  // namespace spherolux::reframe

#else

namespace spherolux::reframe {
SampleRowFn SampleRowAvx2() { return nullptr; }
}  // namespace spherolux::reframe

#endif
