// Bilinear samples of one picture plane along a row of positions: the inner loop of the flat
// view. Positions are 16.16 fixed point in the full panorama's pixels (pixel centres at +0.5),
// u within [0, panorama width); `shift` 1 halves them for the chroma planes. Columns wrap
// across the plane's left and right edges and rows are clamped at the top and bottom.
#pragma once

#include <cstdint>

namespace spherolux::reframe {

struct PlaneRef {
  const uint8_t* data;
  int stride;  // bytes per row, at least `width`
  int width, height;
};

using SampleRowFn = void (*)(const PlaneRef& plane, const int32_t* u, const int32_t* v, int n, int shift, uint8_t* out);

// The reference.
void SampleRowScalar(const PlaneRef& plane, const int32_t* u, const int32_t* v, int n, int shift, uint8_t* out);

// The same bytes eight at a time with AVX2; null when the processor lacks it.
SampleRowFn SampleRowAvx2();

// The fastest of the two.
SampleRowFn ActiveSampleRow();

}  // namespace spherolux::reframe
