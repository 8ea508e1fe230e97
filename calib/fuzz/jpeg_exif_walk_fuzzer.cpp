// Fuzzes the JPEG Exif walk over an in-memory file, then the sync search and the block
// decoder on whatever payload it returns.
#include <cstddef>
#include <cstdint>
#include <span>

#include "calib/block.h"
#include "walkers.h"

using namespace spherolux;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource src(std::span<const uint8_t>(data, size));
  PayloadSpan span;
  const int rc = calib_internal::WalkJpegExif(src, &span);
  if (rc != kWalkOk) {
    if (span.size != -1 || !span.bytes.empty()) __builtin_trap();
    return 0;
  }
  if (span.size < 0 || size_t(span.size) != span.bytes.size()) __builtin_trap();
  size_t offset = 0, leftsize = 0;
  if (FindSyncWord(span.bytes.data(), span.bytes.size(), &offset, &leftsize)) {
    if (offset + leftsize != span.bytes.size()) __builtin_trap();
    DecodedBlock block;
    DecodeCalibrationBlock(span.bytes.data() + offset, leftsize, &block);
  }
  return 0;
}
