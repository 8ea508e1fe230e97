#include "ui/button_ex.h"

#include <QEnterEvent>
#include <QHelpEvent>
#include <QPainter>

#include "platform/message_window.h"
#include "ui/skin.h"
#include "ui/tooltip.h"

namespace spherolux::ui {

CButtonEx::CButtonEx(int control_id, QWidget* parent) : QAbstractButton(parent), control_id_(control_id) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_Hover);
  connect(this, &QAbstractButton::clicked, this, [this] { OnClicked(); });
  tooltip_timer_.setSingleShot(true);
  tooltip_timer_.setInterval(kTooltipDelayMs);
  tooltip_timer_.setTimerType(Qt::PreciseTimer);
  connect(&tooltip_timer_, &QTimer::timeout, this, [this] { ShowTooltip(); });
}

void CButtonEx::SetImages(const ButtonImages& images) {
  images_ = images;
  const QSize natural = SkinImageSize(images.normal);
  if (!natural.isEmpty()) resize(natural);
  update();
}

void CButtonEx::SetActive(bool active) {
  if (active_ == active) return;
  active_ = active;
  update();
}

void CButtonEx::SetCaptionStyle(const QFont& font, const QColor& color, const QColor& disabled_color) {
  setFont(font);
  text_color_ = color;
  disabled_text_color_ = disabled_color;
  update();
}

QSize CButtonEx::sizeHint() const {
  const QSize natural = SkinImageSize(images_.normal);
  return natural.isEmpty() ? QSize(30, 30) : natural;
}

int CButtonEx::CurrentImage() const {
  if (isDown() && images_.pressed != 0) return images_.pressed;
  if (hovered_ && images_.hover != 0 && isEnabled()) return images_.hover;
  if (!isEnabled() && images_.disabled != 0) return images_.disabled;
  if (active_ && active_image_ != 0) return active_image_;
  return images_.normal;
}

void CButtonEx::paintEvent(QPaintEvent*) {
  // Qt paints every widget into an off-screen backing store and shows it in one flush, which
  // is the double buffering the bars rely on.
  QPainter painter(this);
  const QRect r = rect();
  if (images_.strip != 0) {
    DrawSkinImagePart(painter, r, images_.strip, images_.strip_origin);
  } else if (fallback_.isValid()) {
    painter.fillRect(r, fallback_);
  }
  const auto draw = [&](int id) {
    if (id == 0) return;
    if (stretch_ || SkinImageIsSlice(id)) {
      DrawSkinImage(painter, stretch_ ? r.adjusted(3, 3, -3, -3) : r, id);
      return;
    }
    const QSize natural = SkinImageSize(id);
    const QPoint at(std::max(0, (r.width() - natural.width()) / 2), std::max(0, (r.height() - natural.height()) / 2));
    DrawSkinImage(painter, QRect(at, natural), id);
  };
  const int current = CurrentImage();
  if (current == images_.hover && current != 0) draw(active_ && active_image_ != 0 ? active_image_ : images_.normal);
  draw(current);
  if (!text().isEmpty()) {
    painter.setFont(font());
    painter.setPen(isEnabled() ? text_color_ : disabled_text_color_);
    painter.drawText(r, Qt::AlignCenter, text());
  }
}

void CButtonEx::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  if (!tooltip_.isEmpty()) tooltip_timer_.start();
  QAbstractButton::enterEvent(event);
}

void CButtonEx::leaveEvent(QEvent* event) {
  hovered_ = false;
  tooltip_timer_.stop();
  HideTooltip(this);
  update();
  QAbstractButton::leaveEvent(event);
}

void CButtonEx::SetTooltipText(const QString& text) {
  tooltip_ = text;
  if (!text.isEmpty()) setAccessibleName(text);
}

void CButtonEx::ShowTooltip() {
  if (hovered_ && !tooltip_.isEmpty()) {
    ui::ShowTooltip(this, tooltip_, -1, 10 * kTooltipDelayMs);
  }
}

bool CButtonEx::event(QEvent* event) {
  // Tooltips follow our own delay, not the style's.
  if (event->type() == QEvent::ToolTip) return true;
  return QAbstractButton::event(event);
}

void CButtonEx::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange && !isEnabled()) hovered_ = false;
  QAbstractButton::changeEvent(event);
}

void CButtonEx::OnClicked() {
  if (auto* window = dynamic_cast<platform::MessageWindow*>(parentWidget())) {
    window->send(kWmCommand, static_cast<platform::WParam>(control_id_), 0);
  }
}

}  // namespace spherolux::ui
