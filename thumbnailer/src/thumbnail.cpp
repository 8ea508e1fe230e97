#include "thumbnail.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/system.h"
#include "photo/stitch_photo.h"
#include "probe/probe.h"

namespace spherolux::thumbnailer {

namespace {

// Whether the file starts as a JPEG does (SOI and a marker).
bool StartsAsJpeg(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  uint8_t head[3] = {};
  const bool jpeg =
      ::read(fd, head, sizeof head) == sizeof head && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
  ::close(fd);
  return jpeg;
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
  PutU32(out, static_cast<uint32_t>(data.size()));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutU32(out, static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

uint8_t Clamp(float v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

ThumbnailResult MakeVideoThumbnail(const std::string& path, int size, Thumbnail* out) {
  // Loaded for the rest of the process: a thumbnailer makes one thumbnail and ends.
  void* module = dlopen((ProgramDir() + "/" + kVideoModule).c_str(), RTLD_NOW | RTLD_LOCAL);
  const auto entry = module != nullptr ? reinterpret_cast<VideoEntry>(dlsym(module, kVideoEntry)) : nullptr;
  if (entry != nullptr) return entry(path, size, out);
  std::fprintf(stderr, "spherolux-thumbnailer: %s\n", dlerror());
  return ThumbnailResult::kNoVideoModule;
}

ThumbnailResult MakeThumbnail(const std::string& path, int size, Thumbnail* out) {
  if (!StartsAsJpeg(path)) return MakeVideoThumbnail(path, size, out);
  PanoramaImage pano;
  int rc = StitchPhotoPreview(path.c_str(), size, false, &pano);
  if (rc == kPhotoNoCalibration && StitchedTest(path.c_str(), MediaKind::kPhoto) == 1)
    rc = StitchPhotoPreview(path.c_str(), size, true, &pano);
  if (rc == kPhotoNoCalibration) return ThumbnailResult::kNotPanorama;
  if (rc != kPhotoOk) return ThumbnailResult::kUnreadable;
  out->i420 = std::move(pano.bytes);
  out->width = pano.width;
  out->height = pano.height;
  out->full_range = true;
  return ThumbnailResult::kOk;
}

std::vector<uint8_t> EncodePng(const Thumbnail& t) {
  const int w = t.width, h = t.height;
  const size_t len = static_cast<size_t>(w) * h;
  const uint8_t* y_plane = t.i420.data();
  const uint8_t* u_plane = y_plane + len;
  const uint8_t* v_plane = u_plane + len / 4;
  // Limited range stretches luma 16..235 and chroma 16..240 to the full scale first.
  const float y_scale = t.full_range ? 1.0f : 255.0f / 219.0f, y_offset = t.full_range ? 0.0f : 16.0f;
  const float c_scale = t.full_range ? 1.0f : 255.0f / 224.0f;
  std::vector<uint8_t> rows(static_cast<size_t>(h) * (1 + 3 * static_cast<size_t>(w)));
  uint8_t* p = rows.data();
  for (int y = 0; y < h; ++y) {
    *p++ = 0;  // no filter
    for (int x = 0; x < w; ++x) {
      const size_t c = static_cast<size_t>(y / 2) * (w / 2) + x / 2;
      const float luma = (y_plane[static_cast<size_t>(y) * w + x] - y_offset) * y_scale;
      const float cb = (u_plane[c] - 128.0f) * c_scale, cr = (v_plane[c] - 128.0f) * c_scale;
      *p++ = Clamp(luma + 1.402f * cr);
      *p++ = Clamp(luma - 0.344136f * cb - 0.714136f * cr);
      *p++ = Clamp(luma + 1.772f * cb);
    }
  }
  uLongf packed_size = compressBound(static_cast<uLong>(rows.size()));
  std::vector<uint8_t> packed(packed_size);
  if (compress2(packed.data(), &packed_size, rows.data(), static_cast<uLong>(rows.size()), 6) != Z_OK) return {};
  packed.resize(packed_size);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutU32(header, static_cast<uint32_t>(w));
  PutU32(header, static_cast<uint32_t>(h));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter choice, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", packed);
  PutChunk(png, "IEND", {});
  return png;
}

}  // namespace spherolux::thumbnailer
