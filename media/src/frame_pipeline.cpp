#include "frame_pipeline.h"

#include <nmmintrin.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "base/log.h"
#include "render/opengl_render.h"

namespace spherolux::media {
namespace {

// Larger pictures than this are refused rather than allocated.
constexpr unsigned kMaxSide = 16384;
// Pitches and lines of the planes are rounded up to this, as libvlc recommends for its
// optimised decoders and converters.
constexpr unsigned kPlaneAlignment = 32;

// One output's picture buffer, between a format call and its cleanup.
struct FrameContext {
  FrameTarget* target = nullptr;
  unsigned width = 0;  // the pictures' size
  unsigned height = 0;
  bool yuv = false;  // three planes of 4:2:0, else one plane of BGRX
  render::YuvColour colour;
  unsigned pitches[3] = {};
  size_t offsets[3] = {};
  std::unique_ptr<uint8_t[]> pixels;
  size_t size = 0;
  uint64_t shown_hash = 0;  // of the picture last handed to the renderer while paused
  bool shown_hash_valid = false;
};

// A hash of the picture's bytes, asked only while the player is paused, when the engine shows
// the same picture again every 80 ms or so: four lanes of 64-bit words, multiplied (2.3 ms for
// a 3840 x 1920 picture here), or with SSE 4.2 four interleaved CRC-32C streams (0.8 ms).
uint64_t HashPictureMultiply(const uint8_t* bytes, size_t size) {
  constexpr uint64_t kPrime = 0x9E3779B97F4A7C15ull;
  uint64_t lanes[4] = {1, 2, 3, 4};
  size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    for (int k = 0; k < 4; ++k) {
      uint64_t word;
      std::memcpy(&word, bytes + i + 8 * k, 8);
      lanes[k] = (lanes[k] ^ word) * kPrime;
      lanes[k] ^= lanes[k] >> 29;
    }
  }
  uint64_t hash = size;
  for (; i < size; ++i) hash = (hash ^ bytes[i]) * kPrime;
  for (uint64_t lane : lanes) hash = (hash ^ lane) * kPrime;
  return hash ^ (hash >> 31);
}

__attribute__((target("sse4.2"))) uint64_t HashPictureCrc(const uint8_t* bytes, size_t size) {
  uint64_t lanes[4] = {1, 2, 3, 4};
  size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    for (int k = 0; k < 4; ++k) {
      uint64_t word;
      std::memcpy(&word, bytes + i + 8 * k, 8);
      lanes[k] = _mm_crc32_u64(lanes[k], word);
    }
  }
  for (; i < size; ++i) lanes[0] = _mm_crc32_u8(static_cast<uint32_t>(lanes[0]), bytes[i]);
  return (lanes[0] << 32 | lanes[1]) ^ (lanes[2] << 16) ^ (lanes[3] << 48) ^ size;
}

uint64_t HashPicture(const uint8_t* bytes, size_t size) {
  static const bool crc = __builtin_cpu_supports("sse4.2");
  return crc ? HashPictureCrc(bytes, size) : HashPictureMultiply(bytes, size);
}

uint32_t FourCc(const char* chroma) {
  uint32_t code = 0;
  std::memcpy(&code, chroma, 4);
  return code;
}

bool IsRgbChroma(const char chroma[4]) {
  static constexpr const char* kRgb[] = {"RV32", "RV24", "RV16", "RV15", "RGBA", "ARGB", "BGRA", "RGBP", "RGB8"};
  for (const char* c : kRgb) {
    if (std::memcmp(chroma, c, 4) == 0) return true;
  }
  return false;
}

// The engine's full-range YUV chromas ("J420", "J422", "J440", "J444").
bool IsFullRangeChroma(const char chroma[4]) { return chroma[0] == 'J' && chroma[1] == '4'; }

unsigned AlignUp(unsigned value) { return (value + kPlaneAlignment - 1) / kPlaneAlignment * kPlaneAlignment; }

// The colour of the target's video at this picture size.
render::YuvColour ColourOf(const FrameTarget& target, unsigned width, unsigned height, bool full_range_chroma) {
  render::YuvColour colour;
  const int matrix = target.colour_matrix.load();
  if (matrix >= 0) {
    colour.matrix = static_cast<render::YuvMatrix>(matrix);
  } else {
    colour.matrix = width >= 1280 || height > 576 ? render::YuvMatrix::kBt709 : render::YuvMatrix::kBt601;
  }
  colour.full_range = full_range_chroma || target.colour_full_range.load() == 1;
  return colour;
}

// A copy of the picture in `context`'s buffer, its planes without the pitches' padding.
std::shared_ptr<const ShownPicture> CopyShown(const FrameContext& context) {
  auto copy = std::make_shared<ShownPicture>();
  copy->width = static_cast<int>(context.width);
  copy->height = static_cast<int>(context.height);
  copy->yuv = context.yuv;
  copy->colour = context.colour;
  const int planes = context.yuv ? 3 : 1;
  size_t total = 0;
  size_t row_bytes[3] = {}, rows[3] = {};
  for (int i = 0; i < planes; ++i) {
    row_bytes[i] = !context.yuv ? size_t{context.width} * 4 : i == 0 ? context.width : (context.width + 1) / 2;
    rows[i] = i == 0 ? context.height : (context.height + 1) / 2;
    total += row_bytes[i] * rows[i];
  }
  try {
    copy->bytes.resize(total);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  uint8_t* out = copy->bytes.data();
  for (int i = 0; i < planes; ++i) {
    const uint8_t* in = context.pixels.get() + context.offsets[i];
    for (size_t y = 0; y < rows[i]; ++y, out += row_bytes[i])
      std::memcpy(out, in + y * context.pitches[i], row_bytes[i]);
  }
  return copy;
}

}  // namespace

render::YuvPicture ShownPicture::Planes() const {
  render::YuvPicture picture;
  const int chroma_width = (width + 1) / 2;
  const size_t luma = size_t(width) * height, chroma = size_t(chroma_width) * ((height + 1) / 2);
  picture.planes[0] = bytes.data();
  picture.planes[1] = bytes.data() + luma;
  picture.planes[2] = bytes.data() + luma + chroma;
  picture.pitches[0] = width;
  picture.pitches[1] = picture.pitches[2] = chroma_width;
  picture.width = width;
  picture.height = height;
  picture.colour = colour;
  return picture;
}

void FrameTarget::RequestShownPicture(ShownPictureSink sink) {
  std::lock_guard<std::mutex> lock(shown_mutex_);
  shown_sinks_.push_back(std::move(sink));
  shown_picture_wanted.store(true);
}

void FrameTarget::DeliverShownPicture(const std::shared_ptr<const ShownPicture>& picture) {
  std::vector<ShownPictureSink> sinks;
  {
    std::lock_guard<std::mutex> lock(shown_mutex_);
    sinks.swap(shown_sinks_);
    shown_picture_wanted.store(false);
  }
  for (ShownPictureSink& sink : sinks) sink(picture);
}

void FrameTarget::DropShownPictureRequests() { DeliverShownPicture(nullptr); }

const char* ChosenChroma(const char proposed[4]) {
  if (IsRgbChroma(proposed)) return "RV32";
  return IsFullRangeChroma(proposed) ? "J420" : "I420";
}

unsigned FrameFormat(void** opaque, char* chroma, unsigned* width, unsigned* height, unsigned* pitches,
                     unsigned* lines) {
  auto* target = static_cast<FrameTarget*>(*opaque);
  Tracef("in vout_format\n");
  Tracef("glRender instance:%p\n", static_cast<void*>(target->renderer));
  target->picture_width.store(static_cast<int>(*width));
  target->picture_height.store(static_cast<int>(*height));
  target->proposed_chroma.store(FourCc(chroma));
  const int visible_width = target->visible_width.load();
  const int visible_height = target->visible_height.load();
  if (visible_width > 0 && visible_height > 0) {
    *width = static_cast<unsigned>(visible_width);
    *height = static_cast<unsigned>(visible_height);
  }
  if (*width == 0 || *height == 0 || *width > kMaxSide || *height > kMaxSide) return 0;
  auto context = std::unique_ptr<FrameContext>(new (std::nothrow) FrameContext);
  if (context == nullptr) return 0;
  context->target = target;
  context->width = *width;
  context->height = *height;
  const char* chosen = ChosenChroma(chroma);
  context->yuv = std::memcmp(chosen, "RV32", 4) != 0;
  size_t size = 0;
  if (context->yuv) {
    context->colour = ColourOf(*target, *width, *height, IsFullRangeChroma(chosen));
    for (int i = 0; i < 3; ++i) {
      const unsigned plane_width = i == 0 ? *width : (*width + 1) / 2;
      const unsigned plane_height = i == 0 ? *height : (*height + 1) / 2;
      pitches[i] = context->pitches[i] = AlignUp(plane_width);
      lines[i] = AlignUp(plane_height);
      context->offsets[i] = size;
      size += static_cast<size_t>(pitches[i]) * lines[i];
    }
  } else {
    pitches[0] = context->pitches[0] = *width * 4;
    lines[0] = *height;
    size = static_cast<size_t>(pitches[0]) * lines[0];
  }
  context->pixels.reset(new (std::nothrow) uint8_t[size]);
  if (context->pixels == nullptr) return 0;
  context->size = size;

  // A failed initialisation leaves the window black while the engine goes on decoding;
  // every draw then does nothing.
  target->renderer->SetFrameSource(context->yuv ? render::COpenglRender::kSourceDecoderYuv
                                                : render::COpenglRender::kSourceDecoder);
  target->renderer->Initialise();
  std::memcpy(chroma, chosen, 4);
  target->chosen_chroma.store(FourCc(chosen));
  target->live_outputs.fetch_add(1);
  target->outputs_started.fetch_add(1);
  *opaque = context.release();
  return 1;
}

void FrameCleanup(void* opaque) {
  Tracef("in vout_cleanup\n");
  auto* context = static_cast<FrameContext*>(opaque);
  if (context == nullptr) return;
  // A snapshot asked for now would wait for a picture this output will not show.
  context->target->DropShownPictureRequests();
  context->target->renderer->TearDown();
  context->target->live_outputs.fetch_sub(1);
  delete context;
}

void* FrameLock(void* opaque, void** planes) {
  auto* context = static_cast<FrameContext*>(opaque);
  for (int i = 0; i < (context->yuv ? 3 : 1); ++i) planes[i] = context->pixels.get() + context->offsets[i];
  return nullptr;
}

void FrameUnlock(void*, void*, void* const*) {}

void FrameDisplay(void* opaque, void*) {
  auto* context = static_cast<FrameContext*>(opaque);
  render::COpenglRender* renderer = context->target->renderer;
  bool repeated = false;
  if (context->target->paused.load()) {
    const uint64_t hash = HashPicture(context->pixels.get(), context->size);
    repeated = context->shown_hash_valid && hash == context->shown_hash;
    context->shown_hash = hash;
    context->shown_hash_valid = true;
  } else {
    context->shown_hash_valid = false;
  }
  if (context->yuv) {
    render::YuvPicture picture;
    for (int i = 0; i < 3; ++i) {
      picture.planes[i] = context->pixels.get() + context->offsets[i];
      picture.pitches[i] = static_cast<int>(context->pitches[i]);
    }
    picture.width = static_cast<int>(context->width);
    picture.height = static_cast<int>(context->height);
    picture.colour = context->colour;
    renderer->DrawYuv(picture, repeated);
  } else {
    renderer->SetTextureSize(static_cast<int>(context->width), static_cast<int>(context->height));
    renderer->Draw(context->pixels.get(), repeated);
  }
  context->target->frames_drawn.fetch_add(1);
  if (context->target->shown_picture_wanted.load()) context->target->DeliverShownPicture(CopyShown(*context));
}

}  // namespace spherolux::media
