// The three bars of the player window: the caption bar (CCaptionDlg), the bottom control bar
// (CBOTTOMDLG) and the floating view-mode panel (CFloatDlg).
//
// The bars never act on the player: every button and slider posts a private message
// (platform/messages.h) to the bar's owner, the player window, which does the work; the owner
// tells the bars what to show through the setters below. Control ids are those of the bars'
// tables (CaptionId, BottomId, PanelId). UI thread only.
#pragma once

#include <QLabel>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/message_window.h"
#include "ui/bar_logic.h"
#include "ui/button_ex.h"

namespace spherolux::ui {

class CSliderCtrlEx;
class CSliderVolume;

// What a bar has in common: a background strip image, skinned buttons on it that turn clicks
// into posts to the owner, and posts when the pointer enters or leaves it.
class SkinnedBar : public platform::MessageWindow {
 public:
  CButtonEx* button(int control_id) const;
  platform::MessageWindow* owner() const { return owner_; }

 protected:
  // `owner` receives the posts; `parent` is the Qt parent (the owner for child bars, null for
  // a floating one). `hover_msg`/`leave_msg` are posted as the pointer enters and leaves (0:
  // none).
  SkinnedBar(platform::MessageWindow* owner, QWidget* parent, Qt::WindowFlags flags, int strip, unsigned hover_msg,
             unsigned leave_msg);

  // A button that posts (msg, w, l) to the owner when clicked (msg 0: none).
  CButtonEx* AddButton(int control_id, const ButtonImages& images, const QString& tooltip = {}, unsigned msg = 0,
                       platform::WParam w = 0, platform::LParam l = 0);
  // Moves a button; its background follows the strip under it.
  void Place(CButtonEx* button, int x, int y);
  // A click on a button (after the posts of its table entry). Subclasses add behaviour here.
  virtual void OnButton(int /*control_id*/) {}

  LParam onMessage(unsigned msg, WParam w, LParam l) override;
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  struct Post {
    unsigned msg;
    platform::WParam w;
    platform::LParam l;
  };
  platform::MessageWindow* owner_;
  int strip_;
  unsigned hover_msg_, leave_msg_;
  std::map<int, CButtonEx*> buttons_;
  std::map<int, Post> posts_;
};

// ---------------------------------------------------------------------------------------------
// Caption bar: title, window buttons, the panel toggle and view-mode buttons.
class CCaptionDlg : public SkinnedBar {
 public:
  enum CaptionId : int {
    kPalette = 1033,
    kMenu = 1048,
    kMinimise = 1064,
    kMaximise = 1065,
    kClose = 1066,
    kPanelToggle = 1151,
    kFlat = 1152,
    kSphere = 1153,
    kHalfBall = 1154,
    kInDome = 1155,
    kLayer = 1156,
    kDirection = 1157,
  };
  static constexpr int kHeight = 30;

  explicit CCaptionDlg(platform::MessageWindow* owner);

  void SetTitle(const QString& title);
  QString title() const;
  // Maximised (full screen): the restore image and tooltip; otherwise maximise.
  void SetMaximised(bool maximised);
  // The view-mode buttons that suit the file (PanelButtonsFor bits; 0 hides them all).
  void SetViewSet(unsigned panel_buttons);
  void SetActiveMode(int mode);
  void SetFlipped(bool flipped);
  void SetPanelShown(bool shown);
  // Lays out the buttons on the 30-pixel grid from the right edge.
  void Layout();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QLabel* title_;
  unsigned view_set_ = 0;
  QPoint press_;
  bool pressed_ = false;
};

// ---------------------------------------------------------------------------------------------
// Bottom bar: play, stop, next frame, the seek and volume sliders, the time labels, open and
// converter buttons.
class CBOTTOMDLG : public SkinnedBar {
 public:
  enum BottomId : int {
    kLoop = 1033,
    kPlay = 1048,
    kStop = 1067,
    kVolumeButton = 1005,
    kOpenFile = 1006,
    kConverter = 1007,
    kFlipper = 1008,
    kRewind = 1070,
    kForward = 1071,
    kNext = 1066,
    kBack = 1068,
    kVolumeSlider = 1043,
    kSeekSlider = 1069,
  };
  // wparam of the volume and seek posts.
  static constexpr platform::WParam kVolumeSource = 1021;
  static constexpr platform::WParam kSeekSource = 1020;
  static constexpr int kHeight = 55;

  explicit CBOTTOMDLG(platform::MessageWindow* owner);

  // Play shows the pause image while playing.
  void SetPlaying(bool playing);
  bool playing() const { return playing_; }
  // Position of the seek slider in percent (ignored while the user drags it).
  void SetPosition(int percent);
  void SetTime(int64_t ms);
  void SetTotalTime(int64_t ms);
  // Medium open: stop, next frame and seeking work; otherwise they are disabled.
  void SetMediumOpen(bool open);
  void SetConverterAvailable(bool available);
  bool muted() const { return muted_; }
  // Shows the muted or sounding look and posts kMsgMute; moving the volume slider unmutes.
  void SetMuted(bool muted);
  CSliderCtrlEx* seekSlider() const { return seek_; }
  CSliderVolume* volumeSlider() const { return volume_; }
  QString timeText() const;
  QString totalText() const;
  void Layout();

 protected:
  LParam onMessage(unsigned msg, WParam w, LParam l) override;
  void OnButton(int control_id) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  CSliderCtrlEx* seek_;
  CSliderVolume* volume_;
  QLabel* time_;
  QLabel* total_;
  int64_t total_ms_ = 0;
  bool playing_ = false;
  bool muted_ = false;
  bool converter_available_ = true;
};

// ---------------------------------------------------------------------------------------------
// Facts about a file that the floating panel needs: the camera type (1 single lens, 2 dual lens,
// 512 stitched by a camera, 0 none) and the frame size. The player window provides them.
class MediaFacts {
 public:
  virtual ~MediaFacts() = default;
  virtual int CameraType(const std::string& path) = 0;
  // False when the size is unknown.
  virtual bool FrameSize(const std::string& path, bool is_photo, int* width, int* height) = 0;
};

// Floating view-mode panel: a borderless window laid over the top of the video.
class CFloatDlg : public SkinnedBar {
 public:
  enum PanelId : int {
    kSphere = 1152,
    kTile = 1006,
    kPlanet = 1007,
    kHalfBall = 1150,
    kInDome = 1066,
    kLayer = 1151,
    kDirection = 1048,
    kReset = 1005,
    kSnapshot = 1033,
    kRecord = 1008,
    kConverter = 1149,
  };
  static constexpr int kHeight = 30;
  static constexpr unsigned kBlinkTimer = 4;
  static constexpr int kBlinkMs = 500;

  // `facts` outlives the panel. `clock` gives milliseconds of a monotonic clock (tests pass
  // their own).
  CFloatDlg(platform::MessageWindow* owner, MediaFacts* facts, std::function<int64_t()> clock = {});

  // The file the player window opened: shows the buttons that suit it.
  void SetFile(const std::string& path);
  unsigned visibleButtons() const { return visible_; }
  // Back to the state of nothing open: no buttons, not recording.
  void Reset();
  void SetActiveMode(int mode);
  void SetFlipped(bool flipped);
  // The window's flag that turns recording off altogether.
  void SetRecordingDisabled(bool disabled);
  // The recorder started or stopped (whoever asked).
  void SetRecording(bool recording);
  bool recording() const { return rule_.recording(); }
  void SetConverterAvailable(bool available);
  void Layout();

 protected:
  void OnButton(int control_id) override;
  void onTimer(unsigned id) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ShowRecordLook();

  MediaFacts* facts_;
  std::function<int64_t()> clock_;
  RecordButtonRule rule_;
  unsigned visible_ = 0;
  bool blink_phase_ = false;
  bool converter_available_ = true;
};

}  // namespace spherolux::ui
