// What the skinned bars decide, apart from drawing: the slider's click-to-position rule, the
// time text, which view-mode buttons suit a file, the record button's rules and the caption
// bar's button grid. Plain functions and one small class; no Qt. UI thread.
#pragma once

#include <cstdint>
#include <string>

namespace spherolux::ui {

// Slider click-to-position: f = (click - channel_left) / channel_width (y instead of x for a
// vertical slider) gives trunc(min + f * (max - min + 1) + 0.5 - f), kept within [min, max].
// A channel without width gives min.
int SliderPositionAt(int click, int channel_left, int channel_width, int min, int max);

// Milliseconds as "hh:mm:ss", each field at least two digits; hours are not wrapped
// (360 000 000 ms is "100:00:00"). Negative times read "00:00:00".
std::string FormatTime(int64_t ms);

// A photo by its name (".jpg" or ".bmp", any case; probe/probe.h).
bool IsPhotoPath(const std::string& path);
// The name after the last "/" (a backslash is an ordinary character in a name here).
std::string FileNameOf(const std::string& path);

// Buttons of the floating view-mode panel, as bits.
enum PanelButton : unsigned {
  kPanelSphere = 1u << 0,
  kPanelTile = 1u << 1,
  kPanelPlanet = 1u << 2,
  kPanelHalfBall = 1u << 3,
  kPanelInDome = 1u << 4,
  kPanelLayer = 1u << 5,
  kPanelDirection = 1u << 6,
  kPanelReset = 1u << 7,
  kPanelSnapshot = 1u << 8,
  kPanelRecord = 1u << 9,
};
// The panel buttons that suit a file: a single-lens camera file (type 1) gets the dome views
// (half ball, in-dome, layer); a dual-lens camera file (type 2) or any 2:1 file gets sphere,
// tile and planet; both get snapshot, direction and reset, and record for a video. Any other
// file gets none.
unsigned PanelButtonsFor(int camera_type, int width, int height, bool is_photo);

// The record button: a press starts recording, a press while recording stops it only when at
// least 3000 ms have passed since the start. While disabled, presses and state changes do
// nothing.
class RecordButtonRule {
 public:
  enum class Action { kNone, kStart, kStop };
  static constexpr int64_t kMinimumMs = 3000;

  // The press at `now_ms` (a monotonic clock); what the panel posts.
  Action Press(int64_t now_ms);
  // The window reports the recorder's state: it may start (at `now_ms`) or stop through
  // other ways than this button.
  void SetRecording(bool on, int64_t now_ms);
  void SetDisabled(bool disabled) { disabled_ = disabled; }
  bool recording() const { return recording_; }
  bool disabled() const { return disabled_; }

 private:
  bool recording_ = false;
  bool disabled_ = false;
  int64_t started_ms_ = 0;
};

// The picture's rotation after a quarter turn left (-90) or right (+90): 0, 90, 180 or 270.
constexpr int RotatedQuarter(int rotation, bool left) { return (rotation + (left ? 270 : 90)) % 360; }

// Caption bar: 30 x 30 buttons from the right edge leftwards: close at width - 40, maximise
// at width - 70, minimise at width - 100, then slot k (0-based) at width - 130 - 30 k.
constexpr int kCaptionButtonSize = 30;
constexpr int CaptionSlotX(int bar_width, int slot) { return bar_width - 40 - kCaptionButtonSize * slot; }

}  // namespace spherolux::ui
