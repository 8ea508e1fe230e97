// The triangles of a mesh sorted by what the seam's cross-fade does with them.
//
// The renderer draws a two-lens frame by fading from lens A to lens B across a band around the
// mesh's plane x = 0 (x on the lens axis): lens B's weight is clamp(0.5 - x / kSeamBandWidth,
// 0, 1), which is 0 for x >= kSeamBandWidth / 2 and 1 for x <= -kSeamBandWidth / 2. Since x
// is interpolated linearly across a triangle, a triangle whose three corners lie on the same
// side beyond the band shows one lens alone wherever it is drawn. Drawing those triangles with
// a one-lens shader reads half the texels of the blend and gives the same picture; only the
// triangles that reach into the band need both lenses.
#pragma once

#include <cstdint>
#include <vector>

namespace spherolux::render {

// Width of the cross-fade band in mesh units (the blend shader's constant).
inline constexpr float kSeamBandWidth = 0.11f;

struct LensTriangles {
  std::vector<uint16_t> lens_a;  // all corners at x >= band edge: lens A alone
  std::vector<uint16_t> lens_b;  // all corners at x <= -band edge: lens B alone
  std::vector<uint16_t> band;    // the rest: both lenses, cross-faded
};

// Sorts the triangles of `indices` (index_count / 3 triangles of vertex numbers into
// `positions`, 3 floats per vertex) into the three lists, each triangle once and in its
// order. A corner counts as beyond the band only with a small margin, so that the rounding of
// a GPU's interpolation never puts a one-lens triangle's pixel inside the band.
LensTriangles SplitTrianglesByLens(const float* positions, const uint16_t* indices, int index_count);

}  // namespace spherolux::render
