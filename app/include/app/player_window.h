// CVideoPlayerDlg: the program's main window. A borderless, skinned window that hosts the video
// area and three bars and owns the player. What the user asks of the player (keys, the context
// menu, the bars' buttons) goes to the command core (player/player_core.h) by command; the
// window implements the core's Host: what it shows and what only a window can do (the open
// dialog, full screen, screenshots and recordings of the view, the converter).
//
// The bars and the video area post (or, for drags, send) the message numbers of
// platform/messages.h to onMessage, which forwards commands to the core and handles the
// engine's events. The reframe panel opens under the picture, which gives it room. Four
// timers drive the time display (2), the hiding of the bars in full screen (3), the hiding of
// the floating panel (4) and the refreshing of a photo (5).
//
// Work that other parts of the program do is plugged in: the converter dialog and the screen
// recorder (SetConverter, SetScreenRecorder). Without them their buttons are hidden or
// disabled.
//
// Threads: the UI thread only. The player's notify callback, called on engine and worker
// threads, only posts to the window.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/mpris.h"
#include "platform/message_window.h"
#include "player/player_core.h"
#include "ui/bars.h"
#include "ui/settings.h"
#include "ui/strings.h"

class QLabel;
class QTimer;

namespace spherolux::convert {
class ConversionService;
}

namespace spherolux::media {
class CMediaPlayer;
class CVideoControl;
class PlayerEngine;
}  // namespace spherolux::media

namespace spherolux::platform {
class EdgeResizer;
}

namespace spherolux::app {

class CDlgSetLanguage;
class RecordingBadge;
class ReframePanel;

// The screen recorder as the window drives it. Start returns false when recording could not
// begin. Stop returns true when the file was finished, and the recorder then posts
// kMsgRecordSaved to the window; false when nothing was recorded (no file is left) or the file
// could not be finished (the recorder posts kMsgRecordFailed and failure() says why).
class ScreenRecorder {
 public:
  virtual ~ScreenRecorder() = default;
  virtual bool Start(const std::string& source, const std::string& output, int64_t time_ms) = 0;
  virtual bool Stop() = 0;
  enum class Failure { kNone, kDiskFull, kFileGone, kWriteError };
  // Why the current or last recording could not be saved.
  virtual Failure failure() const = 0;
};

// Opens the converter for `path` (empty: none), runs it modally and returns when it closes.
using ConverterLauncher = std::function<void(const std::string& path, bool is_photo)>;

struct WindowOptions {
  ui::Environment environment = ui::Environment::FromProcess();
  // Starts the program again after a language change, with `arguments` that open the file
  // that was open where it was (none when nothing was open); true when it started.
  std::function<bool(const std::vector<std::string>& arguments)> restart;
  // Where the media engine is loaded from (tests); the system's libvlc by default.
  const char* vlc_library = nullptr;
  // The process's conversion service (stream-record remuxes); it outlives the window.
  convert::ConversionService* service = nullptr;
};

class CVideoPlayerDlg : public platform::MessageWindow,
                        public ui::MediaFacts,
                        public MprisSource,
                        private player::Host {
 public:
  enum Timer : unsigned { kTimerTime = 2, kTimerBars = 3, kTimerPanel = 4, kTimerPhoto = 5 };
  static constexpr int kWidth = 1024;
  static constexpr int kHeight = 597;
  static constexpr int kEdgeBand = 5;

  explicit CVideoPlayerDlg(WindowOptions options = {});
  ~CVideoPlayerDlg() override;

  // Opens the first of `paths` as a dropped file is opened; a video then starts `start_ms`
  // into it.
  void OpenDropped(const std::vector<std::string>& paths, int64_t start_ms = 0);
  // The files of the command line: opened as OpenDropped does once the window's first picture
  // is on the screen, so that probing the file, loading the media engine and starting OpenGL
  // do not hold the window back. Opened at once when the window has already been painted.
  void OpenOnceShown(std::vector<std::string> paths, int64_t start_ms = 0);
  // The command-line arguments that open the current file again where it is now:
  // "--start=SECONDS" for a video and the path; none when nothing is open.
  std::vector<std::string> ReopenArguments();
  void SetConverter(ConverterLauncher launcher);
  void SetScreenRecorder(ScreenRecorder* recorder);

  // Layout (window coordinates); the floating panel's in screen coordinates.
  QRect VideoRect() const;
  QRect CaptionRect() const;
  QRect BottomRect() const;
  QRect PanelRect() const;

  ui::CCaptionDlg* caption() const { return caption_; }
  ui::CBOTTOMDLG* bottom() const { return bottom_; }
  ui::CFloatDlg* panel() const { return panel_; }
  CDlgSetLanguage* languageDialog() const { return language_; }
  RecordingBadge* recordingBadge() const { return recording_badge_; }
  // The notice, once per video, that the decoder cannot keep up with it (hidden otherwise).
  QLabel* playbackNotice() const { return playback_notice_; }
  // The reframe panel, under the picture while it is open (reframe_panel.h).
  ReframePanel* reframePanel() const { return reframe_; }
  bool reframeOpen() const { return reframe_open_; }
  media::CVideoControl* video() const { return video_; }
  // The player, made on first use (or right after the window's first paint).
  media::CMediaPlayer& Player();
  media::CMediaPlayer* player() { return &Player(); }
  player::PlayerCore& core() { return *core_; }
  const std::string& currentPath() const { return current_path_; }
  const std::string& outputDir() const { return output_dir_; }
  bool isPhoto() const { return is_photo_; }
  bool refused() const { return refused_; }
  bool fullScreen() const override { return full_screen_; }
  int rotation() const { return core_->rotation(); }
  int position() const { return position_; }
  bool screenRecording() const { return screen_recording_; }
  const std::string& screenshotPath() const { return screenshot_path_; }

  // ui::MediaFacts: what the player learnt of the file it opened.
  int CameraType(const std::string& path) override;
  bool FrameSize(const std::string& path, bool is_photo, int* width, int* height) override;

  // MprisSource: the desktop's player controls, through the same paths as the bars' buttons.
  MprisStatus RemoteStatus() override;
  void RemoteCommand(MprisCommand command, double value) override;
  void RemoteOpen(const std::string& path) override;

 protected:
  LParam onMessage(unsigned msg, WParam w, LParam l) override;
  void onTimer(unsigned id) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Layout();
  void SetCurrentPath(std::string path);
  // player::Host
  player::Situation situation() const override;
  void Reopen() override;
  void OpenFile() override;
  void Screenshot() override;
  void ScreenRecord() override;
  void FullScreen(bool on) override;
  void Converter() override;
  void Language() override;
  void Quit() override;
  void Changed(const player::Command& command) override;
  void AddKeyframe() override;
  void Reframe() override;
  bool showing() const override { return HasMedium() || PhotoShown(); }
  void Close() override;
  void Refused(int reason) override;
  void OpenFailed() override;
  void Started(bool photo) override;
  void PlaybackChanged(player::Playback what, int64_t value) override;

  // Runs a command of the bars' buttons, the menu or the keys.
  void Run(const char* command);
  void TogglePanel();
  void OpenCurrent();
  void EndOfMedia();
  void OnEngineEvent(WParam code, LParam l);
  void ShowPanelIfSuitable();
  void StartScreenRecording();
  // Tells the user when the recording caught nothing, unless `quietly` (the window closes).
  void StopScreenRecording(bool quietly = false);
  void ReportRecordingFailure();
  void SetMediumLook(bool open);
  void ShowContextMenu(const QPoint& global);
  bool HasMedium() const;
  bool PhotoShown() const;
  bool PlayingOrPaused() const;
  void InstallKeys();

  WindowOptions options_;
  media::CVideoControl* video_ = nullptr;
  std::unique_ptr<media::CMediaPlayer> player_;
  std::unique_ptr<media::PlayerEngine> engine_;
  std::unique_ptr<player::PlayerCore> core_;
  bool player_scheduled_ = false;
  std::vector<std::string> startup_files_;  // waiting for the first paint
  int64_t startup_start_ms_ = 0;
  int64_t start_ms_ = 0;  // where the video being opened starts; 0 once it has
  ui::CCaptionDlg* caption_ = nullptr;
  ui::CBOTTOMDLG* bottom_ = nullptr;
  ui::CFloatDlg* panel_ = nullptr;
  CDlgSetLanguage* language_ = nullptr;
  RecordingBadge* recording_badge_ = nullptr;
  QLabel* playback_notice_ = nullptr;
  QTimer* playback_notice_timer_ = nullptr;
  ReframePanel* reframe_ = nullptr;
  bool reframe_open_ = false;
  platform::EdgeResizer* resizer_ = nullptr;

  std::string current_path_;
  bool is_photo_ = false;
  bool refused_ = false;
  std::string output_dir_;
  std::string screenshot_path_;
  std::string screen_record_path_;
  bool full_screen_ = false;
  QRect normal_geometry_;
  bool seeking_ = false;
  int position_ = 0;
  int theme_ = 2;
  bool screen_recording_ = false;
  bool converter_open_ = false;

  ConverterLauncher converter_;
  ScreenRecorder* recorder_ = nullptr;
};

}  // namespace spherolux::app
