// The program's private window messages (kWmUser + n) in one table: who sends each one and
// what its parameters carry. The player window handles nearly all of them; the bars, the video
// control, the player's engine events and the renderer send them.
#pragma once

#include <string>
#include <vector>

#include "platform/message_window.h"

namespace spherolux::platform {

enum Message : unsigned {
  kMsgScreenshot = kWmUser + 110,         // floating panel SnapShot: screenshot of the view
  kMsgRangeSlider = kWmUser + 150,        // range slider: wparam its control id, lparam 0 low, 1 high, 2 click
  kMsgRecordStart = kWmUser + 111,        // floating panel Record: start screen recording
  kMsgRecordStop = kWmUser + 112,         // Record again, the stop button, exit, end of media
  kMsgDrawIdleImage = kWmUser + 200,      // draw the idle picture between the bars
  kMsgPaintCaption = kWmUser + 202,       // repaint the caption background
  kMsgClosePlayback = kWmUser + 203,      // close the current playback and forget the path
  kMsgNotHandled = kWmUser + 204,         // sent by command 1009; nobody handles it
  kMsgPlayPause = kWmUser + 205,          // bottom bar play, drops: play / pause / open
  kMsgThemeChange = kWmUser + 206,        // lparam: skin theme number
  kMsgRepaintAll = kWmUser + 208,         // repaint the window and its bars
  kMsgPosition = kWmUser + 210,           // player: lparam = position in percent x 100
  kMsgVolume = kWmUser + 211,             // volume slider: wparam 1021, lparam = volume 0-100
  kMsgSeek = kWmUser + 212,               // seek slider: wparam 1020, lparam = percent
  kMsgClose = kWmUser + 217,              // caption close: command 1004 (exit)
  kMsgMaximiseCommand = kWmUser + 218,    // command 1003
  kMsgMinimise = kWmUser + 219,           // caption min
  kMsgPalette = kWmUser + 220,            // caption palette: drop the transient popup
  kMsgMenu = kWmUser + 221,               // caption menu: show the language dialog
  kMsgFlipper = kWmUser + 222,            // bottom bar flipper: nothing
  kMsgFullScreenCommand = kWmUser + 223,  // command 1014
  kMsgOpenFile = kWmUser + 224,           // bottom bar open: command 1022 (open-file dialog)
  kMsgCommand1009 = kWmUser + 226,        // command 1009
  kMsgLoop = kWmUser + 227,               // bottom bar loop: not handled
  kMsgRewind = kWmUser + 230,             // bottom bar rewind: not handled
  kMsgNextFrame = kWmUser + 231,          // bottom bar forward: command 1010 (next frame)
  kMsgMute = kWmUser + 232,               // bottom bar volume button: wparam 1 muted, 0 unmuted
  kMsgMaximiseRestore = kWmUser + 233,    // caption max button and double click
  kMsgEngineEvent = kWmUser + 238,        // wparam: notify code (kNotify*); lparam: see there
  kMsgCaptionHover = kWmUser + 240,       // pointer over the caption bar
  kMsgCaptionLeave = kWmUser + 241,       // pointer left the caption bar
  kMsgShowBottomBar = kWmUser + 242,      // show the bottom bar
  kMsgBottomHover = kWmUser + 243,        // pointer over the bottom bar
  kMsgTogglePanel = kWmUser + 245,        // caption panel button: command 1000
  kMsgRotateLeft = kWmUser + 246,         // rotation - 90 degrees
  kMsgRotateRight = kWmUser + 247,        // rotation + 90 degrees
  kMsgConverter = kWmUser + 248,          // open the converter
  kMsgPanelHover = kWmUser + 249,         // video control (y < 30) or panel: show the panel
  kMsgPanelLeave = kWmUser + 250,         // pointer left the panel: hide it in 3 s
  kMsgEngineSnapshot = kWmUser + 254,     // snapshot through the media engine
  kMsgStreamRecord = kWmUser + 255,       // stream recording through the media engine
  kMsgFrameDrawn = kWmUser + 256,         // renderer, via the video control: refresh the player
  kMsgDrag = kWmUser + 257,               // video control, sent: lparam = const float[2] (dx, dy)
  kMsgFling = kWmUser + 258,              // video control, sent: lparam = const float[2] (vx, vy)
  kMsgZoom = kWmUser + 259,               // video control: lparam = minus the wheel delta
  kMsgViewCommand = kWmUser + 260,        // lparam: 0-6 view mode, 8 direction, 9 reset
  kMsgPhotoJob = kWmUser + 261,           // converter: hand the photo job to the conversion service
  kMsgVideoJob = kWmUser + 262,           // converter: hand the video job to the conversion service
  kMsgDropFiles = kWmUser + 263,          // video control, sent: lparam = const DroppedFiles*
  kMsgVideoPress = kWmUser + 264,         // video control, left press: hide the panel
  kMsgCancelForClose = kWmUser + 265,     // converter: stop the video job before closing
  kMsgEndDialog = kWmUser + 266,          // converter: end the dialog as by OK
  kMsgRangeChanged = kWmUser + 267,       // trim preview to converter: refresh the output name
  kMsgRecordSaved = kWmUser + 268,        // renderer: the screen recording was closed
  kMsgScreenshotSaved = kWmUser + 269,    // renderer: the screenshot file was written
  kMsgOpenMerger = kWmUser + 270,         // converter: open the merger
  kMsgMergerClose = kWmUser + 271,        // merger: end the dialog
  kMsgMergerRun = kWmUser + 272,          // merger: run the merge
  kMsgJobProgress = kWmUser + 273,        // converter's worker: new figures; wparam job id
  kMsgJobEnded = kWmUser + 274,           // converter's worker: wparam job id * 2 + cancelled, lparam result
  kMsgRecordFailed = kWmUser + 275,       // screen recorder: the recording cannot be saved
  kMsgScreenshotFailed = kWmUser + 276,   // renderer: the screenshot file could not be written
  kMsgMediaEvent = kWmUser + 277,         // player's engine: see MediaEvent below
};

// wparam of kMsgEngineEvent: the player's notify codes.
enum NotifyCode : unsigned {
  kNotifyEnd = 1258,       // end reached or stop requested; lparam 1275/1276 (ignored)
  kNotifyPaused = 1259,    // lparam 0
  kNotifyPlaying = 1260,   // lparam: length in ms
  kNotifyPosition = 1261,  // reaches the window as kMsgPosition instead
};
// kMsgMediaEvent: an engine event (kNotifyEnd, kNotifyPaused, kNotifyPlaying, kNotifyPosition
// with kMsgEngineEvent's lparam, the position as wparam) of the video the window opened as
// number `opened`. wparam carries both; an event of an earlier open is stale and dropped.
constexpr WParam MediaEventParam(unsigned code, uint32_t opened) { return (WParam{opened} << 32) | code; }
constexpr unsigned MediaEventCode(WParam w) { return static_cast<unsigned>(w & 0xFFFFFFFFu); }
constexpr uint32_t MediaEventOpen(WParam w) { return static_cast<uint32_t>(w >> 32); }
static_assert(sizeof(WParam) >= 8, "kMsgMediaEvent packs two 32-bit numbers into wparam");
constexpr LParam kStopByWindow = 1275;  // lparam of kNotifyEnd when a window closes playback
constexpr LParam kStopByEngine = 1276;  // lparam of kNotifyEnd from the engine's end event

// View commands (lparam of kMsgViewCommand) beyond the modes 0-6.
constexpr LParam kViewDirection = 8;
constexpr LParam kViewReset = 9;

// Files dropped on the video control. Sent (not posted): valid during the call only. Paths are
// UTF-8, in the order the drop listed them.
struct DroppedFiles {
  std::vector<std::string> paths;
};

}  // namespace spherolux::platform
