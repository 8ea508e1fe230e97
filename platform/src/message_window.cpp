#include "platform/message_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimerEvent>

namespace spherolux::platform {

namespace {

// One registered event type carries every window message.
QEvent::Type MessageEventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

class MessageEvent : public QEvent {
 public:
  MessageEvent(unsigned msg, WParam w, LParam l) : QEvent(MessageEventType()), msg_(msg), w_(w), l_(l) {}
  unsigned msg_;
  WParam w_;
  LParam l_;
};

}  // namespace

MessageWindow::MessageWindow(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags) {}

MessageWindow::~MessageWindow() {
  if (modal_loop_ != nullptr) modal_loop_->exit(0);
}

void MessageWindow::post(unsigned msg, WParam w, LParam l) {
  QCoreApplication::postEvent(this, new MessageEvent(msg, w, l));
}

void MessageWindow::setTimer(unsigned id, int ms) {
  killTimer(id);
  const int qt_id = startTimer(ms);
  if (qt_id != 0) timers_[id] = qt_id;
}

void MessageWindow::killTimer(unsigned id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  QObject::killTimer(it->second);
  timers_.erase(it);
}

int MessageWindow::runModal() {
  if (modal_loop_ != nullptr) return -1;
  setWindowModality(Qt::ApplicationModal);
  show();
  QEventLoop loop;
  modal_loop_ = &loop;
  modal_result_ = 0;
  loop.exec(QEventLoop::DialogExec);
  modal_loop_ = nullptr;
  hide();
  setWindowModality(Qt::NonModal);
  return modal_result_;
}

void MessageWindow::endModal(int result) {
  modal_result_ = result;
  if (modal_loop_ != nullptr) modal_loop_->exit(result);
}

bool MessageWindow::event(QEvent* event) {
  if (event->type() == MessageEventType()) {
    const auto* message = static_cast<MessageEvent*>(event);
    onMessage(message->msg_, message->w_, message->l_);
    return true;
  }
  return QWidget::event(event);
}

void MessageWindow::timerEvent(QTimerEvent* event) {
  for (const auto& [id, qt_id] : timers_) {
    if (qt_id == event->timerId()) {
      onTimer(id);
      return;
    }
  }
  QWidget::timerEvent(event);
}

void MessageWindow::closeEvent(QCloseEvent* event) {
  // Ends a modal run with the result given so far (0 unless endModal set one).
  if (modal_loop_ != nullptr) modal_loop_->exit(modal_result_);
  QWidget::closeEvent(event);
}

}  // namespace spherolux::platform
