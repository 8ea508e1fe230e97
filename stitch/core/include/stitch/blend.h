// Seam blending kernels: sample a dual-fisheye frame through the two remap maps of a
// panorama and mix the lenses with a fixed linear ramp across each seam.
//
// Horizontal kernels (lens axes on the equator, rotations 0 and 180): both maps are
// Wm x Hm, the output is W x H with H = Hm and W = 2 * H. The first map (lens 2) fills
// the outer columns around column 0, the second map (lens 1) the middle, centred on
// column H. The ramp is min(Wm - H, cap) columns wide at each seam, cap 48 for I420 and
// 80 for packed pixels (rounded down to an even width).
//
// Vertical kernels (lens axes on the poles, rotations 90 and 270): both maps are W x Hm,
// the output is W x H with H = W / 2. The first map fills the top rows, the second map the
// bottom rows, mixed over min(2 * Hm - H, 48) rows (rounded down to an even count) around
// row W / 4.
//
// Every output pixel is a bilinear sample with 8-bit weights summing to 255 and 16.16
// integer accumulation; a flat area of value v therefore comes out as
// (v * 255 * 255 + 32768) >> 16 (255 -> 253). I420 output is produced in 2 x 2 blocks:
// segment boundaries are rounded up to even columns or rows, and a block's two chroma
// samples are read without interpolation through the entry of its top-left pixel.
//
// Map entries are trusted: every entry must address a pixel whose right and lower
// neighbours are inside the source (0 <= x <= width - 2, 0 <= y <= height - 2) and carry
// weight pairs summing to 255 (wx0 = 255 - wx1, wy0 = 255 - wy1), as the map builder
// guarantees; the vector path relies on both. Map sizes and row ranges are checked: a kernel that returns
// false has written nothing. The kernels are pure and may run on any thread; callers
// split a frame into disjoint row ranges to stitch it on several threads, and the output
// does not depend on the split.
#pragma once

#include <cstdint>

#include "stitch/remap_entry.h"

namespace spherolux {

constexpr int kBlendCapI420 = 48;
constexpr int kBlendCapPacked = 80;
constexpr int kBlendCapVertical = 48;

// Output rows [begin, end) to produce. For I420, begin must be even and end even or H.
struct RowRange {
  int begin = 0;
  int end = 0x7fffffff;  // clamped to the output height
};

// Row stride of packed pixels: width * 3 rounded up to a multiple of 4 for 3 bytes per
// pixel, width * 4 for 4 bytes per pixel.
inline int PackedRowStride(int width, int bytes_per_pixel) {
  return bytes_per_pixel == 3 ? (width * 3 + 3) / 4 * 4 : width * bytes_per_pixel;
}

// An I420 source frame as three separate planes, as a video decoder hands them out: a
// src_width x src_height luma plane whose rows lie y_stride bytes apart, and two
// src_width / 2 x src_height / 2 chroma planes whose rows lie uv_stride bytes apart. The
// strides are at least the plane widths; the bytes between a row's end and the next row
// may be anything. Only the planes' rows are read: nothing past the last row's width.
struct I420View {
  const uint8_t* y = nullptr;
  const uint8_t* u = nullptr;
  const uint8_t* v = nullptr;
  int y_stride = 0;
  int uv_stride = 0;
};

// The view of a back-to-back I420 frame: the luma plane (stride width), then both chroma
// planes (stride width / 2).
I420View BackToBackI420(const uint8_t* src, int width, int height);

// I420 source: src_width x src_height (both even) as a view or back to back in one buffer.
// Output: W x H luma, then two W / 2 x H / 2 chroma planes, allocated by the caller. A view
// with a null plane or a stride below its plane's width is refused.
bool BlendHorizontalI420(const I420View& src, int src_width, int src_height, uint8_t* dst, const RemapEntry* first,
                         const RemapEntry* second, int map_width, int map_height, RowRange rows = {});
bool BlendVerticalI420(const I420View& src, int src_width, int src_height, uint8_t* dst, const RemapEntry* first,
                       const RemapEntry* second, int map_width, int map_height, RowRange rows = {});
bool BlendHorizontalI420(const uint8_t* src, int src_width, int src_height, uint8_t* dst, const RemapEntry* first,
                         const RemapEntry* second, int map_width, int map_height, RowRange rows = {});
bool BlendVerticalI420(const uint8_t* src, int src_width, int src_height, uint8_t* dst, const RemapEntry* first,
                       const RemapEntry* second, int map_width, int map_height, RowRange rows = {});

// Packed source of src_height rows of src_stride bytes, 3 or 4 bytes per pixel, every
// byte treated alike. Output rows of PackedRowStride(W, bytes_per_pixel) bytes.
bool BlendHorizontalPacked(const uint8_t* src, int src_stride, int src_height, int bytes_per_pixel, uint8_t* dst,
                           const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                           RowRange rows = {});
bool BlendVerticalPacked(const uint8_t* src, int src_stride, int src_height, int bytes_per_pixel, uint8_t* dst,
                         const RemapEntry* first, const RemapEntry* second, int map_width, int map_height,
                         RowRange rows = {});

// Name of the per-pixel code path chosen for this processor ("scalar" or "avx2").
const char* BlendCodePath();

}  // namespace spherolux
