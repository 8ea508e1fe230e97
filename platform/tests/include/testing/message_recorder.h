// Test support for code that talks in window messages: a window that records what it receives,
// and an event pump with a deadline.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <vector>

#include "platform/message_window.h"

namespace spherolux::testing {

struct Message {
  unsigned msg;
  platform::WParam w;
  platform::LParam l;
  bool operator==(const Message&) const = default;
};

class MessageRecorder : public platform::MessageWindow {
 public:
  std::vector<Message> received;

  // Delivers what was posted to this window and returns it, clearing the record.
  std::vector<Message> Take() {
    QCoreApplication::sendPostedEvents(this);
    std::vector<Message> out;
    out.swap(received);
    return out;
  }
  int Count(unsigned msg) const {
    return static_cast<int>(
        std::count_if(received.begin(), received.end(), [&](const Message& m) { return m.msg == msg; }));
  }

 protected:
  platform::LParam onMessage(unsigned msg, platform::WParam w, platform::LParam l) override {
    received.push_back({msg, w, l});
    return 0;
  }
};

// Runs the event loop until `done()` or `timeout_ms` passed; returns done().
template <typename Pred>
bool PumpUntil(Pred done, int timeout_ms = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeout_ms) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace spherolux::testing
