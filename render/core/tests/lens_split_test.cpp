#include "render/lens_split.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "render/shape_model.h"

namespace spherolux::render {
namespace {

using Triangle = std::array<uint16_t, 3>;

std::vector<Triangle> Triangles(const uint16_t* indices, size_t count) {
  std::vector<Triangle> out;
  for (size_t i = 0; i + 2 < count; i += 3) out.push_back({indices[i], indices[i + 1], indices[i + 2]});
  return out;
}

TEST(LensSplitTest, TwoLensSphereKeepsOnlyTheRowsAroundTheSeamForTheBlend) {
  CBallModel ball(1);
  const std::vector<float> table(52 * kGridTableRowFloats, 5.0f);
  ball.GenerateMesh(table.data(), static_cast<int>(table.size()), 2000, 1000, table.data());
  const LensTriangles split = SplitTrianglesByLens(ball.positions(), ball.indices(), ball.index_count());

  // Rows lie 2 degrees of polar angle apart from lens A's axis, x = cos(angle). The band
  // |x| < 0.055 lies between 86.8 and 93.2 degrees, inside the cells of rows 43-46 (86 to 94
  // degrees); each row of cells holds 2 x 180 triangles. Above it rows 0-42 show lens A alone;
  // below it rows 47-90 (the last one closing on the pole) show lens B alone.
  EXPECT_EQ(split.lens_a.size(), 43u * 360 * 3);
  EXPECT_EQ(split.band.size(), 4u * 360 * 3);
  EXPECT_EQ(split.lens_b.size(), 44u * 360 * 3);

  // Every triangle of the mesh is drawn exactly once.
  std::vector<Triangle> all = Triangles(ball.indices(), static_cast<size_t>(ball.index_count()));
  std::vector<Triangle> parts;
  for (const auto* list : {&split.lens_a, &split.band, &split.lens_b}) {
    const std::vector<Triangle> t = Triangles(list->data(), list->size());
    parts.insert(parts.end(), t.begin(), t.end());
  }
  std::sort(all.begin(), all.end());
  std::sort(parts.begin(), parts.end());
  EXPECT_EQ(parts, all);
}

TEST(LensSplitTest, ACornerAtTheBandEdgeKeepsTheTriangleInTheBlend) {
  // x of the corners: a triangle touching the band edge (0.055) is blended; one just past
  // the edge on either side shows one lens.
  const float positions[] = {
      0.055f,  0, 0,  // 0: on the edge
      0.2f,    0, 0,  // 1
      0.3f,    0, 0,  // 2
      0.056f,  0, 0,  // 3: just past it, lens A's side
      -0.055f, 0, 0,  // 4: on the other edge
      -0.2f,   0, 0,  // 5
      -0.056f, 0, 0,  // 6: just past it, lens B's side
  };
  const uint16_t indices[] = {0, 1, 2, 3, 1, 2, 4, 5, 5, 6, 5, 5};
  const LensTriangles split = SplitTrianglesByLens(positions, indices, 12);
  EXPECT_EQ(split.band, (std::vector<uint16_t>{0, 1, 2, 4, 5, 5}));
  EXPECT_EQ(split.lens_a, (std::vector<uint16_t>{3, 1, 2}));
  EXPECT_EQ(split.lens_b, (std::vector<uint16_t>{6, 5, 5}));
}

}  // namespace
}  // namespace spherolux::render
