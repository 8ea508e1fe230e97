#include "render/view_models.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace spherolux::render {
namespace {

TEST(ViewportTest, SphericalModesUseACentredSquare) {
  for (int mode : {0, 1, 2, 3, 5}) {
    EXPECT_EQ(ComputeViewport(mode, 800, 600, false), (Viewport{0, -100, 800, 800})) << mode;
    EXPECT_EQ(ComputeViewport(mode, 600, 800, true), (Viewport{-100, 0, 800, 800})) << mode;
  }
  // Odd differences truncate toward zero: (600 - 801) / 2 = -100.
  EXPECT_EQ(ComputeViewport(kModePlanet, 801, 600, false), (Viewport{0, -100, 801, 801}));
  EXPECT_EQ(ComputeViewport(kModePlanet, 500, 500, false), (Viewport{0, 0, 500, 500}));
}

TEST(ViewportTest, IndomeIsDoubleHeightAndFlatFillsTheWindow) {
  EXPECT_EQ(ComputeViewport(kModeIndome, 800, 600, false), (Viewport{0, -600, 800, 1200}));
  EXPECT_EQ(ComputeViewport(kModeIndome, 800, 600, true), (Viewport{0, 0, 800, 1200}));
  EXPECT_EQ(ComputeViewport(kModeFlat, 800, 600, false), (Viewport{0, 0, 800, 600}));
  EXPECT_FALSE(ComputeViewport(-1, 800, 600, false).has_value());
  EXPECT_FALSE(ComputeViewport(7, 800, 600, false).has_value());
}

TEST(ViewModelSetTest, ModesMapToTheSixModels) {
  ViewModelSet set(1000.0f);
  EXPECT_EQ(set.ForMode(0), &set.sphere_a());
  EXPECT_EQ(set.ForMode(1), &set.sphere_b());
  EXPECT_EQ(set.ForMode(2), &set.sphere_c());
  EXPECT_EQ(set.ForMode(3), &set.cap());
  EXPECT_EQ(set.ForMode(4), &set.indome());
  EXPECT_EQ(set.ForMode(5), &set.layer());
  EXPECT_EQ(set.ForMode(6), nullptr);
  EXPECT_TRUE(set.sphere_b().pitch_clamp());
  EXPECT_FALSE(set.sphere_a().pitch_clamp());
  EXPECT_TRUE(set.sphere_c().planet());
  EXPECT_EQ(set.sphere_c().GetPitch(), -90.0f);
  set.sphere_c().ResetView();
  EXPECT_EQ(set.sphere_c().GetPitch(), -90.0f);
}

TEST(ViewModelSetTest, DualLensMediumRebuildsTheSpheresOnly) {
  ViewModelSet set(1000.0f);
  std::vector<float> a(kDualLensTableFloats, 100.0f);
  std::vector<float> b(kDualLensTableFloats, 300.0f);
  ASSERT_TRUE(set.SetMediaKind(kMediaDualLens, 400, 200, a.data(), b.data(), kDualLensTableFloats));
  EXPECT_EQ(set.sphere_a().fov(), 136.0f);
  EXPECT_EQ(set.sphere_a().min_fov(), 70.0f);
  EXPECT_EQ(set.sphere_a().default_fov(), 136.0f);
  EXPECT_EQ(set.sphere_b().min_fov(), 90.0f);
  EXPECT_EQ(set.sphere_b().max_fov(), 90.0f);
  EXPECT_EQ(set.sphere_c().fov(), 160.0f);
  EXPECT_EQ(set.sphere_c().eye_distance(), -1.0f);
  EXPECT_EQ(set.sphere_a().eye_distance(), -1.3f);
  EXPECT_FLOAT_EQ(set.sphere_b().uv_b()[2 * 181 * 39], 0.75f);     // 300 / 400
  EXPECT_FLOAT_EQ(set.sphere_b().uv_b()[2 * 181 * 39 + 1], 1.5f);  // 300 / 200
  // The cap was not touched: its positions are still the zeros of construction.
  EXPECT_EQ(set.cap().positions()[1], 0.0f);
  EXPECT_EQ(set.layer().fov(), 90.0f);
}

TEST(ViewModelSetTest, SingleLensMediumRebuildsCapDomeAndLayer) {
  ViewModelSet set(1000.0f);
  std::vector<float> grid(kSingleLensTableFloats, 50.0f);
  ASSERT_TRUE(set.SetMediaKind(kMediaSingleLens, 200, 100, grid.data(), nullptr, kSingleLensTableFloats));
  EXPECT_EQ(set.cap().fov(), 122.0f);
  EXPECT_EQ(set.cap().max_fov(), 134.0f);
  EXPECT_EQ(set.indome().fov(), 65.0f);
  EXPECT_EQ(set.indome().max_fov(), 70.0f);
  EXPECT_EQ(set.layer().fov(), 85.0f);
  EXPECT_EQ(set.layer().max_fov(), 90.0f);
  EXPECT_FLOAT_EQ(set.cap().uv_a()[0], 0.25f);
  EXPECT_FLOAT_EQ(set.layer().uv_a()[1], 0.5f);
  EXPECT_EQ(set.sphere_a().positions()[1], 0.0f);
}

TEST(ViewModelSetTest, PanoramasNeedTwoToOneFrames) {
  ViewModelSet set(1000.0f);
  EXPECT_FALSE(set.SetMediaKind(512, 1600, 1200, nullptr, nullptr, 0));
  EXPECT_EQ(set.sphere_a().fov(), 90.0f);
  EXPECT_EQ(set.sphere_a().positions()[1], 0.0f);

  ASSERT_TRUE(set.SetMediaKind(512, 3840, 1920, nullptr, nullptr, 0));
  EXPECT_EQ(set.sphere_a().fov(), 126.0f);
  EXPECT_EQ(set.sphere_a().min_fov(), 65.0f);
  EXPECT_EQ(set.sphere_b().fov(), 80.0f);
  EXPECT_EQ(set.sphere_c().fov(), 160.0f);
  EXPECT_EQ(set.sphere_c().eye_distance(), -0.88f);
  EXPECT_NEAR(set.sphere_a().positions()[1], 0.9f, 1e-6);
}

TEST(ViewModelSetTest, FlipReachesSpheresCapAndDome) {
  ViewModelSet set(1000.0f);
  set.SetFlip(true);
  EXPECT_TRUE(set.sphere_a().flip());
  EXPECT_EQ(set.sphere_a().GetPitch(), 180.0f);
  EXPECT_EQ(set.sphere_c().GetPitch(), 90.0f);
  EXPECT_EQ(set.cap().GetPitch(), 270.0f);
  EXPECT_EQ(set.indome().GetPitch(), 180.0f);
  EXPECT_FALSE(set.layer().flip());  // the layer follows the flag given to its update
}

// A picture turned clockwise by 90 degrees puts the source point (x, y) of a W x H picture
// at (H - y, x) of the H x W result; shown stretched to the frame's proportions, the
// source's normalised (u, v) lands at (1 - v, u). The texture coordinates of a point of the
// turned picture must therefore lead back to the source point.
TEST(RotateTextureCoordinatesTest, TurnsThePictureClockwise) {
  const float source[] = {0.1f, 0.2f, 0.9f, 0.05f, 0.5f, 0.5f, 0.0f, 1.0f};
  constexpr int kPairs = 4;
  float turned[2 * kPairs];
  float expected_90[2 * kPairs];
  float expected_180[2 * kPairs];
  float expected_270[2 * kPairs];
  for (int i = 0; i < kPairs; ++i) {
    const float u = source[2 * i];
    const float v = source[2 * i + 1];
    // Where the source point shows after each quarter turn clockwise.
    expected_90[2 * i] = 1 - v, expected_90[2 * i + 1] = u;
    expected_180[2 * i] = 1 - u, expected_180[2 * i + 1] = 1 - v;
    expected_270[2 * i] = v, expected_270[2 * i + 1] = 1 - u;
  }
  float back[2 * kPairs];
  for (const auto& [degrees, shown] :
       {std::pair<int, const float*>{90, expected_90}, {180, expected_180}, {270, expected_270}}) {
    RotateTextureCoordinates(shown, kPairs, degrees, back);
    for (int i = 0; i < 2 * kPairs; ++i) EXPECT_NEAR(back[i], source[i], 1e-6f) << degrees << " at " << i;
  }
  RotateTextureCoordinates(source, kPairs, 0, turned);
  for (int i = 0; i < 2 * kPairs; ++i) EXPECT_EQ(turned[i], source[i]);
  RotateTextureCoordinates(source, kPairs, 45, turned);
  for (int i = 0; i < 2 * kPairs; ++i) EXPECT_EQ(turned[i], source[i]);
}

}  // namespace
}  // namespace spherolux::render
