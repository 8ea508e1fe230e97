#include <cstdint>

#include "base/byte_source.h"
#include "base/bytes.h"
#include "base/jpeg_segments.h"
#include "probe/probe.h"

namespace spherolux {
namespace {

// SOF0..SOF15 except DHT (C4), JPG (C8) and DAC (CC), which share the range.
bool IsFrameHeader(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

}  // namespace

// T.81, B.2.2: the frame header's sample precision, number of lines and samples per line
// come first. The scan (SOS) starts after the frame header; a second SOI or an EOI before it
// means no frame.
bool JpegFrameSize(const char* path, int* width, int* height) {
  FileSource src(path);
  if (!src.ok()) return false;
  JpegSegmentReader segments(src);
  if (segments.ReadSoi() != ReadStatus::kOk) return false;
  for (;;) {
    JpegSegment segment;
    if (segments.Next(&segment) != ReadStatus::kOk) return false;
    if (segment.marker == 0xD8 || segment.marker == 0xD9 || segment.marker == 0xDA) return false;
    if (!IsFrameHeader(segment.marker)) continue;
    uint8_t frame[5];
    if (segment.data_size() < 5 || !src.Read(frame, 5)) return false;
    const int h = LoadBE16(frame + 1);
    const int w = LoadBE16(frame + 3);
    if (w == 0 || h == 0) return false;  // a DNL-defined height is not supported
    *width = w;
    *height = h;
    return true;
  }
}

}  // namespace spherolux
