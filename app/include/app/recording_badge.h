// The sign that the view is being recorded: a red dot and the time recorded so far, over the
// picture. A native child window, so that it shows above the video's own GL window.
//
// UI thread only.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace spherolux::app {

class RecordingBadge final : public QWidget {
 public:
  explicit RecordingBadge(QWidget* parent);

  // Shows the badge counting from zero; Stop hides it.
  void Start();
  void Stop();
  // "Recording 00:01:05": the text shown, and what a screen reader reads.
  QString text() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Refresh();

  QElapsedTimer clock_;
  QTimer tick_;
};

}  // namespace spherolux::app
