// Fisheye lens model of the dual-lens cameras: the eight height tables, the table and lens
// class of each camera model code, and the 5-point Lagrange height model.
//
// Everything here is constant data or a pure function; safe from any thread.
#pragma once

#include <cstdint>

namespace spherolux {

// Angle constants of the stitching engine, exactly these double values.
inline constexpr double kLensPi = 3.1415926535898;
inline constexpr double kLensTwoPi = 6.2831853071796;
inline constexpr double kLensHalfPi = 1.5707963267949;

// A lens table: image height (in focal lengths) against incidence angle (radians).
// angles ascend from angles[0] == 0; heights start at 0 and ascend. Static data.
struct LensProfile {
  int count;
  const double* angles;
  const double* heights;
};

// Tables L1..L8 by number (1..8); nullptr for any other number.
const LensProfile* LensTable(int number);

// What a camera model code selects.
struct LensModel {
  const LensProfile* profile;  // never null
  int table_number;            // 1..8
  int lens_class;              // 0, 1 or 2: the second lens's azimuth correction
  double parallax_offset;      // b of the lens-class-1 parallax correction
};

// Table, class and parallax offset of a camera model code (unknown codes: L6, class 0).
LensModel LensModelForCode(int32_t model_code);

// Generation flag: true for model codes of 300 or more.
inline bool GenerationForCode(int32_t model_code) { return model_code >= 300; }

// Parallax distance D: 1000 for the generation flag, else 3000.
inline double ParallaxDistance(bool generation) { return generation ? 1000.0 : 3000.0; }

// Ratio base r of a record: fRatio + 0.003 for codes 300 and 301, fRatio - 0.003 for code 3.
float RatioBase(int32_t model_code, float ratio);

// Height model times k: 0 for theta < 0; otherwise the Lagrange polynomial through five
// consecutive rows around the last row whose angle is <= theta (rows 0-4 near the start,
// the last five rows near and beyond the end, which extrapolates).
double LensRadius(const LensProfile& table, double theta, double k);

// Scale k that puts the rim of a field of view (full aperture, degrees) on a circle of
// `radius` pixels: radius / LensRadius(table, fov * pi / 360, 1). Not finite when the
// height at the rim is 0 or the inputs are not finite; callers clamp what results.
double LensScale(const LensProfile& table, double radius, double fov_degrees);

}  // namespace spherolux
