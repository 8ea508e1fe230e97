// ReframePanel: the bar under the picture in which a user cuts a flat video out of the 360°
// video that plays. "Add keyframe" (key K) keeps the current view at the current time; while
// "Record path" is on, the views the user steers during playback become keyframes (few of
// them: reframe/keyframes.h); "Play path" makes the view follow the path. The strip at the top
// shows the keyframes over the video's length: a click on a mark goes there, a drag moves it
// in time, Delete removes it. The size of the flat video is one of four presets or a custom
// size; the path is saved and loaded as a view-path file (reframe/view_path.h); "Export…"
// hands a reframe job to the conversion service (its progress and time left in the strip's
// place, the button turned into Stop; a stopped job leaves nothing), at the converter's Medium
// quality over the whole video, with an output name picked as the converter picks one.
//
// The panel reads and steers the player's view through the renderer's current model; in the
// flat and layer views there is no view to take.
//
// Threads: the UI thread. The service's callbacks only post to the panel; the destructor
// stops a running export and waits for its end.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "reframe/keyframes.h"

class QComboBox;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTemporaryFile;
class QTimer;

namespace spherolux::convert {
class ConversionService;
}

namespace spherolux::media {
class CMediaPlayer;
}

namespace spherolux::app {

class KeyframeStrip;

class ReframePanel : public QWidget {
 public:
  static constexpr int kHeight = 64;

  // `player` gives the window's player; `service` runs the export (null: Export is disabled);
  // `close` is what the panel's close button asks of the window.
  ReframePanel(QWidget* parent, std::function<media::CMediaPlayer&()> player, convert::ConversionService* service,
               std::function<void()> close);
  ~ReframePanel() override;

  // The video now open (its keyframes are kept while the same file opens again) and the folder
  // exports go to.
  void SetFile(const std::string& path, const std::string& output_dir);
  // The video ended or closed: recording ends (its keyframes kept) and the path stops playing.
  void MediumEnded();
  // A keyframe of the view shown now; false when there is none (no picture, flat or layer view).
  bool AddKeyframe();
  void SetRecording(bool on);
  void SetPlayingPath(bool on);

  const reframe::KeyframeTrack& track() const { return track_; }
  bool recording() const;
  bool playingPath() const;
  // The size chosen for the flat video.
  int outputWidth() const;
  int outputHeight() const;
  bool exporting() const { return job_ != 0; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Tick();
  // The player's view now; false when it has none.
  bool ShownView(reframe::PlayerView* view, reframe::PlayerSphere* sphere) const;
  void ShowKey(const reframe::ViewKey& key);
  void JumpTo(int index);
  double Length() const;
  void FinishRecording();
  void SizeChosen(int index);
  void SavePath();
  void LoadPath();
  void Export();
  void ExportEnded(int result, bool stopped, const std::string& output);
  void Refresh();

  std::function<media::CMediaPlayer&()> player_;
  std::function<void()> close_request_;
  convert::ConversionService* service_;
  std::string path_;
  std::string output_dir_;
  reframe::KeyframeTrack track_;
  reframe::PathRecorder recorder_;

  KeyframeStrip* strip_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* record_ = nullptr;
  QPushButton* play_path_ = nullptr;
  QComboBox* size_ = nullptr;
  QSpinBox* width_ = nullptr;
  QSpinBox* height_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* load_ = nullptr;
  QPushButton* export_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* close_ = nullptr;
  QTimer* timer_ = nullptr;

  uint64_t job_ = 0;  // the running export, 0 for none
  std::unique_ptr<QTemporaryFile> job_path_;
};

}  // namespace spherolux::app
