// CVideoControl: the video area of a player window. It hosts the OpenGL window the renderer
// draws into (a QWindow embedded with QWidget::createWindowContainer) and turns the user's
// mouse and keyboard into messages (platform/messages.h) for its parent window:
//
//   left press                 kMsgVideoPress sent; a drag starts
//   move while dragging        kMsgDrag sent with (dx, dy) = ((last x - x) * 5, (y - last y) * 5)
//   release while dragging     kMsgFling sent with the release velocity in pixels per second,
//                              ((press x - x), (y - press y)) * 1000 / dt (dt at least 1 ms)
//   pointer leaves             the drag ends without a fling
//   wheel                      kMsgZoom posted with minus the wheel delta (a step forward: -120)
//   pointer in the top 30 px   kMsgPanelHover posted
//   files dropped              kMsgDropFiles sent with their paths
//   keys                       passed on to the parent window (its input table has them)
//
// The renderer's messages (kMsgFrameDrawn, kMsgRecordSaved, kMsgScreenshotSaved,
// kMsgScreenshotFailed) may come from any thread through Post; they reach the parent on the
// window thread, in order, and never make the posting thread wait.
//
// Threads: everything but Post runs on the window thread.
#pragma once

#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/message_window.h"
#include "render/render_hooks.h"

class QLabel;
class QWindow;

namespace spherolux::render {
class COpenglRender;
}

namespace spherolux::media {

class VideoSurface;

class CVideoControl : public platform::MessageWindow, public render::RenderMessageSink {
 public:
  explicit CVideoControl(QWidget* parent = nullptr);
  ~CVideoControl() override;

  // Where the messages go (not owned): the nearest message window among the control's
  // ancestors unless set. Window thread.
  void SetTarget(platform::MessageWindow* target) { target_ = target; }
  platform::MessageWindow* Target() const;
  // Sends to the target; 0 without one.
  LParam SendToParent(unsigned message, WParam wparam = 0, LParam lparam = 0);

  // The OpenGL window inside the control.
  QWindow* surface() const;
  // The renderer that draws into the surface learns its size from here (null: none).
  void SetRenderer(render::COpenglRender* renderer);
  // Diagonal of the video area in pixels.
  float Diagonal() const;

  // A picture shown stretched over the video area instead of the OpenGL window (photos when
  // OpenGL 2.0 is not available); a null image shows the OpenGL window again.
  void ShowFlatImage(const QImage& image);
  bool showing_flat_image() const { return !flat_image_.isNull(); }

  // RenderMessageSink, any thread: queued to the window thread, then sent to the target.
  void Post(unsigned message) override { post(message); }

  // The pointer's input, as the surface receives it (positions in control pixels, times in
  // milliseconds of the event clock).
  void PointerPressed(QPointF pos, uint64_t time_ms);
  void PointerMoved(QPointF pos);
  void PointerReleased(QPointF pos, uint64_t time_ms);
  void PointerLeft();
  void WheelTurned(int delta);
  void FilesDropped(std::vector<std::string> paths);
  // The surface was uncovered: the renderer draws its next picture in full.
  void SurfaceExposed();

  bool dragging() const { return dragging_; }

 protected:
  LParam onMessage(unsigned msg, WParam w, LParam l) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void SendPair(unsigned message, float a, float b);
  void UpdateRendererSize();

  platform::MessageWindow* target_ = nullptr;
  VideoSurface* surface_ = nullptr;  // owned by container_
  QWidget* container_ = nullptr;
  QLabel* flat_ = nullptr;
  QImage flat_image_;
  render::COpenglRender* renderer_ = nullptr;
  bool dragging_ = false;
  QPointF last_;
  QPointF press_;
  uint64_t press_time_ = 0;
  float pair_[2] = {0, 0};
};

}  // namespace spherolux::media
