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

// One output's picture buffer, between a format call and its cleanup.
struct FrameContext {
  FrameTarget* target = nullptr;
  unsigned width = 0;  // the pictures' size
  unsigned height = 0;
  size_t size = 0;
  std::unique_ptr<uint8_t[]> pixels;
};

}  // namespace

bool IsHardwareChroma(const char chroma[4]) {
  static constexpr const char* kHardware[] = {"VAOP", "VAO0", "VDV0", "VDV2", "VDV4", "VDOR",
                                              "DXA9", "DX11", "DXAa", "DX1a", "CVPX", "MMAL"};
  for (const char* h : kHardware) {
    if (std::memcmp(chroma, h, 4) == 0) return true;
  }
  return false;
}

unsigned FrameFormat(void** opaque, char* chroma, unsigned* width, unsigned* height, unsigned* pitches,
                     unsigned* lines) {
  auto* target = static_cast<FrameTarget*>(*opaque);
  Logf("in vout_format\n");
  Logf("glRender instance:%p\n", static_cast<void*>(target->renderer));
  if (IsHardwareChroma(chroma)) return 0;
  target->picture_width.store(static_cast<int>(*width));
  target->picture_height.store(static_cast<int>(*height));
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
  context->size = static_cast<size_t>(*width) * *height * 4;
  context->pixels.reset(new (std::nothrow) uint8_t[context->size]);
  if (context->pixels == nullptr) return 0;

  // A failed initialisation leaves the window black while the engine goes on decoding;
  // every draw then does nothing.
  target->renderer->Initialise();
  std::memcpy(chroma, "RV32", 4);
  pitches[0] = *width * 4;
  lines[0] = *height;
  target->live_outputs.fetch_add(1);
  target->outputs_started.fetch_add(1);
  *opaque = context.release();
  return 1;
}

void FrameCleanup(void* opaque) {
  Logf("in vout_cleanup\n");
  auto* context = static_cast<FrameContext*>(opaque);
  if (context == nullptr) return;
  context->target->renderer->TearDown();
  context->target->live_outputs.fetch_sub(1);
  delete context;
}

void* FrameLock(void* opaque, void** planes) {
  planes[0] = static_cast<FrameContext*>(opaque)->pixels.get();
  return nullptr;
}

void FrameUnlock(void*, void*, void* const*) {}

void FrameDisplay(void* opaque, void*) {
  auto* context = static_cast<FrameContext*>(opaque);
  context->target->renderer->SetTextureSize(static_cast<int>(context->width), static_cast<int>(context->height));
  context->target->renderer->Draw(context->pixels.get());
  context->target->frames_drawn.fetch_add(1);
}

}  // namespace spherolux::media
