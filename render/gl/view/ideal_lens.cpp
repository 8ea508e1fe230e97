#include "ideal_lens.h"

#include <algorithm>
#include <cmath>

namespace spherolux::render {
namespace {

constexpr double kDegrees = 3.14159265358979323846 / 180.0;

void Push(std::vector<float>& grid, double cx, double cy, double radius, double angle, double half_field,
          double azimuth_degrees) {
  const double rho = radius * angle / half_field;
  grid.push_back(static_cast<float>(cx + rho * std::cos(azimuth_degrees * kDegrees)));
  grid.push_back(static_cast<float>(cy - rho * std::sin(azimuth_degrees * kDegrees)));
}

}  // namespace

std::vector<float> IdealSingleLensGrid(int width, int height, float field_degrees) {
  std::vector<float> grid;
  const double radius = std::min(width, height) / 2.0;
  for (int ring = 0; ring < 49; ++ring) {
    // Column c of the cap lies at azimuth 2c - 90 degrees around its axis.
    for (int c = 0; c < 181; ++c)
      Push(grid, width / 2.0, height / 2.0, radius, 2.0 * ring, field_degrees / 2.0, 2.0 * c - 90.0);
  }
  return grid;
}

void IdealDualLensGrids(int width, int height, float field_degrees, std::vector<float>& table_a,
                        std::vector<float>& table_b) {
  table_a.clear();
  table_b.clear();
  const double radius = height / 2.0;
  const double half = field_degrees / 2.0;
  for (int ring = 0; ring < 52; ++ring) {
    for (int c = 0; c < 181; ++c) {
      Push(table_a, width / 4.0, height / 2.0, radius, 2.0 * ring, half, 2.0 * c);
      // Sphere row 39 + ring, seen from the back lens: 180 degrees minus that from its axis.
      Push(table_b, width * 3.0 / 4.0, height / 2.0, radius, 180.0 - 2.0 * (39 + ring), half, -2.0 * c);
    }
  }
}

}  // namespace spherolux::render
