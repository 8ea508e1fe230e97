// AVX2 row primitives. Each gives the same bytes as the scalar reference: the bilinear
// sums are regrouped so that 16-bit multiply-adds hold every intermediate value exactly.
//
// With weight pairs summing to 255, a row sum top = s00 * wx0 + s01 * wx1 is at most
// 65025, which does not fit a signed 16-bit lane. Shifting both row sums by 32768 does:
//   wy0 * top + wy1 * bottom = wy0 * (top - 32768) + wy1 * (bottom - 32768) + 32768 * 255,
// so the rounded result (... + 32768) >> 16 becomes (madd(top', bottom') + 32768 * 256) >> 16.
//
// Functions carry a target attribute instead of the whole file being compiled for AVX2, so
// that no inline function of a shared header is ever emitted with AVX2 instructions.
#include "blend_dsp.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstdint>

#define SPHEROLUX_AVX2 __attribute__((target("avx2")))

namespace spherolux {

namespace {

// Scalar fallback for the few entries whose vector loads could pass the end of the source.
inline void SamplePlaneOne(const SampleSource& s, const RemapEntry& e, uint8_t* out) {
  const uint8_t* p = s.src + e.y * s.stride + e.x;
  const uint32_t top = p[0] * uint32_t{e.wx0} + p[1] * uint32_t{e.wx1};
  const uint32_t bottom = p[s.stride] * uint32_t{e.wx0} + p[s.stride + 1] * uint32_t{e.wx1};
  *out = static_cast<uint8_t>((e.wy0 * top + e.wy1 * bottom + 32768) >> 16);
}

template <int kBpp>
inline void SamplePackedOne(const SampleSource& s, const RemapEntry& e, uint8_t* out) {
  const uint8_t* p = s.src + e.y * s.stride + e.x * kBpp;
  for (int k = 0; k < kBpp; ++k) {
    const uint32_t top = p[k] * uint32_t{e.wx0} + p[kBpp + k] * uint32_t{e.wx1};
    const uint32_t bottom = p[s.stride + k] * uint32_t{e.wx0} + p[s.stride + kBpp + k] * uint32_t{e.wx1};
    out[k] = static_cast<uint8_t>((e.wy0 * top + e.wy1 * bottom + 32768) >> 16);
  }
}

// Asks for the cache lines of the source pixels an entry further along the row will read
// (its two rows). Map rows sweep long curves through the fisheye image, so these lines are
// often out of the nearest caches when the gathers want them; the addresses are formed as
// integers since the entry may lie past the row's end (it is then clamped to the last).
inline void PrefetchSource(const SampleSource& s, const RemapEntry* entries, int j, int n, int bpp) {
  const RemapEntry& e = entries[j < n ? j : n - 1];
  const uintptr_t p = reinterpret_cast<uintptr_t>(s.src) + e.y * s.stride + e.x * bpp;
  _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(p + s.stride), _MM_HINT_T0);
}

// How far ahead (entries) the samplers prefetch: measured best between 32 and 128.
constexpr int kPrefetchAhead = 64;

// Largest byte offset of an upper-left neighbour whose two vector loads (`load` bytes at
// the offset and one row lower) stay inside the source; -1 when none does or when offsets
// would not fit 32 bits.
inline int64_t VectorLimit(const SampleSource& s, int load) {
  const int64_t limit = static_cast<int64_t>(s.size) - s.stride - load;
  if (static_cast<int64_t>(s.size) > INT32_MAX || limit < 0) return -1;
  return limit;
}

SPHEROLUX_AVX2 void SamplePlaneAvx2(const SampleSource& s, const RemapEntry* entries, int n, uint8_t* out) {
  int j = 0;
  const int64_t limit64 = VectorLimit(s, 4);
  if (limit64 >= 0) {
    const __m256i perm = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i stride = _mm256_set1_epi32(static_cast<int>(s.stride));
    const __m256i limit = _mm256_set1_epi32(static_cast<int>(limit64));
    const __m256i zero = _mm256_setzero_si256();
    // Bytes 0 and 1 (two neighbours) or 2 and 3 (two weights) of each dword as words.
    const __m256i lo_pair = _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1, 0, -1, 1, -1, 4,
                                             -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1);
    const __m256i hi_pair = _mm256_setr_epi8(2, -1, 3, -1, 6, -1, 7, -1, 10, -1, 11, -1, 14, -1, 15, -1, 2, -1, 3, -1,
                                             6, -1, 7, -1, 10, -1, 11, -1, 14, -1, 15, -1);
    const __m256i bias = _mm256_set1_epi32(32768);
    const __m256i round = _mm256_set1_epi32(32768 * 256);
    for (; j + 8 <= n; j += 8) {
      PrefetchSource(s, entries, j + kPrefetchAhead, n, 1);
      __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries + j));
      __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries + j + 4));
      a = _mm256_permutevar8x32_epi32(a, perm);
      b = _mm256_permutevar8x32_epi32(b, perm);
      const __m256i lo = _mm256_permute2x128_si256(a, b, 0x20);  // x | wx0 << 16 | wx1 << 24
      const __m256i hi = _mm256_permute2x128_si256(a, b, 0x31);  // y | wy0 << 16 | wy1 << 24
      const __m256i x = _mm256_blend_epi16(lo, zero, 0xAA);
      const __m256i y = _mm256_blend_epi16(hi, zero, 0xAA);
      const __m256i off = _mm256_add_epi32(_mm256_mullo_epi32(y, stride), x);
      if (!_mm256_testz_si256(_mm256_cmpgt_epi32(off, limit), _mm256_cmpgt_epi32(off, limit))) {
        for (int k = 0; k < 8; ++k) SamplePlaneOne(s, entries[j + k], out + j + k);
        continue;
      }
      const __m256i g0 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(s.src), off, 1);
      const __m256i g1 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(s.src + s.stride), off, 1);
      const __m256i wx = _mm256_shuffle_epi8(lo, hi_pair);
      const __m256i top = _mm256_sub_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(g0, lo_pair), wx), bias);
      const __m256i bot = _mm256_sub_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(g1, lo_pair), wx), bias);
      const __m256i tb = _mm256_blend_epi16(top, _mm256_slli_epi32(bot, 16), 0xAA);
      const __m256i wy = _mm256_shuffle_epi8(hi, hi_pair);
      const __m256i v = _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(tb, wy), round), 16);
      __m256i p = _mm256_packus_epi32(v, v);
      p = _mm256_packus_epi16(p, p);
      const __m128i r = _mm_unpacklo_epi32(_mm256_castsi256_si128(p), _mm256_extracti128_si256(p, 1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j), r);
    }
  }
  for (; j < n; ++j) SamplePlaneOne(s, entries[j], out + j);
}

// Four packed pixels per step. Each pixel's two upper neighbours are one 8-byte gather
// (and the two lower ones another); kBpp = 3 reads two bytes it does not use.
template <int kBpp>
SPHEROLUX_AVX2 void SamplePackedAvx2(const SampleSource& s, const RemapEntry* entries, int n, uint8_t* out) {
  int j = 0;
  const int64_t limit64 = VectorLimit(s, 8);
  if (limit64 >= 0) {
    const __m256i perm = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m128i stride = _mm_set1_epi32(static_cast<int>(s.stride));
    const __m128i limit = _mm_set1_epi32(static_cast<int>(limit64));
    const __m128i zero = _mm_setzero_si128();
    // Channel k of the left and right neighbour as a word pair, for the pixel in the low
    // (first mask) or high (second mask) half of each 128-bit lane.
    const __m256i pair_lo = kBpp == 4 ? _mm256_setr_epi8(0, -1, 4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1, 0, -1,
                                                         4, -1, 1, -1, 5, -1, 2, -1, 6, -1, 3, -1, 7, -1)
                                      : _mm256_setr_epi8(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1, 0,
                                                         -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1);
    const __m256i pair_hi = kBpp == 4 ? _mm256_setr_epi8(8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1,
                                                         8, -1, 12, -1, 9, -1, 13, -1, 10, -1, 14, -1, 11, -1, 15, -1)
                                      : _mm256_setr_epi8(8, -1, 11, -1, 9, -1, 12, -1, 10, -1, 13, -1, -1, -1, -1, -1,
                                                         8, -1, 11, -1, 9, -1, 12, -1, 10, -1, 13, -1, -1, -1, -1, -1);
    // Weight pairs of the entry in the low or high half of each lane, repeated per channel.
    const __m256i wx_lo = _mm256_setr_epi8(2, -1, 3, -1, 2, -1, 3, -1, 2, -1, 3, -1, 2, -1, 3, -1, 2, -1, 3, -1, 2, -1,
                                           3, -1, 2, -1, 3, -1, 2, -1, 3, -1);
    const __m256i wx_hi = _mm256_setr_epi8(10, -1, 11, -1, 10, -1, 11, -1, 10, -1, 11, -1, 10, -1, 11, -1, 10, -1, 11,
                                           -1, 10, -1, 11, -1, 10, -1, 11, -1, 10, -1, 11, -1);
    const __m256i wy_lo = _mm256_setr_epi8(6, -1, 7, -1, 6, -1, 7, -1, 6, -1, 7, -1, 6, -1, 7, -1, 6, -1, 7, -1, 6, -1,
                                           7, -1, 6, -1, 7, -1, 6, -1, 7, -1);
    const __m256i wy_hi = _mm256_setr_epi8(14, -1, 15, -1, 14, -1, 15, -1, 14, -1, 15, -1, 14, -1, 15, -1, 14, -1, 15,
                                           -1, 14, -1, 15, -1, 14, -1, 15, -1, 14, -1, 15, -1);
    const __m256i bias = _mm256_set1_epi32(32768);
    const __m256i round = _mm256_set1_epi32(32768 * 256);
    // Three bytes of each of the four pixels, packed together.
    const __m128i compact3 = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    for (; j + 4 <= n; j += 4) {
      if (j % 8 == 0) PrefetchSource(s, entries, j + kPrefetchAhead, n, kBpp);
      const __m256i ent = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries + j));
      const __m256i split = _mm256_permutevar8x32_epi32(ent, perm);
      const __m128i lo = _mm256_castsi256_si128(split);
      const __m128i hi = _mm256_extracti128_si256(split, 1);
      const __m128i x = _mm_blend_epi16(lo, zero, 0xAA);
      const __m128i y = _mm_blend_epi16(hi, zero, 0xAA);
      const __m128i xb = kBpp == 4 ? _mm_slli_epi32(x, 2) : _mm_add_epi32(_mm_slli_epi32(x, 1), x);
      const __m128i off = _mm_add_epi32(_mm_mullo_epi32(y, stride), xb);
      if (!_mm_testz_si128(_mm_cmpgt_epi32(off, limit), _mm_cmpgt_epi32(off, limit))) {
        for (int k = 0; k < 4; ++k) SamplePackedOne<kBpp>(s, entries[j + k], out + (j + k) * kBpp);
        continue;
      }
      // Pixels 0 and 2 sit in the low halves of the lanes, pixels 1 and 3 in the high halves.
      const __m256i g0 = _mm256_i32gather_epi64(reinterpret_cast<const long long*>(s.src), off, 1);
      const __m256i g1 = _mm256_i32gather_epi64(reinterpret_cast<const long long*>(s.src + s.stride), off, 1);
      const __m256i wxl = _mm256_shuffle_epi8(ent, wx_lo);
      const __m256i wxh = _mm256_shuffle_epi8(ent, wx_hi);
      const __m256i top_l = _mm256_sub_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(g0, pair_lo), wxl), bias);
      const __m256i top_h = _mm256_sub_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(g0, pair_hi), wxh), bias);
      const __m256i bot_l = _mm256_sub_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(g1, pair_lo), wxl), bias);
      const __m256i bot_h = _mm256_sub_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(g1, pair_hi), wxh), bias);
      const __m256i tb_l = _mm256_blend_epi16(top_l, _mm256_slli_epi32(bot_l, 16), 0xAA);
      const __m256i tb_h = _mm256_blend_epi16(top_h, _mm256_slli_epi32(bot_h, 16), 0xAA);
      const __m256i v_l =
          _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(tb_l, _mm256_shuffle_epi8(ent, wy_lo)), round), 16);
      const __m256i v_h =
          _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(tb_h, _mm256_shuffle_epi8(ent, wy_hi)), round), 16);
      __m256i p = _mm256_packus_epi32(v_l, v_h);  // lane 0: pixels 0, 1; lane 1: pixels 2, 3
      p = _mm256_packus_epi16(p, p);
      p = _mm256_permute4x64_epi64(p, 0x08);
      const __m128i r = _mm256_castsi256_si128(p);
      if (kBpp == 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j * 4), r);
      } else {
        const __m128i c = _mm_shuffle_epi8(r, compact3);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j * 3), c);
        const int tail = _mm_extract_epi32(c, 2);
        __builtin_memcpy(out + j * 3 + 8, &tail, 4);
      }
    }
  }
  for (; j < n; ++j) SamplePackedOne<kBpp>(s, entries[j], out + j * kBpp);
}

// Eight blocks per step: the top-left entries are every second one of sixteen.
SPHEROLUX_AVX2 void PickChromaAvx2(const uint8_t* u, const uint8_t* v, size_t plane_size, int chroma_width,
                                   const RemapEntry* entries, int blocks, uint8_t* out_u, uint8_t* out_v) {
  int k = 0;
  if (plane_size >= 4 && plane_size <= INT32_MAX) {
    const __m256i cw = _mm256_set1_epi32(chroma_width);
    const __m256i limit = _mm256_set1_epi32(static_cast<int>(plane_size - 4));
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    // Blocks come out in the order 0, 2, 4, 6, 1, 3, 5, 7; this puts them back.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i first_byte = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                                                12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    for (; k + 8 <= blocks; k += 8) {
      {
        const RemapEntry& pe = entries[2 * (k + kPrefetchAhead / 2 < blocks ? k + kPrefetchAhead / 2 : blocks - 1)];
        const uintptr_t off = static_cast<uintptr_t>(pe.y / 2) * chroma_width + pe.x / 2;
        _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(u) + off), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(v) + off), _MM_HINT_T0);
      }
      const float* e = reinterpret_cast<const float*>(entries + 2 * k);
      // Lanes hold entries 0 | 2, 4 | 6, 8 | 10, 12 | 14 (the odd entries are dropped).
      const __m256 a = _mm256_shuffle_ps(_mm256_loadu_ps(e), _mm256_loadu_ps(e + 8), _MM_SHUFFLE(1, 0, 1, 0));
      const __m256 b = _mm256_shuffle_ps(_mm256_loadu_ps(e + 16), _mm256_loadu_ps(e + 24), _MM_SHUFFLE(1, 0, 1, 0));
      const __m256i lo = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
      const __m256i hi = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
      const __m256i x = _mm256_srli_epi32(_mm256_and_si256(lo, low16), 1);
      const __m256i y = _mm256_srli_epi32(_mm256_and_si256(hi, low16), 1);
      const __m256i idx = _mm256_permutevar8x32_epi32(_mm256_add_epi32(_mm256_mullo_epi32(y, cw), x), order);
      if (!_mm256_testz_si256(_mm256_cmpgt_epi32(idx, limit), _mm256_cmpgt_epi32(idx, limit))) break;
      const __m256i gu =
          _mm256_shuffle_epi8(_mm256_i32gather_epi32(reinterpret_cast<const int*>(u), idx, 1), first_byte);
      const __m256i gv =
          _mm256_shuffle_epi8(_mm256_i32gather_epi32(reinterpret_cast<const int*>(v), idx, 1), first_byte);
      const __m128i ru = _mm_unpacklo_epi32(_mm256_castsi256_si128(gu), _mm256_extracti128_si256(gu, 1));
      const __m128i rv = _mm_unpacklo_epi32(_mm256_castsi256_si128(gv), _mm256_extracti128_si256(gv, 1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out_u + k), ru);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out_v + k), rv);
    }
  }
  for (; k < blocks; ++k) {
    const RemapEntry& e = entries[2 * k];
    const size_t i = static_cast<size_t>(e.y / 2) * chroma_width + e.x / 2;
    out_u[k] = u[i];
    out_v[k] = v[i];
  }
}

SPHEROLUX_AVX2 void MixAvx2(const uint8_t* a, const uint8_t* b, const uint8_t* wa, const uint8_t* wb, int n,
                            uint8_t* out) {
  int j = 0;
  const __m256i round = _mm256_set1_epi16(128);
  for (; j + 16 <= n; j += 16) {
    const __m256i va = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + j)));
    const __m256i vb = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + j)));
    const __m256i va_w = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(wa + j)));
    const __m256i vb_w = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(wb + j)));
    // At most 255 * 255 + 128: the 16-bit sums never wrap.
    __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(va, va_w), _mm256_mullo_epi16(vb, vb_w));
    sum = _mm256_srli_epi16(_mm256_add_epi16(sum, round), 8);
    const __m128i r = _mm_packus_epi16(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), r);
  }
  for (; j < n; ++j) out[j] = static_cast<uint8_t>((a[j] * wa[j] + b[j] * wb[j] + 128) >> 8);
}

constexpr BlendDsp kAvx2Dsp = {"avx2",         SamplePlaneAvx2, SamplePackedAvx2<3>, SamplePackedAvx2<4>,
                               PickChromaAvx2, MixAvx2};

}  // namespace

const BlendDsp* Avx2BlendDsp() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? &kAvx2Dsp : nullptr;
}

}  // namespace spherolux

#else

namespace spherolux {
const BlendDsp* Avx2BlendDsp() { return nullptr; }
}  // namespace spherolux

#endif
