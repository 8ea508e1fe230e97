// 32-bit pictures to planar YUV 4:2:0 at the same size, without a scaler: ITU-R BT.601
// (Rec. 601-7, 2.5.1-2.5.3) in limited range, Y 16-235 and Cb, Cr 16-240, each chroma sample
// from the mean of its 2 x 2 pixels. The matrix and range are the ones swscale uses by
// default, so pictures that go through the scaler and pictures that do not look alike.
//
// The arithmetic is integer and exactly defined: every kernel gives the same bytes.
//   Y  = (kY[r] R + kY[g] G + kY[b] B + 16 * 2^15 + 2^14) >> 15
//   Cb = (kU[r] Rs + kU[g] Gs + kU[b] Bs + 128 * 2^17 + 2^16) >> 17   (Rs: sum of 2 x 2 R)
//   Cr likewise with kV.
#pragma once

#include <cstddef>
#include <cstdint>

namespace spherolux::convert {

// Byte order of a 32-bit pixel; the fourth byte is ignored.
enum class PixelOrder { kBgra, kRgba };

// One picture of width x height pixels (both even, > 0). Row y (from the top) starts at
// src + y * stride; the stride may be negative (rows bottom-up in memory). dst receives the
// Y plane (width x height), then Cb, then Cr (width/2 x height/2 each), rows top first.
using ToI420Fn = void (*)(const uint8_t* src, ptrdiff_t stride, int width, int height, PixelOrder order, uint8_t* dst);

// The reference in plain C++.
void ToI420Scalar(const uint8_t* src, ptrdiff_t stride, int width, int height, PixelOrder order, uint8_t* dst);
// The same bytes with AVX2; callable only when CpuHasAvx2() (base/system.h).
void ToI420Avx2(const uint8_t* src, ptrdiff_t stride, int width, int height, PixelOrder order, uint8_t* dst);
// The fastest of the two on this processor, chosen once.
void ToI420(const uint8_t* src, ptrdiff_t stride, int width, int height, PixelOrder order, uint8_t* dst);

namespace i420 {

// 15-bit fixed-point coefficients of R, G, B: BT.601's luma weights scaled by 219/255 and
// its colour-difference weights by 224/255. Each chroma row sums to 0, so grey stays 128.
inline constexpr int kYr = 8414, kYg = 16519, kYb = 3208;
inline constexpr int kUr = -4857, kUg = -9535, kUb = 14392;
inline constexpr int kVr = 14392, kVg = -12052, kVb = -2340;
inline constexpr int kYAdd = (16 << 15) + (1 << 14);
inline constexpr int kCAdd = (128 << 17) + (1 << 16);

// Converts columns [x0, x1) (x0, x1 even) of the row pair r0 (upper), r1 (lower) into the Y
// rows y0, y1 and the chroma rows u, v (indexed by x / 2). Shared by both kernels: the AVX2
// one leaves it the columns beyond its last whole block.
void RowPairScalar(const uint8_t* r0, const uint8_t* r1, int x0, int x1, PixelOrder order, uint8_t* y0, uint8_t* y1,
                   uint8_t* u, uint8_t* v);

}  // namespace i420
}  // namespace spherolux::convert
