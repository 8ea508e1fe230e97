// Planar YUV 4:2:0 pictures, the colour their coding states, and their conversion to RGB.
//
// The weights (YuvToRgbWeights) are the one statement of the conversion: the renderer's
// shaders turn them into a matrix, and YuvToBgra applies them on the processor in 14-bit
// fixed point:
//   Y' = (Y - y0) * round(y_scale 2^14) + 2^13          y0 = 16 in studio range, else 0
//   R = clamp((Y' + round(r_v 2^14) (V - 128)) >> 14, 0, 255)
//   G = clamp((Y' + round(g_u 2^14) (U - 128) + round(g_v 2^14) (V - 128)) >> 14, 0, 255)
//   B = clamp((Y' + round(b_u 2^14) (U - 128)) >> 14, 0, 255)
// Each chroma sample serves the 2 x 2 pixels it was coded for. The arithmetic is integer and
// exactly defined: every kernel gives the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace spherolux::render {

// How a picture's luma and colour differences turn into RGB: the matrix of the standard the
// video was coded for, and whether the values span 0-255 or the studio range (luma 16-235,
// colour differences 16-240).
enum class YuvMatrix : int { kBt601 = 0, kBt709 = 1, kBt2020 = 2 };
struct YuvColour {
  YuvMatrix matrix = YuvMatrix::kBt709;
  bool full_range = false;
};

// A decoded picture in planar YUV 4:2:0: planes[0] the luma of width x height bytes,
// planes[1] and planes[2] the U and V of ceil(width / 2) x ceil(height / 2) bytes; each
// plane's rows top first, pitches[i] bytes apart. The planes are borrowed for the draw only.
struct YuvPicture {
  const uint8_t* planes[3] = {};
  int pitches[3] = {};
  int width = 0;
  int height = 0;
  YuvColour colour;
};

// Where a renderer turns planar YUV pictures into RGB: kAuto converts them on the processor
// (YuvToBgra) when the GL driver is a software rasteriser and the processor has AVX2, and
// leaves them to the shaders otherwise; the others choose one way whatever the driver.
enum class YuvConversion : int { kAuto = 0, kShader = 1, kProcessor = 2 };

// RGB from YUV read as 0..1 values: R = Y' + r_v V', G = Y' + g_u U' + g_v V',
// B = Y' + b_u U', with Y' = (Y - y_offset) y_scale and U', V' = U, V - 128/255.
struct YuvWeights {
  float y_scale;
  float y_offset;
  float r_v;
  float g_u;
  float g_v;
  float b_u;
};
YuvWeights YuvToRgbWeights(const YuvColour& colour);

// Converts `picture` (width, height > 0) into 32-bit pixels with the bytes B, G, R, 255,
// rows top first, row y at dst + y * dst_stride.
using YuvToBgraFn = void (*)(const YuvPicture& picture, uint8_t* dst, ptrdiff_t dst_stride);
// The reference in plain C++.
void YuvToBgraScalar(const YuvPicture& picture, uint8_t* dst, ptrdiff_t dst_stride);
// The same bytes with AVX2; callable only when CpuHasAvx2() (base/system.h).
void YuvToBgraAvx2(const YuvPicture& picture, uint8_t* dst, ptrdiff_t dst_stride);
// The fastest of the two on this processor, chosen once.
void YuvToBgra(const YuvPicture& picture, uint8_t* dst, ptrdiff_t dst_stride);

namespace yuv {

// The fixed-point form of YuvToRgbWeights.
struct FixedWeights {
  int y_scale;
  int y_offset;
  int r_v;
  int g_u;
  int g_v;
  int b_u;
};
FixedWeights ToFixed(const YuvColour& colour);

// Converts pixels [x0, x1) of row y of `picture` into dst (the row's first pixel). Shared by
// both kernels: the AVX2 one leaves it the pixels beyond its last whole block.
void RowScalar(const YuvPicture& picture, const FixedWeights& w, int y, int x0, int x1, uint8_t* dst);

}  // namespace yuv
}  // namespace spherolux::render
