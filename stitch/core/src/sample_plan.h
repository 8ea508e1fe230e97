// The remap maps of an I420 stitching context compiled for the per-frame work.
//
// The maps hold one 8-byte entry per map pixel in map order; the kernels over them find,
// for every group of eight output pixels, where the group lies in the source, whether it
// fits a few source rows and how to unpack its weights. None of that changes from frame to
// frame, so a SamplePlan does it once, in output order:
//
//   - every output row is a run of 8-pixel SampleGroups (the tail group of a row whose
//     width is not a multiple of 8 is padded with its last pixel, never written);
//   - a group whose pixels lie within 15 bytes of one column and on up to three
//     neighbouring rows ("near") stores its base position and an offset per pixel, and its
//     pixels come out of three or four 16-byte row loads; other groups ("far") keep every
//     pixel's position;
//   - the weights are stored as the word pairs the multiply-adds take;
//   - every second output row also has 8-block PickGroups for its chroma, the same way;
//   - the mixed columns at the seams keep their second samples in groups of their own
//     (MixRuns), with their weights.
//
// A plan gives the same bytes as the I420 kernels over the maps it was built from (see
// blend.h for the arithmetic); it is about 6 bytes per output pixel instead of the maps'
// 8 per map pixel. Near groups are only formed where their row loads stay inside a source
// of the plan's size with any row stride, so the kernels never check bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "blend_dsp.h"
#include "stitch/blend.h"
#include "stitch/remap_entry.h"

namespace spherolux {

// How a group finds its pixels: kFar, or near on two rows (kNear2) or three (kNear3).
enum : uint8_t { kFar = 0, kNear2 = 1, kNear3 = 2 };

// Where the eight pixels (or blocks) of a group are. Near: pixel j is at column
// x + dx[j], row y + (bit j of dy) + (bit j of dy2). Far: the positions are in the plan's
// `far` array at the index stored in dx[0..3], eight columns then eight rows.
struct GroupPlace {
  uint16_t x;
  uint16_t y;
  uint8_t dx[8];
  uint8_t dy;
  uint8_t dy2;
  uint8_t near;  // kFar, kNear2 or kNear3
  uint8_t unused;
};
static_assert(sizeof(GroupPlace) == 16, "GroupPlace must be 16 packed bytes");

// Eight output pixels: pixel j reads its place and its right neighbour there and on the
// row below.
struct SampleGroup {
  GroupPlace at;
  uint8_t wx[16];  // wx0, wx1 of pixel j at 2j, 2j + 1
  uint8_t wy[16];  // wy0, wy1 likewise
};
static_assert(sizeof(SampleGroup) == 48, "SampleGroup must be 48 packed bytes");

// Eight I420 blocks: the chroma sample of block j is at its place, in chroma rows and
// columns.
using PickGroup = GroupPlace;

// Columns [begin, end) of a row whose second samples are mixed in, and on even rows the
// blocks [block_begin, block_end) whose chroma is.
struct MixRun {
  int begin = 0;
  int end = 0;
  int block_begin = 0;
  int block_end = 0;
  size_t groups = 0;   // first of ceil((end - begin) / 8) groups
  size_t picks = 0;    // first of ceil((block_end - block_begin) / 8) pick groups
  size_t weights = 0;  // wa, then wb, per column; then wa, wb per block
};

struct SampleRow {
  size_t groups = 0;  // first of ceil(W / 8)
  size_t picks = 0;   // even rows: first of ceil(W / 16)
  size_t mixes = 0;   // first MixRun
  int mix_count = 0;
};

// Uninitialised memory for the large tables that every frame streams through: aligned to
// 2 MiB and marked for huge pages from that size on (a hint only), else 64-byte aligned.
// Null when memory runs out.
struct FreeLarge {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using LargeArray = std::unique_ptr<T[], FreeLarge>;
void* AllocateLarge(size_t bytes);
template <typename T>
LargeArray<T> AllocateLargeArray(size_t count) {
  return LargeArray<T>(static_cast<T*>(AllocateLarge(count * sizeof(T))));
}

struct SamplePlan {
  int width = 0;  // output
  int height = 0;
  int source_width = 0;
  int source_height = 0;
  std::vector<SampleRow> rows;
  std::vector<MixRun> mixes;
  LargeArray<SampleGroup> groups;
  LargeArray<PickGroup> picks;
  std::vector<uint16_t> far;
  std::vector<uint8_t> weights;
};

// Compiles the maps of an I420 layout (see I420Seams) for sources of source_width x
// source_height. `threads` threads share the work. False, leaving `plan` empty, when the
// layout is refused or memory runs out.
bool BuildSamplePlan(const I420Seams& seams, int source_width, int source_height, int threads, SamplePlan* plan);

// Row primitives over a plan, one table per code path (as BlendDsp).
struct PlanDsp {
  const char* name;
  // out[i] = the bilinear luma sample of pixel i of groups[0 .. ceil(n / 8)), i < n.
  void (*sample)(const SampleSource& s, const SampleGroup* groups, const uint16_t* far, int n, uint8_t* out);
  // out_u[i], out_v[i] = the chroma of block i of groups[0 .. ceil(n / 8)), i < n.
  void (*pick)(const uint8_t* u, const uint8_t* v, ptrdiff_t chroma_stride, const PickGroup* groups,
               const uint16_t* far, int n, uint8_t* out_u, uint8_t* out_v);
};

// The reference arithmetic for the first `count` pixels (blocks) of one group; the vector
// paths use these for far groups.
void SampleGroupScalar(const SampleSource& s, const SampleGroup& g, const uint16_t* far, int count, uint8_t* out);
void PickGroupScalar(const uint8_t* u, const uint8_t* v, ptrdiff_t chroma_stride, const PickGroup& g,
                     const uint16_t* far, int count, uint8_t* out_u, uint8_t* out_v);

const PlanDsp& ScalarPlanDsp();
const PlanDsp* Avx2PlanDsp();
const PlanDsp& ActivePlanDsp();

// Output rows [row_begin, row_end) (row_begin even, row_end even or H) of a W x H I420
// panorama `dst` from `src`, a frame of the plan's source size. False, writing nothing,
// when the rows or the source do not fit the plan.
bool RunSamplePlan(const PlanDsp& dsp, const BlendDsp& mix, const SamplePlan& plan, const I420View& src, uint8_t* dst,
                   int row_begin, int row_end);

}  // namespace spherolux
