// The AVX2 form of yuv.cpp: 8 pixels of a row per step, in 32-bit lanes with the same
// integer sums as the scalar code, so the bytes are the same.
#include <cstring>

#include "render/yuv.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace spherolux::render {

#if defined(__x86_64__) || defined(__i386__)

#define SPHEROLUX_AVX2 __attribute__((target("avx2")))

namespace {

// Chroma samples x/2 .. x/2 + 3, each twice (the two pixels of its pair), as eight lanes
// less 128.
SPHEROLUX_AVX2 inline __m256i Chroma(const uint8_t* row) {
  int32_t four = 0;
  std::memcpy(&four, row, 4);
  const __m128i bytes = _mm_cvtsi32_si128(four);
  return _mm256_sub_epi32(_mm256_cvtepu8_epi32(_mm_unpacklo_epi8(bytes, bytes)), _mm256_set1_epi32(128));
}

SPHEROLUX_AVX2 inline __m256i Channel(__m256i sum) {
  return _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(sum, 14), _mm256_setzero_si256()), _mm256_set1_epi32(255));
}

}  // namespace

SPHEROLUX_AVX2 void YuvToBgraAvx2(const YuvPicture& picture, uint8_t* dst, ptrdiff_t dst_stride) {
  const yuv::FixedWeights w = yuv::ToFixed(picture.colour);
  const __m256i y_scale = _mm256_set1_epi32(w.y_scale);
  const __m256i y_add = _mm256_set1_epi32((1 << 13) - w.y_offset * w.y_scale);
  const __m256i r_v = _mm256_set1_epi32(w.r_v);
  const __m256i g_u = _mm256_set1_epi32(w.g_u);
  const __m256i g_v = _mm256_set1_epi32(w.g_v);
  const __m256i b_u = _mm256_set1_epi32(w.b_u);
  const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xff000000u));
  const int whole = picture.width / 8 * 8;
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* luma = picture.planes[0] + static_cast<ptrdiff_t>(y) * picture.pitches[0];
    const uint8_t* u_row = picture.planes[1] + static_cast<ptrdiff_t>(y / 2) * picture.pitches[1];
    const uint8_t* v_row = picture.planes[2] + static_cast<ptrdiff_t>(y / 2) * picture.pitches[2];
    uint8_t* out = dst + y * dst_stride;
    for (int x = 0; x < whole; x += 8) {
      const __m256i l = _mm256_add_epi32(
          _mm256_mullo_epi32(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(luma + x))),
                             y_scale),
          y_add);
      const __m256i u = Chroma(u_row + x / 2);
      const __m256i v = Chroma(v_row + x / 2);
      const __m256i b = Channel(_mm256_add_epi32(l, _mm256_mullo_epi32(b_u, u)));
      const __m256i g =
          Channel(_mm256_add_epi32(l, _mm256_add_epi32(_mm256_mullo_epi32(g_u, u), _mm256_mullo_epi32(g_v, v))));
      const __m256i r = Channel(_mm256_add_epi32(l, _mm256_mullo_epi32(r_v, v)));
      const __m256i px = _mm256_or_si256(_mm256_or_si256(b, _mm256_slli_epi32(g, 8)),
                                         _mm256_or_si256(_mm256_slli_epi32(r, 16), alpha));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * static_cast<ptrdiff_t>(x)), px);
    }
    if (whole < picture.width) yuv::RowScalar(picture, w, y, whole, picture.width, out);
  }
}

#else

void YuvToBgraAvx2(const YuvPicture& picture, uint8_t* dst, ptrdiff_t dst_stride) {
  YuvToBgraScalar(picture, dst, dst_stride);
}

#endif

}  // namespace spherolux::render
