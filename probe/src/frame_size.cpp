#include <cstdint>

#include "base/bytes.h"
#include "base/file.h"
#include "probe/probe.h"

namespace spherolux {
namespace {

// SOF0..SOF15 except DHT (C4), JPG (C8) and DAC (CC), which share the range.
bool IsFrameHeader(int marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers without a length field (T.81, B.1.1.3): TEM, RSTn.
bool IsStandalone(int marker) { return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7); }

}  // namespace

bool JpegFrameSize(const char* path, int* width, int* height) {
  UniqueFile f = OpenFile(path, "rb");
  if (!f) return false;
  uint8_t soi[2];
  if (!ReadExact(f.get(), soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8) return false;
  for (;;) {
    // Find the next marker, skipping fill bytes (any number of 0xFF before the code).
    int c = std::fgetc(f.get());
    if (c != 0xFF) return false;
    do {
      c = std::fgetc(f.get());
    } while (c == 0xFF);
    if (c == EOF) return false;
    if (IsStandalone(c)) continue;
    if (c == 0xD8 || c == 0xD9 || c == 0xDA) return false;  // SOI again, EOI or a scan first
    uint8_t len_bytes[2];
    if (!ReadExact(f.get(), len_bytes, 2)) return false;
    const int length = LoadBE16(len_bytes);
    if (length < 2) return false;
    if (IsFrameHeader(c)) {
      uint8_t frame[5];  // sample precision, number of lines, samples per line
      if (length < 2 + 5 || !ReadExact(f.get(), frame, 5)) return false;
      const int h = LoadBE16(frame + 1);
      const int w = LoadBE16(frame + 3);
      if (w == 0 || h == 0) return false;  // a DNL-defined height is not supported
      *width = w;
      *height = h;
      return true;
    }
    if (!SeekTo(f.get(), Tell(f.get()) + length - 2)) return false;
  }
}

}  // namespace spherolux
