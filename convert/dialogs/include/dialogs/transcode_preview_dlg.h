// CTranscodePreviewDlg: the trim preview inside the converter. It plays the chosen file in
// its own panoramic player (drag to turn, release to coast, wheel to zoom, as in the main
// window) and lets the user select the part of a video to convert with a two-thumb range
// slider. The first playback pauses on the first frame once the length is known; playing
// into the end of the selection pauses and goes back to its start. Photos are shown
// without a range.
//
// The rules are TrimPreviewModel's (dialogs/trim_preview_model.h); this window turns the
// player's events and the slider's notifications into them and carries out their steps as
// posted messages: kMsgPlayPause toggles, kMsgSeek seeks, kMsgEngineEvent carries the
// player's events (the player's notify callback posts them from the engine's threads).
// A change of the range posts kMsgRangeChanged to the parent window; files dropped on the
// picture are sent to it as kMsgDropFiles. The engine draws a video only when a picture is
// due, so a paused picture that another window covered is sought to again once uncovered.
//
// UI thread only. The player is destroyed before the window it draws into.
#pragma once

#include <QLabel>
#include <memory>
#include <string>

#include "dialogs/range_slider.h"
#include "dialogs/trim_preview_model.h"
#include "platform/message_window.h"
#include "player/player_core.h"

namespace spherolux::media {
class CMediaPlayer;
class CVideoControl;
class PlayerEngine;
}  // namespace spherolux::media

namespace spherolux::ui {
class CButtonEx;
}

namespace spherolux::dialogs {

class CTranscodePreviewDlg : public platform::MessageWindow, private player::Host {
 public:
  enum ControlId : int { kVideoArea = 1098, kPlayPause = 1033, kStopButton = 1048, kStartTime = 1099, kEndTime = 1100 };
  enum Timer : unsigned { kTimerMarker = 1, kTimerPhoto = 5, kTimerFirstFrame = 6, kTimerRedraw = 7 };
  static constexpr int kMarkerMs = 250;
  static constexpr int kPhotoRefreshMs = 20;
  // How long the first-play pause waits for the first picture to be drawn.
  static constexpr int kFirstFrameWaitMs = 1500;
  // A paused picture that was covered is drawn again this long after the last uncovering.
  static constexpr int kRedrawMs = 50;

  explicit CTranscodePreviewDlg(QWidget* parent);
  ~CTranscodePreviewDlg() override;

  // Shows `path` (a photo when `photo`), stopping what was shown before, with the range
  // `low`-`high` percent selected.
  void Load(const std::string& path, bool photo, int low = 0, int high = 100);

  // Turns the picture by 0, 90, 180 or 270 degrees, as the converter's rotation will; kept
  // for the files shown later.
  void SetRotation(int degrees);

  // What the converter reads when a job starts.
  int range_low() const { return model_.range_low(); }
  int range_high() const { return model_.range_high(); }
  int64_t media_length_ms() const { return model_.media_length_ms(); }
  // The OpenGL major version the player found on the video area.
  int gl_major_version() const;

  const TrimPreviewModel& model() const { return model_; }
  media::CMediaPlayer* player() const { return player_.get(); }
  media::CVideoControl* video() const { return video_; }
  CRangeSlider* rangeSlider() const { return range_; }
  ui::CButtonEx* playButton() const { return play_; }
  QLabel* startLabel() const { return start_label_; }
  QLabel* endLabel() const { return end_label_; }

  // The layout for a client size (the rectangles of the video area, range slider, play
  // button and the two time labels).
  struct Layout {
    QRect video, range, play, start, end;
  };
  static Layout LayoutFor(QSize client);

 protected:
  LParam onMessage(unsigned msg, WParam w, LParam l) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void onTimer(unsigned id) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // The keys the input table binds for the trim preview (turning and zooming the view).
  void keyPressEvent(QKeyEvent* event) override;

 private:
  player::Situation situation() const override;
  // Opening through the core (ProbeAndOpen): the preview's own reactions.
  void Refused(int reason) override;
  void OpenFailed() override;
  void Started(bool photo) override;
  void Carry(const PreviewSteps& steps);
  void TogglePlay();
  void ProbeAndOpen();
  void OnEngineEvent(WParam code, LParam l);
  void OnStopped(bool end_of_media);
  void ShowPauseImage(bool pause);
  void ShowLabels();
  void CarryFirstFramePause();
  void RedrawPausedPicture();

  TrimPreviewModel model_;
  media::CVideoControl* video_ = nullptr;
  std::unique_ptr<media::CMediaPlayer> player_;
  std::unique_ptr<media::PlayerEngine> engine_;
  std::unique_ptr<player::PlayerCore> core_;
  CRangeSlider* range_ = nullptr;
  ui::CButtonEx* play_ = nullptr;
  ui::CButtonEx* stop_ = nullptr;
  QLabel* start_label_ = nullptr;
  QLabel* end_label_ = nullptr;
  // The first-play pause waits until the first picture is drawn, so that it stays visible.
  PreviewSteps first_frame_pause_;
  uint64_t frames_at_open_ = 0;
  int rotation_ = 0;
};

}  // namespace spherolux::dialogs
