#include "frame_pipeline.h"

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

// A hash of the picture's bytes, in four lanes of 64-bit words (a few milliseconds for a
// 3840 x 1920 picture); asked only while the player is paused.
uint64_t HashPicture(const uint8_t* bytes, size_t size) {
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

}  // namespace

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
}

}  // namespace spherolux::media
