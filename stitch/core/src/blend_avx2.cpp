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

#include "base/system.h"

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

// Asks for the map entries a later step will read. The maps are far larger than the caches
// and are read once per frame; the address is formed as an integer since it may lie past
// the row's end (prefetches never fault).
inline void PrefetchEntries(const RemapEntry* entries, int j) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(entries) + j * sizeof(RemapEntry)),
               _MM_HINT_T0);
}

// How far ahead (entries) the samplers prefetch map entries: 2 KiB, measured a little
// better than 1 KiB.
constexpr int kEntriesAhead = 256;

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

// Sixteen bytes at p in both 128-bit lanes.
SPHEROLUX_AVX2 inline __m256i BroadcastRow(const uint8_t* p) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Most groups of eight neighbouring entries address a few adjacent pixels on one or two
// source rows. For such a group (every x within 15 bytes of the group's base column xb and
// every y the base row yb or the next), the neighbour pairs come out of three 16-byte row
// loads by byte shuffles instead of gathers. x and y hold the entries' coordinates in
// dwords; n0 and n1 receive (p[y][x], p[y][x + 1]) and (p[y + 1][x], p[y + 1][x + 1]) as
// word pairs. Returns false, touching nothing, when the group does not fit or the three
// loads could pass the end of the source.
SPHEROLUX_AVX2 inline bool CoherentPairs(const SampleSource& s, const RemapEntry* group, __m256i x, __m256i y,
                                         __m256i* n0, __m256i* n1) {
  const int xb = group[0].x < group[7].x ? group[0].x : group[7].x;
  const int yb = group[0].y < group[7].y ? group[0].y : group[7].y;
  const __m256i dx = _mm256_sub_epi32(x, _mm256_set1_epi32(xb));
  const __m256i dy = _mm256_sub_epi32(y, _mm256_set1_epi32(yb));
  // dx in [0, 14] and dy in [0, 1], compared as unsigned so that negative ones fail too.
  const __m256i fits = _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_min_epu32(dx, _mm256_set1_epi32(14)), dx),
                                        _mm256_cmpeq_epi32(_mm256_min_epu32(dy, _mm256_set1_epi32(1)), dy));
  if (_mm256_movemask_epi8(fits) != -1) return false;
  const int64_t base = static_cast<int64_t>(yb) * s.stride + xb;
  if (base < 0 || base + 2 * s.stride + 16 > static_cast<int64_t>(s.size)) return false;
  const uint8_t* p = s.src + base;
  const __m256i r0 = BroadcastRow(p);
  const __m256i r1 = BroadcastRow(p + s.stride);
  const __m256i r2 = BroadcastRow(p + 2 * s.stride);
  // Byte indices dx, none, dx + 1, none per dword (pshufb zeroes a byte whose index has
  // the top bit set); dx <= 14 keeps the additions from carrying.
  const __m256i idx = _mm256_add_epi32(_mm256_or_si256(dx, _mm256_slli_epi32(dx, 16)), _mm256_set1_epi32(0x80018000));
  const __m256i lower = _mm256_cmpeq_epi32(dy, _mm256_set1_epi32(1));
  const __m256i a0 = _mm256_shuffle_epi8(r0, idx);
  const __m256i a1 = _mm256_shuffle_epi8(r1, idx);
  const __m256i a2 = _mm256_shuffle_epi8(r2, idx);
  *n0 = _mm256_blendv_epi8(a0, a1, lower);
  *n1 = _mm256_blendv_epi8(a1, a2, lower);
  return true;
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
      PrefetchEntries(entries, j + kEntriesAhead);
      __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries + j));
      __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries + j + 4));
      a = _mm256_permutevar8x32_epi32(a, perm);
      b = _mm256_permutevar8x32_epi32(b, perm);
      const __m256i lo = _mm256_permute2x128_si256(a, b, 0x20);  // x | wx0 << 16 | wx1 << 24
      const __m256i hi = _mm256_permute2x128_si256(a, b, 0x31);  // y | wy0 << 16 | wy1 << 24
      const __m256i x = _mm256_blend_epi16(lo, zero, 0xAA);
      const __m256i y = _mm256_blend_epi16(hi, zero, 0xAA);
      // The two upper neighbours (and the two lower ones) of each pixel as a word pair.
      __m256i n0, n1;
      if (!CoherentPairs(s, entries + j, x, y, &n0, &n1)) {
        const __m256i off = _mm256_add_epi32(_mm256_mullo_epi32(y, stride), x);
        if (!_mm256_testz_si256(_mm256_cmpgt_epi32(off, limit), _mm256_cmpgt_epi32(off, limit))) {
          for (int k = 0; k < 8; ++k) SamplePlaneOne(s, entries[j + k], out + j + k);
          continue;
        }
        const __m256i g0 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(s.src), off, 1);
        const __m256i g1 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(s.src + s.stride), off, 1);
        n0 = _mm256_shuffle_epi8(g0, lo_pair);
        n1 = _mm256_shuffle_epi8(g1, lo_pair);
      }
      const __m256i wx = _mm256_shuffle_epi8(lo, hi_pair);
      const __m256i top = _mm256_sub_epi32(_mm256_madd_epi16(n0, wx), bias);
      const __m256i bot = _mm256_sub_epi32(_mm256_madd_epi16(n1, wx), bias);
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

// The 4-byte counterpart of CoherentPairs for four entries (x, y in dwords): when every x
// lies within 6 pixels of the base column xb and every y on the base row yb or the next,
// each pixel's two upper (g0) and two lower (g1) neighbours, 8 bytes each in entry order,
// are picked out of three 32-byte row loads. Returns false, touching nothing, otherwise.
SPHEROLUX_AVX2 inline bool CoherentPixels4(const SampleSource& s, const RemapEntry* group, __m128i x, __m128i y,
                                           __m256i* g0, __m256i* g1) {
  const int xb = group[0].x < group[3].x ? group[0].x : group[3].x;
  const int yb = group[0].y < group[3].y ? group[0].y : group[3].y;
  const __m128i dx = _mm_sub_epi32(x, _mm_set1_epi32(xb));
  const __m128i dy = _mm_sub_epi32(y, _mm_set1_epi32(yb));
  const __m128i fits = _mm_and_si128(_mm_cmpeq_epi32(_mm_min_epu32(dx, _mm_set1_epi32(6)), dx),
                                     _mm_cmpeq_epi32(_mm_min_epu32(dy, _mm_set1_epi32(1)), dy));
  if (_mm_movemask_epi8(fits) != 0xFFFF) return false;
  const int64_t base = static_cast<int64_t>(yb) * s.stride + static_cast<int64_t>(xb) * 4;
  if (base < 0 || base + 2 * s.stride + 32 > static_cast<int64_t>(s.size)) return false;
  const uint8_t* p = s.src + base;
  const __m256i r0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i r1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + s.stride));
  const __m256i r2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2 * s.stride));
  // Dword indices dx, dx + 1 for each pixel, and its row choice widened to 64 bits.
  const __m256i d = _mm256_cvtepu32_epi64(dx);
  const __m256i idx =
      _mm256_add_epi32(_mm256_or_si256(d, _mm256_slli_epi64(d, 32)), _mm256_setr_epi32(0, 1, 0, 1, 0, 1, 0, 1));
  const __m256i lower = _mm256_cvtepi32_epi64(_mm_cmpeq_epi32(dy, _mm_set1_epi32(1)));
  const __m256i a0 = _mm256_permutevar8x32_epi32(r0, idx);
  const __m256i a1 = _mm256_permutevar8x32_epi32(r1, idx);
  const __m256i a2 = _mm256_permutevar8x32_epi32(r2, idx);
  *g0 = _mm256_blendv_epi8(a0, a1, lower);
  *g1 = _mm256_blendv_epi8(a1, a2, lower);
  return true;
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
      if (j % 8 == 0) {
        PrefetchSource(s, entries, j + kPrefetchAhead, n, kBpp);
        PrefetchEntries(entries, j + kEntriesAhead);
      }
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
      __m256i g0, g1;
      if (kBpp != 4 || !CoherentPixels4(s, entries + j, x, y, &g0, &g1)) {
        g0 = _mm256_i32gather_epi64(reinterpret_cast<const long long*>(s.src), off, 1);
        g1 = _mm256_i32gather_epi64(reinterpret_cast<const long long*>(s.src + s.stride), off, 1);
      }
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

// The chroma counterpart of CoherentPairs: when the eight blocks' chroma positions (x, y
// in dwords, in block order) lie within 16 bytes of one chroma row or the next, both
// planes are read with two 16-byte loads each. gu and gv receive each block's sample in
// the low byte of its dword. Returns false, touching nothing, otherwise.
SPHEROLUX_AVX2 inline bool CoherentChroma(const uint8_t* u, const uint8_t* v, size_t plane_size, int chroma_stride,
                                          const RemapEntry* entries, __m256i x, __m256i y, __m256i* gu, __m256i* gv) {
  const int xb = (entries[0].x < entries[14].x ? entries[0].x : entries[14].x) / 2;
  const int yb = (entries[0].y < entries[14].y ? entries[0].y : entries[14].y) / 2;
  const __m256i dx = _mm256_sub_epi32(x, _mm256_set1_epi32(xb));
  const __m256i dy = _mm256_sub_epi32(y, _mm256_set1_epi32(yb));
  const __m256i fits = _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_min_epu32(dx, _mm256_set1_epi32(15)), dx),
                                        _mm256_cmpeq_epi32(_mm256_min_epu32(dy, _mm256_set1_epi32(1)), dy));
  if (_mm256_movemask_epi8(fits) != -1) return false;
  const int64_t base = static_cast<int64_t>(yb) * chroma_stride + xb;
  if (base < 0 || base + chroma_stride + 16 > static_cast<int64_t>(plane_size)) return false;
  const __m256i idx = _mm256_or_si256(dx, _mm256_set1_epi32(static_cast<int>(0x80808000u)));
  const __m256i lower = _mm256_cmpeq_epi32(dy, _mm256_set1_epi32(1));
  *gu = _mm256_blendv_epi8(_mm256_shuffle_epi8(BroadcastRow(u + base), idx),
                           _mm256_shuffle_epi8(BroadcastRow(u + base + chroma_stride), idx), lower);
  *gv = _mm256_blendv_epi8(_mm256_shuffle_epi8(BroadcastRow(v + base), idx),
                           _mm256_shuffle_epi8(BroadcastRow(v + base + chroma_stride), idx), lower);
  return true;
}

// Eight blocks per step: the top-left entries are every second one of sixteen.
SPHEROLUX_AVX2 void PickChromaAvx2(const uint8_t* u, const uint8_t* v, size_t plane_size, int chroma_stride,
                                   const RemapEntry* entries, int blocks, uint8_t* out_u, uint8_t* out_v) {
  int k = 0;
  if (plane_size >= 4 && plane_size <= INT32_MAX) {
    const __m256i cw = _mm256_set1_epi32(chroma_stride);
    const __m256i limit = _mm256_set1_epi32(static_cast<int>(plane_size - 4));
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    // Blocks come out in the order 0, 2, 4, 6, 1, 3, 5, 7; this puts them back.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i first_byte = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                                                12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    for (; k + 8 <= blocks; k += 8) {
      {
        const RemapEntry& pe = entries[2 * (k + kPrefetchAhead / 2 < blocks ? k + kPrefetchAhead / 2 : blocks - 1)];
        const uintptr_t off = static_cast<uintptr_t>(pe.y / 2) * chroma_stride + pe.x / 2;
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
      __m256i gu, gv;
      if (!CoherentChroma(u, v, plane_size, chroma_stride, entries + 2 * k, _mm256_permutevar8x32_epi32(x, order),
                          _mm256_permutevar8x32_epi32(y, order), &gu, &gv)) {
        const __m256i idx = _mm256_permutevar8x32_epi32(_mm256_add_epi32(_mm256_mullo_epi32(y, cw), x), order);
        if (!_mm256_testz_si256(_mm256_cmpgt_epi32(idx, limit), _mm256_cmpgt_epi32(idx, limit))) break;
        gu = _mm256_i32gather_epi32(reinterpret_cast<const int*>(u), idx, 1);
        gv = _mm256_i32gather_epi32(reinterpret_cast<const int*>(v), idx, 1);
      }
      gu = _mm256_shuffle_epi8(gu, first_byte);
      gv = _mm256_shuffle_epi8(gv, first_byte);
      const __m128i ru = _mm_unpacklo_epi32(_mm256_castsi256_si128(gu), _mm256_extracti128_si256(gu, 1));
      const __m128i rv = _mm_unpacklo_epi32(_mm256_castsi256_si128(gv), _mm256_extracti128_si256(gv, 1));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out_u + k), ru);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out_v + k), rv);
    }
  }
  for (; k < blocks; ++k) {
    const RemapEntry& e = entries[2 * k];
    const size_t i = static_cast<size_t>(e.y / 2) * chroma_stride + e.x / 2;
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

const BlendDsp* Avx2BlendDsp() { return CpuHasAvx2() ? &kAvx2Dsp : nullptr; }

}  // namespace spherolux

#else

namespace spherolux {
const BlendDsp* Avx2BlendDsp() { return nullptr; }
}  // namespace spherolux

#endif
