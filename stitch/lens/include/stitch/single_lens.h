// Single-lens fisheye model: where the lens circle lies in a frame, one fixed lens table
// spanning 0 to 95 degrees, the player's sphere grid, and the remap table that unwraps the
// circle into an equirectangular panorama.
//
// Pure functions; safe from any thread.
#pragma once

#include <array>
#include <cstdint>

#include "calib/camera_para.h"

namespace spherolux {

// The lens circle in frame pixels.
struct SingleLensCircle {
  int x = 0;
  int y = 0;
  float radius = 0;
};

// The circle of a single-lens record in a width x height frame, as the player's grid and the
// video engine use it: the record gives the circle for a 1080-line frame of the camera's own
// aspect (16:9, 4:3, 18:10 or 1:1); it is scaled to `height` lines, its radius reduced by
// 10 pixels first. Non-finite or huge record values saturate instead of overflowing.
SingleLensCircle SingleLensCircleForFrame(const SingleFisheyeCameraPara& para, int width, int height);

// The photo pipeline's circle for a photo of `height` lines, a different rule on purpose:
// centre and radius are truncated to whole pixels, the centre moved 240 pixels left whatever
// the photo's aspect, all three scaled by height / 1080 and truncated again; the radius keeps
// its full size. Non-finite or huge record values saturate instead of overflowing.
SingleLensCircle PhotoSingleLensCircle(const SingleFisheyeCameraPara& para, int height);

// The single-lens table: 51 rows, angle i * 0.03316126 rad (1.9 degrees) against the
// normalised image height; the last row (95 degrees, 1.4576191) marks the circle's rim.
struct SingleLensRow {
  float angle;
  float height;
};
constexpr int kSingleLensRows = 51;
extern const std::array<SingleLensRow, kSingleLensRows> SingleLensTable;

// Radius (pixels) at incidence theta for a circle of `radius` pixels.
// Grid form: 0 for theta < 0, extrapolated beyond 95 degrees.
double SingleLensGridRadius(double theta, double radius);
// Remap form: 1.0e8 (outside any picture) for theta < 0 or beyond the last row.
double SingleLensRemapRadius(double theta, double radius);

// One remap entry: source position in 24.8 fixed point, or x = y = -1 for no source.
struct SingleLensRemapEntry {
  int32_t x;
  int32_t y;
};

// Remap table for an output of w x h (h = w / 2) from a W x H source with the circle at
// (cx, cy) of radius r, for rotation 0 (lens towards the zenith), 180 (towards the nadir),
// 90 or 270 (towards the horizon). Any other rotation, or a non-positive size, builds
// nothing and returns false. The field of view does not enter the result.
bool BuildSingleLensRemap(int src_width, int src_height, float center_x, float center_y, float fov_degrees,
                          float radius, SingleLensRemapEntry* table, int width, int height, int rotation);

// Applies a remap table to an I420 picture (planes back to back: luma W x H, then two
// W/2 x H/2 chroma planes) and writes a w x h I420 picture in 2 x 2 blocks. Entries
// outside the source, and the -1 entries, give black luma and neutral chroma.
void RemapSingleLens(const uint8_t* src, int src_width, int src_height, uint8_t* dst, int width, int height,
                     const SingleLensRemapEntry* table);

}  // namespace spherolux
