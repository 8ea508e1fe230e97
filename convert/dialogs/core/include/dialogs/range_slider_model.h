// The rules of the two-thumb range slider (CRangeSlider) without its window: where a value
// sits in pixels and back, which thumb a press takes, how dragging and clicking move the
// range, and what the slider tells its parent.
//
// Along the slider of length L (pixels) with thumbs T pixels wide, the range [minimum,
// maximum] spans [T, L - T]:
//   pixel(v) = trunc((L - 2T) (v - minimum) / (maximum - minimum) + T + 0.5)
//   value(p) = trunc((maximum - minimum) (p - T) / (L - 2T) + minimum + 0.5)
// The low thumb is drawn left of pixel(low), the high thumb right of pixel(high), so the
// thumbs never cover each other; low stays at least one below high.
//
// Plain value class; the window owns one and calls it on the UI thread.
#pragma once

#include <optional>

namespace spherolux::dialogs {

class RangeSliderModel {
 public:
  // What the slider tells its parent (the `which` of its notification).
  enum Notice : int { kLowMoved = 0, kHighMoved = 1, kClicked = 2 };

  void SetRange(int minimum, int maximum);
  void SetLow(int low) { low_ = low; }
  void SetHigh(int high) { high_ = high; }
  void SetMarker(int position) { marker_ = position; }
  // The slider's length in pixels along its direction and the thumbs' width.
  void SetLength(int length) { length_ = length; }
  void SetThumbWidth(int width) { thumb_ = width; }

  int minimum() const { return min_; }
  int maximum() const { return max_; }
  int low() const { return low_; }
  int high() const { return high_; }
  int marker() const { return marker_; }
  int clicked() const { return clicked_; }
  int length() const { return length_; }
  int thumb_width() const { return thumb_; }
  bool dragging_low() const { return drag_low_; }
  bool dragging_high() const { return drag_high_; }

  int PixelOf(int value) const;
  int ValueAt(int pixel) const;

  // A left press at `x`: takes the low thumb (a - T < x < a), the high thumb (b < x < b + T)
  // or records a click between them (a < x < b), with a = pixel(low), b = pixel(high).
  void Press(int x);
  // The pointer moved to `x`: a dragged thumb follows, kept within its bounds. The notice
  // when a thumb moved.
  std::optional<Notice> Move(int x);
  // The button was released at `x`: a drag ends with its thumb's notice; a click between the
  // thumbs becomes the clicked position (kept within [low, high]) and kClicked.
  std::optional<Notice> Release(int x);
  // The pointer left the slider: any drag or click is forgotten.
  void Leave();

  // What a paint relies on: minimum <= maximum and low <= high (swapped when reversed), both
  // within the range.
  void Normalise();

 private:
  int min_ = 0, max_ = 100;
  int low_ = 0, high_ = 100;
  int marker_ = 0;
  int clicked_ = 0;
  int length_ = 0;
  int thumb_ = 13;
  int drag_offset_ = 0;
  bool drag_low_ = false, drag_high_ = false, between_click_ = false;
};

}  // namespace spherolux::dialogs
