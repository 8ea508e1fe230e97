#include "render/matrix.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "base/log.h"

namespace spherolux::render {
namespace {

// Applies a column-major matrix to (x, y, z, w).
void Apply(const float* m, const float in[4], float out[4]) {
  for (int r = 0; r < 4; ++r) out[r] = m[r] * in[0] + m[4 + r] * in[1] + m[8 + r] * in[2] + m[12 + r] * in[3];
}

void ExpectIdentity(const float* m, float tolerance) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], (i % 5 == 0) ? 1.0f : 0.0f, tolerance) << "element " << i;
}

TEST(MatrixTest, IdentityThenPerspectiveNinetyDegrees) {
  Matrix4 m;
  m.SetIdentity();
  m.Perspective(90.0f, 1.0f, 0.1f, 100.0f);
  // tan 45 = 1: top = near, right = near; m[10] = (f + n) / (n - f), m[14] = 2 f n / (n - f).
  EXPECT_NEAR(m.m[0], 1.0f, 1e-6);
  EXPECT_NEAR(m.m[5], 1.0f, 1e-6);
  EXPECT_NEAR(m.m[10], -100.1 / 99.9, 1e-6);
  EXPECT_EQ(m.m[11], -1.0f);
  EXPECT_NEAR(m.m[14], -20.0 / 99.9, 1e-6);
  for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 15}) EXPECT_EQ(m.m[i], 0.0f) << i;
}

TEST(MatrixTest, PerspectiveMultipliesIntoTheExistingMatrix) {
  Matrix4 m;
  m.SetIdentity();
  m.m[0] = 2.0f;  // scale x by 2 first
  m.Perspective(90.0f, 2.0f, 1.0f, 10.0f);
  // aspect 2 halves m[0] of the frustum (right = 2 * top); the scale doubles it back.
  EXPECT_NEAR(m.m[0], 1.0f, 1e-6);
  EXPECT_NEAR(m.m[5], 1.0f, 1e-6);
}

TEST(MatrixTest, DegenerateFrustumReportsAndStillWrites) {
  float m[16];
  for (float& v : m) v = 7.0f;
  // The report goes to the log (stderr by default), never to stdout: spherolux-cli prints
  // its JSON there.
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  FrustumM(m, -1.0f, 1.0f, -1.0f, 1.0f, 0.0f, 10.0f);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_NE(out.find("FrustumM:near <= 0.0f"), std::string::npos);
  EXPECT_EQ(out.find("FrustumM:far"), std::string::npos);
  EXPECT_EQ(m[0], 0.0f);  // 2 * near / (right - left)
  EXPECT_EQ(m[11], -1.0f);
  EXPECT_EQ(m[1], 0.0f);

  testing::internal::CaptureStderr();
  FrustumM(m, 1.0f, 1.0f, 2.0f, 2.0f, 3.0f, 3.0f);
  const std::string all = testing::internal::GetCapturedStderr();
  EXPECT_NE(all.find("FrustumM:left == right"), std::string::npos);
  EXPECT_NE(all.find("FrustumM:top == bottom"), std::string::npos);
  EXPECT_NE(all.find("FrustumM:near == far"), std::string::npos);
  EXPECT_TRUE(std::isinf(m[0]));
}

std::string g_logged;

TEST(MatrixTest, ReportsGoToTheSinkTheProgramSetsAndNowhereWhenQuiet) {
  float m[16];
  SetLogSink([](const char* line) { g_logged += std::string(line) + "|"; });
  testing::internal::CaptureStderr();
  FrustumM(m, 1.0f, 1.0f, -1.0f, 1.0f, 1.0f, 10.0f);
  SetLogQuiet(true);
  FrustumM(m, -1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 10.0f);
  SetLogQuiet(false);
  SetLogSink(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(g_logged, "FrustumM:left == right|");
}

TEST(MatrixTest, LookAtFromBehindTheOrigin) {
  Matrix4 m;
  m.SetIdentity();
  m.LookAt(0, 0, -1, 0, 0, 0, 0, 1, 0);
  const float expected[16] = {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, -1, 1};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m.m[i], expected[i], 1e-6) << i;
}

TEST(MatrixTest, LookAtMultipliesIntoTheExistingMatrix) {
  Matrix4 m;
  m.SetIdentity();
  m.m[0] = m.m[5] = m.m[10] = 2.0f;
  m.LookAt(0, 0, -1, 0, 0, 0, 0, 1, 0);
  // diag(2, 2, 2, 1) x view: every row but the last doubles.
  const float expected[16] = {-2, 0, 0, 0, 0, 2, 0, 0, 0, 0, -2, 0, 0, 0, -2, 1};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m.m[i], expected[i], 1e-6) << i;
}

TEST(MatrixTest, LookAtMapsTheEyeToTheOriginAndTheCentreDownMinusZ) {
  Matrix4 m;
  m.SetIdentity();
  m.LookAt(3, 4, 5, 3, 4, 0, 0, 1, 0);
  const float eye[4] = {3, 4, 5, 1};
  const float centre[4] = {3, 4, 0, 1};
  float out[4];
  Apply(m.m, eye, out);
  EXPECT_NEAR(out[0], 0, 1e-5);
  EXPECT_NEAR(out[1], 0, 1e-5);
  EXPECT_NEAR(out[2], 0, 1e-5);
  Apply(m.m, centre, out);
  EXPECT_NEAR(out[0], 0, 1e-5);
  EXPECT_NEAR(out[1], 0, 1e-5);
  EXPECT_NEAR(out[2], -5, 1e-5);
}

TEST(MatrixTest, RotateByZeroIsTheIdentityOnEveryBranch) {
  float m[16];
  for (const auto& axis : {std::array<float, 3>{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}, {0, 2, 0}}) {
    for (float& v : m) v = 5.0f;
    SetRotateM(m, 0.0f, axis[0], axis[1], axis[2]);
    ExpectIdentity(m, 1e-6f);
  }
}

TEST(MatrixTest, RotateAboutTheUnitAxesTurnsCounterClockwise) {
  float m[16];
  float out[4];
  const float x[4] = {1, 0, 0, 1};
  const float y[4] = {0, 1, 0, 1};
  const float z[4] = {0, 0, 1, 1};
  SetRotateM(m, 90.0f, 1, 0, 0);
  Apply(m, y, out);  // y -> z
  EXPECT_NEAR(out[0], 0, 1e-6);
  EXPECT_NEAR(out[1], 0, 1e-6);
  EXPECT_NEAR(out[2], 1, 1e-6);
  SetRotateM(m, 90.0f, 0, 1, 0);
  Apply(m, z, out);  // z -> x
  EXPECT_NEAR(out[0], 1, 1e-6);
  EXPECT_NEAR(out[2], 0, 1e-6);
  SetRotateM(m, 90.0f, 0, 0, 1);
  Apply(m, x, out);  // x -> y
  EXPECT_NEAR(out[0], 0, 1e-6);
  EXPECT_NEAR(out[1], 1, 1e-6);
  EXPECT_EQ(m[15], 1.0f);
  EXPECT_EQ(m[12], 0.0f);
}

TEST(MatrixTest, GeneralAxisIsNormalisedAndMatchesTheExactBranch) {
  float general[16];
  float exact[16];
  SetRotateM(general, 37.0f, 0, 2, 0);
  SetRotateM(exact, 37.0f, 0, 1, 0);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(general[i], exact[i], 1e-6) << i;

  // 120 degrees about (1, 1, 1) cycles the axes: x -> y -> z -> x.
  float m[16];
  float out[4];
  const float x[4] = {1, 0, 0, 1};
  SetRotateM(m, 120.0f, 1, 1, 1);
  Apply(m, x, out);
  EXPECT_NEAR(out[0], 0, 1e-5);
  EXPECT_NEAR(out[1], 1, 1e-5);
  EXPECT_NEAR(out[2], 0, 1e-5);
}

TEST(MatrixTest, MultiplyOrderIsLhsTimesRhs) {
  float translate[16];
  float scale[16];
  SetIdentityM(translate);
  TranslateM(translate, 1, 2, 3);
  SetIdentityM(scale);
  scale[0] = scale[5] = scale[10] = 2.0f;
  float ts[16];
  float st[16];
  MultiplyMM(ts, translate, scale);
  MultiplyMM(st, scale, translate);
  const float p[4] = {1, 1, 1, 1};
  float out[4];
  Apply(ts, p, out);  // scale first, then translate
  EXPECT_FLOAT_EQ(out[0], 3);
  EXPECT_FLOAT_EQ(out[1], 4);
  EXPECT_FLOAT_EQ(out[2], 5);
  Apply(st, p, out);  // translate first, then scale
  EXPECT_FLOAT_EQ(out[0], 4);
  EXPECT_FLOAT_EQ(out[1], 6);
  EXPECT_FLOAT_EQ(out[2], 8);
}

TEST(MatrixTest, TranslateAddsRotatedOffsetToColumnThree) {
  float m[16];
  SetRotateM(m, 90.0f, 0, 0, 1);
  TranslateM(m, 1, 0, 0);
  // Translation happens in the rotated frame: +x becomes +y.
  EXPECT_NEAR(m[12], 0, 1e-6);
  EXPECT_NEAR(m[13], 1, 1e-6);
  EXPECT_NEAR(m[14], 0, 1e-6);
  EXPECT_EQ(m[15], 1.0f);
}

}  // namespace
}  // namespace spherolux::render
