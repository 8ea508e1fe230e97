#include "stitch/remap.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "azimuth.h"
#include "base/row_slices.h"
#include "lens_eval.h"
#include "map_rows.h"
#include "numeric.h"

namespace spherolux {
namespace {

using lens_internal::ClampIndex;
using lens_internal::LensEvaluator;
using lens_internal::MapRowKernels;
using lens_internal::Placer;

// Small sines and cosines are pushed away from zero so that no later division meets 0.
double AwayFromZeroCos(double c) {
  if (c > -0.0001 && c < 0.0) return -0.0001;
  if (c > 0.0 && c < 0.0001) return 0.0001;
  return c;
}
double AwayFromZeroSin(double s) {
  if (s > -0.0001 && s < 0.0) return -0.0001;
  if (s >= 0.0 && s < 0.0001) return 0.0001;
  return s;
}

Placer MakePlacer(const RemapSetup& setup, const RemapLens& lens) {
  Placer p;
  p.center_x = lens.center_x;
  p.center_y = lens.center_y;
  p.max_x = setup.lens_width - 2;
  p.max_y = setup.lens_height - 2;
  p.offset_x = 0;
  p.offset_y = 0;
  if (lens.second) {
    // The second lens image sits right of the first, or below it in a stacked frame.
    if (setup.stacked) {
      p.offset_y = setup.lens_height;
    } else {
      p.offset_x = setup.lens_width;
    }
  }
  return p;
}

bool HasWarp(const RemapSetup& setup, const RemapLens& lens) {
  return lens.second && setup.lines != nullptr && setup.lines->count > 0;
}

// One lens's part of a horizontal map build.
struct HorizontalLens {
  HorizontalLens(const RemapSetup& setup, const RemapLens& lens, RemapEntry* out)
      : map(out),
        k(LensScale(*setup.profile, lens.radius, setup.fov_degrees)),
        placer(MakePlacer(setup, lens)),
        warp(HasWarp(setup, lens)),
        corrected_class(lens.second ? setup.lens_class : 0),
        heights(*setup.profile) {}

  RemapEntry* map;
  double k;
  Placer placer;
  bool warp;
  int corrected_class;
  LensEvaluator heights;

  // Neither corrected nor warped: the lens looks along the shared direction of each pixel.
  bool Plain() const { return corrected_class == 0 && !warp; }
};

// Builds the horizontal maps of one or two lenses in one pass: both lenses share the
// direction of every output pixel (incidence and azimuth before correction), so it is paid
// once per pixel, a row at a time, and so is the height of lenses that keep that incidence.
void BuildHorizontal(const RemapSetup& setup, HorizontalLens* lenses, int count, int rotation, int threads) {
  const int wm = setup.map_width;
  const int hm = setup.map_height;
  const double delta = kLensPi / hm;
  const double inv_delta = 1.0 / delta;
  const int last_ratio = 2 * hm - 1;

  std::vector<double> sin_l(static_cast<size_t>(wm));
  std::vector<double> cos_l(static_cast<size_t>(wm));
  double lambda = -(wm * delta / 2.0);
  for (int c = 0; c < wm; ++c) {
    sin_l[c] = std::sin(lambda);
    cos_l[c] = AwayFromZeroCos(std::cos(lambda));
    lambda += delta;
  }

  // Row angles accumulate from pi, so they are taken in order before the rows are split.
  std::vector<double> alphas(static_cast<size_t>(hm));
  double alpha = kLensPi;
  for (int r = 0; r < hm; ++r) {
    alphas[r] = alpha;
    alpha -= delta;
  }

  // Lenses without correction or warp look along the shared direction unchanged.
  bool any_plain = false;
  for (int l = 0; l < count; ++l) any_plain = any_plain || lenses[l].Plain();
  const MapRowKernels& kernels = lens_internal::ActiveMapRowKernels();

  RunRowSlices(hm, 1, threads, [&](int r_begin, int r_end) {
    // Each slice has its own copy of the lens state (the height evaluator walks its window).
    std::vector<HorizontalLens> local(lenses, lenses + count);
    LensEvaluator shared_heights(*setup.profile);
    std::vector<double> scratch(static_cast<size_t>(wm) * 8);
    double* rows[8];
    for (int k = 0; k < 8; ++k) rows[k] = scratch.data() + static_cast<size_t>(k) * wm;
    const lens_internal::RowDirections dir{rows[0], rows[1], rows[2], rows[3]};
    double* height = rows[4];
    double* radius = rows[5];
    double* cos_phi = rows[6];  // the azimuth of a corrected or warped lens, then its cosine
    double* sin_phi = rows[7];
    for (int r = r_begin; r < r_end; ++r) {
      kernels.directions(AwayFromZeroSin(std::sin(alphas[r])), std::cos(alphas[r]), sin_l.data(), cos_l.data(), wm,
                         dir);
      if (any_plain) {
        for (int c = 0; c < wm; ++c) height[c] = shared_heights.Height(dir.theta[c]);
      }
      const size_t row = static_cast<size_t>(r) * wm;
      for (int l = 0; l < count; ++l) {
        HorizontalLens& lens = local[l];
        if (lens.Plain()) {
          for (int c = 0; c < wm; ++c) {
            const int i = ClampIndex((dir.phi[c] + kLensPi) * inv_delta + 0.5, last_ratio);
            radius[c] = setup.ratio[i] * (height[c] * lens.k);
          }
          lens_internal::PlaceRow(lens.placer, dir.cos_phi, dir.sin_phi, radius, 0.5, wm, lens.map + row);
          continue;
        }
        for (int c = 0; c < wm; ++c) {
          double theta = dir.theta[c];
          double phi = dir.phi[c];
          if (lens.corrected_class == 1) {
            phi = lens_internal::CorrectAzimuthParallax(phi, dir.sin_phi[c], dir.cos_phi[c], setup.parallax_distance,
                                                        setup.parallax_offset);
          } else if (lens.corrected_class == 2) {
            phi = lens_internal::CorrectAzimuthOffset(dir.sin_phi[c], dir.cos_phi[c], setup.parallax_distance);
          }
          if (lens.warp) {
            float phi_w = 0.0f;
            float theta_w = 0.0f;
            WarpByControlLines(static_cast<float>(theta), static_cast<float>(phi), *setup.lines, &phi_w, &theta_w);
            phi = phi_w;
            theta = theta_w;
          }
          const int i = ClampIndex((phi + kLensPi) * inv_delta + 0.5, last_ratio);
          radius[c] = setup.ratio[i] * (lens.heights.Height(theta) * lens.k);
          cos_phi[c] = phi;
        }
        kernels.sin_cos(cos_phi, wm, cos_phi, sin_phi);
        lens_internal::PlaceRow(lens.placer, cos_phi, sin_phi, radius, 0.5, wm, lens.map + row);
      }
    }
  });
  if (rotation == 180) {
    for (int l = 0; l < count; ++l) std::reverse(lenses[l].map, lenses[l].map + static_cast<size_t>(wm) * hm);
  }
}

}  // namespace

bool PhotoMapSize(const DoubleFisheyeCameraPara& para, const PhotoMapGeometry& geo, int* map_width, int* map_height) {
  if (geo.rotation != 0 && geo.rotation != 90 && geo.rotation != 180 && geo.rotation != 270) return false;
  if (geo.height < 1 || geo.width != 2 * geo.height || geo.width > kMaxPanoramaWidth) return false;
  if (geo.source_width < 4 || geo.source_height < 4) return false;
  if (geo.source_width > kMaxSourceSide || geo.source_height > kMaxSourceSide) return false;
  const double fov = para.fLensCoef;
  if (!(fov > 0.0 && fov <= 360.0)) return false;
  int wm = 0;
  int hm = 0;
  if (geo.rotation == 0 || geo.rotation == 180) {
    wm = static_cast<int>(geo.height * fov / 180.0);
    hm = geo.height;
  } else {
    wm = geo.width;
    hm = static_cast<int>(geo.height * fov / 360.0);
  }
  if (wm < 1 || hm < 1) return false;
  if (map_width) *map_width = wm;
  if (map_height) *map_height = hm;
  return true;
}

void BuildRemapMaps(const DoubleFisheyeCameraPara& para, const PhotoMapGeometry& geo, RemapEntry* map1,
                    RemapEntry* map2, int threads) {
  int wm = 0;
  int hm = 0;
  if (!PhotoMapSize(para, geo, &wm, &hm) || map1 == nullptr || map2 == nullptr) return;
  const bool stacked = geo.source_width < geo.source_height;
  const float scale = static_cast<float>(stacked ? geo.source_height : geo.source_width) / 1920.0f;
  auto scaled = [scale](float v) { return std::trunc(static_cast<double>(v * scale)); };

  const CameraModel model = CameraModelForCode(para.lModel);
  const RatioRule rule = PhotoRatioRule(para.lModel, RatioBase(para.lModel, para.fRatio), geo.generation);
  std::vector<float> ratio(static_cast<size_t>(geo.width));
  BuildRadiusRatio(rule.variant, rule.base, geo.width, ratio.data());
  ControlLineSet lines;
  PrepareControlLines(std::clamp(para.lPointNum, 0, kMaxControlLines), para.mstPf1, para.mstPf2, &lines);

  RemapSetup setup;
  setup.profile = model.profile;
  setup.lens_class = model.lens_class;
  setup.parallax_offset = model.parallax_offset;
  setup.parallax_distance = ParallaxDistance(geo.generation);
  setup.fov_degrees = para.fLensCoef;
  setup.ratio = ratio.data();
  setup.lines = &lines;
  setup.width = geo.width;
  setup.height = geo.height;
  setup.map_width = wm;
  setup.map_height = hm;
  setup.stacked = stacked;
  setup.lens_width = stacked ? geo.source_width : geo.source_width / 2;
  setup.lens_height = stacked ? geo.source_height / 2 : geo.source_height;

  const RemapLens lens1{scaled(para.stPoint1.x), scaled(para.stPoint1.y), scaled(para.stPoint1.radius), false};
  const RemapLens lens2{scaled(para.stPoint2.x), scaled(para.stPoint2.y), scaled(para.stPoint2.radius), true};
  if (geo.rotation == 0 || geo.rotation == 180) {
    // Lens 1 and lens 2 in one pass; the same entries as two BuildRemapHorizontal calls.
    HorizontalLens lenses[2] = {HorizontalLens(setup, lens1, map1), HorizontalLens(setup, lens2, map2)};
    BuildHorizontal(setup, lenses, 2, geo.rotation, threads);
  } else {
    BuildRemapVertical(setup, lens1, geo.rotation, map1, threads);
    BuildRemapVertical(setup, lens2, geo.rotation, map2, threads);
  }
}

void BuildRemapHorizontal(const RemapSetup& setup, const RemapLens& lens, int rotation, RemapEntry* map, int threads) {
  if (setup.map_width < 1 || setup.map_height < 1 || map == nullptr) return;
  HorizontalLens one(setup, lens, map);
  BuildHorizontal(setup, &one, 1, rotation, threads);
}

void BuildRemapVertical(const RemapSetup& setup, const RemapLens& lens, int rotation, RemapEntry* map, int threads) {
  const int wm = setup.map_width;
  const int hm = setup.map_height;
  if (wm < 1 || hm < 1 || map == nullptr) return;
  const double delta = kLensTwoPi / wm;
  const double k = LensScale(*setup.profile, lens.radius, setup.fov_degrees);
  const Placer placer = MakePlacer(setup, lens);
  const bool warp = HasWarp(setup, lens);
  LensEvaluator heights(*setup.profile);

  // Column azimuths, corrected for the second lens by its class.
  std::vector<double> phi(static_cast<size_t>(wm));
  if (lens.second && setup.lens_class == 1) {
    TabulateAzimuthParallax(wm, setup.parallax_distance, setup.parallax_offset, phi.data());
  } else if (lens.second && setup.lens_class == 2) {
    TabulateAzimuthOffset(wm, setup.parallax_distance, phi.data());
  } else {
    for (int c = 0; c < wm; ++c) phi[c] = lens.second ? -kLensPi + c * delta : -c * delta;
  }
  std::vector<double> cos_p(static_cast<size_t>(wm));
  std::vector<double> sin_p(static_cast<size_t>(wm));
  for (int c = 0; c < wm; ++c) {
    cos_p[c] = std::cos(phi[c]);
    sin_p[c] = std::sin(phi[c]);
  }

  // The second lens's map row i is output row H - Hm + i, measured from the other pole.
  const int first_row = lens.second ? setup.height - hm : 0;
  const MapRowKernels& kernels = lens_internal::ActiveMapRowKernels();
  RunRowSlices(hm, 1, threads, [&](int i_begin, int i_end) {
    LensEvaluator slice_heights = heights;  // each slice walks its own window
    std::vector<double> scratch(static_cast<size_t>(wm) * 3);
    double* radius = scratch.data();
    double* cos_w = radius + wm;  // the warped azimuth, then its cosine
    double* sin_w = cos_w + wm;
    for (int i = i_begin; i < i_end; ++i) {
      const int out_row = first_row + i;
      const double theta = lens.second ? kLensPi - out_row * delta : out_row * delta;
      RemapEntry* row = map + static_cast<size_t>(i) * wm;
      if (!warp) {
        const double height = slice_heights.Height(theta) * k;
        for (int c = 0; c < wm; ++c) radius[c] = setup.ratio[c] * height;
        lens_internal::PlaceRow(placer, cos_p.data(), sin_p.data(), radius, 0.0, wm, row);
        continue;
      }
      for (int c = 0; c < wm; ++c) {
        float phi_w = 0.0f;
        float theta_w = 0.0f;
        WarpByControlLines(static_cast<float>(theta), static_cast<float>(phi[c]), *setup.lines, &phi_w, &theta_w);
        radius[c] = setup.ratio[c] * (slice_heights.Height(theta_w) * k);
        cos_w[c] = phi_w;
      }
      kernels.sin_cos(cos_w, wm, cos_w, sin_w);
      lens_internal::PlaceRow(placer, cos_w, sin_w, radius, 0.0, wm, row);
    }
  });
  if (rotation == 90) std::reverse(map, map + static_cast<size_t>(wm) * hm);
}

}  // namespace spherolux
