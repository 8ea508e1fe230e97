// Azimuth corrections of the second lens, for callers that already hold sin and cos of
// the azimuth.
#pragma once

#include <cmath>

#include "stitch/lens_model.h"

namespace spherolux::lens_internal {

// atan(y / x) moved into the half plane of x < 0; y == 0 with x < 0 stays at +-0.
inline double Atan2q(double y, double x) {
  double v = std::atan(y / x);
  if (x < 0 && y < 0) v -= kLensPi;
  if (x < 0 && y > 0) v += kLensPi;
  return v;
}

inline double CorrectAzimuthParallax(double phi, double sin_phi, double cos_phi, double distance, double offset) {
  const double p = Atan2q(distance * sin_phi, distance * cos_phi - offset);
  const double q = Atan2q(250.0 * sin_phi, 250.0 * cos_phi - offset);
  return phi - (q - p);
}

inline double CorrectAzimuthOffset(double sin_phi, double cos_phi, double distance) {
  return Atan2q(distance * sin_phi - 12.5, distance * cos_phi);
}

}  // namespace spherolux::lens_internal
