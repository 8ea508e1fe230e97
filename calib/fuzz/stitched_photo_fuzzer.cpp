// Fuzzes the stitched-photo tests (ours and other tools' XMP) over an in-memory file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "walkers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  spherolux::MemorySource src(std::span<const uint8_t>(data, size));
  const int result = spherolux::calib_internal::IsStitchedPhoto(src);
  if (result != 0 && result != 1) __builtin_trap();
  spherolux::MemorySource again(std::span<const uint8_t>(data, size));
  const int equirectangular = spherolux::calib_internal::IsEquirectangularXmpPhoto(again);
  if (equirectangular != 0 && equirectangular != 1) __builtin_trap();
  return 0;
}
