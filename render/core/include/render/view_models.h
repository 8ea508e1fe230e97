// The six view models a renderer draws with, the seven view modes, and the per-medium
// settings that follow each mesh generation. Portable: no GL here.
#pragma once

#include <memory>
#include <optional>

#include "render/shape_model.h"

namespace spherolux::render {

// View modes, chosen by the player.
enum ViewMode : int {
  kModeSphere = 0,
  kModeTile = 1,
  kModePlanet = 2,
  kModeHalfBall = 3,
  kModeIndome = 4,
  kModeLayer = 5,
  kModeFlat = 6,
};
constexpr int kViewModeCount = 7;

// Media kinds: the camera type of the file. Any other value is a stitched panorama.
constexpr int kMediaSingleLens = 1;
constexpr int kMediaDualLens = 2;

// Floats of one dual-lens sphere grid (52 rows) and of the single-lens grid (49 rows).
constexpr int kDualLensTableFloats = 52 * kGridTableRowFloats;
constexpr int kSingleLensTableFloats = 49 * kGridTableRowFloats;

struct Viewport {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Viewport&) const = default;
};

// Viewport of `mode` in a window of width x height pixels. The spherical modes (0, 1, 2, 3,
// 5) draw into a square of side max(width, height) centred on the window; the in-dome view
// into a double-height viewport whose lower half is shown (the upper half when flipped);
// the flat view into the whole window. Unknown modes give no viewport.
std::optional<Viewport> ComputeViewport(int mode, int width, int height, bool flip);

// The picture turned by `degrees` (0, 90, 180 or 270, clockwise) through its texture
// coordinates: `pairs` (u, v) pairs of `in`, v growing downwards through the picture, are
// written to `out` so that a mesh drawn with them shows the turned picture, stretched to
// the frame's own proportions. Other angles copy the pairs unchanged.
void RotateTextureCoordinates(const float* in, int pairs, int degrees, float* out);

// The six models: sphere A, B and C (modes 0, 1, 2), cap (3), in-dome (4), layer (5).
// Sphere B keeps its pitch within the clamp; sphere C is the planet view.
class ViewModelSet {
 public:
  // `diagonal` is the window diagonal in pixels.
  explicit ViewModelSet(float diagonal);

  // The model of a view mode 0-5; null for the flat view and unknown modes.
  CShapeModel* ForMode(int mode) const;

  CBallModel& sphere_a() const { return *sphere_a_; }
  CBallModel& sphere_b() const { return *sphere_b_; }
  CBallModel& sphere_c() const { return *sphere_c_; }
  CHalfBallModel& cap() const { return *cap_; }
  CIndomeModel& indome() const { return *indome_; }
  CLayerModel& layer() const { return *layer_; }

  // Regenerates the meshes a medium uses and sets their field-of-view limits, current value
  // and eye distance. Single-lens media (kind 1) rebuild the cap, in-dome and layer from
  // table A; dual-lens media (kind 2) the three spheres from tables A and B; other media
  // the spheres as an equirectangular panorama when width == 2 * height. Each table holds
  // `table_floats` floats. Returns false (meshes untouched) for other media.
  bool SetMediaKind(int kind, int width, int height, const float* table_a, const float* table_b, int table_floats);

  // Flip on every model that has one.
  void SetFlip(bool on);

 private:
  std::unique_ptr<CBallModel> sphere_a_;
  std::unique_ptr<CBallModel> sphere_b_;
  std::unique_ptr<CBallModel> sphere_c_;
  std::unique_ptr<CHalfBallModel> cap_;
  std::unique_ptr<CIndomeModel> indome_;
  std::unique_ptr<CLayerModel> layer_;
};

}  // namespace spherolux::render
