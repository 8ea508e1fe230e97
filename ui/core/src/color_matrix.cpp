#include "ui/color_matrix.h"

#include <algorithm>
#include <cmath>

namespace spherolux::ui {

namespace {
SkinColorAdjust g_skin_color;
}

const SkinColorAdjust& SkinColor() { return g_skin_color; }
void SetSkinColor(const SkinColorAdjust& adjust) { g_skin_color = adjust; }

bool ColorMatrix::IsIdentity() const {
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 5; ++c) {
      if (m[r][c] != (r == c ? 1.0f : 0.0f)) return false;
    }
  }
  return true;
}

ColorMatrix MakeSkinColorMatrix(const SkinColorAdjust& adjust) {
  constexpr float kWr = 0.3086f, kWg = 0.6094f, kWb = 0.0820f;
  const float s = adjust.saturation;
  const float r = kWr * (1 - s), g = kWg * (1 - s), b = kWb * (1 - s);
  return ColorMatrix{{
      {r + s, r, r, 0, 0},
      {g, g + s, g, 0, 0},
      {b, b, b + s, 0, 0},
      {0, 0, 0, 1, 0},
      {adjust.red, adjust.green, adjust.blue, 0, 1},
  }};
}

void ApplyColorMatrix(const ColorMatrix& matrix, uint32_t* pixels, size_t count) {
  if (matrix.IsIdentity()) return;
  const auto& m = matrix.m;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t p = pixels[i];
    const float in[4] = {static_cast<float>((p >> 16) & 0xFF) / 255.0f, static_cast<float>((p >> 8) & 0xFF) / 255.0f,
                         static_cast<float>(p & 0xFF) / 255.0f, static_cast<float>(p >> 24) / 255.0f};
    uint32_t out[4];
    for (int c = 0; c < 4; ++c) {
      const float v = in[0] * m[0][c] + in[1] * m[1][c] + in[2] * m[2][c] + in[3] * m[3][c] + m[4][c];
      out[c] = static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
    }
    pixels[i] = (out[3] << 24) | (out[0] << 16) | (out[1] << 8) | out[2];
  }
}

}  // namespace spherolux::ui
