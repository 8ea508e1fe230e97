// CRangeSlider: the trim preview's two-thumb slider. The low thumb sits left of its value,
// the high thumb right of its value, a marker shows the playback position, and the part
// between the thumbs is the selection. The rules are RangeSliderModel's
// (dialogs/range_slider_model.h).
//
// Dragging a thumb or clicking between the thumbs posts kMsgRangeSlider to the parent
// window (a MessageWindow) with wparam = the control id and lparam = 0 (low moved), 1 (high
// moved) or 2 (clicked; clicked() holds the place). A disabled slider ignores the pointer.
// UI thread only.
#pragma once

#include <QWidget>

#include "dialogs/range_slider_model.h"

namespace spherolux::dialogs {

class CRangeSlider : public QWidget {
 public:
  static constexpr int kThumbWidth = 13;

  CRangeSlider(int control_id, QWidget* parent);

  int controlId() const { return control_id_; }
  void SetRange(int minimum, int maximum);
  void SetLow(int low);
  void SetHigh(int high);
  // The playback position (drawn only).
  void SetMarker(int position);
  int low() const { return model_.low(); }
  int high() const { return model_.high(); }
  int marker() const { return model_.marker(); }
  int clicked() const { return model_.clicked(); }
  const RangeSliderModel& model() const { return model_; }

  QSize sizeHint() const override { return {200, 16}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void Notify(RangeSliderModel::Notice notice);

  int control_id_;
  RangeSliderModel model_;
};

}  // namespace spherolux::dialogs
