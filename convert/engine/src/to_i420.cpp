#include "to_i420.h"

#include "base/system.h"

namespace spherolux::convert {
namespace i420 {

void RowPairScalar(const uint8_t* r0, const uint8_t* r1, int x0, int x1, PixelOrder order, uint8_t* y0, uint8_t* y1,
                   uint8_t* u, uint8_t* v) {
  const int ri = order == PixelOrder::kRgba ? 0 : 2;
  const int bi = 2 - ri;
  auto luma = [&](const uint8_t* p) {
    return static_cast<uint8_t>((kYr * p[ri] + kYg * p[1] + kYb * p[bi] + kYAdd) >> 15);
  };
  for (int x = x0; x < x1; x += 2) {
    const uint8_t* a = r0 + 4 * x;  // the 2 x 2 block: a, a + 4 above b, b + 4
    const uint8_t* b = r1 + 4 * x;
    y0[x] = luma(a);
    y0[x + 1] = luma(a + 4);
    y1[x] = luma(b);
    y1[x + 1] = luma(b + 4);
    const int rs = a[ri] + a[ri + 4] + b[ri] + b[ri + 4];
    const int gs = a[1] + a[5] + b[1] + b[5];
    const int bs = a[bi] + a[bi + 4] + b[bi] + b[bi + 4];
    u[x / 2] = static_cast<uint8_t>((kUr * rs + kUg * gs + kUb * bs + kCAdd) >> 17);
    v[x / 2] = static_cast<uint8_t>((kVr * rs + kVg * gs + kVb * bs + kCAdd) >> 17);
  }
}

}  // namespace i420

void ToI420Scalar(const uint8_t* src, ptrdiff_t stride, int width, int height, PixelOrder order, uint8_t* dst) {
  const size_t w = static_cast<size_t>(width);
  uint8_t* y = dst;
  uint8_t* u = dst + w * static_cast<size_t>(height);
  uint8_t* v = u + (w / 2) * static_cast<size_t>(height / 2);
  for (int row = 0; row < height; row += 2) {
    const uint8_t* r0 = src + stride * row;
    i420::RowPairScalar(r0, r0 + stride, 0, width, order, y + w * row, y + w * (row + 1), u + w / 2 * (row / 2),
                        v + w / 2 * (row / 2));
  }
}

void ToI420(const uint8_t* src, ptrdiff_t stride, int width, int height, PixelOrder order, uint8_t* dst) {
  static const ToI420Fn kernel = CpuHasAvx2() ? ToI420Avx2 : ToI420Scalar;
  kernel(src, stride, width, height, order, dst);
}

}  // namespace spherolux::convert
