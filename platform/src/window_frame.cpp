#include "platform/window_frame.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QWindow>

namespace spherolux::platform {

namespace {

// Follows the pointer for one press where the window manager does not move or resize.
class PointerFollower : public QObject {
 public:
  PointerFollower(QWidget* window, QObject* source, Qt::Edges edges, const QPoint& global)
      : QObject(source), window_(window), edges_(edges), start_(global), geometry_(window->geometry()) {
    source->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseMove) {
      Follow(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - start_);
      return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
      watched->removeEventFilter(this);
      deleteLater();
      return true;
    }
    return false;
  }

 private:
  void Follow(const QPoint& delta) {
    if (edges_ == Qt::Edges()) {
      window_->move(geometry_.topLeft() + delta);
      return;
    }
    QRect g = geometry_;
    const QSize min = window_->minimumSize();
    if (edges_ & Qt::LeftEdge) g.setLeft(std::min(g.left() + delta.x(), g.right() - min.width() + 1));
    if (edges_ & Qt::RightEdge) g.setRight(std::max(g.right() + delta.x(), g.left() + min.width() - 1));
    if (edges_ & Qt::TopEdge) g.setTop(std::min(g.top() + delta.y(), g.bottom() - min.height() + 1));
    if (edges_ & Qt::BottomEdge) g.setBottom(std::max(g.bottom() + delta.y(), g.top() + min.height() - 1));
    window_->setGeometry(g);
  }

  QWidget* window_;
  Qt::Edges edges_;
  QPoint start_;
  QRect geometry_;
};

bool SystemTakesOver(QWidget* window, Qt::Edges edges) {
  QWindow* handle = window->windowHandle();
  if (handle == nullptr) return false;
  return edges == Qt::Edges() ? handle->startSystemMove() : handle->startSystemResize(edges);
}

}  // namespace

void BeginWindowMove(QWidget* window, QObject* source, const QPoint& global) {
  if (!SystemTakesOver(window, {})) new PointerFollower(window, source, {}, global);
}

void BeginWindowResize(QWidget* window, QObject* source, Qt::Edges edges, const QPoint& global) {
  if (!SystemTakesOver(window, edges)) new PointerFollower(window, source, edges, global);
}

EdgeResizer::EdgeResizer(QWidget* window, int band) : QObject(window), window_(window), band_(band) {
  QCoreApplication::instance()->installEventFilter(this);
}

Qt::Edges EdgeResizer::EdgesAt(const QPoint& local) const {
  Qt::Edges edges;
  if (window_->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) return edges;
  if (!window_->rect().contains(local)) return edges;
  if (local.x() < band_) edges |= Qt::LeftEdge;
  if (local.x() >= window_->width() - band_) edges |= Qt::RightEdge;
  if (local.y() < band_) edges |= Qt::TopEdge;
  if (local.y() >= window_->height() - band_) edges |= Qt::BottomEdge;
  return edges;
}

bool EdgeResizer::Owns(QObject* object) const {
  if (auto* widget = qobject_cast<QWidget*>(object)) return widget->window() == window_;
  // A native child surface: a QWindow whose parent chain reaches the window's own.
  for (auto* w = qobject_cast<QWindow*>(object); w != nullptr; w = w->parent()) {
    if (w == window_->windowHandle()) return true;
  }
  return false;
}

void EdgeResizer::ShowCursor(Qt::Edges edges) {
  if (edges == cursor_edges_) return;
  if (cursor_edges_ != Qt::Edges()) QGuiApplication::restoreOverrideCursor();
  cursor_edges_ = edges;
  if (edges == Qt::Edges()) return;
  const bool diagonal_main = edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge);
  const bool diagonal_other = edges == (Qt::TopEdge | Qt::RightEdge) || edges == (Qt::BottomEdge | Qt::LeftEdge);
  const bool horizontal = edges == Qt::LeftEdge || edges == Qt::RightEdge;
  QGuiApplication::setOverrideCursor(diagonal_main    ? Qt::SizeFDiagCursor
                                     : diagonal_other ? Qt::SizeBDiagCursor
                                     : horizontal     ? Qt::SizeHorCursor
                                                      : Qt::SizeVerCursor);
}

bool EdgeResizer::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::MouseMove && type != QEvent::MouseButtonPress) return false;
  auto* mouse = static_cast<QMouseEvent*>(event);
  if (mouse->buttons() & ~Qt::LeftButton || !Owns(watched)) return false;
  const QPoint global = mouse->globalPosition().toPoint();
  const Qt::Edges edges = EdgesAt(window_->mapFromGlobal(global));
  if (type == QEvent::MouseMove) {
    if (mouse->buttons() == Qt::NoButton) ShowCursor(edges);
    return false;
  }
  if (edges == Qt::Edges() || mouse->button() != Qt::LeftButton) return false;
  BeginWindowResize(window_, watched, edges, global);
  return true;
}

}  // namespace spherolux::platform
