// What the trim preview (CTranscodePreviewDlg) decides, without its window or its player:
// the selected range in whole percent of the media length, the first-play pause that shows
// the first frame once the length is known, the rewind to the start of the selection when
// playback reaches its end, and the time labels.
//
// Each event returns the steps the window takes next, in order: toggling play/pause,
// seeking, stopping, telling the converter that the range changed. The window turns them
// into its posted messages, so the player is only touched from the message loop.
//
// Plain class, UI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace spherolux::dialogs {

struct PreviewStep {
  enum Kind {
    kStop,          // stop the player (and forget the first frame)
    kTogglePlay,    // play when paused, pause when playing, open when idle or stopped
    kSeek,          // seek to `value` percent
    kRangeChanged,  // the converter refreshes its proposed output name
  };
  Kind kind;
  int value = 0;
  bool operator==(const PreviewStep&) const = default;
};
using PreviewSteps = std::vector<PreviewStep>;

class TrimPreviewModel {
 public:
  // The media length until the player reports one.
  static constexpr int64_t kUnknownLengthMs = 268435455;

  // A new file: the range becomes `low`-`high` % (0-100 unless a queued job had its own),
  // the position 0, the labels 00:00:00 (they show the range's times once the length is
  // known). A file loaded before is stopped first; then playback starts.
  PreviewSteps Load(const std::string& path, bool photo, int low = 0, int high = 100);

  // The player reports playing, with the media's length (0 when unknown). The first time
  // after a load or an end of media this takes the length, keeps the slider's high end
  // as range high, and pauses at once so that the first frame of the selection stays
  // visible.
  PreviewSteps OnPlaying(int64_t length_ms, int slider_high);
  // A playback position (percent) reported while playing or paused. Reaching range high
  // while playing pauses and goes back to range low; a paused preview keeps the frame the
  // user sought (the end of the range included).
  PreviewSteps OnPosition(int position, bool playing, bool paused);
  // A seek to `position` percent (the window seeks the player when it is not idle).
  void OnSeek(int position) { position_ = position; }
  // The player stopped; `end_of_media` when it reached the end of the file. A video then
  // opens again and pauses at range low at its first playing event.
  PreviewSteps OnStopped(bool end_of_media);
  // The range slider moved its low (0) or high (1) thumb to `value`, or was clicked between
  // them at `value` (2). A playing preview pauses first unless it was a click.
  PreviewSteps OnSlider(int which, int value, bool playing);
  // The play/pause button: starts again from range low when the position is at range high.
  PreviewSteps OnPlayButton();

  const std::string& path() const { return path_; }
  bool photo() const { return photo_; }
  bool first_play() const { return first_play_; }
  int range_low() const { return low_; }
  int range_high() const { return high_; }
  int64_t media_length_ms() const { return length_ms_; }
  int position() const { return position_; }
  // The marker after an end of media: the end of the file, kept within the range.
  int EndMarker() const;

  // The time of `percent` of the media as "hh:mm:ss" (hours not wrapped).
  std::string TimeAt(int percent) const;
  std::string start_label() const { return start_label_; }
  std::string end_label() const { return end_label_; }

 private:
  std::string path_;
  bool photo_ = false;
  bool first_play_ = false;
  int low_ = 0;
  int high_ = 100;
  int64_t length_ms_ = kUnknownLengthMs;
  int position_ = 0;
  std::string start_label_ = "00:00:00";
  std::string end_label_;
};

}  // namespace spherolux::dialogs
