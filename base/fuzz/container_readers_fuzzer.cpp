// Walks arbitrary bytes as an MP4 box tree (entering every box, as deep as readers go) and
// as a JPEG segment list, and traps when a reader reports a box or segment outside the
// bytes, or fails to move forward.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/byte_source.h"
#include "base/jpeg_segments.h"
#include "base/mp4_boxes.h"

using namespace spherolux;

namespace {

void WalkBoxes(MemorySource& src, int64_t begin, int64_t end, int depth) {
  Mp4BoxReader boxes(src, begin, end);
  int64_t last = begin - 1;
  Mp4Box box;
  while (boxes.Next(&box) == ReadStatus::kOk) {
    if (box.start <= last || box.start < begin || box.end() > end || box.body() > box.end()) __builtin_trap();
    last = box.start;
    if (depth < kMaxMp4BoxDepth) WalkBoxes(src, box.body(), box.end(), depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemorySource src(std::span<const uint8_t>(data, size));
  WalkBoxes(src, 0, src.Size(), 0);

  for (const JpegMarkerRules rules : {JpegMarkerRules{}, JpegMarkerRules{0, 6, false}}) {
    JpegSegmentReader segments(src, rules);
    if (segments.ReadSoi() != ReadStatus::kOk) continue;
    int64_t last = 1;
    JpegSegment segment;
    while (segments.Next(&segment) == ReadStatus::kOk) {
      if (segment.data <= last || segment.data + segment.data_size() > src.Size()) __builtin_trap();
      last = segment.data;
    }
  }
  return 0;
}
