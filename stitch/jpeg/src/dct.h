// Integer 8x8 DCTs after Loeffler, Ligtenberg and Moschytz (13-bit fixed-point
// constants, two passes in 32-bit arithmetic), and quantisation by precomputed
// reciprocals.
//
// Each kernel has a portable scalar form and an AVX2 form chosen once at run time when
// the processor has AVX2; the two perform the same operations lane by lane and give
// identical results (the tests compare them bit for bit).
#pragma once

#include <cstdint>

namespace spherolux::jpeg {

// Largest magnitude of a dequantised coefficient the inverse DCT accepts. Blocks of 8-bit
// samples stay far below it (T.81 A.3.3); callers clamp larger, corrupt values.
inline constexpr int kMaxDequantised = 4095;

// Inverse DCT of a dequantised block (natural order, |coef| <= kMaxDequantised) into 8x8
// samples with the level shift and clamping to 0..255.
void InverseDct8x8(const int16_t* coef, uint8_t* out, int stride);
void InverseDct8x8Scalar(const int16_t* coef, uint8_t* out, int stride);

// The same block reduced by 2, 4 or 8 (shift 1..3): (8 >> shift) square samples, each the
// rounded mean of the full-size samples it covers.
void InverseDctReduced(const int16_t* coef, int shift, uint8_t* out, int stride);

// Division of a scaled coefficient by 8 * Q as a multiply and shift, natural order; exact
// for every magnitude below 2^16.
struct QuantDivisors {
  uint32_t multiplier[64];
  uint32_t bias[64];  // added to the magnitude first: half the divisor to round, 0 to truncate
};
void MakeDivisors(const uint16_t quant[64], bool round_to_nearest, QuantDivisors* out);

// Forward DCT of 8x8 samples (level-shifted inside); the results are the T.81 A.3.3
// coefficients scaled by 8, natural order.
void ForwardDct8x8(const uint8_t* in, int stride, int32_t out[64]);
// Quantises such a block, natural order.
void QuantizeBlock(const int32_t dct[64], const QuantDivisors& divisors, int16_t out[64]);
// Both in one pass.
void ForwardDctQuantize(const uint8_t* in, int stride, const QuantDivisors& divisors, int16_t out[64]);
void ForwardDctQuantizeScalar(const uint8_t* in, int stride, const QuantDivisors& divisors, int16_t out[64]);

// The AVX2 kernels; callable only when CpuHasAvx2() (base/system.h) is true.
void InverseDct8x8Avx2(const int16_t* coef, uint8_t* out, int stride);
void ForwardDctQuantizeAvx2(const uint8_t* in, int stride, const QuantDivisors& divisors, int16_t out[64]);

}  // namespace spherolux::jpeg
