// What the renderer tells the window it draws for, and how it feeds a screen recorder.
// Portable: the window layer and the recorder implement these interfaces.
#pragma once

#include <cstdint>
#include <functional>

namespace spherolux::render {

// Messages the renderer and the screen recorder post to their window (WM_USER + 256, + 268,
// + 269, + 275, + 276).
constexpr unsigned kMsgFrameDrawn = 0x500;        // after each matrix update: a frame was drawn
constexpr unsigned kMsgRecordSaved = 0x50C;       // the recorder output was closed
constexpr unsigned kMsgScreenshotSaved = 0x50D;   // the screenshot file was written
constexpr unsigned kMsgRecordFailed = 0x513;      // the recording cannot be saved (ScreenRecorder::failure)
constexpr unsigned kMsgScreenshotFailed = 0x514;  // the screenshot file could not be written

// Receives the renderer's messages. Post is called on the drawing thread (the engine's output
// thread for video); an implementation queues the message to its window and returns at once.
class RenderMessageSink {
 public:
  virtual ~RenderMessageSink() = default;
  virtual void Post(unsigned message) = 0;
};

// Byte order of a read-back pixel: the renderer reads in the order its driver packs fastest.
enum class PixelOrder : int { kBgra, kRgba };

// Reads the frame just drawn into `dst`: width x height pixels of 4 bytes in the order given
// with it, rows bottom row first (as GL reads a framebuffer), width * 4 bytes each.
using FrameReader = std::function<void(uint8_t* dst)>;

// A screen recorder fed by the renderer after each presented frame.
class FrameRecorder {
 public:
  virtual ~FrameRecorder() = default;
  // Whether frames are wanted now. Called on the drawing thread before every capture.
  virtual bool IsRecording() const = 0;
  // One presented frame of width x height pixels in `order`. The recorder calls `read` at most
  // once, during this call, with memory of its own for the frame, so the pixels go from the
  // framebuffer straight to where they are kept; a recorder that takes no frame now does not
  // call it. Called on the drawing thread.
  virtual void Capture(int width, int height, PixelOrder order, const FrameReader& read) = 0;
  // Closes the output; called by the renderer when it is destroyed while recording.
  virtual void Finish() = 0;
};

}  // namespace spherolux::render
