// The skin's colour adjustment: a saturation and additive red, green and blue offsets, turned
// into a 5 x 5 colour matrix and applied to pixels by our own code.
//
// With luminance weights wr = 0.3086, wg = 0.6094, wb = 0.0820 and saturation s, the 3 x 3 part
// has the rows r = (wr(1-s)+s, wr(1-s), wr(1-s)), g = (wg(1-s), wg(1-s)+s, wg(1-s)),
// b = (wb(1-s), wb(1-s), wb(1-s)+s); alpha passes through; the translation row carries the
// offsets (in units of full intensity). A pixel is the row vector (r, g, b, a, 1) times the
// matrix, so each output channel is a column. s = 1 with zero offsets is the identity.
#pragma once

#include <cstddef>
#include <cstdint>

namespace spherolux::ui {

struct SkinColorAdjust {
  float saturation = 1.0f;
  float red = 0.0f, green = 0.0f, blue = 0.0f;
};

struct ColorMatrix {
  float m[5][5];
  bool IsIdentity() const;
};

ColorMatrix MakeSkinColorMatrix(const SkinColorAdjust& adjust);

// Applies `matrix` to `count` pixels of 32 bits (0xAARRGGBB, not premultiplied), in place.
// Results are rounded and clamped to 0-255.
void ApplyColorMatrix(const ColorMatrix& matrix, uint32_t* pixels, size_t count);

// The process-wide adjustment every skinned paint uses (identity until the player window sets
// it). UI thread.
const SkinColorAdjust& SkinColor();
void SetSkinColor(const SkinColorAdjust& adjust);

}  // namespace spherolux::ui
