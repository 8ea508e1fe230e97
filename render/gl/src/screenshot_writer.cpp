#include "screenshot_writer.h"

#include <QImage>
#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "jpeg/codec.h"

namespace spherolux::render {
namespace {

bool HasJpegExtension(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == "jpg" || ext == "jpeg";
}

uint8_t Clamp(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// BGRA to planar Y, Cb, Cr with 2x2 chroma averaging, the JFIF colour transform in 16.16
// fixed point (Y = 0.299 R + 0.587 G + 0.114 B; Cb, Cr centred on 128).
void BgraToYuv420(const uint8_t* bgra, int width, int height, std::vector<uint8_t>& y_plane,
                  std::vector<uint8_t>& u_plane, std::vector<uint8_t>& v_plane) {
  const int cw = (width + 1) / 2;
  const int ch = (height + 1) / 2;
  y_plane.assign(static_cast<size_t>(width) * height, 0);
  u_plane.assign(static_cast<size_t>(cw) * ch, 0);
  v_plane.assign(static_cast<size_t>(cw) * ch, 0);
  std::vector<int> cb_sum(static_cast<size_t>(cw) * ch, 0);
  std::vector<int> cr_sum(static_cast<size_t>(cw) * ch, 0);
  std::vector<int> count(static_cast<size_t>(cw) * ch, 0);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = bgra + static_cast<size_t>(y) * width * 4;
    for (int x = 0; x < width; ++x) {
      const int b = row[4 * x];
      const int g = row[4 * x + 1];
      const int r = row[4 * x + 2];
      y_plane[static_cast<size_t>(y) * width + x] = Clamp((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
      const size_t c = static_cast<size_t>(y / 2) * cw + x / 2;
      cb_sum[c] += (-11059 * r - 21709 * g + 32768 * b) >> 8;
      cr_sum[c] += (32768 * r - 27439 * g - 5329 * b) >> 8;
      ++count[c];
    }
  }
  for (size_t c = 0; c < count.size(); ++c) {
    const int n = count[c] * 256;
    u_plane[c] = Clamp(128 + (cb_sum[c] + (cb_sum[c] >= 0 ? n / 2 : -n / 2)) / n);
    v_plane[c] = Clamp(128 + (cr_sum[c] + (cr_sum[c] >= 0 ? n / 2 : -n / 2)) / n);
  }
}

bool WriteJpeg(const std::string& path, const uint8_t* bgra, int width, int height) {
  if (width > 65535 || height > 65535) return false;
  std::vector<uint8_t> y_plane;
  std::vector<uint8_t> u_plane;
  std::vector<uint8_t> v_plane;
  BgraToYuv420(bgra, width, height, y_plane, u_plane, v_plane);

  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  JpegEncoderStream stream;
  stream.file = file;
  stream.width = width;
  stream.height = height;
  stream.pixel_format = 1;
  stream.alloc = [](size_t size) { return std::malloc(size); };
  stream.release = [](void* ptr) { std::free(ptr); };
  JpegEncoder* encoder = nullptr;
  int32_t result = JpegEncoderCreate(&encoder, stream);
  if (result == kJpegOk) {
    const int32_t quality = 90;
    result = JpegEncoderSet(encoder, kJpegEncQuality, &quality, sizeof quality);
  }
  if (result == kJpegOk) {
    const uint8_t* const planes[3] = {y_plane.data(), u_plane.data(), v_plane.data()};
    const int32_t chroma_stride = (width + 1) / 2;
    const int32_t strides[3] = {width, chroma_stride, chroma_stride};
    result = JpegEncoderEncodeRows(encoder, planes, strides, 0, height);
  }
  if (result == kJpegOk) result = JpegEncoderFinish(encoder);
  if (encoder != nullptr) JpegEncoderDestroy(encoder);
  const bool closed = std::fclose(file) == 0;
  if (result != kJpegOk || !closed) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool WriteScreenshot(const std::string& path, const uint8_t* pixels, int width, int height) {
  if (path.empty() || width <= 0 || height <= 0) return false;
  if (HasJpegExtension(path)) return WriteJpeg(path, pixels, width, height);
  // Little-endian B, G, R, X bytes are QImage's 0xffRRGGBB words.
  const QImage image(pixels, width, height, width * 4, QImage::Format_RGB32);
  return image.save(QString::fromStdString(path));
}

}  // namespace spherolux::render
