// Decoding a whole JPEG file into planes for tests.
#include "testsupport/jpeg_planes.h"

#include <cstdio>
#include <cstdlib>

#include "jpeg/codec.h"

namespace spherolux::testsupport {

int32_t DecodeJpegFile(const std::string& path, Planes* out, int strip, int scale) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return -1;
  JpegDecoderStream s;
  s.file = f;
  s.alloc = std::malloc;
  s.release = std::free;
  JpegDecoder* dec = nullptr;
  int32_t rc = JpegDecoderCreate(&dec, s);
  if (rc != kJpegOk) {
    std::fclose(f);
    return rc;
  }
  int32_t v[2] = {};
  if (scale != 1) rc = JpegDecoderSet(dec, kJpegDecScale, &scale, 4);
  JpegDecoderGet(dec, kJpegDecOutputSize, v, 8);
  out->width = v[0];
  out->height = v[1];
  JpegDecoderGet(dec, kJpegDecComponents, &out->components, 4);
  JpegDecoderGet(dec, kJpegDecSampling, &out->sampling, 4);
  int32_t mcu[2] = {};
  JpegDecoderGet(dec, kJpegDecMcuSize, mcu, 8);
  // Component sizes from the frame's factors as the tests read them back: the MCU size
  // gives the largest factors; each component's share follows from 0x100B where present.
  const int ncomp = out->components == 1 ? 1 : 3;
  int32_t sub[2] = {1, 1};
  if (ncomp == 3) JpegDecoderGet(dec, kJpegDecSubsampling, sub, 8);
  for (int c = 0; c < ncomp; ++c) {
    const int fx = c == 0 ? 1 : sub[0], fy = c == 0 ? 1 : sub[1];
    out->plane_w[c] = (out->width + fx - 1) / fx;
    out->plane_h[c] = (out->height + fy - 1) / fy;
    out->plane[c].assign(static_cast<size_t>(out->plane_w[c]) * out->plane_h[c], 0);
  }
  int32_t first_error = rc;
  int row = 0;
  const int step = strip > 0 ? strip : out->height;
  while (row < out->height) {
    uint8_t* planes[3] = {};
    int32_t strides[3] = {};
    for (int c = 0; c < ncomp; ++c) {
      const int fy = c == 0 ? 1 : sub[1];
      const int first = (row + fy - 1) / fy;
      planes[c] = out->plane[c].data() + static_cast<size_t>(first) * out->plane_w[c];
      strides[c] = out->plane_w[c];
    }
    int32_t rows = step;
    rc = JpegDecoderDecodeRows(dec, planes, strides, nullptr, &rows);
    if (rc != kJpegOk && first_error == kJpegOk) first_error = rc;
    if (rows <= 0) break;
    row += rows;
  }
  JpegDecoderDestroy(dec);
  std::fclose(f);
  return first_error;
}

}  // namespace spherolux::testsupport
