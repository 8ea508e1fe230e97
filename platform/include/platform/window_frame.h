// Moving and resizing borderless windows with the pointer.
//
// Both ask the window manager first (QWindow::startSystemMove / startSystemResize), so snapping,
// edge tiling and multi-screen rules apply as for any window. Where the window manager offers
// neither (no manager, as under a bare X server), the window follows the pointer itself until
// the left button is released. UI thread only.
#pragma once

#include <QPoint>
#include <QWidget>

namespace spherolux::platform {

// Starts moving `window` from a left press at `global` received by `source` (the widget or
// native surface that keeps receiving the pointer's events while the button is held).
void BeginWindowMove(QWidget* window, QObject* source, const QPoint& global);
// The same for resizing from the given edges; the window keeps its minimum size.
void BeginWindowResize(QWidget* window, QObject* source, Qt::Edges edges, const QPoint& global);

// Resizing a borderless window from bands `band` pixels wide along its edges. It watches the
// pointer over the whole window, native children such as a video surface included, shows the
// resize cursors over the bands and starts a resize on a left press there (the press is not
// passed on). Inactive while the window is maximised or full screen. Lives as long as `window`.
class EdgeResizer : public QObject {
 public:
  EdgeResizer(QWidget* window, int band);
  // The edges whose bands contain `local` (window coordinates); none inside.
  Qt::Edges EdgesAt(const QPoint& local) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool Owns(QObject* object) const;
  void ShowCursor(Qt::Edges edges);

  QWidget* window_;
  int band_;
  Qt::Edges cursor_edges_;
};

}  // namespace spherolux::platform
