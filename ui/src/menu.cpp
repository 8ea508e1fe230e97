#include "ui/menu.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "ui/skin.h"

namespace spherolux::ui {

CMyMenu::CMyMenu(QWidget* parent) : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint) {
  setMouseTracking(true);
  setFont(SkinFont(12, 500));
  setAttribute(Qt::WA_DeleteOnClose, false);
}

void CMyMenu::AppendItem(int id, const QString& text, int icon, const QString& shortcut, bool checked, bool enabled) {
  items_.push_back({id, text, shortcut, icon, checked, enabled});
}

void CMyMenu::AppendSeparator() { items_.push_back({0, {}, {}, 0, false, false}); }

namespace {

constexpr int kTextLeft = 34;     // after the icon column
constexpr int kTextRight = 8;     // margin at the right edge
constexpr int kShortcutGap = 16;  // between a text and its shortcut

QFont ShortcutFont() { return SkinFont(11); }

}  // namespace

int CMyMenu::itemWidth() const {
  const QFontMetrics text(font()), shortcut(ShortcutFont());
  int width = kItemWidth;
  for (const Item& item : items_) {
    int need = kTextLeft + text.horizontalAdvance(item.text) + kTextRight;
    if (!item.shortcut.isEmpty()) need += kShortcutGap + shortcut.horizontalAdvance(item.shortcut);
    width = std::max(width, need);
  }
  return width;
}

QRect CMyMenu::ItemRect(int index) const {
  int y = 1;
  for (int i = 0; i < index && i < ItemCount(); ++i) y += items_[i].id == 0 ? kSeparatorHeight : kItemHeight;
  const int h = index < ItemCount() && items_[index].id == 0 ? kSeparatorHeight : kItemHeight;
  return QRect(1, y, itemWidth(), h);
}

int CMyMenu::IndexAt(const QPoint& point) const {
  for (int i = 0; i < ItemCount(); ++i) {
    if (items_[i].id != 0 && ItemRect(i).contains(point)) return i;
  }
  return -1;
}

int CMyMenu::Exec(const QPoint& global) {
  const QRect last = ItemRect(ItemCount() - 1);
  resize(itemWidth() + 2, last.bottom() + 2);
  QPoint at = global;
  if (const QScreen* screen = QGuiApplication::screenAt(global)) {
    const QRect area = screen->availableGeometry();
    at.setX(std::min(at.x(), area.right() - width()));
    at.setY(std::min(at.y(), area.bottom() - height()));
  }
  move(at);
  chosen_ = 0;
  highlighted_ = -1;
  show();
  QEventLoop loop;
  loop_ = &loop;
  loop.exec();
  loop_ = nullptr;
  return chosen_;
}

void CMyMenu::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), QColor(0xFF4A505A));  // border
  for (int i = 0; i < ItemCount(); ++i) {
    const Item& item = items_[i];
    const QRect r = ItemRect(i);
    if (!DrawSkinImage(painter, r, kImgMenuBackground)) painter.fillRect(r, QColor(0xFF2A2E35));
    if (item.id == 0) {
      painter.fillRect(QRect(r.left() + 34, r.center().y(), r.width() - 40, 1), QColor(0xFF41464F));
      continue;
    }
    if (i == highlighted_ && item.enabled) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(QColor(skin_color::kAccent));
      painter.drawRoundedRect(r.adjusted(2, 1, -2, -1), 4, 4);
    }
    const QColor text = !item.enabled       ? QColor(0xFF6B717A)
                        : i == highlighted_ ? QColor(Qt::white)
                                            : QColor(skin_color::kTitleText);
    if (item.icon != 0) {
      // Bar images carry their glyph with a margin: at 26 pixels the glyph is about 15 wide.
      const QSize icon = SkinImageSize(item.icon).scaled(26, 26, Qt::KeepAspectRatio);
      DrawSkinImage(painter, QRect(QPoint(r.left() + 1, r.top() + (r.height() - icon.height()) / 2), icon), item.icon);
    } else if (item.checked) {
      painter.setPen(QPen(text, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      const QPointF c(r.left() + 14, r.center().y() + 0.5);
      painter.drawPolyline(QPolygonF({c + QPointF(-4.5, 0), c + QPointF(-1.5, 3), c + QPointF(4.5, -3.5)}));
    }
    painter.setPen(text);
    painter.setFont(font());
    painter.drawText(r.adjusted(kTextLeft, 0, -kTextRight, 0), Qt::AlignLeft | Qt::AlignVCenter, item.text);
    if (!item.shortcut.isEmpty()) {
      painter.setFont(ShortcutFont());
      painter.setPen(i == highlighted_ ? QColor(Qt::white) : QColor(skin_color::kBarText));
      painter.drawText(r.adjusted(kTextLeft, 0, -kTextRight, 0), Qt::AlignRight | Qt::AlignVCenter, item.shortcut);
    }
  }
}

void CMyMenu::mouseMoveEvent(QMouseEvent* event) {
  const int index = IndexAt(event->position().toPoint());
  if (index != highlighted_) {
    highlighted_ = index;
    update();
  }
}

void CMyMenu::mouseReleaseEvent(QMouseEvent* event) {
  if (!rect().contains(event->position().toPoint())) {
    close();
    return;
  }
  const int index = IndexAt(event->position().toPoint());
  if (index >= 0 && items_[index].enabled) Choose(index);
}

void CMyMenu::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      close();
      break;
    case Qt::Key_Down:
      MoveHighlight(1);
      break;
    case Qt::Key_Up:
      MoveHighlight(-1);
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (highlighted_ >= 0 && items_[highlighted_].enabled) Choose(highlighted_);
      break;
    default:
      QWidget::keyPressEvent(event);
  }
}

void CMyMenu::MoveHighlight(int step) {
  const int n = ItemCount();
  for (int k = 1; k <= n; ++k) {
    const int i = ((highlighted_ < 0 && step < 0 ? n : highlighted_) + step * k + n * 2) % n;
    if (items_[i].id != 0 && items_[i].enabled) {
      highlighted_ = i;
      update();
      return;
    }
  }
}

void CMyMenu::Choose(int index) {
  chosen_ = items_[index].id;
  close();
}

void CMyMenu::leaveEvent(QEvent*) {
  highlighted_ = -1;
  update();
}

void CMyMenu::hideEvent(QHideEvent*) {
  if (loop_ != nullptr) loop_->exit();
}

}  // namespace spherolux::ui
