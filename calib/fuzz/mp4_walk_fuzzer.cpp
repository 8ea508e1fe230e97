// Fuzzes both MP4 walks over an in-memory file, and the spherical-video decision on any
// box body the uuid walk returns.
#include <cstddef>
#include <cstdint>
#include <span>

#include "walkers.h"

using namespace spherolux;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  PayloadSpan span;
  {
    MemorySource src(file);
    const int rc = calib_internal::WalkMp4(src, calib_internal::Mp4Mode::kUdta, &span);
    if (rc == kWalkOk && (span.size <= 0 || size_t(span.size) != span.bytes.size())) __builtin_trap();
    if (rc != kWalkOk && (span.size != -1 || !span.bytes.empty())) __builtin_trap();
  }
  {
    MemorySource src(file);
    const int rc = calib_internal::WalkMp4(src, calib_internal::Mp4Mode::kSphericalUuid, &span);
    if (rc != kWalkOk && (span.size != 0 || !span.bytes.empty())) __builtin_trap();
    if (rc == kWalkOk) calib_internal::SphericalBodyIsTrue(span.bytes);
  }
  return 0;
}
