// libFuzzer target: the whole photo pipeline (calibration, decoding, stitching or
// unwrapping, encoding) on arbitrary file contents. Run with -rss_limit_mb=2048: no input
// may make one photo cost more than that. The input's first byte picks the rotation and the
// quality; the rest is the photo.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "photo/stitch_photo.h"

namespace {

// One private folder for the whole run, removed at exit.
struct Scratch {
  Scratch() {
    char pattern[] = "/tmp/photo-fuzz-XXXXXX";
    if (mkdtemp(pattern)) dir = pattern;
    source = dir + "/in.jpg";
    output = dir + "/out.jpg";
  }
  ~Scratch() {
    ::unlink(source.c_str());
    ::unlink(output.c_str());
    ::rmdir(dir.c_str());
  }
  std::string dir, source, output;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  if (size < 1 || scratch.dir.empty()) return 0;
  std::FILE* f = std::fopen(scratch.source.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);
  const int rotation = 90 * (data[0] & 3);
  const int quality = (data[0] >> 2) % 3;
  spherolux::PhotoOutputOptions options;
  options.overwrite = true;
  spherolux::StitchPhoto(scratch.source.c_str(), scratch.output.c_str(), rotation, false, quality, options);
  ::unlink(scratch.output.c_str());
  return 0;
}
