// Test media for the calibration tests: a scratch directory, and base photos and videos
// made once per test program by the real tools (cjpeg, ffmpeg through camgen).
#pragma once

#include <string>
#include <vector>

#include "camgen/camgen.h"

namespace spherolux::testing {

using camgen::Bytes;

// A fresh directory removed when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Writes `bytes` to a file of that name inside the directory; returns its path.
  std::string Write(const std::string& name, const Bytes& bytes) const;
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// A small dual-fisheye JPEG (JFIF APP0 first) made by cjpeg; the same bytes on every call.
const Bytes& BaseJpeg();
// A short ffmpeg clip with moov at the end; the udta ffmpeg writes into moov is renamed
// to a free box, so the clip has no udta of its own.
const Bytes& BaseMp4();

// Calibration blocks made by camgen for the example records.
Bytes DualBlock(int32_t camera_type = 2, size_t para_size = 1652, const camgen::BlockFaults& faults = {});
Bytes SingleBlock(int32_t camera_type = 1, const camgen::BlockFaults& faults = {});

// JPEG segments and concatenation for hand-built photos.
Bytes Segment(uint8_t marker, const Bytes& body);
Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Text(const std::string& s);

}  // namespace spherolux::testing
