// AVX2 primitives over a sample plan; the same bytes as the scalar reference, with the
// regrouped multiply-adds of blend_avx2.cpp. Near groups need no checks: the plan only
// forms them where their row loads stay inside the source.
#include "sample_plan.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>

#include "base/system.h"

#define SPHEROLUX_AVX2 __attribute__((target("avx2")))

namespace spherolux {

namespace {

// How far ahead (groups) the samplers ask for the source rows and the plan bytes a later
// group reads.
constexpr int kSourceAhead = 8;
constexpr int kPlanAhead = 32;

SPHEROLUX_AVX2 inline __m256i BroadcastRow(const uint8_t* p) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// The eight pixels of a near group, on two rows (three row loads) or three (four).
template <bool kThreeRows>
SPHEROLUX_AVX2 inline __m128i SampleNear(const SampleSource& s, const SampleGroup& g) {
  const uint8_t* p = s.src + g.at.y * s.stride + g.at.x;
  // Byte indices dx, none, dx + 1, none per dword (pshufb zeroes a byte whose index has
  // the top bit set); dx <= 14 keeps the additions from carrying.
  const __m256i dx = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(g.at.dx)));
  const __m256i idx = _mm256_add_epi32(_mm256_or_si256(dx, _mm256_slli_epi32(dx, 16)), _mm256_set1_epi32(0x80018000));
  const __m256i a0 = _mm256_shuffle_epi8(BroadcastRow(p), idx);
  const __m256i a1 = _mm256_shuffle_epi8(BroadcastRow(p + s.stride), idx);
  const __m256i a2 = _mm256_shuffle_epi8(BroadcastRow(p + 2 * s.stride), idx);
  // dword j: bit j of dy and, shifted by 8, bit j of dy2.
  const __m256i bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  const __m256i dy = _mm256_set1_epi32(g.at.dy | g.at.dy2 << 8);
  const __m256i down1 = _mm256_cmpeq_epi32(_mm256_and_si256(dy, bits), bits);
  // The two upper neighbours (and the two lower ones) of each pixel as a word pair.
  __m256i n0 = _mm256_blendv_epi8(a0, a1, down1);
  __m256i n1 = _mm256_blendv_epi8(a1, a2, down1);
  if (kThreeRows) {
    const __m256i bits2 = _mm256_slli_epi32(bits, 8);
    const __m256i down2 = _mm256_cmpeq_epi32(_mm256_and_si256(dy, bits2), bits2);
    const __m256i a3 = _mm256_shuffle_epi8(BroadcastRow(p + 3 * s.stride), idx);
    n0 = _mm256_blendv_epi8(n0, a2, down2);
    n1 = _mm256_blendv_epi8(n1, a3, down2);
  }
  const __m256i wx = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(g.wx)));
  const __m256i wy = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(g.wy)));
  const __m256i bias = _mm256_set1_epi32(32768);
  const __m256i top = _mm256_sub_epi32(_mm256_madd_epi16(n0, wx), bias);
  const __m256i bot = _mm256_sub_epi32(_mm256_madd_epi16(n1, wx), bias);
  const __m256i tb = _mm256_blend_epi16(top, _mm256_slli_epi32(bot, 16), 0xAA);
  const __m256i v = _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(tb, wy), _mm256_set1_epi32(32768 * 256)), 16);
  __m256i q = _mm256_packus_epi32(v, v);
  q = _mm256_packus_epi16(q, q);
  return _mm_unpacklo_epi32(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
}

SPHEROLUX_AVX2 void SampleAvx2(const SampleSource& s, const SampleGroup* groups, const uint16_t* far, int n,
                               uint8_t* out) {
  const int count = (n + 7) / 8;
  for (int k = 0; k < count; ++k) {
    const SampleGroup& g = groups[k];
    {
      const SampleGroup& a = groups[k + kSourceAhead < count ? k + kSourceAhead : count - 1];
      const uintptr_t p = reinterpret_cast<uintptr_t>(s.src) + a.at.y * s.stride + a.at.x;
      _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(p + s.stride), _MM_HINT_T0);
      // Formed as an integer: it may lie past the plan's end (prefetches never fault).
      _mm_prefetch(
          reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(groups) + (k + kPlanAhead) * sizeof(SampleGroup)),
          _MM_HINT_T0);
    }
    const int left = n - 8 * k;
    uint8_t* o = out + 8 * k;
    if (g.at.near == kFar) {
      SampleGroupScalar(s, g, far, left < 8 ? left : 8, o);
      continue;
    }
    const __m128i r = g.at.near == kNear2 ? SampleNear<false>(s, g) : SampleNear<true>(s, g);
    if (left >= 8) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(o), r);
    } else {
      uint8_t t[16];
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t), r);
      std::memcpy(o, t, static_cast<size_t>(left));
    }
  }
}

// Bytes idx[j] of the row at p, of the row below where down1[j] is set, or of the row
// below that where down2[j] is set too (three rows).
template <bool kThreeRows>
SPHEROLUX_AVX2 inline __m128i PickNear(const uint8_t* p, ptrdiff_t stride, __m128i idx, __m128i down1, __m128i down2) {
  const __m128i r0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), idx);
  const __m128i r1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride)), idx);
  const __m128i r = _mm_blendv_epi8(r0, r1, down1);
  if (!kThreeRows) return r;
  const __m128i r2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * stride)), idx);
  return _mm_blendv_epi8(r, r2, down2);
}

SPHEROLUX_AVX2 void PickAvx2(const uint8_t* u, const uint8_t* v, ptrdiff_t chroma_stride, const PickGroup* groups,
                             const uint16_t* far, int n, uint8_t* out_u, uint8_t* out_v) {
  const int count = (n + 7) / 8;
  const __m128i bits = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
  for (int k = 0; k < count; ++k) {
    const PickGroup& g = groups[k];
    {
      const PickGroup& a = groups[k + kSourceAhead < count ? k + kSourceAhead : count - 1];
      const uintptr_t off = a.y * chroma_stride + a.x;
      _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(u) + off), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(v) + off), _MM_HINT_T0);
    }
    const int left = n - 8 * k;
    if (g.near == kFar) {
      PickGroupScalar(u, v, chroma_stride, g, far, left < 8 ? left : 8, out_u + 8 * k, out_v + 8 * k);
      continue;
    }
    const ptrdiff_t base = g.y * chroma_stride + g.x;
    const __m128i idx = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(g.dx));
    const __m128i down1 = _mm_cmpeq_epi8(_mm_and_si128(_mm_set1_epi8(static_cast<char>(g.dy)), bits), bits);
    const __m128i down2 = _mm_cmpeq_epi8(_mm_and_si128(_mm_set1_epi8(static_cast<char>(g.dy2)), bits), bits);
    __m128i gu, gv;
    if (g.near == kNear2) {
      gu = PickNear<false>(u + base, chroma_stride, idx, down1, down2);
      gv = PickNear<false>(v + base, chroma_stride, idx, down1, down2);
    } else {
      gu = PickNear<true>(u + base, chroma_stride, idx, down1, down2);
      gv = PickNear<true>(v + base, chroma_stride, idx, down1, down2);
    }
    if (left >= 8) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out_u + 8 * k), gu);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out_v + 8 * k), gv);
    } else {
      uint8_t t[32];
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t), gu);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(t + 16), gv);
      std::memcpy(out_u + 8 * k, t, static_cast<size_t>(left));
      std::memcpy(out_v + 8 * k, t + 16, static_cast<size_t>(left));
    }
  }
}

constexpr PlanDsp kAvx2PlanDsp = {"avx2", SampleAvx2, PickAvx2};

}  // namespace

const PlanDsp* Avx2PlanDsp() { return CpuHasAvx2() ? &kAvx2PlanDsp : nullptr; }

}  // namespace spherolux

#else

namespace spherolux {
const PlanDsp* Avx2PlanDsp() { return nullptr; }
}  // namespace spherolux

#endif
