// Keyframes as the player edits them: the views a user takes of a playing video, kept in time
// order, moved, deleted and recorded while the user steers; and the player's own view turned
// into a keyframe of a view path (view_path.h) and back.
//
//   KeyframeTrack track;
//   track.Add(KeyFromPlayerView(PlayerSphere::kPanorama, shown, seconds));   // key K
//   track.Move(2, 7.5, length);                                               // a mark dragged
//   PathRecorder recorder;                                                    // "record path"
//   recorder.Offer(view) ... ;  track.ReplaceSpan(first, last, recorder.Finish());
//   ViewPath path;  track.ToPath(&path);  path.ToJson();
//
// The player draws a 360° picture on the inside of a sphere that a camera looks at from a
// point on the axis behind the sphere's centre (the eye distance), turned by yaw about the
// sphere's y axis and pitch about the camera's x axis; flipped, the picture is upside down
// (yaw turns the other way). The screen's centre looks along the camera's axis through the
// sphere's centre, so its direction is exact; the field of view of a flat output is the one
// whose middle has the scale the middle of the window has (from further back, the window
// shows more of the sphere than its own field of view), at most 170 degrees.
//
// Pure values; any thread.
#pragma once

#include <vector>

#include "reframe/view_path.h"

namespace spherolux::reframe {

// How the player's sphere lies in the panorama the converter writes.
enum class PlayerSphere {
  kPanorama,    // a stitched equirectangular picture on a sphere of radius 0.9
  kDualLens,    // two fisheyes, lens 1 on the sphere's x axis (radius 1)
  kSingleLens,  // one fisheye looking along the sphere's y axis (radius 1)
};

// The player's view: the model's yaw and pitch as it stores them (degrees), its field of view
// (degrees, across the window's width), the eye's distance (negative: behind the centre) and
// whether the picture is flipped.
struct PlayerView {
  double yaw = 0, pitch = 0, fov = 90;
  double eye_distance = -1.3;
  bool flipped = false;
};

// The keyframe at `t` of what the player shows.
ViewKey KeyFromPlayerView(PlayerSphere sphere, const PlayerView& view, double t);
// The player's yaw, pitch and field of view that show `key` (roll aside: the player cannot
// roll, but a flipped view is turned upside down), for the eye distance and flip in `shown`.
// Yaw in [0, 360); pitch in [-90, 90] ([90, 270] flipped); the field of view is not clamped
// to the model's limits.
PlayerView PlayerViewFor(PlayerSphere sphere, const ViewKey& key, const PlayerView& shown);

// The angle in degrees between two views, the larger of their turn and their change of field
// of view.
double ViewDistance(const ViewKey& a, const ViewKey& b);

class KeyframeTrack {
 public:
  // Keys closer than this in time are one: a key added there replaces the one there.
  static constexpr double kSameTime = 0.02;

  // Adds `key` in time order; returns its index.
  int Add(const ViewKey& key);
  // False for an index out of range.
  bool Remove(int index);
  // Moves key `index` to `t`, kept within [0, length] and kSameTime after the key before it and
  // before the key after it (a key never passes its neighbours); returns the time it got, or
  // -1 for an index out of range.
  double Move(int index, double t, double length);
  // The key nearest `t` within `tolerance` seconds; -1 when none is.
  int Nearest(double t, double tolerance) const;
  // Drops the keys within [from, to] and adds `keys` (time order).
  void ReplaceSpan(double from, double to, const std::vector<ViewKey>& keys);
  void Clear() { keys_.clear(); }

  const std::vector<ViewKey>& keys() const { return keys_; }
  bool empty() const { return keys_.empty(); }
  // The path through the keys; false (path untouched) when there are none.
  bool ToPath(ViewPath* path) const;
  // The keys of `path`.
  void Load(const ViewPath& path) { keys_ = path.keys(); }

 private:
  std::vector<ViewKey> keys_;
};

// Records the views a user steers while a video plays and keeps few of them: a path through the
// kept keys passes within `tolerance` degrees of every view offered.
class PathRecorder {
 public:
  explicit PathRecorder(double tolerance = 1.5) : tolerance_(tolerance) {}
  // The view shown at view.t; a view not later than the last one offered is ignored (a seek
  // backwards while recording keeps what came before).
  void Offer(const ViewKey& view);
  bool empty() const { return samples_.empty(); }
  double first() const { return samples_.empty() ? 0 : samples_.front().t; }
  double last() const { return samples_.empty() ? 0 : samples_.back().t; }
  // The keys, in time order; the recorder starts again empty.
  std::vector<ViewKey> Finish();

 private:
  double tolerance_;
  std::vector<ViewKey> samples_;
};

}  // namespace spherolux::reframe
