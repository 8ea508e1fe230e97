#include "media/video_control.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>
#include <cmath>

#include "platform/file_urls.h"
#include "platform/messages.h"
#include "render/opengl_render.h"

namespace spherolux::media {

using namespace platform;

namespace {

constexpr float kDragGain = 5.0f;
constexpr int kTopStrip = 30;
constexpr int kBarHeight = 40;

}  // namespace

// The OpenGL window inside the control: hands its input to the control.
class VideoSurface : public QWindow {
 public:
  explicit VideoSurface(CVideoControl* control) : control_(control) {
    setSurfaceType(QSurface::OpenGLSurface);
    QSurfaceFormat format;
    format.setDepthBufferSize(16);
    setFormat(format);
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) control_->PointerPressed(event->position(), event->timestamp());
  }
  void mouseMoveEvent(QMouseEvent* event) override { control_->PointerMoved(event->position()); }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) control_->PointerReleased(event->position(), event->timestamp());
  }
  void wheelEvent(QWheelEvent* event) override {
    const int delta = event->angleDelta().y();
    if (delta != 0) control_->WheelTurned(delta);
  }
  // Keys go on to the control as a widget's key, and from there up to the window that holds
  // it, which looks them up in its input table.
  void keyPressEvent(QKeyEvent* event) override {
    QKeyEvent forwarded(event->type(), event->key(), event->modifiers(), event->text(), event->isAutoRepeat(),
                        static_cast<ushort>(event->count()));
    QCoreApplication::sendEvent(control_, &forwarded);
  }
  bool event(QEvent* event) override {
    switch (event->type()) {
      case QEvent::Leave:
        control_->PointerLeft();
        break;
      case QEvent::Expose:
        control_->SurfaceExposed();
        break;
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (drag->mimeData()->hasUrls()) drag->acceptProposedAction();
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        std::vector<std::string> paths = platform::LocalFilePaths(drop->mimeData()->urls());
        drop->acceptProposedAction();
        if (!paths.empty()) control_->FilesDropped(std::move(paths));
        return true;
      }
      default:
        break;
    }
    return QWindow::event(event);
  }

 private:
  CVideoControl* control_;
};

CVideoControl::CVideoControl(QWidget* parent) : MessageWindow(parent) {
  surface_ = new VideoSurface(this);
  container_ = QWidget::createWindowContainer(surface_, this);
  container_->setFocusPolicy(Qt::StrongFocus);
  container_->setAcceptDrops(true);
  setFocusPolicy(Qt::StrongFocus);
  setAcceptDrops(true);
  setMouseTracking(true);
  flat_ = new QLabel(this);
  flat_->setScaledContents(true);
  flat_->hide();
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);
  setAutoFillBackground(true);
}

CVideoControl::~CVideoControl() = default;

QWindow* CVideoControl::surface() const { return surface_; }

platform::MessageWindow* CVideoControl::Target() const {
  if (target_ != nullptr) return target_;
  for (QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
    if (auto* window = dynamic_cast<platform::MessageWindow*>(w)) return window;
  }
  return nullptr;
}

CVideoControl::LParam CVideoControl::SendToParent(unsigned message, WParam wparam, LParam lparam) {
  platform::MessageWindow* target = Target();
  return target != nullptr ? target->send(message, wparam, lparam) : 0;
}

CVideoControl::LParam CVideoControl::onMessage(unsigned msg, WParam w, LParam l) {
  switch (msg) {
    case kMsgFrameDrawn:
    case kMsgRecordSaved:
    case kMsgScreenshotSaved:
    case kMsgScreenshotFailed:
      return SendToParent(msg, w, l);
    default:
      return 0;
  }
}

void CVideoControl::SetRenderer(render::COpenglRender* renderer) {
  renderer_ = renderer;
  UpdateRendererSize();
}

float CVideoControl::Diagonal() const {
  const float w = static_cast<float>(width());
  const float h = static_cast<float>(height());
  return std::sqrt(w * w + h * h);
}

void CVideoControl::ShowFlatImage(const QImage& image) {
  flat_image_ = image;
  if (image.isNull()) {
    flat_->clear();
    flat_->hide();
    container_->show();
    return;
  }
  flat_->setPixmap(QPixmap::fromImage(image));
  flat_->setGeometry(rect());
  flat_->show();
  flat_->raise();
}

void CVideoControl::SendPair(unsigned message, float a, float b) {
  pair_[0] = a;
  pair_[1] = b;
  SendToParent(message, 0, reinterpret_cast<LParam>(pair_));
}

void CVideoControl::PointerPressed(QPointF pos, uint64_t time_ms) {
  dragging_ = true;
  last_ = press_ = pos;
  press_time_ = time_ms;
  SendToParent(kMsgVideoPress);
}

void CVideoControl::PointerMoved(QPointF pos) {
  if (platform::MessageWindow* target = Target()) {
    if (pos.y() < kTopStrip) target->post(kMsgPanelHover);
    if (pos.y() > kTopStrip && height() != kBarHeight && !container_->hasFocus()) container_->setFocus();
  }
  if (!dragging_) return;
  // Outside the control the drag is over, as if the pointer had left: no fling follows.
  if (!rect().contains(pos.toPoint())) {
    PointerLeft();
    return;
  }
  const float dx = static_cast<float>(last_.x() - pos.x()) * kDragGain;
  const float dy = static_cast<float>(pos.y() - last_.y()) * kDragGain;
  last_ = pos;
  SendPair(kMsgDrag, dx, dy);
}

void CVideoControl::PointerReleased(QPointF pos, uint64_t time_ms) {
  if (!dragging_) return;
  dragging_ = false;
  // A release in the millisecond of the press counts as one millisecond later.
  const uint64_t elapsed = time_ms > press_time_ ? time_ms - press_time_ : press_time_ - time_ms;
  const float dt = static_cast<float>(std::max<uint64_t>(elapsed, 1));
  const float vx = static_cast<float>(press_.x() - pos.x()) * 1000.0f / dt;
  const float vy = static_cast<float>(pos.y() - press_.y()) * 1000.0f / dt;
  SendPair(kMsgFling, vx, vy);
}

void CVideoControl::PointerLeft() { dragging_ = false; }

void CVideoControl::WheelTurned(int delta) {
  if (platform::MessageWindow* target = Target()) target->post(kMsgZoom, 0, -delta);
}

void CVideoControl::FilesDropped(std::vector<std::string> paths) {
  const DroppedFiles dropped{std::move(paths)};
  SendToParent(kMsgDropFiles, 0, reinterpret_cast<LParam>(&dropped));
}

void CVideoControl::SurfaceExposed() {
  if (renderer_ != nullptr) renderer_->Invalidate();
}

void CVideoControl::resizeEvent(QResizeEvent* event) {
  MessageWindow::resizeEvent(event);
  container_->setGeometry(rect());
  flat_->setGeometry(rect());
  UpdateRendererSize();
}

void CVideoControl::UpdateRendererSize() {
  if (renderer_ == nullptr) return;
  const qreal ratio = devicePixelRatioF();
  renderer_->SetWindowSize(static_cast<int>(width() * ratio), static_cast<int>(height() * ratio));
}

}  // namespace spherolux::media
