// Conversions that never meet undefined behaviour, for values read from files.
#pragma once

#include <limits>

namespace spherolux {

// Truncates toward zero into an int; NaN gives 0 and values beyond the int range saturate.
inline int SaturatingTrunc(double v) {
  if (!(v == v)) return 0;
  if (v >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (v <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

}  // namespace spherolux
