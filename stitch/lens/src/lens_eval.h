// Inline height model shared by the builders (LensRadius is its public form).
#pragma once

#include <algorithm>
#include <vector>

#include "stitch/lens_model.h"

namespace spherolux::lens_internal {

// First row of the five-row window around theta.
inline int LagrangeWindow(const double* angles, int count, double theta) {
  // Last row whose angle is <= theta, or 0; a NaN theta compares false everywhere and
  // selects the last row, as a scan that never meets a larger angle would.
  int c = static_cast<int>(std::upper_bound(angles, angles + count, theta) - angles) - 1;
  if (c < 2) return 0;
  if (c > count - 3) return count - 5;
  return c - 2;
}

// Lagrange polynomial through rows lo..lo+4 at theta; the basis terms summed in row order.
inline double LagrangeAt(const double* angles, const double* heights, int lo, double theta) {
  double d[5];
  for (int j = 0; j < 5; ++j) d[j] = theta - angles[lo + j];
  double sum = 0.0;
  for (int i = 0; i < 5; ++i) {
    double num = 1.0;
    double den = 1.0;
    for (int j = 0; j < 5; ++j) {
      if (j == i) continue;
      num *= d[j];
      den *= angles[lo + i] - angles[lo + j];
    }
    sum += heights[lo + i] * num / den;
  }
  return sum;
}

// Height at theta in focal lengths: 0 behind the lens (theta < 0).
inline double LensHeight(const LensProfile& table, double theta) {
  if (theta < 0.0) return 0.0;
  int lo = LagrangeWindow(table.angles, table.count, theta);
  return LagrangeAt(table.angles, table.heights, lo, theta);
}

}  // namespace spherolux::lens_internal

namespace spherolux::lens_internal {

// The height model of one table for many nearby angles, as the table builders need it:
// the Lagrange denominators are folded into per-window weights once, and the window is
// found by walking from the previous one. Agrees with LensHeight to rounding.
class LensEvaluator {
 public:
  explicit LensEvaluator(const LensProfile& table) : angles_(table.angles), count_(table.count) {
    const int windows = count_ - 4;
    weights_.resize(static_cast<size_t>(windows) * 5);
    for (int lo = 0; lo < windows; ++lo) {
      for (int i = 0; i < 5; ++i) {
        double den = 1.0;
        for (int j = 0; j < 5; ++j) {
          if (j != i) den *= angles_[lo + i] - angles_[lo + j];
        }
        weights_[static_cast<size_t>(lo) * 5 + i] = table.heights[lo + i] / den;
      }
    }
  }

  double Height(double theta) {
    if (theta < 0.0) return 0.0;
    if (theta != theta) return theta;
    int c = row_;
    if (angles_[c] <= theta) {
      while (c + 1 < count_ && angles_[c + 1] <= theta) ++c;
    } else {
      while (c > 0 && angles_[c] > theta) --c;
    }
    row_ = c;
    const int lo = c < 2 ? 0 : (c > count_ - 3 ? count_ - 5 : c - 2);
    const double* a = angles_ + lo;
    const double d0 = theta - a[0];
    const double d1 = theta - a[1];
    const double d2 = theta - a[2];
    const double d3 = theta - a[3];
    const double d4 = theta - a[4];
    const double* w = weights_.data() + static_cast<size_t>(lo) * 5;
    const double p01 = d0 * d1;
    const double p34 = d3 * d4;
    return w[0] * (d1 * d2 * p34) + w[1] * (d0 * d2 * p34) + w[2] * (p01 * p34) + w[3] * (p01 * d2 * d4) +
           w[4] * (p01 * d2 * d3);
  }

 private:
  const double* angles_;
  int count_;
  int row_ = 0;
  std::vector<double> weights_;
};

}  // namespace spherolux::lens_internal
