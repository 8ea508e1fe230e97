#include "dialogs/trim_preview_model.h"

#include <algorithm>

#include "ui/bar_logic.h"

namespace spherolux::dialogs {

PreviewSteps TrimPreviewModel::Load(const std::string& path, bool photo, int low, int high) {
  PreviewSteps steps;
  if (!path_.empty()) steps.push_back({PreviewStep::kStop});
  path_ = path;
  photo_ = photo;
  first_play_ = true;
  // The previous file's range and length mean nothing for this one: until the player
  // reports, the range given (the whole file unless said otherwise) of the unknown length
  // is selected.
  low_ = low;
  high_ = high;
  length_ms_ = kUnknownLengthMs;
  position_ = 0;
  start_label_ = end_label_ = "00:00:00";
  steps.push_back({PreviewStep::kTogglePlay});
  return steps;
}

PreviewSteps TrimPreviewModel::OnPlaying(int64_t length_ms, int slider_high) {
  if (!first_play_) return {};
  first_play_ = false;
  if (length_ms < 1) return {};
  length_ms_ = length_ms;
  // After a load the slider's high end is 100; after an end of media it is where the user
  // left it, and the range converted must stay the range shown.
  high_ = slider_high;
  start_label_ = TimeAt(low_);
  end_label_ = TimeAt(high_);
  // Paused on the first frame of the selection: after an end of media the file starts
  // again from its beginning, so it goes back to range low.
  if (low_ == 0) return {{PreviewStep::kTogglePlay}};
  return {{PreviewStep::kTogglePlay}, {PreviewStep::kSeek, low_}};
}

PreviewSteps TrimPreviewModel::OnPosition(int position, bool playing, bool paused) {
  if ((!playing && !paused) || position == 0) return {};
  position_ = position;
  if (!playing || position < high_) return {};
  return {{PreviewStep::kTogglePlay}, {PreviewStep::kSeek, low_}};
}

PreviewSteps TrimPreviewModel::OnStopped(bool end_of_media) {
  PreviewSteps steps;
  if (end_of_media) {
    // Opened again, it pauses at its first playing event and goes back to range low.
    first_play_ = true;
    steps = {{PreviewStep::kTogglePlay}};
  }
  position_ = 0;
  return steps;
}

int TrimPreviewModel::EndMarker() const { return std::clamp(100, low_, std::max(low_, high_)); }

PreviewSteps TrimPreviewModel::OnSlider(int which, int value, bool playing) {
  PreviewSteps steps;
  if (playing && which != 2) steps.push_back({PreviewStep::kTogglePlay});
  if (which == 0) {
    low_ = value;
    start_label_ = TimeAt(low_);
    steps.push_back({PreviewStep::kSeek, low_});
    steps.push_back({PreviewStep::kRangeChanged});
  } else if (which == 1) {
    high_ = value;
    end_label_ = TimeAt(high_);
    steps.push_back({PreviewStep::kSeek, high_});
    steps.push_back({PreviewStep::kRangeChanged});
  } else if (which == 2) {
    steps.push_back({PreviewStep::kSeek, value});
  }
  return steps;
}

PreviewSteps TrimPreviewModel::OnPlayButton() {
  if (path_.empty()) return {};
  PreviewSteps steps;
  if (position_ >= high_) steps.push_back({PreviewStep::kSeek, low_});
  steps.push_back({PreviewStep::kTogglePlay});
  return steps;
}

std::string TrimPreviewModel::TimeAt(int percent) const { return ui::FormatTime(int64_t{percent} * length_ms_ / 100); }

}  // namespace spherolux::dialogs
