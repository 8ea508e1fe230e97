// Base media made by real tools: cjpeg for photos, ffmpeg for videos.
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "camgen/camgen.h"

namespace spherolux::camgen {
namespace {

// Quotes a path for /bin/sh.
std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

// A textured fisheye circle: rings and sectors in distinct colours, so that a stitched
// picture shows where each part of a lens went.
void PaintCircle(Bytes& rgb, int width, int height, double cx, double cy, double r, int hue) {
  const double kPi = 3.14159265358979;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      double d = std::sqrt(dx * dx + dy * dy);
      if (d > r) continue;
      int ring = int(d / r * 8);
      int sector = int((std::atan2(dy, dx) + kPi) / (2 * kPi) * 12);
      bool light = (ring + sector) % 2 == 0;
      uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
      p[0] = uint8_t(light ? 220 : 40 + 10 * sector);
      p[1] = uint8_t(light ? 200 - 20 * hue : 60 + 15 * ring);
      p[2] = uint8_t(light ? 80 + 100 * hue : 160 - 10 * sector);
    }
  }
}

}  // namespace

Bytes DeclareJpegSize(Bytes jpeg, int width, int height) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = uint8_t(height >> 8), jpeg[i + 6] = uint8_t(height);
      jpeg[i + 7] = uint8_t(width >> 8), jpeg[i + 8] = uint8_t(width);
      break;
    }
  }
  return jpeg;
}

Bytes MakeJpeg(int width, int height, int quality, bool single_lens, const std::string& sampling) {
  if (width <= 0 || height <= 0) return {};
  Bytes rgb(size_t(width) * height * 3, 16);
  if (single_lens) {
    PaintCircle(rgb, width, height, width / 2.0, height / 2.0, std::min(width, height) / 2.0 - 1, 0);
  } else {
    double r = std::min(width / 4.0, height / 2.0) - 1;
    PaintCircle(rgb, width, height, width / 4.0, height / 2.0, r, 0);
    PaintCircle(rgb, width, height, width * 3 / 4.0, height / 2.0, r, 1);
  }
  std::string dir = MakeTempDir("camgen-jpeg");
  std::string ppm = dir + "/in.ppm", jpg = dir + "/out.jpg";
  std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  Bytes file(header.begin(), header.end());
  file.insert(file.end(), rgb.begin(), rgb.end());
  Bytes out;
  if (WriteFileBytes(ppm, file)) {
    std::string cmd = "cjpeg -quality " + std::to_string(quality) + " -sample " + sampling + " -outfile " + Quote(jpg) +
                      " " + Quote(ppm);
    if (std::system(cmd.c_str()) == 0) out = ReadFileBytes(jpg);
  }
  std::filesystem::remove_all(dir);
  return out;
}

bool MakeMp4Clip(const std::string& path, int width, int height, double seconds, bool audio, bool hevc) {
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.3f", seconds);
  std::string cmd = "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=" + std::to_string(width) + "x" +
                    std::to_string(height) + ":rate=25:duration=" + duration;
  if (audio) cmd += std::string(" -f lavfi -i sine=frequency=440:sample_rate=48000:duration=") + duration;
  // bitexact and no metadata: the file carries no udta of its own, so a test decides
  // exactly which metadata boxes exist.
  cmd += " -map_metadata -1 -fflags +bitexact -preset ultrafast -pix_fmt yuv420p -g 25";
  cmd += hevc ? " -c:v libx265 -tag:v hvc1 -x265-params log-level=error" : " -c:v libx264";
  if (audio) cmd += " -c:a aac -b:a 64k -flags:a +bitexact";
  cmd += " -flags:v +bitexact " + Quote(path);
  return std::system(cmd.c_str()) == 0;
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

std::string MakeTempDir(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

}  // namespace spherolux::camgen
