#include "test_util.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "testsupport/testsupport.h"

namespace spherolux::jpegtest {

std::string TempPath(const std::string& name) {
  // Removed with its contents when the test program ends.
  static const testsupport::TempDir dir("jpeg_tests");
  return dir.Path(name);
}

int RunCommand(const std::string& command) { return testsupport::RunCommand(command).exit_code; }

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> data;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return data;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  std::fclose(f);
  return data;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
}

Image MakeTestImage(int width, int height, uint32_t seed) {
  Image im;
  im.width = width;
  im.height = height;
  im.pixels.resize(static_cast<size_t>(width) * height * 3);
  uint32_t state = seed * 2654435761u + 12345u;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>(state >> 28) - 8;
      int r = x * 255 / std::max(1, width - 1);
      int g = y * 255 / std::max(1, height - 1);
      int b = static_cast<int>(128 + 100 * std::sin(x * 0.07) * std::cos(y * 0.05));
      if ((x / 12 + y / 12) % 2 == 0 && x > width / 2) r = g = b = (y < height / 2) ? 230 : 20;  // edges
      if (std::hypot(x - width / 3.0, y - height / 2.0) < height / 5.0) r = 250, g = 40, b = 30;
      uint8_t* p = &im.pixels[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(std::clamp(r + noise, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(g + noise, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(b + noise, 0, 255));
    }
  }
  return im;
}

bool WritePnm(const std::string& path, const Image& image) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P%d\n%d %d\n255\n", image.channels == 1 ? 5 : 6, image.width, image.height);
  const bool ok = std::fwrite(image.pixels.data(), 1, image.pixels.size(), f) == image.pixels.size();
  std::fclose(f);
  return ok;
}

bool ReadPnm(const std::string& path, Image* image) {
  const std::vector<uint8_t> d = ReadFile(path);
  size_t pos = 0;
  auto token = [&]() -> std::string {
    while (pos < d.size() && (std::isspace(d[pos]) || d[pos] == '#')) {
      if (d[pos] == '#')
        while (pos < d.size() && d[pos] != '\n') ++pos;
      else
        ++pos;
    }
    std::string t;
    while (pos < d.size() && !std::isspace(d[pos])) t += static_cast<char>(d[pos++]);
    return t;
  };
  const std::string magic = token();
  if (magic != "P5" && magic != "P6") return false;
  image->channels = magic == "P5" ? 1 : 3;
  image->width = std::atoi(token().c_str());
  image->height = std::atoi(token().c_str());
  if (std::atoi(token().c_str()) != 255) return false;
  ++pos;
  const size_t n = static_cast<size_t>(image->width) * image->height * image->channels;
  if (d.size() < pos + n) return false;
  image->pixels.assign(d.begin() + static_cast<ptrdiff_t>(pos), d.begin() + static_cast<ptrdiff_t>(pos + n));
  return true;
}

static uint8_t Clamp8(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

Planes RgbToI420(const Image& rgb) {
  Planes p;
  p.width = rgb.width;
  p.height = rgb.height;
  p.components = 3;
  p.sampling = kJpegSampling420;
  p.plane_w[0] = rgb.width;
  p.plane_h[0] = rgb.height;
  p.plane_w[1] = p.plane_w[2] = (rgb.width + 1) / 2;
  p.plane_h[1] = p.plane_h[2] = (rgb.height + 1) / 2;
  for (int c = 0; c < 3; ++c) p.plane[c].assign(static_cast<size_t>(p.plane_w[c]) * p.plane_h[c], 0);
  std::vector<double> cb(static_cast<size_t>(rgb.width) * rgb.height), cr(cb.size());
  for (int y = 0; y < rgb.height; ++y) {
    for (int x = 0; x < rgb.width; ++x) {
      const uint8_t* s = &rgb.pixels[(static_cast<size_t>(y) * rgb.width + x) * 3];
      const double r = s[0], g = s[1], b = s[2];
      const size_t i = static_cast<size_t>(y) * rgb.width + x;
      p.plane[0][i] = Clamp8(0.299 * r + 0.587 * g + 0.114 * b);
      cb[i] = -0.168736 * r - 0.331264 * g + 0.5 * b + 128;
      cr[i] = 0.5 * r - 0.418688 * g - 0.081312 * b + 128;
    }
  }
  for (int y = 0; y < p.plane_h[1]; ++y) {
    for (int x = 0; x < p.plane_w[1]; ++x) {
      double su = 0, sv = 0;
      int n = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
          const int xx = 2 * x + dx, yy = 2 * y + dy;
          if (xx >= rgb.width || yy >= rgb.height) continue;
          su += cb[static_cast<size_t>(yy) * rgb.width + xx];
          sv += cr[static_cast<size_t>(yy) * rgb.width + xx];
          ++n;
        }
      p.plane[1][static_cast<size_t>(y) * p.plane_w[1] + x] = Clamp8(su / n);
      p.plane[2][static_cast<size_t>(y) * p.plane_w[2] + x] = Clamp8(sv / n);
    }
  }
  return p;
}

Image PlanesToRgb(const Planes& p) {
  Image im;
  im.width = p.width;
  im.height = p.height;
  im.channels = p.components == 1 ? 1 : 3;
  im.pixels.resize(static_cast<size_t>(im.width) * im.height * im.channels);
  for (int y = 0; y < im.height; ++y) {
    for (int x = 0; x < im.width; ++x) {
      const double yy = p.plane[0][static_cast<size_t>(y) * p.plane_w[0] + x];
      if (im.channels == 1) {
        im.pixels[static_cast<size_t>(y) * im.width + x] = static_cast<uint8_t>(yy);
        continue;
      }
      // Chroma position: the sample covering this luma sample.
      auto sample = [&](int c) {
        const int cx = static_cast<int>(static_cast<int64_t>(x) * p.plane_w[c] / std::max(1, p.width));
        const int cy = static_cast<int>(static_cast<int64_t>(y) * p.plane_h[c] / std::max(1, p.height));
        return static_cast<double>(p.plane[c][static_cast<size_t>(cy) * p.plane_w[c] + cx]) - 128.0;
      };
      const double cb = sample(1), cr = sample(2);
      uint8_t* d = &im.pixels[(static_cast<size_t>(y) * im.width + x) * 3];
      d[0] = Clamp8(yy + 1.402 * cr);
      d[1] = Clamp8(yy - 0.344136 * cb - 0.714136 * cr);
      d[2] = Clamp8(yy + 1.772 * cb);
    }
  }
  return im;
}

int32_t EncodeI420(const std::string& path, const Planes& p, int quality, int strip, int rounding) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return -1;
  JpegEncoderStream s;
  s.file = f;
  s.width = p.width;
  s.height = p.height;
  s.pixel_format = 1;
  s.alloc = std::malloc;
  s.release = std::free;
  JpegEncoder* enc = nullptr;
  int32_t rc = JpegEncoderCreate(&enc, s);
  if (rc == kJpegOk) rc = JpegEncoderSet(enc, kJpegEncQuality, &quality, 4);
  if (rc == kJpegOk) rc = JpegEncoderSet(enc, kJpegEncRounding, &rounding, 4);
  const int step = strip > 0 ? strip : p.height;
  for (int row = 0; rc == kJpegOk && row < p.height; row += step) {
    const uint8_t* planes[3];
    int32_t strides[3];
    for (int c = 0; c < 3; ++c) {
      const int first = c == 0 ? row : (row + 1) / 2;
      planes[c] = p.plane[c].data() + static_cast<size_t>(first) * p.plane_w[c];
      strides[c] = p.plane_w[c];
    }
    rc = JpegEncoderEncodeRows(enc, planes, strides, row, step);
  }
  if (rc == kJpegOk) rc = JpegEncoderFinish(enc);
  if (enc) JpegEncoderDestroy(enc);
  std::fclose(f);
  return rc;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return -1;
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    se += d * d;
  }
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / se);
}

double Psnr(const Image& a, const Image& b) {
  if (a.width != b.width || a.height != b.height || a.channels != b.channels) return -1;
  return Psnr(a.pixels, b.pixels);
}

int CountingAllocator::allocations = 0;
int CountingAllocator::releases = 0;
int CountingAllocator::fail_at = -1;
int64_t CountingAllocator::outstanding_bytes = 0;
namespace {
std::map<void*, size_t>& Sizes() {
  static std::map<void*, size_t> sizes;
  return sizes;
}
}  // namespace

void CountingAllocator::Reset(int fail) {
  allocations = releases = 0;
  outstanding_bytes = 0;
  fail_at = fail;
  Sizes().clear();
}

void* CountingAllocator::Alloc(size_t size) {
  const int index = allocations++;
  if (fail_at >= 0 && index >= fail_at) return nullptr;
  void* p = std::malloc(size);
  if (p) {
    Sizes()[p] = size;
    outstanding_bytes += static_cast<int64_t>(size);
  }
  return p;
}

void CountingAllocator::Release(void* p) {
  ++releases;
  auto it = Sizes().find(p);
  if (it != Sizes().end()) {
    outstanding_bytes -= static_cast<int64_t>(it->second);
    Sizes().erase(it);
  }
  std::free(p);
}

}  // namespace spherolux::jpegtest
