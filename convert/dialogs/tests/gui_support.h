// Support for the dialogs' tests under a real X server: camera files made by camgen, a
// settings folder of their own, the program's message boxes answered as a user would,
// waiting on the event loop, and screenshots of what is on the screen.
#pragma once

#include <QImage>
#include <QTimer>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "camera_files.h"
#include "dialogs/dialog_options.h"
#include "testsupport/testsupport.h"

class QWidget;

namespace spherolux::dialogs {
class CRangeSlider;
}

namespace spherolux::dialogs::testing {

// A scratch folder with test media, a home and a settings folder; removed with the object.
class Scratch {
 public:
  Scratch() : dir_("dialogs-test") {}

  const std::string& dir() const { return dir_.path(); }
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  // The settings and output folders of the dialogs live under this folder; the engine is the
  // one in the build.
  DialogOptions Options() const;
  // The output directory the dialogs use by default ($HOME/Videos/SPHEROLUX Video Converter/).
  std::string OutputDir() const;

  // spherolux-camgen video NAME ARGS / photo NAME ARGS; the path of the file.
  std::string Video(const std::string& name, const std::string& args);
  std::string Photo(const std::string& name, const std::string& args);

 private:
  testsupport::TempDir dir_;
};

// Answers the program's message boxes (ui::MessageBox) while it waits for one: the queued
// answers first, then `fallback`. Every text and caption seen is kept.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(int fallback);
  void Queue(int answer) { queue_.push_back(answer); }
  std::vector<std::string> texts;
  std::vector<std::string> captions;

 private:
  void Look();
  int fallback_;
  std::deque<int> queue_;
  QTimer timer_;
};

// Runs the event loop until `done` holds; false after `timeout_ms` (PumpUntil of
// testing/message_recorder.h with a longer default wait, as files are made and converted).
bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 20000);
// Runs the event loop for `ms`.
void Pump(int ms);

// A thumb of the range slider dragged with the left button from x = `from` to `to`.
void DragThumb(CRangeSlider* slider, int from, int to);

// What the screen shows where `widget` is (GL surfaces included).
QImage ScreenShot(QWidget* widget);
// The share of sampled pixels brighter than a dark grey (0 for a black picture).
double LitShare(const QImage& image);
// The share of sampled pixels of two pictures of one size whose colours differ clearly.
double ChangedShare(const QImage& a, const QImage& b);
// Writes the screenshot to $SPHEROLUX_SHOTS/NAME.png when that variable is set (after the
// window had time to paint).
void KeepScreenShot(QWidget* widget, const std::string& name);

}  // namespace spherolux::dialogs::testing
