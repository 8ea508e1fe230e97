#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace spherolux::testing {

ScratchDir::ScratchDir() : dir_(camgen::MakeTempDir("calib-test")) {}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

std::string ScratchDir::Write(const std::string& name, const Bytes& bytes) const {
  const std::string path = Path(name);
  EXPECT_TRUE(camgen::WriteFileBytes(path, bytes)) << path;
  return path;
}

const Bytes& BaseJpeg() {
  static const Bytes jpeg = camgen::MakeJpeg(64, 32, 80);
  return jpeg;
}

namespace {

uint32_t Be32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// ffmpeg writes a moov/udta of its own (an empty iTunes metadata list). Turning it into a
// free box keeps every offset and lets each test decide which udta boxes exist.
void HideMoovUdta(Bytes& mp4) {
  for (size_t pos = 0; pos + 8 <= mp4.size();) {
    const uint32_t size = Be32(mp4, pos);
    if (size < 8 || size > mp4.size() - pos) return;
    if (std::equal(mp4.begin() + ptrdiff_t(pos + 4), mp4.begin() + ptrdiff_t(pos + 8), "moov")) {
      for (size_t c = pos + 8; c + 8 <= pos + size;) {
        const uint32_t child = Be32(mp4, c);
        if (child < 8) return;
        if (std::equal(mp4.begin() + ptrdiff_t(c + 4), mp4.begin() + ptrdiff_t(c + 8), "udta")) {
          std::copy_n("free", 4, mp4.begin() + ptrdiff_t(c + 4));
        }
        c += child;
      }
      return;
    }
    pos += size;
  }
}

}  // namespace

const Bytes& BaseMp4() {
  static const Bytes mp4 = [] {
    ScratchDir dir;
    const std::string path = dir.Path("base.mp4");
    Bytes bytes = camgen::MakeMp4Clip(path, 64, 32, 0.2, false) ? camgen::ReadFileBytes(path) : Bytes{};
    HideMoovUdta(bytes);
    return bytes;
  }();
  return mp4;
}

Bytes DualBlock(int32_t camera_type, size_t para_size, const camgen::BlockFaults& faults) {
  return camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara(), camera_type, para_size), faults);
}

Bytes SingleBlock(int32_t camera_type, const camgen::BlockFaults& faults) {
  return camgen::MakeBlock(camgen::SingleLensRecords(camgen::ExampleSinglePara(), camera_type), faults);
}

Bytes Segment(uint8_t marker, const Bytes& body) {
  Bytes s = {0xFF, marker, uint8_t((body.size() + 2) >> 8), uint8_t(body.size() + 2)};
  s.insert(s.end(), body.begin(), body.end());
  return s;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace spherolux::testing
