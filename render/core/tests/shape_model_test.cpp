#include "render/shape_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace spherolux::render {
namespace {

constexpr int kColumns = 181;

// A dual-lens grid whose point (row r, column c) is (c + offset, r + offset) pixels, so a
// texture coordinate tells which grid point it came from.
std::vector<float> GridTable(int rows, float offset) {
  std::vector<float> table;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      table.push_back(static_cast<float>(c % 180) + offset);
      table.push_back(static_cast<float>(r) + offset);
    }
  }
  return table;
}

float Radius(const float* p) { return std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]); }

TEST(ShapeModelTest, ConstructorValues) {
  CBallModel ball(1000.0f);
  EXPECT_EQ(ball.slices(), 180);
  EXPECT_EQ(ball.stacks(), 91);
  EXPECT_EQ(ball.fov(), 90.0f);
  EXPECT_EQ(ball.min_fov(), 60.0f);
  EXPECT_EQ(ball.max_fov(), 120.0f);
  EXPECT_EQ(ball.default_fov(), 90.0f);
  EXPECT_EQ(ball.GetYaw(), 90.0f);
  EXPECT_EQ(ball.GetPitch(), 0.0f);
  EXPECT_EQ(ball.eye_distance(), -1.3f);
  EXPECT_EQ(ball.near_plane(), 0.5f);
  EXPECT_EQ(ball.half_diagonal(), 500.0f);
  EXPECT_FALSE(ball.flip() || ball.pitch_clamp() || ball.planet());
  ASSERT_NE(ball.uv_b(), nullptr);

  CHalfBallModel cap(1000.0f);
  EXPECT_EQ(cap.stacks(), 48);
  EXPECT_EQ(cap.GetYaw(), 0.0f);
  EXPECT_EQ(cap.GetPitch(), 90.0f);
  EXPECT_EQ(cap.near_plane(), 0.1f);
  EXPECT_EQ(cap.uv_b(), nullptr);

  CIndomeModel dome(1000.0f);
  EXPECT_EQ(dome.stacks(), 48);
  EXPECT_EQ(dome.GetYaw(), 0.0f);
  EXPECT_EQ(dome.GetPitch(), 0.0f);
  EXPECT_EQ(dome.eye_distance(), -1.3f);

  CLayerModel layer(1000.0f);
  EXPECT_EQ(layer.slices(), 90);
  EXPECT_EQ(layer.stacks(), 79);
  EXPECT_EQ(layer.eye_distance(), -1.0f);
  EXPECT_EQ(layer.GetPitch(), 180.0f);
}

TEST(ShapeModelTest, IndexListsCoverTheGridWithTwoTrianglesPerCell) {
  CBallModel ball(1);
  CHalfBallModel cap(1);
  CIndomeModel dome(1);
  CLayerModel layer(1);
  EXPECT_EQ(ball.index_count(), 98280);
  EXPECT_EQ(ball.index_count() * 2, 196560);  // bytes of 16-bit indices
  EXPECT_EQ(cap.index_count(), 51840);
  EXPECT_EQ(dome.index_count(), 51840);
  EXPECT_EQ(layer.index_count(), 42660);
  EXPECT_EQ(layer.index_count() * 2, 85320);

  for (const CShapeModel* model : std::initializer_list<const CShapeModel*>{&ball, &cap, &layer}) {
    const uint16_t* idx = model->indices();
    const int stride = model->slices() + 1;
    // First cell: (0, 1, s) and (s, 1, s + 1).
    EXPECT_EQ(idx[0], 0);
    EXPECT_EQ(idx[1], 1);
    EXPECT_EQ(idx[2], stride);
    EXPECT_EQ(idx[3], stride);
    EXPECT_EQ(idx[4], 1);
    EXPECT_EQ(idx[5], stride + 1);
    // Last index is the last vertex of the grid; nothing points past it.
    EXPECT_EQ(idx[model->index_count() - 1], model->vertex_count() - 1);
    for (int i = 0; i < model->index_count(); ++i) ASSERT_LT(idx[i], model->vertex_count());
  }
}

TEST(ShapeModelTest, EquirectangularSphereHasRadiusPointNineAndGridCoordinates) {
  CBallModel ball(1);
  ball.GenerateMesh(nullptr, 0, 3840, 1920, nullptr);
  for (int v = 0; v < ball.vertex_count(); ++v) ASSERT_NEAR(Radius(ball.positions() + 3 * v), 0.9f, 1e-5) << v;
  // Row 0 is the +y pole; column 45 of any row lies in the x-y plane (phi = 0).
  EXPECT_NEAR(ball.positions()[1], 0.9f, 1e-6);
  const float* p = ball.positions() + 3 * (30 * kColumns + 45);
  EXPECT_NEAR(p[2], 0.0f, 1e-6);
  EXPECT_GT(p[0], 0.0f);
  for (int k : {0, 17, 91}) {
    for (int l : {0, 90, 180}) {
      const float* uv = ball.uv_a() + 2 * (k * kColumns + l);
      EXPECT_FLOAT_EQ(uv[0], l / 180.0f);
      EXPECT_FLOAT_EQ(uv[1], k / 91.0f);
    }
  }
}

TEST(ShapeModelTest, DualLensSphereTakesBothGridsAndReplacesTheEquirectangularMesh) {
  CBallModel ball(1);
  ball.GenerateMesh(nullptr, 0, 3840, 1920, nullptr);
  const std::vector<float> a = GridTable(52, 0.0f);
  const std::vector<float> b = GridTable(52, 1000.0f);
  ball.GenerateMesh(a.data(), static_cast<int>(a.size()), 2000, 1000, b.data());

  for (int v = 0; v < ball.vertex_count(); ++v) ASSERT_NEAR(Radius(ball.positions() + 3 * v), 1.0f, 1e-5) << v;
  // Lens axis on +x: row 0 is (1, 0, 0), row 90 and the extra row 91 are (-1, 0, 0).
  for (int row : {0, 90, 91}) {
    for (int c : {0, 77, 180}) {
      const float* p = ball.positions() + 3 * (row * kColumns + c);
      EXPECT_NEAR(p[0], row == 0 ? 1.0f : -1.0f, 1e-6);
      EXPECT_NEAR(p[1], 0.0f, 1e-6);
      EXPECT_NEAR(p[2], 0.0f, 1e-6);
    }
  }
  // Row 45, column 0: polar angle 90 degrees, azimuth 0 -> +z.
  EXPECT_NEAR(ball.positions()[3 * (45 * kColumns) + 2], 1.0f, 1e-6);

  // UV set A: rows 0-51 from table A; table point (c, r) in a 2000 x 1000 frame.
  const float* uv = ball.uv_a() + 2 * (51 * kColumns + 10);
  EXPECT_FLOAT_EQ(uv[0], 10.0f / 2000.0f);
  EXPECT_FLOAT_EQ(uv[1], 51.0f / 1000.0f);
  // UV set B: table row r lands on sphere row 39 + r.
  uv = ball.uv_b() + 2 * (39 * kColumns + 3);
  EXPECT_FLOAT_EQ(uv[0], 1003.0f / 2000.0f);
  EXPECT_FLOAT_EQ(uv[1], 1000.0f / 1000.0f);
  uv = ball.uv_b() + 2 * (90 * kColumns + 3);
  EXPECT_FLOAT_EQ(uv[1], 1051.0f / 1000.0f);
  // Rows a lens does not reach hold finite values.
  for (int i = 0; i < ball.vertex_count() * 2; ++i) {
    ASSERT_TRUE(std::isfinite(ball.uv_a()[i]));
    ASSERT_TRUE(std::isfinite(ball.uv_b()[i]));
  }
}

TEST(ShapeModelTest, ShortGridIsReadOnlyUpToItsCount) {
  CBallModel ball(1);
  // Two rows only: the rest of the coordinates stay at 0 instead of reading past the grid.
  const std::vector<float> a = GridTable(2, 5.0f);
  ball.GenerateMesh(a.data(), static_cast<int>(a.size()), 100, 100, a.data());
  EXPECT_FLOAT_EQ(ball.uv_a()[2 * (1 * kColumns + 1)], 0.06f);
  EXPECT_EQ(ball.uv_a()[2 * (2 * kColumns)], 0.0f);
}

TEST(ShapeModelTest, CapTakesTheFirst49RowsOfTheGrid) {
  CHalfBallModel cap(1);
  const std::vector<float> grid = GridTable(49, 0.0f);
  cap.GenerateMesh(grid.data(), static_cast<int>(grid.size()), 400, 200, nullptr);
  EXPECT_NEAR(cap.positions()[1], 1.0f, 1e-6);  // row 0: +y pole
  // Row 45 (90 degrees) lies on the equator; row 48 is 96 degrees, below it.
  EXPECT_NEAR(cap.positions()[3 * (45 * kColumns) + 1], 0.0f, 1e-6);
  EXPECT_LT(cap.positions()[3 * (48 * kColumns) + 1], 0.0f);
  const float* uv = cap.uv_a() + 2 * (48 * kColumns + 180);
  EXPECT_FLOAT_EQ(uv[0], 0.0f);  // column 180 repeats column 0
  EXPECT_FLOAT_EQ(uv[1], 48.0f / 200.0f);

  CIndomeModel dome(1);
  dome.GenerateMesh(grid.data(), static_cast<int>(grid.size()), 400, 200, nullptr);
  for (int i = 0; i < cap.vertex_count() * 3; ++i) ASSERT_EQ(cap.positions()[i], dome.positions()[i]);
}

TEST(ShapeModelTest, SphereYawWrapsWithoutTruncation) {
  CBallModel ball(1);
  ball.SetYaw(-0.5f);
  ball.Update(false);
  EXPECT_EQ(ball.GetYaw(), 360.0f);
  ball.SetYaw(360.5f);
  ball.Update(false);
  EXPECT_EQ(ball.GetYaw(), 0.0f);
  ball.SetYaw(123.25f);
  ball.Update(false);
  EXPECT_EQ(ball.GetYaw(), 123.25f);
}

TEST(ShapeModelTest, SpherePitchClampThenTruncate) {
  CBallModel ball(1);
  ball.set_pitch_clamp(true);
  ball.SetPitch(120.0f);
  ball.Update(false);
  EXPECT_EQ(ball.GetPitch(), 90.0f);
  ball.SetPitch(45.7f);
  ball.Update(false);
  EXPECT_EQ(ball.GetPitch(), 45.0f);
  ball.SetPitch(-100.0f);
  ball.Update(false);
  EXPECT_EQ(ball.GetPitch(), -90.0f);

  ball.SetFlip(true);  // clamp range becomes [90, 270]
  ball.SetPitch(60.0f);
  ball.Update(false);
  EXPECT_EQ(ball.GetPitch(), 90.0f);
  ball.SetPitch(300.0f);
  ball.Update(false);
  EXPECT_EQ(ball.GetPitch(), 270.0f);

  CBallModel free_ball(1);  // no clamp: truncation modulo 360 only
  free_ball.SetPitch(400.9f);
  free_ball.Update(false);
  EXPECT_EQ(free_ball.GetPitch(), 40.0f);
  free_ball.SetPitch(-370.5f);
  free_ball.Update(false);
  EXPECT_EQ(free_ball.GetPitch(), -10.0f);
}

TEST(ShapeModelTest, CapAndDomeTruncateModulo360) {
  CHalfBallModel cap(1);
  cap.SetYaw(-370.5f);
  cap.SetPitch(725.9f);
  cap.Update(false);
  EXPECT_EQ(cap.GetYaw(), -10.0f);  // sign of the dividend
  EXPECT_EQ(cap.GetPitch(), 5.0f);

  CIndomeModel dome(1);
  dome.SetPitch(70.0f);
  dome.Update(false);
  EXPECT_EQ(dome.GetPitch(), 65.0f);
  dome.SetPitch(2.0f);
  dome.Update(false);
  EXPECT_EQ(dome.GetPitch(), 5.0f);
  dome.SetFlip(true);
  EXPECT_EQ(dome.GetPitch(), 180.0f);
  dome.Update(false);
  EXPECT_EQ(dome.GetPitch(), 175.0f);
  dome.SetPitch(100.0f);
  dome.Update(false);
  EXPECT_EQ(dome.GetPitch(), 115.0f);
}

TEST(ShapeModelTest, VelocityDampingAndTheZeroThreshold) {
  CBallModel ball(1);
  ball.SetYawVelocity(0.1f);  // exactly 0.1 is damped, not zeroed
  ball.Update(false);
  EXPECT_FLOAT_EQ(ball.yaw_velocity(), 0.098f);
  EXPECT_FLOAT_EQ(ball.GetYaw(), 90.098f);
  ball.Update(false);  // 0.098 < 0.1: stops
  EXPECT_EQ(ball.yaw_velocity(), 0.0f);
  ball.SetPitchVelocity(-0.0999f);
  ball.Update(false);
  EXPECT_EQ(ball.pitch_velocity(), 0.0f);
}

TEST(ShapeModelTest, FlingCoastsForEightyFrames) {
  // 0.5 * 0.98^n drops below 0.1 once n > ln(0.2) / ln(0.98) = 79.66: 80 damped frames, then
  // the 81st update stops it.
  const int damped_frames = static_cast<int>(std::ceil(std::log(0.1 / 0.5) / std::log(0.98)));
  ASSERT_EQ(damped_frames, 80);
  CBallModel ball(1);
  ball.SetYawVelocity(-0.5f);
  int moving = 0;
  for (int frame = 0; frame < 200 && ball.yaw_velocity() != 0.0f; ++frame) {
    ball.Update(false);
    if (ball.yaw_velocity() != 0.0f) ++moving;
  }
  EXPECT_EQ(moving, damped_frames);
  // The yaw crossed below 90 by the sum of the damped velocities (a geometric series).
  const double travelled = 0.5 * 0.98 * (1 - std::pow(0.98, damped_frames)) / (1 - 0.98);
  EXPECT_NEAR(ball.GetYaw(), 90.0 - travelled, 1e-3);
}

TEST(ShapeModelTest, SubDegreePitchVelocityDoesNotMoveTruncatingModels) {
  CBallModel ball(1);
  CHalfBallModel cap(1);
  ball.SetPitchVelocity(0.9f);
  cap.SetYawVelocity(0.9f);
  for (int i = 0; i < 20; ++i) {
    ball.Update(false);
    cap.Update(false);
  }
  EXPECT_EQ(ball.GetPitch(), 0.0f);
  EXPECT_EQ(cap.GetYaw(), 0.0f);
  EXPECT_GT(ball.pitch_velocity(), 0.0f);
}

TEST(ShapeModelTest, ResetRestoresEachModelsView) {
  CBallModel ball(1);
  ball.SetFovLimits(70, 136, 136);
  ball.SetFov(100);
  ball.SetYaw(10);
  ball.SetPitch(20);
  ball.SetResetPending(true);
  ball.Update(false);
  EXPECT_EQ(ball.fov(), 136.0f);
  EXPECT_EQ(ball.GetYaw(), 90.0f);
  EXPECT_EQ(ball.GetPitch(), 0.0f);
  EXPECT_FALSE(ball.reset_pending());

  ball.SetFlip(true);
  ball.ResetView();
  EXPECT_EQ(ball.GetPitch(), 180.0f);

  CBallModel planet(1);
  planet.set_planet(true);
  planet.ResetView();
  EXPECT_EQ(planet.GetPitch(), -90.0f);
  planet.SetFlip(true);
  planet.ResetView();
  EXPECT_EQ(planet.GetPitch(), 90.0f);

  CHalfBallModel cap(1);
  cap.SetYaw(33);
  cap.SetFlip(true);
  cap.ResetView();
  EXPECT_EQ(cap.GetYaw(), 0.0f);
  EXPECT_EQ(cap.GetPitch(), 270.0f);

  CIndomeModel dome(1);
  dome.SetYawVelocity(3);
  dome.SetPitchVelocity(3);
  dome.ResetView();
  EXPECT_EQ(dome.yaw_velocity(), 0.0f);
  EXPECT_EQ(dome.pitch_velocity(), 0.0f);
  EXPECT_EQ(dome.GetPitch(), 0.0f);
}

TEST(ShapeModelTest, SetFovClampsAndCancelsAPendingReset) {
  CHalfBallModel cap(1);
  cap.SetResetPending(true);
  cap.SetFov(200.0f);
  EXPECT_EQ(cap.fov(), 120.0f);
  EXPECT_FALSE(cap.reset_pending());
  cap.SetFov(10.0f);
  EXPECT_EQ(cap.fov(), 60.0f);
}

TEST(ShapeModelTest, FlipTurnsPitchByHalfATurnOnlyOnChange) {
  CBallModel ball(1);
  ball.SetPitch(10);
  ball.SetFlip(true);
  EXPECT_EQ(ball.GetPitch(), 190.0f);
  ball.SetFlip(true);
  EXPECT_EQ(ball.GetPitch(), 190.0f);
  ball.SetFlip(false);
  EXPECT_EQ(ball.GetPitch(), 10.0f);

  CHalfBallModel cap(1);
  cap.SetFlip(true);
  EXPECT_EQ(cap.GetPitch(), 270.0f);
}

TEST(ShapeModelTest, EyeDistanceIsSettableOnSpheresOnly) {
  CBallModel ball(1);
  CHalfBallModel cap(1);
  CShapeModel& base = cap;
  ball.SetEyeDistance(-0.88f);
  base.SetEyeDistance(-0.5f);
  EXPECT_EQ(ball.eye_distance(), -0.88f);
  EXPECT_EQ(cap.eye_distance(), -1.3f);
}

}  // namespace
}  // namespace spherolux::render

namespace spherolux::render {
namespace {

TEST(ShapeModelTest, HugeAndNonFiniteAnglesStayBounded) {
  CHalfBallModel cap(1);
  cap.SetYaw(1e30f);
  cap.SetPitch(-3e20f);
  cap.Update(false);
  EXPECT_GT(cap.GetYaw(), -360.0f);
  EXPECT_LT(cap.GetYaw(), 360.0f);
  EXPECT_GT(cap.GetPitch(), -360.0f);
  EXPECT_LT(cap.GetPitch(), 360.0f);

  CBallModel ball(1);
  ball.set_pitch_clamp(true);
  ball.SetPitch(std::numeric_limits<float>::infinity());
  ball.Update(false);
  EXPECT_EQ(ball.GetPitch(), 90.0f);

  CLayerModel layer(1);
  std::vector<float> grid(49 * 2 * kColumns, 3.0f);
  layer.GenerateMesh(grid.data(), static_cast<int>(grid.size()), 6, 6, nullptr);
  for (float yaw : {std::numeric_limits<float>::quiet_NaN(), 1e30f, -1e30f}) {
    layer.SetYaw(yaw);
    layer.Update(false);
    EXPECT_EQ(layer.GetYaw(), 0.0f);
    EXPECT_FLOAT_EQ(layer.uv_a()[0], 0.5f);
  }
}

}  // namespace
}  // namespace spherolux::render
