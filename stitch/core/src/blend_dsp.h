// Row primitives under the blending kernels, one table per code path. The kernels call
// only these for per-pixel work, so a faster path replaces the table and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "stitch/blend.h"
#include "stitch/remap_entry.h"

namespace spherolux {

// Where a sampler may read: the source bytes [src, src + size). Vector paths load a few
// bytes beyond the two neighbours they need and fall back to scalar code near the end.
struct SampleSource {
  const uint8_t* src;
  ptrdiff_t stride;
  size_t size;
};

struct BlendDsp {
  const char* name;
  // out[j] = bilinear sample of one 8-bit channel through entries[j], j < n.
  void (*sample_plane)(const SampleSource& s, const RemapEntry* entries, int n, uint8_t* out);
  // The same for 3 and 4 bytes per pixel: n pixels, n * bpp bytes out.
  void (*sample_packed3)(const SampleSource& s, const RemapEntry* entries, int n, uint8_t* out);
  void (*sample_packed4)(const SampleSource& s, const RemapEntry* entries, int n, uint8_t* out);
  // Chroma of `blocks` 2 x 2 blocks through every second entry (the blocks' top-left
  // pixels): i = (e.y / 2) * chroma_stride + e.x / 2 of entries[2 k], out_u[k] = u[i] and
  // out_v[k] = v[i]. Both planes may be read in [0, plane_size) bytes.
  void (*pick_chroma)(const uint8_t* u, const uint8_t* v, size_t plane_size, int chroma_stride,
                      const RemapEntry* entries, int blocks, uint8_t* out_u, uint8_t* out_v);
  // out[j] = (a[j] * wa[j] + b[j] * wb[j] + 128) >> 8, j < n, with wa[j] + wb[j] <= 255.
  void (*mix)(const uint8_t* a, const uint8_t* b, const uint8_t* wa, const uint8_t* wb, int n, uint8_t* out);
};

// Columns [begin, end) of one output row and the entries behind them: a[i] feeds column
// begin + i alone, or mixed with b[i] as (A * wa + B * wb + 128) >> 8 when b is set. The
// weights are per column (wa, wb) or the same for the whole run (fa, fb, when wa is null).
struct SeamRun {
  int begin = 0;
  int end = 0;
  const RemapEntry* a = nullptr;
  const RemapEntry* b = nullptr;
  const uint8_t* wa = nullptr;
  const uint8_t* wb = nullptr;
  uint8_t fa = 0;
  uint8_t fb = 0;
  int WeightA(int i) const { return wa ? wa[i] : fa; }
  int WeightB(int i) const { return wa ? wb[i] : fb; }
};

// The runs of every row of an I420 panorama, left to right, as the I420 kernels below
// stitch them: an I420 block's chroma comes through the run holding its first column, at
// that column's entries and weights. Init refuses the maps the kernels refuse.
class I420Seams {
 public:
  I420Seams();
  ~I420Seams();
  bool Init(bool horizontal, const RemapEntry* first, const RemapEntry* second, int map_width, int map_height);
  int width() const;
  int height() const;
  void Row(int r, std::vector<SeamRun>* runs) const;

 private:
  struct Layout;
  std::unique_ptr<Layout> layout_;
};

const BlendDsp& ScalarBlendDsp();
// The AVX2 table, or null when the processor lacks AVX2 or the build has no such path.
const BlendDsp* Avx2BlendDsp();
// The fastest table this processor runs, chosen once.
const BlendDsp& ActiveBlendDsp();

// The kernels of blend.h over an explicit table, so that tests can run every path.
bool BlendHorizontalI420With(const BlendDsp& dsp, const I420View& src, int src_width, int src_height, uint8_t* dst,
                             const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                             int row_begin, int row_end);
bool BlendVerticalI420With(const BlendDsp& dsp, const I420View& src, int src_width, int src_height, uint8_t* dst,
                           const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                           int row_begin, int row_end);
bool BlendHorizontalI420With(const BlendDsp& dsp, const uint8_t* src, int src_width, int src_height, uint8_t* dst,
                             const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                             int row_begin, int row_end);
bool BlendVerticalI420With(const BlendDsp& dsp, const uint8_t* src, int src_width, int src_height, uint8_t* dst,
                           const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                           int row_begin, int row_end);
bool BlendHorizontalPackedWith(const BlendDsp& dsp, const uint8_t* src, int src_stride, int src_height,
                               int bytes_per_pixel, uint8_t* dst, const RemapEntry* first, const RemapEntry* second,
                               int map_width, int map_height, int row_begin, int row_end);
bool BlendVerticalPackedWith(const BlendDsp& dsp, const uint8_t* src, int src_stride, int src_height,
                             int bytes_per_pixel, uint8_t* dst, const RemapEntry* first, const RemapEntry* second,
                             int map_width, int map_height, int row_begin, int row_end);

}  // namespace spherolux
