// MessageWindow: a Qt widget that talks in numbered window messages, as the bars, dialogs and
// the player window of this program do.
//
// A message is (number, wparam, lparam). post() queues it to the window's thread and returns at
// once; send() calls the handler directly and returns its result. Every message, posted or
// sent, reaches the one virtual onMessage(). Timers are numbered per window: setTimer(id, ms)
// starts or restarts timer `id`, killTimer(id) stops it, and each period calls onTimer(id).
// runModal() shows the window and returns when endModal() is called (or the window closes),
// while the rest of the program keeps receiving messages.
//
// Threads. A MessageWindow belongs to the thread that creates it (the UI thread). post() may be
// called from any thread as long as the window outlives the call; everything else, including
// send(), only on the UI thread. Worker threads post; they never send and never wait for the UI.
//
// Messages posted to a window that is destroyed before they are delivered are dropped.
#pragma once

#include <QEventLoop>
#include <QWidget>
#include <cstdint>
#include <map>

namespace spherolux::platform {

using WParam = uintptr_t;
using LParam = intptr_t;

// First number of the program's private messages; private messages are kWmUser + n.
constexpr unsigned kWmUser = 0x400;
// A scroll notification from a slider to the window it sits on: wparam holds the code in the
// low 16 bits and the position in the high 16 bits; lparam is the slider's control id.
constexpr unsigned kWmHScroll = 0x0114;
constexpr unsigned kSbThumbPosition = 4;
constexpr unsigned kSbThumbTrack = 5;

constexpr WParam MakeWParam(unsigned low, unsigned high) {
  return static_cast<WParam>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}
constexpr unsigned LowWord(WParam w) { return static_cast<unsigned>(w & 0xFFFFu); }
constexpr unsigned HighWord(WParam w) { return static_cast<unsigned>((w >> 16) & 0xFFFFu); }

class MessageWindow : public QWidget {
 public:
  using WParam = platform::WParam;
  using LParam = platform::LParam;

  explicit MessageWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
  ~MessageWindow() override;

  // Queues the message for onMessage on the window's thread. Any thread.
  void post(unsigned msg, WParam w = 0, LParam l = 0);
  // Calls onMessage now and returns its result. UI thread only.
  LParam send(unsigned msg, WParam w = 0, LParam l = 0) { return onMessage(msg, w, l); }

  // Starts timer `id` with the period `ms` (replacing a running timer of that id).
  void setTimer(unsigned id, int ms);
  void killTimer(unsigned id);
  bool timerRunning(unsigned id) const { return timers_.count(id) != 0; }

  // Shows the window modally (application modal) and returns the value given to endModal.
  // Closing the window ends it with 0 (or the value a close handler gave endModal).
  int runModal();
  void endModal(int result);
  bool inModal() const { return modal_loop_ != nullptr; }

 protected:
  // The window's dispatch: every posted and sent message. Returns the message's result.
  virtual LParam onMessage(unsigned msg, WParam w, LParam l) = 0;
  virtual void onTimer(unsigned /*id*/) {}

  bool event(QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  std::map<unsigned, int> timers_;  // our id -> Qt timer id
  QEventLoop* modal_loop_ = nullptr;
  int modal_result_ = 0;
};

}  // namespace spherolux::platform
