#include "render/lens_split.h"

namespace spherolux::render {
namespace {

constexpr float kMargin = 1e-4f;

}  // namespace

LensTriangles SplitTrianglesByLens(const float* positions, const uint16_t* indices, int index_count) {
  const float edge = kSeamBandWidth / 2 + kMargin;
  LensTriangles out;
  for (int i = 0; i + 2 < index_count; i += 3) {
    bool all_a = true;
    bool all_b = true;
    for (int k = 0; k < 3; ++k) {
      const float x = positions[3 * indices[i + k]];
      all_a = all_a && x >= edge;
      all_b = all_b && x <= -edge;
    }
    std::vector<uint16_t>& list = all_a ? out.lens_a : all_b ? out.lens_b : out.band;
    list.insert(list.end(), indices + i, indices + i + 3);
  }
  return out;
}

}  // namespace spherolux::render
