#include "reframe/keyframes.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace spherolux::reframe {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRad = kPi / 180.0;
constexpr double kMaxFov = 170.0;

using Vec = std::array<double, 3>;
using Mat = std::array<Vec, 3>;  // rows

Vec Times(const Mat& m, const Vec& v) {
  return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2], m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
          m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}

Vec TransposeTimes(const Mat& m, const Vec& v) {
  return {m[0][0] * v[0] + m[1][0] * v[1] + m[2][0] * v[2], m[0][1] * v[0] + m[1][1] * v[1] + m[2][1] * v[2],
          m[0][2] * v[0] + m[1][2] * v[1] + m[2][2] * v[2]};
}

// World axes (x right of the panorama's centre, y up, z towards it) from the sphere's own. The
// picture is seen from inside, so each is a reflection: with the camera's right along the
// sphere's -x (as the renderer's camera has it) the view is a proper rotation.
Mat WorldFromSphere(PlayerSphere sphere) {
  switch (sphere) {
    case PlayerSphere::kDualLens:
      // Lens 1 (the panorama's centre) on the sphere's x axis.
      return {{{0, 0, 1}, {0, 1, 0}, {1, 0, 0}}};
    case PlayerSphere::kPanorama:
    case PlayerSphere::kSingleLens:
      break;
  }
  return {{{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
}

double RadiusOf(PlayerSphere sphere) { return sphere == PlayerSphere::kPanorama ? 0.9 : 1.0; }

// How much wider than the window's own field of view its middle looks from the sphere's centre.
double Spread(PlayerSphere sphere, double eye_distance) {
  const double r = RadiusOf(sphere);
  return (r + std::fabs(eye_distance)) / r;
}

// The model's rotation (sphere to camera): pitch about x after yaw about y.
Vec Unrotate(double yaw, double pitch, const Vec& v) {
  const double cy = std::cos(yaw * kRad), sy = std::sin(yaw * kRad);
  const double cp = std::cos(pitch * kRad), sp = std::sin(pitch * kRad);
  // Rx(pitch)^T, then Ry(yaw)^T.
  const Vec a = {v[0], cp * v[1] + sp * v[2], -sp * v[1] + cp * v[2]};
  return {cy * a[0] - sy * a[2], a[1], sy * a[0] + cy * a[2]};
}

// The quaternion of a rotation matrix given by its columns.
Quaternion FromColumns(const Vec& x, const Vec& y, const Vec& z) {
  const double m00 = x[0], m11 = y[1], m22 = z[2];
  const double trace = m00 + m11 + m22;
  Quaternion q;
  if (trace > 0) {
    const double s = 2 * std::sqrt(1 + trace);
    q = {s / 4, (y[2] - z[1]) / s, (z[0] - x[2]) / s, (x[1] - y[0]) / s};
  } else if (m00 > m11 && m00 > m22) {
    const double s = 2 * std::sqrt(1 + m00 - m11 - m22);
    q = {(y[2] - z[1]) / s, s / 4, (y[0] + x[1]) / s, (z[0] + x[2]) / s};
  } else if (m11 > m22) {
    const double s = 2 * std::sqrt(1 + m11 - m00 - m22);
    q = {(z[0] - x[2]) / s, (y[0] + x[1]) / s, s / 4, (z[1] + y[2]) / s};
  } else {
    const double s = 2 * std::sqrt(1 + m22 - m00 - m11);
    q = {(x[1] - y[0]) / s, (z[0] + x[2]) / s, (z[1] + y[2]) / s, s / 4};
  }
  return q;
}

double Wrap360(double degrees) {
  double d = std::fmod(degrees, 360.0);
  if (d < 0) d += 360.0;
  return d >= 360.0 ? 0.0 : d;
}

}  // namespace

ViewKey KeyFromPlayerView(PlayerSphere sphere, const PlayerView& view, double t) {
  const Mat world = WorldFromSphere(sphere);
  const double yaw = view.flipped ? -view.yaw : view.yaw;
  // The camera's axes in the sphere's frame: right is -x, up y, forward z before the turn.
  const auto axis = [&](const Vec& v) { return Times(world, Unrotate(yaw, view.pitch, v)); };
  ViewKey key;
  key.t = t;
  AnglesOf(FromColumns(axis({-1, 0, 0}), axis({0, 1, 0}), axis({0, 0, 1})), &key.yaw, &key.pitch, &key.roll);
  const double half = std::atan(Spread(sphere, view.eye_distance) * std::tan(view.fov * kRad / 2));
  key.fov = std::clamp(2 * half / kRad, 1.0, kMaxFov);
  return key;
}

PlayerView PlayerViewFor(PlayerSphere sphere, const ViewKey& key, const PlayerView& shown) {
  const Vec forward = RotateToWorld(RotationOf(key.yaw, key.pitch, key.roll), {0, 0, 1});
  const Vec f = TransposeTimes(WorldFromSphere(sphere), forward);
  PlayerView view = shown;
  const double pitch = std::asin(std::clamp(f[1], -1.0, 1.0)) / kRad;
  if (shown.flipped) {
    view.pitch = 180.0 - pitch;
    view.yaw = Wrap360(std::atan2(-f[0], -f[2]) / kRad);
  } else {
    view.pitch = pitch;
    view.yaw = Wrap360(std::atan2(-f[0], f[2]) / kRad);
  }
  view.fov = 2 * std::atan(std::tan(key.fov * kRad / 2) / Spread(sphere, shown.eye_distance)) / kRad;
  return view;
}

double ViewDistance(const ViewKey& a, const ViewKey& b) {
  const Quaternion p = RotationOf(a.yaw, a.pitch, a.roll), q = RotationOf(b.yaw, b.pitch, b.roll);
  const double dot = std::fabs(p.w * q.w + p.x * q.x + p.y * q.y + p.z * q.z);
  const double turn = 2 * std::acos(std::min(1.0, dot)) / kRad;
  return std::max(turn, std::fabs(a.fov - b.fov));
}

// ---------------------------------------------------------------------------------------------
// KeyframeTrack

int KeyframeTrack::Add(const ViewKey& key) {
  const int same = Nearest(key.t, kSameTime);
  if (same >= 0) {
    keys_[static_cast<size_t>(same)] = key;
    return same;
  }
  const auto at =
      std::upper_bound(keys_.begin(), keys_.end(), key.t, [](double t, const ViewKey& k) { return t < k.t; });
  const auto added = keys_.insert(at, key);
  return static_cast<int>(added - keys_.begin());
}

bool KeyframeTrack::Remove(int index) {
  if (index < 0 || index >= static_cast<int>(keys_.size())) return false;
  keys_.erase(keys_.begin() + index);
  return true;
}

double KeyframeTrack::Move(int index, double t, double length) {
  if (index < 0 || index >= static_cast<int>(keys_.size())) return -1;
  const size_t i = static_cast<size_t>(index);
  double lo = 0, hi = std::max(0.0, length);
  if (i > 0) lo = keys_[i - 1].t + kSameTime;
  if (i + 1 < keys_.size()) hi = std::min(hi, keys_[i + 1].t - kSameTime);
  // Neighbours closer than two steps leave the key where it is.
  keys_[i].t = lo <= hi ? std::clamp(t, lo, hi) : keys_[i].t;
  return keys_[i].t;
}

int KeyframeTrack::Nearest(double t, double tolerance) const {
  int best = -1;
  double best_gap = tolerance;
  for (size_t i = 0; i < keys_.size(); ++i) {
    const double gap = std::fabs(keys_[i].t - t);
    if (gap <= best_gap) {
      best = static_cast<int>(i);
      best_gap = gap;
    }
  }
  return best;
}

void KeyframeTrack::ReplaceSpan(double from, double to, const std::vector<ViewKey>& keys) {
  std::erase_if(keys_, [&](const ViewKey& k) { return k.t >= from && k.t <= to; });
  for (const ViewKey& key : keys) Add(key);
}

bool KeyframeTrack::ToPath(ViewPath* path) const { return !keys_.empty() && path->Set(keys_, false); }

// ---------------------------------------------------------------------------------------------
// PathRecorder

namespace {

// Whether the path through keys [first, end) of `keys` without key `skip` passes within
// `tolerance` of every sample in [from, to]. The curve between two keys depends on the keys
// next to them only, so the keys three either side of `skip` are enough.
bool FollowsWithout(const std::vector<ViewKey>& keys, size_t skip, const std::vector<ViewKey>& samples, double from,
                    double to, double tolerance) {
  std::vector<ViewKey> near;
  for (size_t i = skip >= 3 ? skip - 3 : 0; i < std::min(keys.size(), skip + 4); ++i) {
    if (i != skip) near.push_back(keys[i]);
  }
  ViewPath path;
  if (!path.Set(std::move(near), false)) return false;
  const auto first =
      std::lower_bound(samples.begin(), samples.end(), from, [](const ViewKey& k, double t) { return k.t < t; });
  for (auto s = first; s != samples.end() && s->t <= to; ++s) {
    const ViewState v = path.At(s->t);
    if (ViewDistance(*s, {s->t, v.yaw, v.pitch, v.roll, v.fov}) > tolerance) return false;
  }
  return true;
}

}  // namespace

void PathRecorder::Offer(const ViewKey& view) {
  if (!samples_.empty() && view.t <= samples_.back().t) return;
  samples_.push_back(view);
}

std::vector<ViewKey> PathRecorder::Finish() {
  std::vector<ViewKey> samples = std::move(samples_);
  samples_.clear();
  // Every view is a key at first, so the path passes them all; then each key the others
  // already predict goes. A key's removal changes the curve up to two keys either side, and
  // only the views there are checked again.
  std::vector<ViewKey> kept = samples;
  for (size_t i = 1; i + 1 < kept.size();) {
    const double from = kept[i >= 2 ? i - 2 : 0].t;
    const double to = kept[std::min(kept.size() - 1, i + 2)].t;
    if (FollowsWithout(kept, i, samples, from, to, tolerance_)) {
      kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  return kept;
}

}  // namespace spherolux::reframe
