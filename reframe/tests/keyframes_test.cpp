#include "reframe/keyframes.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render/matrix.h"
#include "render/shape_model.h"

namespace spherolux::reframe {
namespace {

constexpr double kRad = 3.14159265358979323846 / 180.0;

ViewKey Key(double t, double yaw, double pitch = 0, double fov = 90) { return {t, yaw, pitch, 0, fov}; }

TEST(KeyframeTrack, KeepsTimeOrderAndMovesKeysOnlyBetweenTheirNeighbours) {
  KeyframeTrack track;
  EXPECT_EQ(track.Add(Key(4, 40)), 0);
  EXPECT_EQ(track.Add(Key(1, 10)), 0);
  EXPECT_EQ(track.Add(Key(2, 20)), 1);
  // A key at the time of another replaces it.
  EXPECT_EQ(track.Add(Key(2.01, 25)), 1);
  ASSERT_EQ(track.keys().size(), 3u);
  EXPECT_EQ(track.keys()[1].yaw, 25);

  // Dragged past its neighbour, a key stops short of it; dragged off the video, at its ends.
  EXPECT_NEAR(track.Move(1, 9.0, 10.0), 4 - KeyframeTrack::kSameTime, 1e-9);
  EXPECT_NEAR(track.Move(0, -3.0, 10.0), 0.0, 1e-9);
  EXPECT_NEAR(track.Move(2, 12.0, 10.0), 10.0, 1e-9);
  EXPECT_EQ(track.Move(3, 1.0, 10.0), -1);
  ViewPath path;
  ASSERT_TRUE(track.ToPath(&path)) << "the moved keys no longer make a path";

  // Clicks find the nearest mark within their reach.
  EXPECT_EQ(track.Nearest(3.9, 0.2), 1);
  EXPECT_EQ(track.Nearest(6.0, 0.2), -1);
  EXPECT_TRUE(track.Remove(1));
  EXPECT_FALSE(track.Remove(5));
  ASSERT_EQ(track.keys().size(), 2u);
  EXPECT_EQ(track.keys()[1].yaw, 40);

  // A recording replaces the keys of its span only.
  track.ReplaceSpan(5, 12, {Key(6, 60), Key(8, 80)});
  ASSERT_EQ(track.keys().size(), 3u);
  EXPECT_EQ(track.keys()[0].yaw, 10);
  EXPECT_EQ(track.keys()[2].yaw, 80);
  track.Clear();
  EXPECT_FALSE(track.ToPath(&path));
}

// A user turns right for 3 s, back left for 2 s and holds the view for 3 s, at 25 views a
// second: a few keys are kept, and the path through them passes every view shown, the turning
// point included.
TEST(PathRecorder, KeepsFewKeysThatTheRecordedViewsFollow) {
  PathRecorder recorder(1.5);
  std::vector<ViewKey> shown;
  for (int i = 0; i <= 200; ++i) {
    const double t = 10 + i / 25.0;
    const double s = t - 10;
    const double yaw = s < 3 ? 150 + 20 * s : s < 5 ? 210 - 30 * (s - 3) : 150;  // across ±180
    const double wrapped = yaw > 180 ? yaw - 360 : yaw;
    shown.push_back(Key(t, wrapped, 10 * std::sin(s), 80 + 2 * s));
    recorder.Offer(shown.back());
  }
  recorder.Offer(Key(9, 0));  // before the last view: ignored
  EXPECT_EQ(recorder.first(), 10);
  const std::vector<ViewKey> keys = recorder.Finish();
  EXPECT_TRUE(recorder.empty());
  EXPECT_GE(keys.size(), 3u);
  EXPECT_LE(keys.size(), 16u) << "the recording was hardly thinned";
  ViewPath path;
  ASSERT_TRUE(path.Set(keys, false));
  double worst = 0;
  for (const ViewKey& view : shown) {
    const ViewState v = path.At(view.t);
    worst = std::max(worst, ViewDistance(view, Key(view.t, v.yaw, v.pitch, v.fov)));
  }
  EXPECT_LE(worst, 1.5) << "the kept keys miss the recorded views";
  // Two views make a path as they are.
  PathRecorder two;
  two.Offer(Key(0, 1));
  two.Offer(Key(1, 2));
  EXPECT_EQ(two.Finish().size(), 2u);
}

// Where the window's centre looks, found from the renderer's own sphere and matrices: the mesh
// vertex on the ray through the screen's centre (or `right` degrees right of it), beyond the
// near plane, as panorama yaw and pitch from its texture coordinates.
struct Seen {
  double yaw, pitch, angle;  // angle: from the camera's axis, seen from the sphere's centre
};
Seen SeenByRenderer(const render::CBallModel& ball, float yaw, float pitch, float eye, double right) {
  render::Matrix4 mv;
  mv.SetIdentity();
  mv.LookAt(0, 0, eye, 0, 0, 0, 0, 1, 0);
  mv.Rotate(pitch, 1, 0, 0);
  mv.Rotate(yaw, 0, 1, 0);
  double best = 1e9;
  Seen seen{};
  for (int i = 0; i < ball.vertex_count(); ++i) {
    const float* p = ball.positions() + 3 * i;
    double e[3];
    for (int r = 0; r < 3; ++r) e[r] = mv.m[r] * p[0] + mv.m[4 + r] * p[1] + mv.m[8 + r] * p[2] + mv.m[12 + r];
    if (-e[2] < ball.near_plane()) continue;
    const double off = std::hypot(std::atan2(e[0], -e[2]) / kRad - right, std::atan2(e[1], -e[2]) / kRad);
    if (off < best) {
      best = off;
      const double u = ball.uv_a()[2 * i], v = ball.uv_a()[2 * i + 1];
      // The sphere's centre is |eye| in front of the camera.
      const double c = std::fabs(eye);
      seen = {u * 360 - 180, 90 - v * 180, std::atan2(std::hypot(e[0], e[1]), -e[2] - c) / kRad};
    }
  }
  return seen;
}

double YawGap(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

TEST(PlayerView, TheKeyLooksWhereTheRenderersPanoramaSphereShows) {
  render::CBallModel ball(1000);
  ball.GenerateMesh(nullptr, 0, 3840, 1920, nullptr);
  for (const auto& [yaw, pitch] : {std::pair{90.0f, 0.0f}, {30.0f, 20.0f}, {250.0f, -35.0f}, {0.0f, 60.0f}}) {
    const PlayerView shown{yaw, pitch, 100, -1.3, false};
    const ViewKey key = KeyFromPlayerView(PlayerSphere::kPanorama, shown, 3);
    const Seen centre = SeenByRenderer(ball, yaw, pitch, -1.3f, 0);
    EXPECT_LE(YawGap(key.yaw, centre.yaw) * std::cos(centre.pitch * kRad), 2.5) << yaw << " " << pitch;
    EXPECT_NEAR(key.pitch, centre.pitch, 2.5) << yaw << " " << pitch;
    EXPECT_NEAR(key.roll, 0, 1e-6);
    EXPECT_EQ(key.t, 3);
    // Right of the centre in the window is right of it in the panorama, and as far across the
    // flat view as across the window (near the middle).
    const Seen beside = SeenByRenderer(ball, yaw, pitch, -1.3f, 4);
    if (std::fabs(pitch) < 30) {
      EXPECT_GT(std::remainder(beside.yaw - centre.yaw, 360.0), 0);
    }
    const double window_share = std::tan(4 * kRad) / std::tan(shown.fov * kRad / 2);
    const double flat_share = std::tan(beside.angle * kRad) / std::tan(key.fov * kRad / 2);
    EXPECT_NEAR(flat_share / window_share, 1.0, 0.1) << yaw << " " << pitch;
  }
}

// On the two-lens sphere lens 1 (the grid of table A, around the sphere's x axis) is the
// panorama's centre: the view the renderer centres on that axis is yaw 0, pitch 0.
TEST(PlayerView, TheFirstLensOfATwoLensSphereIsThePanoramasCentre) {
  render::CBallModel ball(1000);
  const std::vector<float> table(render::kGridTableRowFloats * 52, 100.0f);
  ball.GenerateMesh(table.data(), static_cast<int>(table.size()), 1920, 960, table.data());
  for (const float yaw : {0.0f, 90.0f, 180.0f, 270.0f}) {
    render::Matrix4 mv;
    mv.SetIdentity();
    mv.LookAt(0, 0, -1.3f, 0, 0, 0, 0, 1, 0);
    mv.Rotate(0, 1, 0, 0);
    mv.Rotate(yaw, 0, 1, 0);
    // Where the lens axis (the grid's first ring, a point) lands on the screen.
    const float* axis = ball.positions();
    const double x = mv.m[0] * axis[0] + mv.m[4] * axis[1] + mv.m[8] * axis[2] + mv.m[12];
    const double z = mv.m[2] * axis[0] + mv.m[6] * axis[1] + mv.m[10] * axis[2] + mv.m[14];
    const bool centred = std::fabs(x) < 1e-4 && -z > ball.near_plane();  // the far side, not the clipped near one
    const ViewKey key = KeyFromPlayerView(PlayerSphere::kDualLens, {yaw, 0, 90, -1.3, false}, 0);
    EXPECT_EQ(centred, YawGap(key.yaw, 0) < 1e-6) << yaw << " looks at " << key.yaw;
  }
}

TEST(PlayerView, PlayingAKeyBackShowsTheSameView) {
  for (const PlayerSphere sphere : {PlayerSphere::kPanorama, PlayerSphere::kDualLens, PlayerSphere::kSingleLens}) {
    for (const bool flipped : {false, true}) {
      const PlayerView shown{flipped ? 300.0 : 40.0, flipped ? 150.0 : -25.0, 90, -1.0, flipped};
      const ViewKey key = KeyFromPlayerView(sphere, shown, 0);
      const PlayerView back = PlayerViewFor(sphere, key, {0, 0, 70, -1.0, flipped});
      EXPECT_LE(YawGap(back.yaw, shown.yaw), 1e-6) << static_cast<int>(sphere) << flipped;
      EXPECT_NEAR(back.pitch, shown.pitch, 1e-6);
      EXPECT_NEAR(back.fov, shown.fov, 1e-6);
      // Flipped, the picture is upside down.
      EXPECT_NEAR(std::fabs(key.roll), flipped ? 180 : 0, 1e-6);
    }
  }
}

}  // namespace
}  // namespace spherolux::reframe
