// Per-pixel entry of a photo remap map: integer source position and 8-bit bilinear
// weights. Eight bytes, packed, in this order.
#pragma once

#include <cstdint>

namespace spherolux {

struct RemapEntry {
  int16_t x;    // source column (left neighbour)
  uint8_t wx0;  // weight of column x, 255 - fx
  uint8_t wx1;  // weight of column x + 1, fx
  int16_t y;    // source row (upper neighbour)
  uint8_t wy0;  // weight of row y, 255 - fy
  uint8_t wy1;  // weight of row y + 1, fy
};
static_assert(sizeof(RemapEntry) == 8, "RemapEntry must be 8 packed bytes");

}  // namespace spherolux
