// What the renderer tells the window it draws for, and how it feeds a screen recorder.
// Portable: the window layer and the recorder implement these interfaces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace spherolux::render {

// Messages the renderer posts to its window (WM_USER + 256, + 268, + 269).
constexpr unsigned kMsgFrameDrawn = 0x500;       // after each matrix update: a frame was drawn
constexpr unsigned kMsgRecordSaved = 0x50C;      // the recorder output was closed
constexpr unsigned kMsgScreenshotSaved = 0x50D;  // the screenshot file was written

// Receives the renderer's messages. Post is called on the drawing thread (the engine's output
// thread for video); an implementation queues the message to its window and returns at once.
class RenderMessageSink {
 public:
  virtual ~RenderMessageSink() = default;
  virtual void Post(unsigned message) = 0;
};

// A screen recorder fed by the renderer after each presented frame.
class FrameRecorder {
 public:
  virtual ~FrameRecorder() = default;
  // Whether frames are wanted now. Called on the drawing thread before every capture.
  virtual bool IsRecording() const = 0;
  // One presented frame: width x height pixels of 4 bytes (blue, green, red, unused). Row y,
  // counted from the top, starts at top_row + y * stride; the stride is negative when the rows
  // lie bottom-up in memory, as GL reads them back. The pixels are valid only during the call;
  // copy what is kept.
  virtual void Capture(const uint8_t* top_row, int width, int height, ptrdiff_t stride) = 0;
  // Closes the output; called by the renderer when it is destroyed while recording.
  virtual void Finish() = 0;
};

}  // namespace spherolux::render
