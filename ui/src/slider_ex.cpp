#include "ui/slider_ex.h"

#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "platform/message_window.h"
#include "ui/bar_logic.h"
#include "ui/skin.h"

namespace spherolux::ui {

namespace {
constexpr int kThumbSize = 14;

// What a screen reader sees of a slider: its role and its value (read only: the slider moves
// by the pointer, which reports to the owner as a user's move must).
class SliderAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit SliderAccessible(CSliderCtrlEx* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}
  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QVariant currentValue() const override { return slider()->pos(); }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return slider()->rangeMax(); }
  QVariant minimumValue() const override { return slider()->rangeMin(); }
  QVariant minimumStepSize() const override { return 1; }

 private:
  CSliderCtrlEx* slider() const { return static_cast<CSliderCtrlEx*>(widget()); }
};

QAccessibleInterface* SliderAccessibleFactory(const QString&, QObject* object) {
  auto* slider = dynamic_cast<CSliderCtrlEx*>(object);
  return slider != nullptr ? new SliderAccessible(slider) : nullptr;
}

}  // namespace

CSliderCtrlEx::CSliderCtrlEx(int control_id, QWidget* parent)
    : CSliderCtrlEx(control_id, parent, Look{kImgTrack, kImgTrackFill, kImgThumb, kImgThumbHot, 4, true}) {}

CSliderCtrlEx::CSliderCtrlEx(int control_id, QWidget* parent, const Look& look)
    : QWidget(parent), control_id_(control_id), look_(look) {
  setFocusPolicy(Qt::ClickFocus);
  setMouseTracking(true);
  setCursor(Qt::PointingHandCursor);
  static const bool factory_installed = [] {
    QAccessible::installFactory(SliderAccessibleFactory);
    return true;
  }();
  (void)factory_installed;
}

CSliderVolume::CSliderVolume(int control_id, QWidget* parent)
    : CSliderCtrlEx(control_id, parent, Look{kImgTrack, kImgTrackFill, kImgThumb, kImgThumbHot, 3, false}) {}

void CSliderCtrlEx::SetRange(int min, int max) {
  min_ = min;
  max_ = std::max(min, max);
  position_ = std::clamp(position_, min_, max_);
  update();
}

void CSliderCtrlEx::SetPos(int position) {
  if (dragging_) return;
  position = std::clamp(position, min_, max_);
  if (position == position_) return;
  position_ = position;
  update();
}

QRect CSliderCtrlEx::ChannelRect() const {
  return QRect(kThumbSize / 2, height() / 2 - look_.track_height / 2, std::max(0, width() - kThumbSize),
               look_.track_height);
}

void CSliderCtrlEx::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRect channel = ChannelRect();
  const QRect track = channel.adjusted(-look_.track_height / 2, 0, look_.track_height / 2, 0);
  DrawSkinImage(painter, track, look_.track);
  const double f = max_ > min_ ? double(position_ - min_) / (max_ - min_) : 0.0;
  const int thumb_x = channel.left() + static_cast<int>(f * channel.width() + 0.5);
  if (isEnabled() && thumb_x > track.left()) {
    DrawSkinImage(painter, QRect(track.left(), track.top(), thumb_x - track.left(), track.height()), look_.fill);
  }
  if (look_.marker && hovered_ && isEnabled()) {
    const QSize m = SkinImageSize(kImgHoverMarker);
    DrawSkinImage(painter, QRect(hover_x_ - m.width() / 2, height() / 2 - m.height() / 2, m.width(), m.height()),
                  kImgHoverMarker);
  }
  if (isEnabled()) {
    const QRect thumb(thumb_x - kThumbSize / 2, height() / 2 - kThumbSize / 2, kThumbSize, kThumbSize);
    DrawSkinImage(painter, thumb, dragging_ || hovered_ ? look_.thumb_hot : look_.thumb);
  }
}

void CSliderCtrlEx::Notify(unsigned code) {
  if (auto* window = dynamic_cast<platform::MessageWindow*>(parentWidget())) {
    window->post(platform::kWmHScroll, platform::MakeWParam(code, static_cast<unsigned>(position_)), control_id_);
  }
}

bool CSliderCtrlEx::TrackTo(int x) {
  const QRect channel = ChannelRect();
  const int position = SliderPositionAt(x, channel.left(), channel.width(), min_, max_);
  if (position == position_) return false;
  position_ = position;
  moved_during_press_ = true;
  update();
  Notify(platform::kSbThumbTrack);
  return true;
}

void CSliderCtrlEx::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  setFocus(Qt::MouseFocusReason);
  dragging_ = true;
  moved_during_press_ = false;
  hover_x_ = std::clamp(static_cast<int>(event->position().x()), 0, width());
  TrackTo(static_cast<int>(event->position().x()));
}

void CSliderCtrlEx::mouseMoveEvent(QMouseEvent* event) {
  hover_x_ = std::clamp(static_cast<int>(event->position().x()), 0, width());
  if (dragging_) {
    TrackTo(static_cast<int>(event->position().x()));
  } else if (look_.marker) {
    update();
  }
}

void CSliderCtrlEx::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragging_) return QWidget::mouseReleaseEvent(event);
  TrackTo(static_cast<int>(event->position().x()));
  dragging_ = false;
  if (moved_during_press_) Notify(platform::kSbThumbPosition);
  update();
}

void CSliderCtrlEx::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QWidget::enterEvent(event);
}

void CSliderCtrlEx::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QWidget::leaveEvent(event);
}

void CSliderCtrlEx::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange && !isEnabled()) dragging_ = false;
  QWidget::changeEvent(event);
}

}  // namespace spherolux::ui
