// Integer 8x8 DCTs after Loeffler, Ligtenberg and Moschytz (13-bit fixed-point
// constants, two passes), and quantisation by precomputed reciprocals.
#pragma once

#include <cstdint>

namespace spherolux::jpeg {

// Largest magnitude of a dequantised coefficient the inverse DCT accepts. Blocks of 8-bit
// samples never exceed 2048 (T.81 A.3.3); callers clamp larger, corrupt values.
inline constexpr int kMaxDequantised = 4095;

// Inverse DCT of a dequantised block (natural order, |coef| <= kMaxDequantised) into 8x8
// samples with the level shift and clamping to 0..255.
void InverseDct8x8(const int16_t* coef, uint8_t* out, int stride);

// The same block reduced by 2, 4 or 8 (shift 1..3): (8 >> shift) square samples, each the
// rounded mean of the full-size samples it covers.
void InverseDctReduced(const int16_t* coef, int shift, uint8_t* out, int stride);

// Forward DCT of 8x8 samples (level-shifted inside); the results are the T.81 A.3.3
// coefficients scaled by 8, natural order.
void ForwardDct8x8(const uint8_t* in, int stride, int32_t out[64]);

// Division of a scaled coefficient by 8 * Q as a multiply and shift; exact for every
// magnitude below 2^16.
struct Reciprocal {
  uint32_t multiplier;
  uint32_t bias;  // added to the magnitude first: half the divisor to round, 0 to truncate
};
Reciprocal MakeReciprocal(int quant, bool round_to_nearest);

// Quantises a forward-DCT block into zig-zag order.
void QuantizeBlock(const int32_t dct[64], const Reciprocal recip[64], int16_t out_zigzag[64]);

}  // namespace spherolux::jpeg
