// CVideoControl: the video area of a player window. It hosts the OpenGL window the renderer
// draws into (a QWindow embedded with QWidget::createWindowContainer) and turns the user's
// mouse and keyboard into the messages of video_messages.h for its parent:
//
//   left press                 0x508 sent; a drag starts
//   move while dragging        0x501 sent with (dx, dy) = ((last x - x) * 5, (y - last y) * 5)
//   release while dragging     0x502 sent with the release velocity in pixels per second,
//                              ((press x - x), (y - press y)) * 1000 / dt (dt >= 1 ms)
//   pointer leaves             the drag ends without a fling
//   wheel                      0x503 posted with minus the wheel delta (a step forward: -120)
//   pointer in the top 30 px   0x4F9 posted
//   files dropped              0x507 posted; TakeDroppedFiles gives their paths
//   arrow keys, +/-, Home      a drag of 5 degrees, a wheel step, a reset (0x504, 9)
//
// The renderer's messages (0x500, 0x50C, 0x50D) may come from any thread through Post; they
// reach the parent on the window thread, in order, and never make the posting thread wait.
//
// Threads: everything but Post runs on the window thread.
#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "media/video_messages.h"
#include "render/render_hooks.h"

class QLabel;
class QWindow;

namespace spherolux::render {
class COpenglRender;
}

namespace spherolux::media {

class VideoSurface;

class CVideoControl : public QWidget, public render::RenderMessageSink {
 public:
  explicit CVideoControl(QWidget* parent = nullptr);
  ~CVideoControl() override;

  // Where the messages go (not owned; null: nowhere). Window thread.
  void SetTarget(MessageTarget* target) { target_ = target; }
  MessageTarget* target() const { return target_; }
  // Sends to the target, 0 without one.
  intptr_t SendToTarget(unsigned message, uintptr_t wparam, intptr_t lparam);

  // The OpenGL window inside the control.
  QWindow* surface() const;
  // The renderer that draws into the surface learns its size from here (null: none).
  void SetRenderer(render::COpenglRender* renderer);
  // Diagonal of the video area in pixels.
  float Diagonal() const;

  // Paths of the files of the last drop (emptied by the call).
  std::vector<std::string> TakeDroppedFiles();

  // A picture shown stretched over the video area instead of the OpenGL window (photos when
  // OpenGL 2.0 is not available); a null image shows the OpenGL window again.
  void ShowFlatImage(const QImage& image);
  bool showing_flat_image() const { return !flat_image_.isNull(); }

  // RenderMessageSink, any thread: queued to the window thread, then sent to the target.
  void Post(unsigned message) override;

  // The pointer's input, as the surface receives it (positions in control pixels, times in
  // milliseconds of the event clock).
  void PointerPressed(QPointF pos, uint64_t time_ms);
  void PointerMoved(QPointF pos);
  void PointerReleased(QPointF pos, uint64_t time_ms);
  void PointerLeft();
  void WheelTurned(int delta);
  bool KeyPressed(int key);
  void FilesDropped(std::vector<std::string> paths);

  bool dragging() const { return dragging_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SendPair(unsigned message, float a, float b);
  void UpdateRendererSize();

  MessageTarget* target_ = nullptr;
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
  std::vector<std::string> dropped_;
};

}  // namespace spherolux::media
