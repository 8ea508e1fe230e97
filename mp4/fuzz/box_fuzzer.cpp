// Box tree parsing of arbitrary bytes: must never crash, and what it reads must serialise
// and parse again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mp4/box.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace spherolux::mp4;
  std::vector<Box> boxes;
  ParseBoxes(std::span<const uint8_t>(data, size), &boxes);
  std::vector<uint8_t> once;
  for (const auto& b : boxes)
    if (!SerializeBox(b, &once)) std::abort();
  std::vector<Box> again;
  ParseBoxes(once, &again);
  std::vector<uint8_t> twice;
  for (const auto& b : again) SerializeBox(b, &twice);
  if (once != twice) std::abort();
  return 0;
}
