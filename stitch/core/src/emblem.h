// The project's nadir emblem, 256 x 256, drawn by tools/make_emblem.cpp at build time:
// kEmblemI420 (luma, then two 128 x 128 chroma planes) and kEmblemBgra (B, G, R, A).
#pragma once

#include <cstdint>

namespace spherolux {

inline constexpr int kEmblemSize = 256;

#include "stitch_emblem_data.inc"

}  // namespace spherolux
