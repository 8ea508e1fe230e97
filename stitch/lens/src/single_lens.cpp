#include "stitch/single_lens.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "base/numeric.h"
#include "lens_eval.h"
#include "numeric.h"
#include "stitch/lens_model.h"
#include "stitch/sphere_grid.h"

namespace spherolux {
namespace {

using lens_internal::ClampCoordinate;

constexpr float kRowAngle = 0.03316126f;
constexpr float kRimHeight = 1.4576191f;

constexpr float kHeights[kSingleLensRows] = {
    0.0f,       0.0367427f, 0.0734680f, 0.1101584f, 0.1467966f, 0.1833652f, 0.2198468f, 0.2562245f, 0.2924809f,
    0.3285990f, 0.3645621f, 0.4003531f, 0.4359555f, 0.4713525f, 0.5065277f, 0.5414646f, 0.5761467f, 0.6105578f,
    0.6446813f, 0.6785009f, 0.7119998f, 0.7451615f, 0.7779689f, 0.8104046f, 0.8424509f, 0.8740894f, 0.9053012f,
    0.9360666f, 0.9663647f, 0.9961740f, 1.0254714f, 1.0542326f, 1.0824317f, 1.1100413f, 1.1370323f, 1.1633737f,
    1.1890332f, 1.2139765f, 1.2381682f, 1.2615719f, 1.2841504f, 1.3058667f, 1.3266850f, 1.3465707f, 1.3654923f,
    1.3834221f, 1.4003375f, 1.4162211f, 1.4310633f, 1.4448609f, 1.4576191f,
};

constexpr std::array<SingleLensRow, kSingleLensRows> MakeTable() {
  std::array<SingleLensRow, kSingleLensRows> rows{};
  for (int i = 0; i < kSingleLensRows; ++i)
    rows[i] = {static_cast<float>(i * static_cast<double>(kRowAngle)), kHeights[i]};
  return rows;
}

struct DoubleColumns {
  double angles[kSingleLensRows];
  double heights[kSingleLensRows];
};
constexpr DoubleColumns MakeColumns() {
  DoubleColumns d{};
  const std::array<SingleLensRow, kSingleLensRows> rows = MakeTable();
  for (int i = 0; i < kSingleLensRows; ++i) {
    d.angles[i] = rows[i].angle;
    d.heights[i] = rows[i].height;
  }
  return d;
}
constexpr DoubleColumns kColumns = MakeColumns();

double Interpolate(double theta) {
  const int lo = lens_internal::LagrangeWindow(kColumns.angles, kSingleLensRows, theta);
  return lens_internal::LagrangeAt(kColumns.angles, kColumns.heights, lo, theta);
}

double AwayFromZeroSigned(double c) {
  if (c != 0.0 && std::fabs(c) < 0.0001) return std::copysign(0.0001, c);
  return c;
}

}  // namespace

SingleLensCircle SingleLensCircleForFrame(const SingleFisheyeCameraPara& para, int width, int height) {
  const int64_t w = width;
  const int64_t h = height;
  const int64_t x = SaturatingTrunc(para.stPfCenter.x);
  const int64_t y = SaturatingTrunc(para.stPfCenter.y);
  const float r = static_cast<float>(para.fRadius - 10.0);
  const float s = static_cast<float>(height) / 1080.0f;
  SingleLensCircle c;
  if (3 * w == 4 * h) {
    c.x = SaturatingTrunc(static_cast<float>(x - 240) * s);
  } else if (10 * w == 18 * h) {
    c.x = SaturatingTrunc(static_cast<float>(x) * s + static_cast<float>((w - (16 * h) / 9) / 2));
  } else if (w == h) {
    c.x = SaturatingTrunc(static_cast<float>(x - 420) * s);
  } else {
    c.x = SaturatingTrunc(static_cast<float>(x) * s);
  }
  c.y = SaturatingTrunc(static_cast<float>(y) * s);
  c.radius = r * s;
  return c;
}

SingleLensCircle PhotoSingleLensCircle(const SingleFisheyeCameraPara& para, int height) {
  const int64_t x = SaturatingTrunc(para.stPfCenter.x);
  const int64_t y = SaturatingTrunc(para.stPfCenter.y);
  const int64_t r = SaturatingTrunc(para.fRadius);
  const float s = static_cast<float>(height) / 1080.0f;
  SingleLensCircle c;
  c.x = SaturatingTrunc(static_cast<float>(x - 240) * s);
  c.y = SaturatingTrunc(static_cast<float>(y) * s);
  c.radius = static_cast<float>(SaturatingTrunc(static_cast<float>(r) * s));
  return c;
}

constexpr std::array<SingleLensRow, kSingleLensRows> SingleLensTable = MakeTable();

double SingleLensGridRadius(double theta, double radius) {
  if (theta < 0.0) return 0.0;
  return Interpolate(theta) * (radius / kRimHeight);
}

double SingleLensRemapRadius(double theta, double radius) {
  if (theta < 0.0 || theta > kColumns.angles[kSingleLensRows - 1]) return 1.0e8;
  return Interpolate(theta) * (radius / kRimHeight);
}

void BuildSingleLensGrid(int width, int height, int columns, int rings, float center_x, float center_y,
                         float fov_degrees, float radius, float* grid) {
  (void)fov_degrees;  // the table fixes the field of view
  if (grid == nullptr || width < 1 || height < 1 || columns < 1 || rings < 0) return;
  const double q = kLensTwoPi / columns;
  const double max_x = width - 1;
  const double max_y = height - 1;
  // Every ring has the same column azimuths: cosines and sines once per column.
  std::vector<double> cos_p(static_cast<size_t>(columns));
  std::vector<double> sin_p(static_cast<size_t>(columns));
  for (int j = 0; j < columns; ++j) {
    const double phi = 1.5 * kLensPi - j * q;
    cos_p[j] = std::cos(phi);
    sin_p[j] = std::sin(phi);
  }
  for (int i = 0; i <= rings; ++i) {
    const double rho = SingleLensGridRadius(i * q, radius);
    float* ring = grid + 2 * static_cast<size_t>(i) * (columns + 1);
    for (int j = 0; j < columns; ++j) {
      ring[2 * j] = static_cast<float>(ClampCoordinate(center_x + rho * cos_p[j], max_x));
      ring[2 * j + 1] = static_cast<float>(ClampCoordinate(center_y + rho * sin_p[j], max_y));
    }
    ring[2 * columns] = ring[0];
    ring[2 * columns + 1] = ring[1];
  }
}

bool BuildSingleLensRemap(int src_width, int src_height, float center_x, float center_y, float fov_degrees,
                          float radius, SingleLensRemapEntry* table, int width, int height, int rotation) {
  (void)fov_degrees;  // the table fixes the field of view
  if (table == nullptr || width < 1 || height < 1 || src_width < 1 || src_height < 1) return false;
  if (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270) return false;
  // 24.8 fixed point must hold (W - 1) * 256.
  if (src_width > (1 << 22) || src_height > (1 << 22)) return false;
  const double q = kLensTwoPi / width;
  const double max_x = src_width - 1;
  const double max_y = src_height - 1;
  const int64_t max_fx = static_cast<int64_t>(src_width - 1) * 256;
  const int64_t max_fy = static_cast<int64_t>(src_height - 1) * 256;
  const SingleLensRemapEntry none{-1, -1};
  auto entry = [&](double px, double py) {
    if (!(px >= 0.0 && px <= max_x && py >= 0.0 && py <= max_y)) return none;
    const int64_t fx = static_cast<int64_t>(px * 256.0);
    const int64_t fy = static_cast<int64_t>(py * 256.0);
    if (fx < 0 || fx > max_fx || fy < 0 || fy > max_fy) return none;
    return SingleLensRemapEntry{static_cast<int32_t>(fx), static_cast<int32_t>(fy)};
  };

  if (rotation == 0 || rotation == 180) {
    // Rotation 0 turns the azimuth down from 2 pi, rotation 180 up from 0; every row has the
    // same azimuths, so their cosines and sines are taken once.
    std::vector<double> cos_p(static_cast<size_t>(width));
    std::vector<double> sin_p(static_cast<size_t>(width));
    double phi = rotation == 0 ? kLensTwoPi : 0.0;
    const double step = rotation == 0 ? -q : q;
    for (int j = 0; j < width; ++j) {
      cos_p[j] = std::cos(phi);
      sin_p[j] = std::sin(phi);
      phi += step;
    }
    for (int p = 0; p < height; ++p) {
      SingleLensRemapEntry* row = table + static_cast<size_t>(p) * width;
      const double theta = rotation == 0 ? p * q : kLensPi - p * q;
      const double rho = SingleLensRemapRadius(theta, radius);
      if (rho >= radius) {
        std::fill_n(row, width, none);
        continue;
      }
      for (int j = 0; j < width; ++j) row[j] = entry(center_x + rho * cos_p[j], center_y + rho * sin_p[j]);
    }
    return true;
  }

  std::vector<double> sin_l(static_cast<size_t>(width));
  std::vector<double> cos_l(static_cast<size_t>(width));
  for (int j = 0; j < width; ++j) {
    const double lambda = rotation == 90 ? -kLensPi + j * q : kLensPi - j * q;
    sin_l[j] = std::sin(lambda);
    cos_l[j] = AwayFromZeroSigned(std::cos(lambda));
  }
  // The same model as SingleLensRemapRadius, with the window walked from pixel to pixel.
  const LensProfile profile{kSingleLensRows, kColumns.angles, kColumns.heights};
  lens_internal::LensEvaluator heights(profile);
  const double last_angle = kColumns.angles[kSingleLensRows - 1];
  const double k = static_cast<double>(radius) / kRimHeight;
  double alpha = rotation == 90 ? kLensPi : 0.0;
  const double alpha_step = rotation == 90 ? -q : q;
  for (int p = 0; p < height; ++p) {
    const double f = std::cos(alpha);
    double g = std::sin(alpha);
    if (g > -0.0001 && g < 0.0) g = -0.0001;
    if (g >= 0.0 && g < 0.0001) g = 0.0001;
    alpha += alpha_step;
    SingleLensRemapEntry* row = table + static_cast<size_t>(p) * width;
    for (int j = 0; j < width; ++j) {
      const double e = g * sin_l[j];
      const double theta = std::acos(std::clamp(g * cos_l[j], -1.0, 1.0));
      const double norm = std::sqrt(e * e + f * f);
      double cos_phi = 1.0;
      double sin_phi = 0.0;
      if (norm > 0.0) {
        // cos and sin of the azimuth asin(f / norm) folded by the signs of e and f.
        cos_phi = e / norm;
        sin_phi = f / norm;
      }
      const double rho = (theta < 0.0 || theta > last_angle) ? 1.0e8 : heights.Height(theta) * k;
      row[j] = entry(center_x + rho * cos_phi, center_y + rho * sin_phi);
    }
  }
  return true;
}

void RemapSingleLens(const uint8_t* src, int src_width, int src_height, uint8_t* dst, int width, int height,
                     const SingleLensRemapEntry* table) {
  if (src == nullptr || dst == nullptr || table == nullptr || width < 1 || height < 1) return;
  const size_t out_luma = static_cast<size_t>(width) * height;
  const int out_cw = width / 2;
  const int out_ch = height / 2;
  uint8_t* out_u = dst + out_luma;
  uint8_t* out_v = out_u + static_cast<size_t>(out_cw) * out_ch;
  const bool usable = src_width >= 2 && src_height >= 2;
  const int src_cw = src_width / 2;
  const int src_ch = src_height / 2;
  const uint8_t* src_u = src + static_cast<size_t>(src_width) * src_height;
  const uint8_t* src_v = src_u + static_cast<size_t>(src_cw) * src_ch;

  // An entry is usable when it addresses a pixel of the source; its +1 neighbours are
  // clamped to the last row and column, where their weight is 0 for any built table.
  auto valid = [&](const SingleLensRemapEntry& e) {
    return usable && e.x >= 0 && e.y >= 0 && (e.x >> 8) < src_width && (e.y >> 8) < src_height;
  };
  auto luma = [&](const SingleLensRemapEntry& e) -> uint8_t {
    if (!valid(e)) return 0;
    const int x0 = e.x >> 8;
    const int y0 = e.y >> 8;
    const int fx = e.x & 255;
    const int fy = e.y & 255;
    const int x1 = std::min(x0 + 1, src_width - 1);
    const int y1 = std::min(y0 + 1, src_height - 1);
    const uint8_t* r0 = src + static_cast<size_t>(y0) * src_width;
    const uint8_t* r1 = src + static_cast<size_t>(y1) * src_width;
    const int top = r0[x0] * (256 - fx) + r0[x1] * fx;
    const int bottom = r1[x0] * (256 - fx) + r1[x1] * fx;
    return static_cast<uint8_t>(((256 - fy) * top + fy * bottom + 32768) >> 16);
  };

  for (int i = 0; i < height; i += 2) {
    for (int j = 0; j < width; j += 2) {
      for (int di = 0; di < 2 && i + di < height; ++di) {
        for (int dj = 0; dj < 2 && j + dj < width; ++dj) {
          const size_t at = static_cast<size_t>(i + di) * width + (j + dj);
          dst[at] = luma(table[at]);
        }
      }
      if (i / 2 >= out_ch || j / 2 >= out_cw) continue;
      const SingleLensRemapEntry& e = table[static_cast<size_t>(i) * width + j];
      const size_t c_at = static_cast<size_t>(i / 2) * out_cw + j / 2;
      if (!valid(e)) {
        out_u[c_at] = 128;
        out_v[c_at] = 128;
        continue;
      }
      const int cx = std::min((e.x >> 8) / 2, src_cw - 1);
      const int cy = std::min((e.y >> 8) / 2, src_ch - 1);
      const size_t s_at = static_cast<size_t>(cy) * src_cw + cx;
      out_u[c_at] = src_u[s_at];
      out_v[c_at] = src_v[s_at];
    }
  }
}

}  // namespace spherolux
