#include "ui/tooltip.h"

#include <QApplication>
#include <QCursor>
#include <QHelpEvent>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "ui/skin.h"

namespace spherolux::ui {

namespace {

constexpr int kGap = 6;

class TooltipWindow final : public QLabel {
 public:
  TooltipWindow() : QLabel(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
    setObjectName("skinnedTooltip");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFont(SkinFont(13));
    setStyleSheet(QString("QLabel#skinnedTooltip { background: #%1; color: #%2; border: 1px solid #4a515c; "
                          "padding: 3px 8px; }")
                      .arg(kBackground & 0xFFFFFF, 6, 16, QChar('0'))
                      .arg(skin_color::kTitleText & 0xFFFFFF, 6, 16, QChar('0')));
    expiry_.setSingleShot(true);
    QObject::connect(&expiry_, &QTimer::timeout, this, [this] { hide(); });
  }

  static constexpr QRgb kBackground = 0xFF2B3038;  // the caption strip's colour
  QPointer<QWidget> anchor;
  QTimer expiry_;
};

TooltipWindow* g_tooltip = nullptr;

TooltipWindow& Window() {
  if (g_tooltip == nullptr) {
    g_tooltip = new TooltipWindow;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] {
      delete g_tooltip;
      g_tooltip = nullptr;
    });
  }
  return *g_tooltip;
}

// Turns the style's tooltip requests into ours, and hides ours when its control is left.
class TooltipFilter final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget == g_tooltip) return false;
    if (event->type() == QEvent::ToolTip) {
      if (widget->toolTip().isEmpty()) return false;
      ShowTooltip(widget, widget->toolTip(), static_cast<QHelpEvent*>(event)->pos().x());
      return true;
    }
    if (event->type() == QEvent::Leave || event->type() == QEvent::Hide || event->type() == QEvent::MouseButtonPress) {
      HideTooltip(widget);
    }
    return false;
  }
};

}  // namespace

QRect PlaceTooltip(QSize size, const QRect& anchor, int centre_x, const QRect& screen, QPoint pointer) {
  QRect tip(QPoint(centre_x - size.width() / 2, anchor.bottom() + 1 + kGap), size);
  if (tip.bottom() > screen.bottom()) tip.moveBottom(anchor.top() - 1 - kGap);
  tip.moveLeft(std::clamp(tip.left(), screen.left(), std::max(screen.left(), screen.right() + 1 - size.width())));
  tip.moveTop(std::clamp(tip.top(), screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height())));
  // Clamped back over the control (a control nearly as tall as the screen): out of the
  // pointer's way, to the side with more room.
  if (tip.contains(pointer)) {
    if (pointer.y() - screen.top() > screen.bottom() - pointer.y()) {
      tip.moveBottom(pointer.y() - kGap * 3);
    } else {
      tip.moveTop(pointer.y() + kGap * 3);
    }
  }
  return tip;
}

void ShowTooltip(QWidget* anchor, const QString& text, int centre_x, int timeout_ms) {
  if (anchor == nullptr || text.isEmpty()) {
    HideTooltip();
    return;
  }
  TooltipWindow& tip = Window();
  tip.anchor = anchor;
  tip.setText(text);
  tip.adjustSize();
  const QRect area(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
  const QScreen* screen = anchor->screen();
  const QRect bounds = screen != nullptr ? screen->geometry() : area;
  const int x = area.left() + (centre_x >= 0 ? centre_x : anchor->width() / 2);
  tip.setGeometry(PlaceTooltip(tip.size(), area, x, bounds, QCursor::pos()));
  tip.show();
  tip.raise();
  tip.expiry_.start(timeout_ms);
}

void HideTooltip(const QWidget* anchor) {
  if (g_tooltip == nullptr || (anchor != nullptr && g_tooltip->anchor != anchor)) return;
  g_tooltip->expiry_.stop();
  g_tooltip->hide();
}

QWidget* ShownTooltip() { return g_tooltip != nullptr && g_tooltip->isVisible() ? g_tooltip : nullptr; }

void InstallSkinnedTooltips() {
  static TooltipFilter* filter = nullptr;
  if (filter != nullptr) return;
  filter = new TooltipFilter(qApp);
  qApp->installEventFilter(filter);
}

}  // namespace spherolux::ui
