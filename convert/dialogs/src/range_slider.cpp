#include "dialogs/range_slider.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>

#include "platform/messages.h"
#include "ui/skin.h"

namespace spherolux::dialogs {

CRangeSlider::CRangeSlider(int control_id, QWidget* parent) : QWidget(parent), control_id_(control_id) {
  model_.SetThumbWidth(kThumbWidth);
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover);
}

void CRangeSlider::SetRange(int minimum, int maximum) {
  model_.SetRange(minimum, maximum);
  update();
}

void CRangeSlider::SetLow(int low) {
  model_.SetLow(low);
  update();
}

void CRangeSlider::SetHigh(int high) {
  model_.SetHigh(high);
  update();
}

void CRangeSlider::SetMarker(int position) {
  if (position == model_.marker()) return;
  model_.SetMarker(position);
  update();
}

void CRangeSlider::resizeEvent(QResizeEvent* event) {
  model_.SetLength(width());
  QWidget::resizeEvent(event);
}

void CRangeSlider::paintEvent(QPaintEvent*) {
  model_.Normalise();
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const int h = height();
  const int a = model_.PixelOf(model_.low()), b = model_.PixelOf(model_.high());
  const bool on = isEnabled();

  // The track runs under both thumbs; the selection between them is filled.
  const int track_h = 6;
  const QRect track(kThumbWidth / 2, (h - track_h) / 2, width() - kThumbWidth, track_h);
  ui::DrawSkinImage(painter, track, ui::kImgRangeTrack);
  if (b > a) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(on ? ui::skin_color::kAccent : ui::skin_color::kDisabledText));
    painter.drawRoundedRect(QRectF(a, track.top(), b - a, track_h), 2, 2);
  }

  // The thumbs keep the art's proportions inside their band of kThumbWidth pixels.
  const QSize art = ui::SkinImageSize(ui::kImgRangeThumb);
  const int thumb_w = art.isEmpty() ? kThumbWidth : std::min(kThumbWidth, art.width() * h / art.height() + 1);
  painter.setOpacity(on ? 1.0 : 0.45);
  ui::DrawSkinImage(painter, QRect(a - kThumbWidth + (kThumbWidth - thumb_w) / 2, 0, thumb_w, h), ui::kImgRangeThumb);
  ui::DrawSkinImage(painter, QRect(b + (kThumbWidth - thumb_w) / 2, 0, thumb_w, h), ui::kImgRangeThumb);
  painter.setOpacity(1.0);

  if (on) {
    const QSize marker = ui::SkinImageSize(ui::kImgRangeMarker);
    int x = model_.PixelOf(model_.marker());
    if (model_.marker() == model_.high()) x -= marker.width();
    ui::DrawSkinImage(painter, QRect(QPoint(x, 0), marker), ui::kImgRangeMarker);
  }
}

void CRangeSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  model_.Press(static_cast<int>(event->position().x()));
}

void CRangeSlider::mouseMoveEvent(QMouseEvent* event) {
  if (const auto notice = model_.Move(static_cast<int>(event->position().x()))) {
    Notify(*notice);
    update();
  }
}

void CRangeSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  if (const auto notice = model_.Release(static_cast<int>(event->position().x()))) Notify(*notice);
  update();
}

void CRangeSlider::leaveEvent(QEvent* event) {
  // While the button is held the slider keeps the pointer; only a free pointer leaves.
  if (QGuiApplication::mouseButtons() == Qt::NoButton) model_.Leave();
  QWidget::leaveEvent(event);
}

void CRangeSlider::Notify(RangeSliderModel::Notice notice) {
  if (auto* parent = dynamic_cast<platform::MessageWindow*>(parentWidget())) {
    parent->post(platform::kMsgRangeSlider, static_cast<platform::WParam>(control_id_), notice);
  }
}

}  // namespace spherolux::dialogs
