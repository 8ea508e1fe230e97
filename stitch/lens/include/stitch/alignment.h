// Seam alignment of the dual-lens geometry: the radius ratio per azimuth, the azimuth
// corrections of the second lens, and the control-line warp.
//
// Pure functions over their inputs and outputs; safe from any thread.
#pragma once

#include <cstdint>

#include "calib/camera_para.h"

namespace spherolux {

// Radius ratio: a multiplier of the lens radius per azimuth sample, built from 48 segment
// values (one per 7.5 degrees) through a 1920-sample fine array. Single precision.
enum class RatioVariant { kA, kB };

// Fills ratio[0..count-1] (nothing for count <= 0).
void BuildRadiusRatio(RatioVariant variant, float base, int count, float* ratio);

struct RatioRule {
  RatioVariant variant;
  float base;
};
// Variant and base for the video grids and for the photo maps, from the model code, the
// ratio base (RatioBase of lens_model.h) and the generation flag.
RatioRule VideoRatioRule(int32_t model_code, float ratio_base, bool generation);
RatioRule PhotoRatioRule(int32_t model_code, float ratio_base, bool generation);

// Lens class 1: moves a point seen at distance 250 to where it would be seen at `distance`,
// the second lens sitting `offset` off the first lens's axis. Radians, double precision.
double CorrectAzimuthParallax(double phi, double distance, double offset);
// Lens class 2: the azimuth seen from 12.5 units off the axis at `distance`.
double CorrectAzimuthOffset(double phi, double distance);
// out[i] = correction of -pi + i * (2 pi / count), the azimuth accumulated step by step.
void TabulateAzimuthParallax(int count, double distance, double offset, double* out);
void TabulateAzimuthOffset(int count, double distance, double* out);

// Control lines in (azimuth, polar angle) radians with their line coefficients
// x = K * y + B. src/dst hold the converted (unwrapped) end points.
struct ControlLineSet {
  int count = 0;  // 0..kMaxControlLines
  ControlLine src[kMaxControlLines];
  ControlLine dst[kMaxControlLines];
  float pfKSrc[kMaxControlLines] = {};
  float pfBSrc[kMaxControlLines] = {};
  float pfKDst[kMaxControlLines] = {};
  float pfBDst[kMaxControlLines] = {};
};

// Converts `count` source and destination lines (pixels of the 1920 x 960 reference
// panorama) and fits their coefficients. count is clamped to 0..kMaxControlLines.
// A line with P1.y == P2.y (no x = K*y + B form) becomes the vertical line through the
// mean of its two x values; the separation of crossing intercepts keeps the old slope of a
// line whose P1.y is 0. All coefficients are finite for finite input.
void PrepareControlLines(int count, const ControlLine* src, const ControlLine* dst, ControlLineSet* out);

// Carries the polar angle theta and azimuth phi of a second-lens direction from the source
// lines onto the destination lines (single precision). With no lines, or when the lines
// give no finite result (degenerate or non-finite records), the direction is unchanged.
void WarpByControlLines(float theta, float phi, const ControlLineSet& lines, float* phi_out, float* theta_out);

}  // namespace spherolux
