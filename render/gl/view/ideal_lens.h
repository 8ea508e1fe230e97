// Sphere grids of an ideal equidistant fisheye (image radius proportional to the angle from
// the lens axis, circle inscribed in the frame or in each half of it), so that fisheye
// pictures can be viewed before a camera's calibration is at hand.
#pragma once

#include <vector>

namespace spherolux::render {

// One circle centred in a width x height frame, axis up: 49 rings x 181 columns.
std::vector<float> IdealSingleLensGrid(int width, int height, float field_degrees);

// Two circles side by side (front lens left, back lens right, the back picture turned by
// half a turn), 52 rings x 181 columns each; table B starts at 78 degrees from the front axis.
void IdealDualLensGrids(int width, int height, float field_degrees, std::vector<float>& table_a,
                        std::vector<float>& table_b);

}  // namespace spherolux::render
