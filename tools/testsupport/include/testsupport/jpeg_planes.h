// Decoding a whole JPEG file with our decoder into planes, for tests that check pictures.
//
// For tests only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace spherolux::testsupport {

// One decoded picture: each component at its own sampling.
struct Planes {
  int width = 0, height = 0;  // output size
  int components = 0;
  int sampling = -1;  // kJpegSampling...
  int plane_w[3] = {}, plane_h[3] = {};
  std::vector<uint8_t> plane[3];
};

// Decodes the file at `path` in strips of `strip` rows (0: all at once) at scale 1/`scale`.
// Returns the first non-zero code of the decoder's calls, -1 when the file cannot be opened,
// or 0.
int32_t DecodeJpegFile(const std::string& path, Planes* out, int strip = 16, int scale = 1);

}  // namespace spherolux::testsupport
