// Fixed-point constants shared by the scalar and AVX2 transforms.
#pragma once

#include <cstdint>

namespace spherolux::jpeg::dct {

inline constexpr int kConstBits = 13;
inline constexpr int kPass1Bits = 2;
// The inverse transform's first pass is clamped to this magnitude so that the second pass
// cannot overflow 32 bits; blocks of real pictures stay well inside it.
inline constexpr int32_t kMaxPass1 = 16383;

// cos/sin products of the LLM flow graph, times 2^13.
inline constexpr int32_t k0_298631336 = 2446;
inline constexpr int32_t k0_390180644 = 3196;
inline constexpr int32_t k0_541196100 = 4433;
inline constexpr int32_t k0_765366865 = 6270;
inline constexpr int32_t k0_899976223 = 7373;
inline constexpr int32_t k1_175875602 = 9633;
inline constexpr int32_t k1_501321110 = 12299;
inline constexpr int32_t k1_847759065 = 15137;
inline constexpr int32_t k1_961570560 = 16069;
inline constexpr int32_t k2_053119869 = 16819;
inline constexpr int32_t k2_562915447 = 20995;
inline constexpr int32_t k3_072711026 = 25172;

}  // namespace spherolux::jpeg::dct
