#include "render/yuv.h"

#include <algorithm>
#include <cmath>

#include "base/system.h"

namespace spherolux::render {

YuvWeights YuvToRgbWeights(const YuvColour& colour) {
  // ITU-R BT.601, BT.709 and BT.2020 luma weights of red and blue.
  float kr = 0.2126f;
  float kb = 0.0722f;
  if (colour.matrix == YuvMatrix::kBt601) {
    kr = 0.299f;
    kb = 0.114f;
  } else if (colour.matrix == YuvMatrix::kBt2020) {
    kr = 0.2627f;
    kb = 0.0593f;
  }
  const float kg = 1.0f - kr - kb;
  // Studio range: luma 16-235 and colour differences 16-240 (centred on 128) of 255.
  const float c_scale = colour.full_range ? 1.0f : 255.0f / 224.0f;
  // R = Y' + 2 (1 - kr) V', B = Y' + 2 (1 - kb) U', G = (Y' - kr R - kb B) / kg.
  YuvWeights w{};
  w.y_scale = colour.full_range ? 1.0f : 255.0f / 219.0f;
  w.y_offset = colour.full_range ? 0.0f : 16.0f / 255.0f;
  w.r_v = 2.0f * (1.0f - kr) * c_scale;
  w.b_u = 2.0f * (1.0f - kb) * c_scale;
  w.g_u = -kb * w.b_u / kg;
  w.g_v = -kr * w.r_v / kg;
  return w;
}

namespace yuv {

FixedWeights ToFixed(const YuvColour& colour) {
  const YuvWeights w = YuvToRgbWeights(colour);
  auto fixed = [](float f) { return static_cast<int>(std::lround(f * (1 << 14))); };
  return {fixed(w.y_scale), colour.full_range ? 0 : 16, fixed(w.r_v), fixed(w.g_u), fixed(w.g_v), fixed(w.b_u)};
}

void RowScalar(const YuvPicture& picture, const FixedWeights& w, int y, int x0, int x1, uint8_t* dst) {
  const uint8_t* luma = picture.planes[0] + static_cast<ptrdiff_t>(y) * picture.pitches[0];
  const uint8_t* u_row = picture.planes[1] + static_cast<ptrdiff_t>(y / 2) * picture.pitches[1];
  const uint8_t* v_row = picture.planes[2] + static_cast<ptrdiff_t>(y / 2) * picture.pitches[2];
  auto channel = [](int sum) { return static_cast<uint8_t>(std::clamp(sum >> 14, 0, 255)); };
  for (int x = x0; x < x1; ++x) {
    const int l = (luma[x] - w.y_offset) * w.y_scale + (1 << 13);
    const int u = u_row[x / 2] - 128;
    const int v = v_row[x / 2] - 128;
    uint8_t* px = dst + 4 * static_cast<ptrdiff_t>(x);
    px[0] = channel(l + w.b_u * u);
    px[1] = channel(l + w.g_u * u + w.g_v * v);
    px[2] = channel(l + w.r_v * v);
    px[3] = 255;
  }
}

}  // namespace yuv

void YuvToBgraScalar(const YuvPicture& picture, uint8_t* dst, ptrdiff_t dst_stride) {
  const yuv::FixedWeights w = yuv::ToFixed(picture.colour);
  for (int y = 0; y < picture.height; ++y) yuv::RowScalar(picture, w, y, 0, picture.width, dst + y * dst_stride);
}

void YuvToBgra(const YuvPicture& picture, uint8_t* dst, ptrdiff_t dst_stride) {
  static const YuvToBgraFn kernel = CpuHasAvx2() ? YuvToBgraAvx2 : YuvToBgraScalar;
  kernel(picture, dst, dst_stride);
}

}  // namespace spherolux::render
