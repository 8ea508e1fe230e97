// The messages between the video area, the player and the window that owns them, in one
// table (WM_USER + n numbers, as the rest of the program's windows use).
#pragma once

#include <cstdint>

namespace spherolux::media {

// From the video control to its parent.
constexpr unsigned kMsgPointerNearTop = 0x4F9;  // posted: pointer within 30 px of the top
constexpr unsigned kMsgDrag = 0x501;            // sent: lParam = address of float[2] (dx, dy)
constexpr unsigned kMsgFling = 0x502;           // sent: lParam = address of float[2] (vx, vy)
constexpr unsigned kMsgWheel = 0x503;           // posted: lParam = minus the wheel delta
constexpr unsigned kMsgFilesDropped = 0x507;    // posted: CVideoControl::TakeDroppedFiles
constexpr unsigned kMsgPressed = 0x508;         // sent: left button pressed
// The renderer's 0x500 (frame drawn), 0x50C (record saved), 0x50D (screenshot saved) are
// passed on as they come (render/render_hooks.h).

// To the window from the bars and panels: lParam 0-6 view mode, 8 flip, 9 reset.
constexpr unsigned kMsgViewCommand = 0x504;
constexpr intptr_t kViewCommandFlip = 8;
constexpr intptr_t kViewCommandReset = 9;

// Player notifications as the window posts them to itself.
constexpr unsigned kMsgEngineEvent = 0x4EE;    // wParam: notify code 1258, 1259 or 1260
constexpr unsigned kMsgPositionEvent = 0x4D2;  // lParam: position x 100

// Notify codes of CMediaPlayer's callback.
constexpr int kNotifyEnded = 1258;  // end of media (or a stop)
constexpr int kNotifyPaused = 1259;
constexpr int kNotifyPlaying = 1260;    // lParam: media length in ms (32 bits)
constexpr int kNotifyPosition = 1261;   // wParam: position x 100
constexpr int kNotifySnapshot = 1262;   // wParam: 1 written, 0 failed
constexpr int kNotifyRecording = 1263;  // wParam: conversion engine result (0 written)
// lParam of the window's own "close the current playback" (0x4EE, 1258, lParam).
constexpr intptr_t kCloseFromEnd = 1276;
constexpr intptr_t kCloseFromUser = 1275;

// Receives the video control's messages; the window that owns the control implements it.
// Both are called on the window thread: Send runs the handler before it returns (lParam may
// point into the sender's memory), Post queues it.
class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  virtual intptr_t Send(unsigned message, uintptr_t wparam, intptr_t lparam) = 0;
  virtual void Post(unsigned message, uintptr_t wparam, intptr_t lparam) = 0;
};

}  // namespace spherolux::media
