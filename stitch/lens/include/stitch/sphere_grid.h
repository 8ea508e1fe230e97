// Sphere grids: the texture grids through which the player draws unstitched frames.
#pragma once

#include <cstddef>

#include "calib/camera_para.h"

namespace spherolux {

// Dual-lens grids: 52 rings x 181 points of (x, y) floats in source-frame pixels.
constexpr int kGridColumns = 181;
constexpr int kGridRings = 52;
constexpr size_t kGridFloats = 2 * kGridColumns * kGridRings;  // 18824 floats, 75,296 bytes

// Fills table A (lens 1) and table B (lens 2), each kGridFloats floats, allocated by the
// caller. The caller checks W == 2 * H.
void BuildSphereGrids(const DoubleFisheyeCameraPara& para, int width, int height, int columns, int rings,
                      bool generation, float* table_a, float* table_b);

// Single-lens grid: (rings + 1) x (columns + 1) points of (x, y) floats.
void BuildSingleLensGrid(int width, int height, int columns, int rings, float center_x, float center_y,
                         float fov_degrees, float radius, float* grid);

}  // namespace spherolux
