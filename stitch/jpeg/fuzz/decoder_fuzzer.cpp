// libFuzzer target: the decoder on arbitrary bytes, through every row of the picture, at a
// scale chosen by the input's last byte, with a rewind halfway.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jpeg/codec.h"

namespace {

// Refuses single allocations above 256 MiB, as a memory-limited caller would.
void* LimitedAlloc(size_t size) { return size > (size_t{256} << 20) ? nullptr : std::malloc(size); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!f) return 0;
  spherolux::JpegDecoderStream s;
  s.file = f;
  s.alloc = LimitedAlloc;
  s.release = std::free;
  spherolux::JpegDecoder* dec = nullptr;
  if (spherolux::JpegDecoderCreate(&dec, s) == spherolux::kJpegOk) {
    int32_t scale = 1 << (data[size - 1] & 3);
    spherolux::JpegDecoderSet(dec, spherolux::kJpegDecScale, &scale, 4);
    int32_t wh[2] = {};
    spherolux::JpegDecoderGet(dec, spherolux::kJpegDecOutputSize, wh, 8);
    if (static_cast<int64_t>(wh[0]) * wh[1] <= 1 << 18) {  // keeps each run short
      std::vector<uint8_t> planes(static_cast<size_t>(wh[0]) * wh[1] * 3);
      for (int pass = 0; pass < 2; ++pass) {
        int32_t done = 0;
        while (done < wh[1]) {
          uint8_t* p[3] = {planes.data(), planes.data() + planes.size() / 3, planes.data() + 2 * planes.size() / 3};
          const int32_t strides[3] = {wh[0], wh[0], wh[0]};
          int32_t rows = 1;  // one row at a time keeps every plane inside its third
          spherolux::JpegDecoderDecodeRows(dec, p, strides, nullptr, &rows);
          if (rows <= 0) break;
          done += rows;
        }
        if (spherolux::JpegDecoderSet(dec, spherolux::kJpegDecRewind, nullptr, 0) != spherolux::kJpegOk) break;
      }
    }
    spherolux::JpegDecoderDestroy(dec);
  }
  std::fclose(f);
  return 0;
}
