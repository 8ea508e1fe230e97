// Row kernels of the photo map builders: the direction of every pixel of a map row, sines
// and cosines of a row of azimuths, and the placement of a row of lens points into map
// entries.
//
// A horizontal map row looks along the output row at tilt alpha; column c looks at
// longitude lambda_c. With u = sin(alpha) sin(lambda), s = sin(alpha) cos(lambda),
// t = cos(alpha) and g = sqrt(u^2 + t^2), the pixel's incidence (angle from the lens axis)
// is atan2(g, s) and its azimuth around the axis atan2(t, u), in [-pi, pi); on the axis
// itself (g == 0) the azimuth is 0. atan2(g, s) is acos(s) without acos's loss of accuracy
// near the axis.
//
// The direction and sine/cosine kernels use +, -, *, /, sqrt, floor, comparisons and
// selections only (no libm, no fused multiply-add), in the same order in their scalar and
// AVX2 forms, so both forms give the same bits on every processor.
#pragma once

#include <cstdint>

#include "numeric.h"
#include "stitch/remap_entry.h"

namespace spherolux::lens_internal {

// Packs a clamped position (0 <= x, y and below 32767) into an entry; the weights are the
// fractions times 255, plus `rounding` before truncation.
inline RemapEntry EncodeEntry(double x, double y, double rounding) {
  const int ix = static_cast<int>(x);
  const int iy = static_cast<int>(y);
  // (x - ix) < 1, so the weights stay within 0..255.
  const int fx = static_cast<int>((x - ix) * 255.0 + rounding);
  const int fy = static_cast<int>((y - iy) * 255.0 + rounding);
  RemapEntry e;
  e.x = static_cast<int16_t>(ix);
  e.wx0 = static_cast<uint8_t>(255 - fx);
  e.wx1 = static_cast<uint8_t>(fx);
  e.y = static_cast<int16_t>(iy);
  e.wy0 = static_cast<uint8_t>(255 - fy);
  e.wy1 = static_cast<uint8_t>(fy);
  return e;
}

// Where a direction lands in the frame: clamped into the lens image so that the +1
// neighbours stay inside it, then moved into the second lens image when asked.
struct Placer {
  double center_x, center_y;
  double max_x, max_y;  // l - 2, m - 2
  double offset_x, offset_y;

  RemapEntry Place(double cos_phi, double sin_phi, double radius, double rounding) const {
    const double x = ClampCoordinate(cos_phi * radius + center_x, max_x) + offset_x;
    const double y = ClampCoordinate(sin_phi * radius + center_y, max_y) + offset_y;
    return EncodeEntry(x, y, rounding);
  }
};

struct RowDirections {
  double* theta;    // incidence
  double* phi;      // azimuth
  double* cos_phi;  // cos and sin of the azimuth: u / g and t / g (1 and 0 on the axis)
  double* sin_phi;
};

struct MapRowKernels {
  // Columns [0, n) of one horizontal row: sin_a = sin(alpha), t = cos(alpha), and the sines
  // and cosines of the columns' longitudes.
  void (*directions)(double sin_a, double t, const double* sin_l, const double* cos_l, int n, const RowDirections& out);
  // cos and sin of n angles, within a few units in the last place for |angle| below 1e6;
  // `angle` may be `cos_out`.
  void (*sin_cos)(const double* angle, int n, double* cos_out, double* sin_out);
};

// out[c] = placer.Place(cos_phi[c], sin_phi[c], radius[c], rounding) for c in [0, n).
inline void PlaceRow(const Placer& placer, const double* cos_phi, const double* sin_phi, const double* radius,
                     double rounding, int n, RemapEntry* out) {
  for (int c = 0; c < n; ++c) out[c] = placer.Place(cos_phi[c], sin_phi[c], radius[c], rounding);
}

// atan2(y, x) for finite arguments, within a few units in the last place; atan2(0, 0) is 0.
double Atan2(double y, double x);

const MapRowKernels& ScalarMapRowKernels();
// The AVX2 forms, or null when the processor lacks AVX2.
const MapRowKernels* Avx2MapRowKernels();
// The fastest forms this processor runs.
const MapRowKernels& ActiveMapRowKernels();

}  // namespace spherolux::lens_internal
