#include <gtest/gtest.h>

#include <vector>

#include "render/shape_model.h"

namespace spherolux::render {
namespace {

constexpr int kColumns = 181;
constexpr int kLayerColumns = 91;

// Single-lens grid of 49 rows: point (r, c) is (c mod 180, r) pixels, so with a 1 x 1 frame
// the texture coordinate is the grid position itself.
std::vector<float> Grid() {
  std::vector<float> table;
  for (int r = 0; r < 49; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      table.push_back(static_cast<float>(c % 180));
      table.push_back(static_cast<float>(r));
    }
  }
  return table;
}

struct Uv {
  float u;
  float v;
};

Uv UvAt(const CLayerModel& layer, int k, int l) {
  const float* uv = layer.uv_a() + 2 * (k * kLayerColumns + l);
  return {uv[0], uv[1]};
}

class LayerModelTest : public testing::Test {
 protected:
  void SetUp() override {
    grid_ = Grid();
    layer_.GenerateMesh(grid_.data(), static_cast<int>(grid_.size()), 1, 1, nullptr);
    layer_.TakeUvDirty();
  }

  std::vector<float> grid_;
  CLayerModel layer_{1000.0f};
};

TEST_F(LayerModelTest, TwoStripsFromRowsNineToFortyEight) {
  EXPECT_EQ(layer_.fov(), 80.0f);
  // Upper strip (k <= 39): grid row k + 9, columns 0-90; lower strip: row k - 31, columns 90-180.
  EXPECT_EQ(UvAt(layer_, 0, 0).u, 0.0f);
  EXPECT_EQ(UvAt(layer_, 0, 0).v, 9.0f);
  EXPECT_EQ(UvAt(layer_, 39, 90).u, 90.0f);
  EXPECT_EQ(UvAt(layer_, 39, 90).v, 48.0f);
  EXPECT_EQ(UvAt(layer_, 40, 0).u, 90.0f);
  EXPECT_EQ(UvAt(layer_, 40, 0).v, 9.0f);
  EXPECT_EQ(UvAt(layer_, 79, 89).u, 179.0f);
  EXPECT_EQ(UvAt(layer_, 79, 90).u, 0.0f);  // column 180 repeats column 0
  EXPECT_EQ(UvAt(layer_, 79, 90).v, 48.0f);

  const float* p = layer_.positions();
  EXPECT_FLOAT_EQ(p[0], 0.465f);  // -(0 - 45) / 90 * 0.93
  EXPECT_FLOAT_EQ(p[1], -39.0f / 80.0f);
  EXPECT_EQ(p[2], 0.0f);
  // Rows 39 and 40 both lie on y = 0.
  EXPECT_EQ(p[3 * (39 * kLayerColumns) + 1], 0.0f);
  EXPECT_EQ(p[3 * (40 * kLayerColumns) + 1], 0.0f);
  EXPECT_FLOAT_EQ(p[3 * (79 * kLayerColumns + 90)], -0.465f);
  EXPECT_FLOAT_EQ(p[3 * (79 * kLayerColumns + 90) + 1], 39.0f / 80.0f);
}

TEST_F(LayerModelTest, IgnoresMissingOrShortGridAndKeepsItsMesh) {
  const std::vector<float> before(layer_.uv_a(), layer_.uv_a() + layer_.vertex_count() * 2);
  layer_.SetFovRaw(85.0f);
  layer_.GenerateMesh(grid_.data(), 0, 7, 7, nullptr);
  EXPECT_EQ(layer_.fov(), 80.0f);  // the fov is still set
  layer_.GenerateMesh(nullptr, static_cast<int>(grid_.size()), 7, 7, nullptr);
  layer_.GenerateMesh(grid_.data(), 48 * 2 * kColumns, 7, 7, nullptr);  // one row short
  const std::vector<float> after(layer_.uv_a(), layer_.uv_a() + layer_.vertex_count() * 2);
  EXPECT_EQ(before, after);
  // The old grid and frame size still drive a rotation.
  layer_.SetYaw(1.0f);
  layer_.Update(false);
  EXPECT_EQ(UvAt(layer_, 0, 0).u, 1.0f);
}

TEST_F(LayerModelTest, YawRotatesTheGridByWholeColumnsAndIsConsumed) {
  layer_.SetYaw(10.7f);
  layer_.Update(false);
  EXPECT_TRUE(layer_.TakeUvDirty());
  EXPECT_FALSE(layer_.TakeUvDirty());
  EXPECT_EQ(UvAt(layer_, 0, 0).u, 10.0f);
  EXPECT_EQ(UvAt(layer_, 40, 0).u, 100.0f);
  EXPECT_EQ(layer_.GetYaw(), 0.0f);
  EXPECT_EQ(layer_.last_applied_yaw(), 10.7f);

  // The same delta on the next frame turns the grid again (a steady drag keeps turning).
  layer_.SetYaw(10.7f);
  layer_.Update(false);
  EXPECT_EQ(UvAt(layer_, 0, 0).u, 20.0f);

  // Wrap-around skips the repeated column 180: column 0 of the result is old column 170 + 20.
  layer_.SetYaw(170.0f);
  layer_.Update(false);
  EXPECT_EQ(UvAt(layer_, 0, 0).u, 10.0f);
  const std::vector<float>& table = layer_.working_table();
  for (int r = 0; r < 49; ++r) {
    ASSERT_EQ(table[2 * (r * kColumns + 180)], table[2 * (r * kColumns)]);
    ASSERT_EQ(table[2 * (r * kColumns) + 1], static_cast<float>(r));
  }

  layer_.SetYaw(-30.0f);
  layer_.Update(false);
  EXPECT_EQ(UvAt(layer_, 0, 0).u, 160.0f);
}

TEST_F(LayerModelTest, FractionalYawIsDroppedWithoutTurning) {
  layer_.SetYaw(0.6f);
  layer_.Update(false);
  EXPECT_EQ(UvAt(layer_, 0, 0).u, 0.0f);
  EXPECT_EQ(layer_.GetYaw(), 0.0f);
}

TEST_F(LayerModelTest, FlipMirrorsTheGridAndReversesTheTurn) {
  layer_.Update(true);
  EXPECT_TRUE(layer_.TakeUvDirty());
  // Mirrored row r, column c = grid row 48 - r, column 180 - c: layer (0, 0) reads mirrored
  // row 9 column 0 = grid row 39 column 180 (= column 0).
  EXPECT_EQ(UvAt(layer_, 0, 0).u, 0.0f);
  EXPECT_EQ(UvAt(layer_, 0, 0).v, 39.0f);
  EXPECT_EQ(UvAt(layer_, 0, 1).u, 179.0f);
  EXPECT_EQ(UvAt(layer_, 40, 0).u, 90.0f);  // column 90 mirrors onto itself
  EXPECT_EQ(UvAt(layer_, 79, 0).v, 0.0f);

  // While flipped a positive yaw turns the grid the other way.
  layer_.SetYaw(10.0f);
  layer_.Update(true);
  EXPECT_EQ(layer_.working_table()[0], 170.0f);

  layer_.Update(false);
  EXPECT_EQ(UvAt(layer_, 0, 0).u, 170.0f);
  EXPECT_EQ(UvAt(layer_, 0, 0).v, 9.0f);
}

TEST_F(LayerModelTest, FixedPitchAndZeroYawGetters) {
  layer_.SetPitch(30.0f);
  layer_.Update(false);
  EXPECT_EQ(layer_.GetPitch(), 180.0f);
  EXPECT_EQ(layer_.GetYaw(), 0.0f);
}

TEST_F(LayerModelTest, ResetStepsFovOneDegreePerFrame) {
  layer_.SetFovLimits(60, 90, 85);
  layer_.SetFovRaw(80.5f);
  layer_.SetResetPending(true);
  const float expected[] = {81.5f, 82.5f, 83.5f, 84.5f};
  for (int i = 0; i < 4; ++i) {
    layer_.Update(false);
    EXPECT_EQ(layer_.fov(), expected[i]);
    EXPECT_EQ(layer_.reset_pending(), i < 3) << i;
  }
  layer_.SetFovRaw(88.0f);
  layer_.SetResetPending(true);
  layer_.Update(false);
  EXPECT_EQ(layer_.fov(), 87.0f);
  layer_.Update(false);
  layer_.Update(false);
  EXPECT_EQ(layer_.fov(), 85.0f);
  EXPECT_FALSE(layer_.reset_pending());
}

}  // namespace
}  // namespace spherolux::render
