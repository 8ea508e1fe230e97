// CSliderCtrlEx and CSliderVolume: skinned horizontal sliders (track, filled part, thumb) that
// jump to the clicked place.
//
// A left press takes the mouse and the focus and moves the thumb to
// SliderPositionAt(x, channel) (bar_logic.h); a change posts kWmHScroll with code
// kSbThumbTrack and the position to the parent window. Every move while pressed does the same.
// On release, a change at the release point posts kSbThumbTrack again and, if the position moved
// during the press, kSbThumbPosition follows. lparam of each post is the control id.
// SetPos from the program is ignored while the user holds the thumb, so a playing medium does
// not pull it from under the pointer. The pointer's x (clamped to the width) marks the hover
// place. UI thread only; the parent must be a MessageWindow to hear of changes.
#pragma once

#include <QWidget>

namespace spherolux::ui {

class CSliderCtrlEx : public QWidget {
 public:
  CSliderCtrlEx(int control_id, QWidget* parent);

  int controlId() const { return control_id_; }
  void SetRange(int min, int max);
  int rangeMin() const { return min_; }
  int rangeMax() const { return max_; }
  // Moves the thumb unless the user is dragging it; no notification.
  void SetPos(int position);
  int pos() const { return position_; }
  // The channel the thumb travels along, in widget pixels (its centre's path).
  QRect ChannelRect() const;
  bool dragging() const { return dragging_; }
  bool hovered() const { return hovered_; }
  int hoverX() const { return hover_x_; }

 protected:
  struct Look {
    int track, fill, thumb, thumb_hot;
    int track_height;
    bool marker;  // show the hover marker
  };
  CSliderCtrlEx(int control_id, QWidget* parent, const Look& look);

  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Moves to the position under x; true when it changed (and was posted).
  bool TrackTo(int x);
  void Notify(unsigned code);

  int control_id_;
  Look look_;
  int min_ = 0, max_ = 100, position_ = 0;
  bool dragging_ = false;
  bool moved_during_press_ = false;
  bool hovered_ = false;
  int hover_x_ = 0;
};

// The volume slider: the same behaviour in a smaller look without the hover marker.
class CSliderVolume : public CSliderCtrlEx {
 public:
  CSliderVolume(int control_id, QWidget* parent);
};

}  // namespace spherolux::ui
