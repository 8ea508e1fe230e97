// The five frame callbacks of a panoramic video: libvlc decodes each picture into one buffer
// of ours, and the renderer draws it on the engine's video output thread.
//
// Pictures of a YUV video are asked for as planar 4:2:0 ("I420", or "J420" for full-range
// sources), uploaded as three single-byte planes and turned into RGB by the renderer's
// shader: a third of the bytes of 32-bit RGB, and no conversion on the processor. Videos
// decoded to RGB keep 32-bit BGRX ("RV32").
//
// All five callbacks run on the output thread. The format callback initialises the renderer
// there (taking over the one GL context the renderer keeps) and the cleanup callback tears
// it down there, so consecutive outputs — a second video, a stop and play, a seek that
// restarts the output — hand the same context from thread to thread. Nothing in here waits
// for the window thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "render/yuv.h"

namespace spherolux::render {
class COpenglRender;
}

namespace spherolux::media {

// A picture the output showed, copied for a snapshot: planar 4:2:0 (Y, then U, then V, each
// plane's rows back to back) with the colour it was coded in, or rows of 32-bit BGRX.
struct ShownPicture {
  int width = 0;
  int height = 0;
  bool yuv = false;
  render::YuvColour colour;
  std::vector<uint8_t> bytes;
  // As a YUV picture over `bytes` (yuv only).
  render::YuvPicture Planes() const;
};
// Receives the copy of the next picture shown, or null when the output ended before it
// showed one. Called on the output thread: it must not wait.
using ShownPictureSink = std::function<void(std::shared_ptr<const ShownPicture>)>;

// The callbacks' opaque value: what a new output needs to know. Owned by the player; it
// outlives every output of the media player it was registered with.
struct FrameTarget {
  render::COpenglRender* renderer = nullptr;
  // The picture's visible size (0: unknown). The engine may propose pictures with more rows
  // or columns (whole macroblocks, 1090 lines for 1080) and would then stretch the visible
  // picture over them; asking for the visible size gets the picture as it was recorded.
  std::atomic<int> visible_width{0};
  std::atomic<int> visible_height{0};
  // Counters for the player's statistics (output thread writes).
  std::atomic<uint64_t> frames_drawn{0};
  std::atomic<int> live_outputs{0};
  std::atomic<uint64_t> outputs_started{0};
  // The picture size and chroma the engine proposed in the last format call, and the chroma
  // the pipeline asked for instead (four characters in an int, as in memory).
  std::atomic<int> picture_width{0};
  std::atomic<int> picture_height{0};
  std::atomic<uint32_t> proposed_chroma{0};
  std::atomic<uint32_t> chosen_chroma{0};
  // The colour of the video as its file states it (written by the player before playback):
  // a render::YuvMatrix, or -1 when unstated (then chosen by the picture size, as for
  // untagged video: BT.709 from 1280 wide or 577 lines up, BT.601 below); full range 1, studio
  // range 0, -1 unstated (studio range unless the engine proposes a full-range chroma).
  std::atomic<int> colour_matrix{-1};
  std::atomic<int> colour_full_range{-1};
  // The player is paused (window thread writes). The engine then shows the paused picture
  // again every few tens of milliseconds; the pipeline tells the renderer which pictures
  // repeat the last one, so that they are not converted and drawn again for nothing.
  std::atomic<bool> paused{false};

  // Asks for a copy of the next picture the output shows (the paused picture is shown again
  // every few tens of milliseconds, so a paused video answers too). Any thread.
  void RequestShownPicture(ShownPictureSink sink);
  // Answers every open request with null (the output ended, or nothing will be shown).
  void DropShownPictureRequests();

  // The output thread's side: whether a copy is wanted, and handing it over.
  std::atomic<bool> shown_picture_wanted{false};
  void DeliverShownPicture(const std::shared_ptr<const ShownPicture>& picture);

 private:
  std::mutex shown_mutex_;
  std::vector<ShownPictureSink> shown_sinks_;  // guarded by shown_mutex_
};

// The chroma the pipeline asks for when the engine proposes `proposed`: "RV32" for RGB,
// "J420" for full-range YUV, else "I420" — for hardware surfaces too, which the engine then
// copies back into planar YUV in memory, so that every decoder's pictures take one path.
const char* ChosenChroma(const char proposed[4]);

// The libvlc callbacks (libvlc_video_format_cb and friends).
unsigned FrameFormat(void** opaque, char* chroma, unsigned* width, unsigned* height, unsigned* pitches,
                     unsigned* lines);
void FrameCleanup(void* opaque);
void* FrameLock(void* opaque, void** planes);
void FrameUnlock(void* opaque, void* picture, void* const* planes);
void FrameDisplay(void* opaque, void* picture);

}  // namespace spherolux::media
