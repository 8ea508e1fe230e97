// Fisheye lens model of the dual-lens cameras: the eight height tables, what each camera model
// code selects, and the 5-point Lagrange height model.
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

// Everything a camera model code (the lModel of a dual-lens record) selects. One table in
// lens_model.cpp holds every code the cameras use; any other code selects lens table L6,
// lens class 0 and no ratio adjustments.
struct CameraModel {
  const LensProfile* profile;  // never null
  int table_number;            // 1..8
  int lens_class;              // 0, 1 or 2: the second lens's azimuth correction
  double parallax_offset;      // b of the lens-class-1 parallax correction
  double ratio_offset;         // added to fRatio to give the ratio base (RatioBase)
  // The radius-ratio rule (VideoRatioRule, PhotoRatioRule of alignment.h): with
  // ratio_lowered and without the generation flag, variant A at the base less 0.003; with
  // video_ratio_b (photo_ratio_b) and the flag, variant B; otherwise variant A at the base
  // plus ratio_shift.
  bool ratio_lowered;
  bool video_ratio_b;
  bool photo_ratio_b;
  double ratio_shift;
  bool quarter_turn;  // the lens azimuths start a quarter turn on (-pi/2)
};

CameraModel CameraModelForCode(int32_t model_code);

// Generation flag: true for model codes of 300 or more.
inline bool GenerationForCode(int32_t model_code) { return model_code >= 300; }

// Parallax distance D: 1000 for the generation flag, else 3000.
inline double ParallaxDistance(bool generation) { return generation ? 1000.0 : 3000.0; }

// Ratio base r of a record: fRatio plus the model's ratio_offset (+0.003 for codes 300 and
// 301, -0.003 for code 3).
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
