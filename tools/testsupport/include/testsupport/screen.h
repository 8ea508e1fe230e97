// The X screen as end-to-end tests see it: what it shows, real input through xdotool, and
// waiting for something to appear. Needs a QGuiApplication on the display under test.
//
// For tests only; call from the test's own (UI) thread.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QRect>
#include <QThread>
#include <string>

namespace spherolux::testsupport {

// The whole screen, as 32-bit RGB.
QImage Screen();

// Runs `xdotool ARGS` and waits for it.
void Xdotool(const std::string& args);
// Moves the pointer to (x, y) and clicks the left button there.
void ClickAt(int x, int y);

// Share of the pixels of `area` (every fourth row and column) brighter than a dark window.
double LitShare(const QImage& image, const QRect& area);

// Polls `done` every 100 ms until it holds (true) or `timeout_ms` passed (false).
template <typename Pred>
bool WaitFor(Pred done, int timeout_ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeout_ms) return false;
    QThread::msleep(100);
  }
  return true;
}

}  // namespace spherolux::testsupport
