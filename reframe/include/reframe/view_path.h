// A view path: where a flat view cut out of a 360° recording looks at each moment, given as
// keyframes of (time, yaw, pitch, roll, field of view) and moving smoothly between them.
//
//   ViewPath path;
//   std::string error;
//   if (!ViewPath::Parse(text, &path, &error)) report(error);   // "line 4: ..."
//   const ViewState view = path.At(2.5);                         // seconds from the start
//   RotateToWorld(view.rotation, {0, 0, 1});                     // where the centre looks
//
// The file (UTF-8 JSON; other fields are kept out of the way and ignored):
//   {"keyframes": [{"t": 0.0, "yaw": 30, "pitch": 10, "roll": 0, "fov": 90}, ...],
//    "ease": false}
// `t` in seconds from the start of the range, strictly increasing; angles in degrees: yaw
// positive to the right, 0 at the centre of the panorama the converter writes and ±180 at its
// left and right edges; pitch positive up, within ±90; roll positive clockwise; `fov` the
// horizontal field of view of the output, within 1..170. Roll and fov may be left out (0, 90).
//
// Between keyframes the rotation follows a cubic Bézier curve on the sphere of rotations
// (de Casteljau with slerp) whose velocity at each keyframe is the time-weighted mean of the
// neighbouring chords, so the angular velocity is continuous through every keyframe, whatever
// their spacing; rotations are quaternions, so nothing jumps where yaw passes ±180° (each
// step takes the shorter way round). The field of view follows the same cubic in time. Before
// the first keyframe and after the last the view holds; with "ease" the view starts and stops
// at rest at the first and last keyframes (velocity zero there).
//
// World axes: x to the right of the panorama's centre, y up, z forward (towards the centre).
// Pure values; safe from any thread.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace spherolux::reframe {

struct Quaternion {
  double w = 1, x = 0, y = 0, z = 0;
};

struct ViewKey {
  double t = 0;
  double yaw = 0, pitch = 0, roll = 0;  // degrees
  double fov = 90;                      // degrees, horizontal
};

struct ViewState {
  Quaternion rotation;  // camera to world
  double yaw = 0, pitch = 0, roll = 0, fov = 90;
};

// The rotation of a view: yaw about y (to the right), then pitch about x (up), then roll
// about the view axis (clockwise as seen by the viewer).
Quaternion RotationOf(double yaw, double pitch, double roll);
// `v` (camera axes: x right, y up, z forward) in world axes.
std::array<double, 3> RotateToWorld(const Quaternion& q, const std::array<double, 3>& v);
// Yaw, pitch and roll (degrees) of a rotation, yaw in (-180, 180].
void AnglesOf(const Quaternion& q, double* yaw, double* pitch, double* roll);

class ViewPath {
 public:
  // Reads a path file; false with "line N: what is wrong" in `error` (N from 1) when the text
  // is no JSON, has no keyframes, or a keyframe lacks t, yaw or pitch, has a value out of its
  // range, or does not come after the one before it.
  static bool Parse(std::string_view text, ViewPath* out, std::string* error);
  // Reads a path file (a regular file of at most 16 MiB) and parses it; false with the reason
  // ("cannot be read", or Parse's "line N: ...") in `error`.
  static bool ReadFile(const std::string& file, ViewPath* out, std::string* error);
  // The file text of this path (one keyframe per line).
  std::string ToJson() const;

  // A path through these keyframes; false (and nothing changed) when they are empty, out of
  // range or not strictly increasing in time.
  bool Set(std::vector<ViewKey> keys, bool ease);

  ViewState At(double t) const;
  const std::vector<ViewKey>& keys() const { return keys_; }
  bool ease() const { return ease_; }

 private:
  void Prepare();

  std::vector<ViewKey> keys_;
  bool ease_ = false;
  std::vector<Quaternion> rotations_;        // per keyframe, each on the near side of the one before
  std::vector<std::array<double, 3>> spin_;  // per keyframe: velocity in the log (half-angle) space, local
  std::vector<double> fov_rate_;             // per keyframe: degrees per second
};

}  // namespace spherolux::reframe
