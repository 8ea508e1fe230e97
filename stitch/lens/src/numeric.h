// Small numeric guards shared by the table builders.
#pragma once

namespace spherolux::lens_internal {

// Clamps to [0, hi]: below 0 (and NaN) gives 0, not below hi gives hi.
inline double ClampCoordinate(double v, double hi) {
  if (!(v >= 0.0)) return 0.0;
  if (!(v < hi)) return hi;
  return v;
}

// trunc(v) clamped to [0, hi], NaN going to 0; never converts an out-of-range double.
inline int ClampIndex(double v, int hi) {
  if (!(v >= 0.0)) return 0;
  if (!(v < static_cast<double>(hi))) return hi;
  return static_cast<int>(v);
}

}  // namespace spherolux::lens_internal
