#include "dialogs/range_slider_model.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace spherolux::dialogs {

void RangeSliderModel::SetRange(int minimum, int maximum) {
  min_ = minimum;
  max_ = maximum;
}

int RangeSliderModel::PixelOf(int value) const {
  if (max_ == min_) return thumb_;
  const double span = static_cast<double>(length_) - 2.0 * thumb_;
  return static_cast<int>(std::trunc(span * (value - min_) / (static_cast<double>(max_) - min_) + thumb_ + 0.5));
}

int RangeSliderModel::ValueAt(int pixel) const {
  const double span = static_cast<double>(length_) - 2.0 * thumb_;
  if (span <= 0) return min_;
  return static_cast<int>(
      std::trunc((static_cast<double>(max_) - min_) * (static_cast<double>(pixel) - thumb_) / span + min_ + 0.5));
}

void RangeSliderModel::Press(int x) {
  const int a = PixelOf(low_), b = PixelOf(high_);
  drag_low_ = drag_high_ = between_click_ = false;
  if (a - thumb_ < x && x < a) {
    drag_low_ = true;
    drag_offset_ = x - a;
  } else if (b < x && x < b + thumb_) {
    drag_high_ = true;
    drag_offset_ = x - b;
  } else if (a < x && x < b) {
    between_click_ = true;
  }
}

std::optional<RangeSliderModel::Notice> RangeSliderModel::Move(int x) {
  if (!drag_low_ && !drag_high_) return std::nullopt;
  const int v = ValueAt(x - drag_offset_);
  if (drag_low_) {
    const int low = std::clamp(v, min_, std::max(min_, high_ - 1));
    if (low == low_) return std::nullopt;
    low_ = low;
    return kLowMoved;
  }
  const int high = std::clamp(v, std::min(max_, low_ + 1), max_);
  if (high == high_) return std::nullopt;
  high_ = high;
  return kHighMoved;
}

std::optional<RangeSliderModel::Notice> RangeSliderModel::Release(int x) {
  std::optional<Notice> notice;
  if (drag_low_) {
    notice = kLowMoved;
  } else if (drag_high_) {
    notice = kHighMoved;
  } else if (between_click_) {
    clicked_ = ValueAt(x);
    if (clicked_ <= low_) clicked_ = low_;
    if (clicked_ >= high_) clicked_ = high_;
    notice = kClicked;
  }
  drag_low_ = drag_high_ = between_click_ = false;
  drag_offset_ = 0;
  return notice;
}

void RangeSliderModel::Leave() { drag_low_ = drag_high_ = between_click_ = false; }

void RangeSliderModel::Normalise() {
  if (min_ > max_) std::swap(min_, max_);
  if (low_ > high_) std::swap(low_, high_);
  low_ = std::clamp(low_, min_, max_);
  high_ = std::clamp(high_, min_, max_);
}

}  // namespace spherolux::dialogs
