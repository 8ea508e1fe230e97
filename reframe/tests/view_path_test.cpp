#include "reframe/view_path.h"

#include <gtest/gtest.h>

#include <cmath>

namespace spherolux::reframe {
namespace {

constexpr double kRad = 3.14159265358979323846 / 180.0;

// The angle in degrees between two rotations.
double AngleBetween(const Quaternion& a, const Quaternion& b) {
  const double d = std::fabs(a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z);
  return 2 * std::acos(std::min(1.0, d)) / kRad;
}

// The world angular velocity (degrees per second, as a vector) of the path at t, from the
// step to t + h.
std::array<double, 3> Velocity(const ViewPath& path, double t, double h) {
  const Quaternion a = path.At(t).rotation, b = path.At(t + h).rotation;
  // b * conj(a): the step in world axes.
  const Quaternion c = {b.w * a.w + b.x * a.x + b.y * a.y + b.z * a.z, -b.w * a.x + b.x * a.w - b.y * a.z + b.z * a.y,
                        -b.w * a.y + b.x * a.z + b.y * a.w - b.z * a.x, -b.w * a.z - b.x * a.y + b.y * a.x + b.z * a.w};
  const double s = std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
  const double angle = 2 * std::atan2(s, std::fabs(c.w)) * (c.w < 0 ? -1 : 1);
  const double k = s < 1e-15 ? 0 : angle / s / h / kRad;
  return {c.x * k, c.y * k, c.z * k};
}

double Norm(const std::array<double, 3>& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

TEST(ViewRotation, AnglesTurnTheViewAsTheFileSays) {
  // Yaw to the right, pitch up, roll clockwise (the camera's up tilts to the right).
  auto f = RotateToWorld(RotationOf(90, 0, 0), {0, 0, 1});
  EXPECT_NEAR(f[0], 1, 1e-12);
  f = RotateToWorld(RotationOf(0, 30, 0), {0, 0, 1});
  EXPECT_NEAR(f[1], 0.5, 1e-12);
  EXPECT_NEAR(f[2], std::sqrt(3) / 2, 1e-12);
  const auto up = RotateToWorld(RotationOf(0, 0, 90), {0, 1, 0});
  EXPECT_NEAR(up[0], 1, 1e-12);
  for (const auto& [yaw, pitch, roll] :
       {std::array<double, 3>{-170, 80, 45}, {179, -89, -120}, {10, 0, 0}, {-45, 20, 170}}) {
    double y, p, r;
    AnglesOf(RotationOf(yaw, pitch, roll), &y, &p, &r);
    EXPECT_NEAR(y, yaw, 1e-9);
    EXPECT_NEAR(p, pitch, 1e-9);
    EXPECT_NEAR(r, roll, 1e-9);
  }
}

// Unevenly spaced keyframes: the view passes through each keyframe, and neither the view
// nor its angular velocity jumps there.
TEST(ViewPathTest, ViewAndAngularVelocityAreContinuousThroughKeyframes) {
  ViewPath path;
  ASSERT_TRUE(path.Set({{0, 0, 0, 0, 90}, {1, 40, 10, 0, 80}, {3, 120, -20, 10, 60}, {3.5, 150, 0, 0, 100}}, false));
  for (const ViewKey& k : path.keys()) {
    const ViewState v = path.At(k.t);
    EXPECT_NEAR(v.yaw, k.yaw, 1e-9);
    EXPECT_NEAR(v.pitch, k.pitch, 1e-9);
    EXPECT_NEAR(v.fov, k.fov, 1e-9);
  }
  const double h = 1e-4;
  for (double t : {1.0, 3.0}) {
    EXPECT_LT(AngleBetween(path.At(t - h).rotation, path.At(t + h).rotation), 0.05) << t;
    const auto before = Velocity(path, t - 2 * h, h), after = Velocity(path, t + h, h);
    const double speed = Norm(before);
    EXPECT_GT(speed, 10) << t;
    EXPECT_LT(Norm({before[0] - after[0], before[1] - after[1], before[2] - after[2]}), 0.01 * speed) << t;
    const double fov_before = (path.At(t).fov - path.At(t - h).fov) / h,
                 fov_after = (path.At(t + h).fov - path.At(t).fov) / h;
    EXPECT_NEAR(fov_before, fov_after, 0.05) << t;
  }
}

TEST(ViewPathTest, YawCrossesTheBackOfThePanoramaTheShortWay) {
  ViewPath path;
  ASSERT_TRUE(path.Set({{0, 170, 0, 0, 90}, {1, -170, 0, 0, 90}}, false));
  for (int i = 0; i <= 100; ++i) EXPECT_GE(std::fabs(path.At(i / 100.0).yaw), 170 - 1e-9) << i;
  EXPECT_NEAR(std::fabs(path.At(0.5).yaw), 180, 1e-6);
}

TEST(ViewPathTest, TheViewHoldsOutsideTheKeyframesAndEasesOnlyWhenAsked) {
  ViewPath path;
  ASSERT_TRUE(path.Set({{2, 10, 5, 0, 70}, {4, 50, 5, 0, 70}}, false));
  EXPECT_NEAR(path.At(-1).yaw, 10, 1e-9);
  EXPECT_NEAR(path.At(9).yaw, 50, 1e-9);
  EXPECT_NEAR(path.At(9).fov, 70, 1e-9);
  // Without ease the view leaves the first keyframe moving, with it at rest.
  EXPECT_GT(Norm(Velocity(path, 2, 1e-4)), 10);
  ASSERT_TRUE(path.Set(path.keys(), true));
  EXPECT_LT(Norm(Velocity(path, 2, 1e-4)), 0.1);
  EXPECT_NEAR(path.At(3).yaw, 30, 1e-6);  // symmetric: halfway in the middle

  ASSERT_TRUE(path.Set({{1, -30, 20, 5, 110}}, false));
  for (double t : {0.0, 1.0, 100.0}) {
    const ViewState v = path.At(t);
    EXPECT_NEAR(v.yaw, -30, 1e-9);
    EXPECT_NEAR(v.pitch, 20, 1e-9);
    EXPECT_NEAR(v.roll, 5, 1e-9);
    EXPECT_NEAR(v.fov, 110, 1e-9);
  }
}

TEST(ViewPathTest, FilesAreReadBackAndMistakesNamedByLine) {
  ViewPath path, again;
  std::string error;
  ASSERT_TRUE(ViewPath::Parse(R"({"keyframes": [
      {"t": 0, "yaw": 30, "pitch": 10, "roll": 0, "fov": 90, "note": "start"},
      {"t": 2.5, "yaw": -20, "pitch": -5}
    ], "ease": true, "name": "tour"})",
                              &path, &error))
      << error;
  ASSERT_EQ(path.keys().size(), 2u);
  EXPECT_EQ(path.keys()[1].fov, 90);
  EXPECT_TRUE(path.ease());
  ASSERT_TRUE(ViewPath::Parse(path.ToJson(), &again, &error)) << error;
  EXPECT_EQ(again.ToJson(), path.ToJson());

  const std::string head =
      "{\"keyframes\": [\n  {\"t\": 0, \"yaw\": 0, \"pitch\": 0},\n  {\"t\": 1, \"yaw\": 0, \"pitch\": 0},\n";
  for (const std::string& line4 :
       {std::string(R"(  {"t": 2, "yaw": 0})"), std::string(R"(  {"t": 2, "yaw": 0, "pitch": 95})"),
        std::string(R"(  {"t": 1, "yaw": 0, "pitch": 0})"), std::string(R"(  {"t": 2, "yaw": "left", "pitch": 0})"),
        std::string(R"(  {"t": 2 "yaw": 0, "pitch": 0})"),
        std::string(R"(  {"t": 2, "yaw": 0, "pitch": 0, "fov": 0})")}) {
    error.clear();
    EXPECT_FALSE(ViewPath::Parse(head + line4 + "\n]}\n", &path, &error)) << line4;
    EXPECT_EQ(error.rfind("line 4: ", 0), 0u) << line4 << " -> " << error;
  }
  EXPECT_EQ(path.keys().size(), 2u) << "a refused file leaves the path as it was";
  EXPECT_FALSE(ViewPath::Parse("{\"keyframes\": []}", &path, &error));
  EXPECT_FALSE(ViewPath::Parse("", &path, &error));
}

}  // namespace
}  // namespace spherolux::reframe
