#include "stitch/alignment.h"

#include <algorithm>
#include <cmath>

#include "azimuth.h"
#include "stitch/lens_model.h"

namespace spherolux {
namespace {

constexpr int kSegments = 48;
constexpr int kFine = 1920;
constexpr int kFinePerSegment = 40;

void FillVariantA(float a, float* k) {
  const float q = a + 0.013f;
  for (int i = 30; i <= 40; ++i) k[i] = q;
  for (int i = 0; i <= 26; ++i) k[i] = a;
  for (int i = 27; i <= 40; ++i) k[i] = std::min(q, k[i - 1] + 0.0018f);
  k[47] = k[46] = a;
  for (int i = 45; i >= 36; --i) k[i] = std::min(q, k[i + 1] + 0.0018f);
}

void FillVariantB(float a, float* k) {
  const float q = 0.972f + 0.025f;
  for (int i = 30; i <= 40; ++i) k[i] = q;
  k[0] = a + 0.001f;
  k[1] = std::min(q, k[0] + 0.001f);
  for (int i = 2; i <= 20; ++i) k[i] = k[i - 1];
  for (int i = 21; i <= 22; ++i) k[i] = std::min(q, k[i - 1] - 0.001f);
  for (int i = 23; i <= 25; ++i) k[i] = a;
  for (int i = 26; i <= 39; ++i) k[i] = std::min(q, k[i - 1] + 0.0015f);
  k[47] = k[46] = a - 0.002f;
  for (int i = 45; i >= 36; --i) k[i] = std::min(q, k[i + 1] + 0.0015f);
}

// Line x = K * y + B through two points; a line of constant y becomes the vertical line
// through the mean of the two x values, so that no coefficient is infinite.
void FitLine(float x1, float y1, float x2, float y2, float* k, float* b) {
  if (y2 == y1) {
    *k = 0.0f;
    *b = 0.5f * (x1 + x2);
    return;
  }
  *k = (x2 - x1) / (y2 - y1);
  *b = x1 - y1 * *k;
}

// Moves crossing intercepts of neighbouring lines 0.16 apart around their mean and turns
// both lines about their first point to keep them through it.
void SeparateLines(int n, const ControlLine* lines, float* k, float* b) {
  for (int i = 1; i < n; ++i) {
    if (!(b[i - 1] > b[i])) continue;
    const float m = (b[i - 1] + b[i]) / 2.0f;
    b[i] = static_cast<float>(m + 0.08);
    b[i - 1] = static_cast<float>(m - 0.08);
    // A first point on the pole (y == 0) cannot stay on a shifted line: keep the slope.
    if (lines[i - 1].mfP1y != 0.0f) k[i - 1] = (lines[i - 1].mfP1x - b[i - 1]) / lines[i - 1].mfP1y;
    if (lines[i].mfP1y != 0.0f) k[i] = (lines[i].mfP1x - b[i]) / lines[i].mfP1y;
  }
}

}  // namespace

void BuildRadiusRatio(RatioVariant variant, float base, int count, float* ratio) {
  if (count <= 0 || ratio == nullptr) return;
  float k[kSegments];
  if (variant == RatioVariant::kA) {
    FillVariantA(base, k);
  } else {
    FillVariantB(base, k);
  }
  float fine[kFine + 1];
  for (int s = 0; s < kSegments; ++s) {
    const int next = s == kSegments - 1 ? 0 : s + 1;
    const float slope = (k[next] - k[s]) / 40.0f;
    for (int j = 20; j < 20 + kFinePerSegment; ++j) {
      fine[(kFinePerSegment * s + j) % kFine] = static_cast<float>(j - 20) * slope + k[s];
    }
  }
  fine[kFine] = fine[kFine - 1];
  const float step = static_cast<float>(kFine) / static_cast<float>(count);
  float p = 0.0f;
  for (int i = 0; i < count; ++i) {
    // p stays below 1920 in exact arithmetic; the clamp only guards accumulated rounding.
    const int b = std::min(static_cast<int>(p), kFine - 1);
    const float c = static_cast<float>(b + 1) - p;
    ratio[i] = c * fine[b] + (1.0f - c) * fine[b + 1];
    p = p + step;
  }
}

namespace {

RatioRule RatioRuleFor(const CameraModel& model, bool variant_b, float r, bool generation) {
  if (model.ratio_lowered && !generation) return {RatioVariant::kA, static_cast<float>(r - 0.003)};
  if (variant_b && generation) return {RatioVariant::kB, r};
  if (model.ratio_shift != 0.0) return {RatioVariant::kA, static_cast<float>(r + model.ratio_shift)};
  return {RatioVariant::kA, r};
}

}  // namespace

RatioRule VideoRatioRule(int32_t code, float r, bool generation) {
  const CameraModel model = CameraModelForCode(code);
  return RatioRuleFor(model, model.video_ratio_b, r, generation);
}

RatioRule PhotoRatioRule(int32_t code, float r, bool generation) {
  const CameraModel model = CameraModelForCode(code);
  return RatioRuleFor(model, model.photo_ratio_b, r, generation);
}

double CorrectAzimuthParallax(double phi, double distance, double offset) {
  return lens_internal::CorrectAzimuthParallax(phi, std::sin(phi), std::cos(phi), distance, offset);
}

double CorrectAzimuthOffset(double phi, double distance) {
  return lens_internal::CorrectAzimuthOffset(std::sin(phi), std::cos(phi), distance);
}

void TabulateAzimuthParallax(int count, double distance, double offset, double* out) {
  if (count <= 0 || out == nullptr) return;
  const double step = kLensTwoPi / count;
  double phi = -kLensPi;
  for (int i = 0; i < count; ++i) {
    out[i] = CorrectAzimuthParallax(phi, distance, offset);
    phi += step;
  }
}

void TabulateAzimuthOffset(int count, double distance, double* out) {
  if (count <= 0 || out == nullptr) return;
  const double step = kLensTwoPi / count;
  double phi = -kLensPi;
  for (int i = 0; i < count; ++i) {
    out[i] = CorrectAzimuthOffset(phi, distance);
    phi += step;
  }
}

void PrepareControlLines(int count, const ControlLine* src, const ControlLine* dst, ControlLineSet* out) {
  const int n = std::clamp(count, 0, kMaxControlLines);
  *out = ControlLineSet{};
  out->count = n;
  if (n == 0) return;
  const float kappa = static_cast<float>(kLensPi / 960.0);
  auto convert = [kappa](ControlLine line) {
    line.mfP1x = static_cast<float>(line.mfP1x * kappa - kLensPi);
    line.mfP2x = static_cast<float>(line.mfP2x * kappa - kLensPi);
    line.mfP1y = static_cast<float>(kLensPi - line.mfP1y * kappa);
    line.mfP2y = static_cast<float>(kLensPi - line.mfP2y * kappa);
    return line;
  };
  for (int i = 0; i < n; ++i) {
    out->src[i] = convert(src[i]);
    out->dst[i] = convert(dst[i]);
  }
  const float sigma = static_cast<float>(1920 / n) * kappa;
  for (int i = 0; i < n; ++i) {
    float xs[4] = {out->src[i].mfP1x, out->src[i].mfP2x, out->dst[i].mfP1x, out->dst[i].mfP2x};
    for (float& v : xs) {
      if (i == 0) {
        if (sigma >= kLensPi - v) v = static_cast<float>(v - kLensTwoPi);
      } else if (i == n - 1) {
        if (v <= -sigma) v = static_cast<float>(v + kLensTwoPi);
      }
    }
    FitLine(xs[0], out->src[i].mfP1y, xs[1], out->src[i].mfP2y, &out->pfKSrc[i], &out->pfBSrc[i]);
    FitLine(xs[2], out->dst[i].mfP1y, xs[3], out->dst[i].mfP2y, &out->pfKDst[i], &out->pfBDst[i]);
  }
  SeparateLines(n, out->src, out->pfKSrc, out->pfBSrc);
  SeparateLines(n, out->dst, out->pfKDst, out->pfBDst);
}

void WarpByControlLines(float theta, float phi, const ControlLineSet& lines, float* phi_out, float* theta_out) {
  *phi_out = phi;
  *theta_out = theta;
  const int n = std::clamp(lines.count, 0, kMaxControlLines);
  if (n == 0) return;
  constexpr float kPiF = 3.1415927f;
  constexpr float kTwoPiF = 6.2831855f;
  auto ratio = [&lines](int j) { return lines.dst[j].mfP1y / lines.src[j].mfP2y; };

  int first = n - 1;
  int second = 0;
  float fSrcX1 = 0.0f;
  float fSrcX2 = 0.0f;
  bool bracket = false;
  for (int i = 0; i + 1 < n; ++i) {
    fSrcX1 = theta * lines.pfKSrc[i] + lines.pfBSrc[i];
    fSrcX2 = theta * lines.pfKSrc[i + 1] + lines.pfBSrc[i + 1];
    if (fSrcX1 <= phi && phi <= fSrcX2) {
      first = i;
      second = i + 1;
      bracket = true;
      break;
    }
  }
  if (!bracket) {
    fSrcX1 = theta * lines.pfKSrc[first] + lines.pfBSrc[first];
    fSrcX2 = theta * lines.pfKSrc[second] + lines.pfBSrc[second];
  }
  const float fDstY1 = theta * ratio(first);
  const float fDstY2 = theta * ratio(second);
  float fDstX1 = lines.pfKDst[first] * fDstY1 + lines.pfBDst[first];
  float fDstX2 = lines.pfKDst[second] * fDstY2 + lines.pfBDst[second];
  if (!bracket) {
    // Between the last and the first line, across the +-pi wrap.
    if (phi < fSrcX2) {
      fSrcX1 -= kTwoPiF;
      fDstX1 -= kTwoPiF;
    } else {
      fSrcX2 += kTwoPiF;
      fDstX2 += kTwoPiF;
    }
  }
  const float src_span = fSrcX2 - fSrcX1;
  const float fDstX = src_span != 0.0f ? (phi * (fDstX2 - fDstX1) - fDstX2 * fSrcX1 + fDstX1 * fSrcX2) / src_span
                                       : 0.5f * (fDstX1 + fDstX2);
  const float dst_span = fDstX2 - fDstX1;
  const float fDstY =
      dst_span != 0.0f ? ((fDstX2 - fDstX) * fDstY1 + (fDstX - fDstX1) * fDstY2) / dst_span : 0.5f * (fDstY1 + fDstY2);
  const float warped_phi = fDstX < kPiF ? fDstX : fDstX - kTwoPiF;
  // Lines that give no finite answer (degenerate or non-finite records) leave the
  // direction where it was.
  if (!std::isfinite(warped_phi) || !std::isfinite(fDstY)) return;
  *phi_out = warped_phi;
  *theta_out = fDstY;
}

}  // namespace spherolux
