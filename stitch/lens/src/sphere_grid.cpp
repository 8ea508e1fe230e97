#include "stitch/sphere_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "lens_eval.h"
#include "numeric.h"
#include "stitch/alignment.h"
#include "stitch/lens_model.h"
#include "stitch/trace.h"

namespace spherolux {
namespace {

using lens_internal::ClampCoordinate;
using lens_internal::LensHeight;

// Appends one grid to a trace file: a line with one blank, then every float.
void TraceGrid(const char* name, const float* grid, size_t count) {
  UniqueFile f = OpenTraceFile(name, "a");
  if (!f) return;
  std::fputs(" \n", f.get());
  for (size_t i = 0; i < count; ++i) std::fprintf(f.get(), "%f ", grid[i]);
  std::fputs("\n", f.get());
}

}  // namespace

void BuildSphereGrids(const DoubleFisheyeCameraPara& para, int width, int height, int columns, int rings,
                      bool generation, float* table_a, float* table_b) {
  (void)height;                   // the lens images are W/2 square; the caller checks W == 2 * H
  const int steps = columns - 1;  // azimuth samples; the last column closes the ring
  const int positions = steps / 2 + 1;
  if (table_a == nullptr || table_b == nullptr || width < 4 || steps < 2 || steps % 2 != 0 || rings < 1 ||
      rings > positions) {
    return;
  }
  const float scale = static_cast<float>(width) / 1920.0f;
  const double cx1 = std::trunc(static_cast<double>(para.stPoint1.x * scale));
  const double cy1 = std::trunc(static_cast<double>(para.stPoint1.y * scale));
  const double r1 = para.stPoint1.radius * scale;
  const double cx2 = std::trunc(static_cast<double>(para.stPoint2.x * scale));
  const double cy2 = std::trunc(static_cast<double>(para.stPoint2.y * scale));
  const double r2 = para.stPoint2.radius * scale;

  const CameraModel model = CameraModelForCode(para.lModel);
  const double distance = ParallaxDistance(generation);
  const RatioRule rule = VideoRatioRule(para.lModel, RatioBase(para.lModel, para.fRatio), generation);
  std::vector<float> ratio(static_cast<size_t>(steps) + 1);
  BuildRadiusRatio(rule.variant, rule.base, steps, ratio.data());
  ratio[steps] = ratio[0];

  ControlLineSet lines;
  PrepareControlLines(std::clamp(para.lPointNum, 0, kMaxControlLines), para.mstPf1, para.mstPf2, &lines);

  const double delta = kLensTwoPi / steps;
  const int half = width / 2;
  const double bound = half - 1;
  const double k1 = LensScale(*model.profile, r1, para.fLensCoef);
  const double k2 = LensScale(*model.profile, r2, para.fLensCoef);
  const bool quarter_turn = model.quarter_turn;
  auto at = [columns](float* grid, int ring, int column) {
    return grid + 2 * (static_cast<size_t>(ring) * columns + column);
  };

  // Lens 1: rings from its axis outwards, azimuth turning clockwise. Every ring has the same
  // column azimuths, so their cosines and sines are taken once.
  std::vector<double> cos1(static_cast<size_t>(steps));
  std::vector<double> sin1(static_cast<size_t>(steps));
  double phi1 = quarter_turn ? -kLensHalfPi : 0.0;
  for (int c = 0; c < steps; ++c) {
    cos1[c] = std::cos(phi1);
    sin1[c] = std::sin(phi1);
    phi1 -= delta;
  }
  double theta = 0.0;
  for (int j = 0; j < rings; ++j) {
    const double height1 = LensHeight(*model.profile, theta) * k1;
    for (int c = 0; c < steps; ++c) {
      const double radius = ratio[c] * height1;
      float* p = at(table_a, j, c);
      p[0] = static_cast<float>(ClampCoordinate(cos1[c] * radius + cx1, bound));
      p[1] = static_cast<float>(ClampCoordinate(sin1[c] * radius + cy1, bound));
    }
    std::copy_n(at(table_a, j, 0), 2, at(table_a, j, steps));
    theta += delta;
  }

  // Lens 2: ring positions from the far end of the overlap to its own axis.
  std::vector<double> azimuth(static_cast<size_t>(steps));
  if (model.lens_class == 1) {
    TabulateAzimuthParallax(steps, distance, model.parallax_offset, azimuth.data());
  } else if (model.lens_class == 2) {
    TabulateAzimuthOffset(steps, distance, azimuth.data());
  } else {
    double phi = quarter_turn ? -kLensHalfPi : -kLensPi;
    for (int c = 0; c < steps; ++c) {
      azimuth[c] = phi;
      phi += delta;
    }
  }
  std::vector<double> cos2(static_cast<size_t>(steps));
  std::vector<double> sin2(static_cast<size_t>(steps));
  for (int c = 0; c < steps; ++c) {
    cos2[c] = std::cos(azimuth[c]);
    sin2[c] = std::sin(azimuth[c]);
  }
  const int start = positions - rings;
  theta = kLensPi - start * delta;
  for (int j = 0; j < rings; ++j) {
    const double height2 = LensHeight(*model.profile, theta) * k2;
    for (int c = 0; c < steps; ++c) {
      double cos_phi = cos2[c];
      double sin_phi = sin2[c];
      double radius = ratio[c] * height2;
      if (lines.count > 0) {
        float phi_w = 0.0f;
        float theta_w = 0.0f;
        WarpByControlLines(static_cast<float>(theta), static_cast<float>(azimuth[c]), lines, &phi_w, &theta_w);
        cos_phi = std::cos(phi_w);
        sin_phi = std::sin(phi_w);
        radius = ratio[c] * (LensHeight(*model.profile, theta_w) * k2);
      }
      float* p = at(table_b, j, c);
      p[0] = static_cast<float>(ClampCoordinate(cos_phi * radius + cx2, bound) + half);
      p[1] = static_cast<float>(ClampCoordinate(sin_phi * radius + cy2, bound));
    }
    std::copy_n(at(table_b, j, 0), 2, at(table_b, j, steps));
    theta -= delta;
  }

  const size_t count = 2 * static_cast<size_t>(columns) * rings;
  TraceGrid("topArray2.txt", table_a, count);
  TraceGrid("bottomArray2.txt", table_b, count);
}

}  // namespace spherolux
