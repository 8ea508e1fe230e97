#include "ui/bar_logic.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "probe/probe.h"

namespace spherolux::ui {

int SliderPositionAt(int click, int channel_left, int channel_width, int min, int max) {
  if (channel_width <= 0 || max < min) return min;
  const double f = static_cast<double>(click - channel_left) / channel_width;
  const double position = min + f * (static_cast<double>(max) - min + 1) + 0.5 - f;
  // trunc() of the Part's formula, then the trackbar's own clamping to its range.
  const double truncated = position < 0 ? -static_cast<double>(static_cast<int64_t>(-position))
                                        : static_cast<double>(static_cast<int64_t>(position));
  return static_cast<int>(std::clamp(truncated, static_cast<double>(min), static_cast<double>(max)));
}

std::string FormatTime(int64_t ms) {
  const int64_t seconds = std::max<int64_t>(ms, 0) / 1000;
  char text[48];
  std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64, seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return text;
}

bool IsPhotoPath(const std::string& path) { return MediaKindOfPath(path) == MediaKind::kPhoto; }

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

unsigned PanelButtonsFor(int camera_type, int width, int height, bool is_photo) {
  const unsigned common = kPanelSnapshot | kPanelDirection | kPanelReset | (is_photo ? 0u : kPanelRecord);
  if (camera_type == 1) return common | kPanelHalfBall | kPanelInDome | kPanelLayer;
  const bool two_to_one = height > 0 && static_cast<int64_t>(width) == 2 * static_cast<int64_t>(height);
  if (camera_type == 2 || two_to_one) return common | kPanelSphere | kPanelTile | kPanelPlanet;
  return 0;
}

RecordButtonRule::Action RecordButtonRule::Press(int64_t now_ms) {
  if (disabled_) return Action::kNone;
  if (!recording_) {
    recording_ = true;
    started_ms_ = now_ms;
    return Action::kStart;
  }
  if (now_ms - started_ms_ < kMinimumMs) return Action::kNone;
  recording_ = false;
  return Action::kStop;
}

void RecordButtonRule::SetRecording(bool on, int64_t now_ms) {
  if (disabled_ || on == recording_) return;
  recording_ = on;
  if (on) started_ms_ = now_ms;
}

}  // namespace spherolux::ui
