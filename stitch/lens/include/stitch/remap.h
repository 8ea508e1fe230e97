// Photo remap maps: for every pixel of the part of an equirectangular panorama that one lens
// covers, the source position in the dual-fisheye frame with 8-bit bilinear weights.
//
// Rotations 0 and 180 put both lens axes on the horizon (maps Wm = trunc(H*F/180) wide and
// H high, F the field of view); rotations 90 and 270 put them on the poles (maps W wide and
// Hm = trunc(H*F/360) high). Every entry satisfies 0 <= x <= l - 2 and 0 <= y <= m - 2 inside
// its lens image (l x m), so the +1 neighbours are always inside the frame, whatever the
// record holds. Pure functions; safe from any thread.
#pragma once

#include "calib/camera_para.h"
#include "stitch/alignment.h"
#include "stitch/lens_model.h"
#include "stitch/remap_entry.h"

namespace spherolux {

// Geometry of the two photo maps for one output size and rotation.
struct PhotoMapGeometry {
  int source_width, source_height;  // the dual-fisheye frame (stacked when width < height)
  int width, height;                // output panorama, width == 2 * height, width <= kMaxPanoramaWidth
  int rotation;                     // 0, 90, 180, 270
  bool generation;                  // generation flag
};

constexpr int kMaxPanoramaWidth = 16384;  // maps of up to 16384 x 8192 outputs
constexpr int kMaxSourceSide = 32767;     // entry coordinates are 16-bit

// Map size (Wm, Hm) for the record's field of view and the rotation; false if it cannot be
// built (non-finite or non-positive field of view or one above 360 degrees, output not 2:1
// or wider than kMaxPanoramaWidth, source sides below 4 or above 32767, an empty map, rotation not
// 0/90/180/270).
bool PhotoMapSize(const DoubleFisheyeCameraPara& para, const PhotoMapGeometry& geo, int* map_width, int* map_height);

// Fills both maps, lens 1 then lens 2, each map_width * map_height entries allocated by the
// caller. Requires 0 <= para.lPointNum <= 50 (the caller refuses others; a larger count is
// read as 50 and a negative one as 0). Builds nothing when PhotoMapSize is false.
// `threads` splits the rows into disjoint slices built at once; the maps do not depend on it.
void BuildRemapMaps(const DoubleFisheyeCameraPara& para, const PhotoMapGeometry& geo, RemapEntry* map1,
                    RemapEntry* map2, int threads = 1);

// What both lenses' maps share, for the two builders below.
struct RemapSetup {
  const LensProfile* profile;
  int lens_class;
  double parallax_offset;       // b
  double parallax_distance;     // D
  double fov_degrees;           // F
  const float* ratio;           // radius ratio: 2 * map_height samples (horizontal), map_width (vertical)
  const ControlLineSet* lines;  // second lens's warp; null or empty for none
  int width, height;            // output panorama
  int map_width, map_height;    // Wm, Hm
  int lens_width, lens_height;  // l, m: one lens image
  bool stacked;                 // lenses one above the other
};

// One lens: its circle (centre and radius truncated to whole pixels) and whether it is the
// lens built second (azimuth correction, warp and offset into the second lens image).
struct RemapLens {
  double center_x, center_y, radius;
  bool second;
};

// Horizontal lens axes; rotation 180 reverses the finished map end to end.
void BuildRemapHorizontal(const RemapSetup& setup, const RemapLens& lens, int rotation, RemapEntry* map,
                          int threads = 1);
// Vertical lens axes; rotation 90 reverses the finished map end to end.
void BuildRemapVertical(const RemapSetup& setup, const RemapLens& lens, int rotation, RemapEntry* map, int threads = 1);

}  // namespace spherolux
