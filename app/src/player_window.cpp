#include "app/player_window.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "app/keys.h"
#include "app/language_dialog.h"
#include "app/recording_badge.h"
#include "app/reframe_panel.h"
#include "base/log.h"
#include "media/media_player.h"
#include "media/player_input.h"
#include "media/video_control.h"
#include "platform/file_urls.h"
#include "platform/messages.h"
#include "platform/window_frame.h"
#include "player/input_table.h"
#include "render/opengl_render.h"
#include "render/render_hooks.h"
#include "ui/menu.h"
#include "ui/skin.h"
#include "ui/skinned_dialog.h"
#include "ui/slider_ex.h"

namespace spherolux::app {

namespace msg = platform;
// The renderer and the recorder post their own numbers; the window's table must agree.
static_assert(msg::kMsgFrameDrawn == render::kMsgFrameDrawn && msg::kMsgRecordSaved == render::kMsgRecordSaved &&
              msg::kMsgScreenshotSaved == render::kMsgScreenshotSaved &&
              msg::kMsgRecordFailed == render::kMsgRecordFailed &&
              msg::kMsgScreenshotFailed == render::kMsgScreenshotFailed);
using ui::LoadString;

namespace {

// Names of the files the window writes into the output directory, by the local time; a name
// already taken gets "_2", "_3", ... so that nothing is overwritten.
std::string TimedName(const std::string& dir, const char* prefix, const char* extension) {
  const QDateTime now = QDateTime::currentDateTime();
  const std::string stem = prefix + now.toString("yyyy-MM-dd-HH-mm-ss").toStdString();  // %d-%02d-%02d-%02d-%02d-%02d
  std::string path = ui::JoinPath(dir, stem + extension);
  std::error_code ec;
  for (int n = 2; std::filesystem::exists(path, ec); ++n) {
    path = ui::JoinPath(dir, stem + "_" + std::to_string(n) + extension);
  }
  return path;
}

// "%s: %s" of a text and a path, as the completion boxes show it.
QString Saved(int text_id, const std::string& path) {
  return Text(text_id) + ui::LabelColon(": ") + QString::fromStdString(path);
}

}  // namespace

CVideoPlayerDlg::CVideoPlayerDlg(WindowOptions options)
    : MessageWindow(nullptr, Qt::Window | Qt::FramelessWindowHint), options_(std::move(options)) {
  setObjectName("playerWindow");
  setWindowTitle(Text(ui::kStrAppTitle));
  setWindowIcon(QIcon(QPixmap::fromImage(ui::LoadSkinImage(ui::kImgAppIcon))));
  setMinimumSize(kWidth, kHeight);
  setGeometry(0, 0, kWidth, kHeight);
  setMouseTracking(true);
  setAcceptDrops(true);
  setFont(ui::SkinFont(14));

  // The video area and its player. The surface needs its native window before the player reads
  // the driver's OpenGL version on it.
  video_ = new media::CVideoControl(this);
  video_->SetTarget(this);
  video_->winId();
  video_->hide();
  video_->installEventFilter(this);
  if (QWindow* surface = video_->surface()) surface->installEventFilter(this);

  caption_ = new ui::CCaptionDlg(this);
  bottom_ = new ui::CBOTTOMDLG(this);
  panel_ = new ui::CFloatDlg(this, this);
  panel_->hide();
  recording_badge_ = new RecordingBadge(this);
  // Over the picture: a native child window, as the video's own window is.
  playback_notice_ = new QLabel(Text(ui::kStrTooLargeToPlay), this);
  playback_notice_->setObjectName("playbackNotice");
  playback_notice_->setAttribute(Qt::WA_NativeWindow);
  playback_notice_->setAttribute(Qt::WA_TransparentForMouseEvents);
  playback_notice_->setFont(ui::SkinFont(14));
  playback_notice_->setWordWrap(true);
  playback_notice_->setAlignment(Qt::AlignCenter);
  playback_notice_->setStyleSheet("QLabel { background: #202226; color: #ffffff; padding: 8px 14px; }");
  playback_notice_->hide();
  playback_notice_timer_ = new QTimer(this);
  playback_notice_timer_->setSingleShot(true);
  playback_notice_timer_->setInterval(10000);
  connect(playback_notice_timer_, &QTimer::timeout, playback_notice_, &QWidget::hide);
  reframe_ = new ReframePanel(
      this, [this]() -> media::CMediaPlayer& { return Player(); }, options_.service, [this] { Run("reframe"); });
  reframe_->hide();
  language_ = new CDlgSetLanguage(this, ui::LanguageFilePath(options_.environment), ui::UiLanguage(),
                                  [this] { return options_.restart && options_.restart(ReopenArguments()); });
  language_->hide();
  resizer_ = new platform::EdgeResizer(this, kEdgeBand);

  // The settings give the folder for screenshots and recordings (used even when it is missing:
  // writing into it then reports the failure).
  output_dir_ = ui::LoadOutputDir(options_.environment).path;

  engine_ = std::make_unique<media::PlayerEngine>([this]() -> media::CMediaPlayer& { return Player(); }, *video_);
  core_ = std::make_unique<player::PlayerCore>(*engine_, static_cast<player::Host&>(*this));
  SetConverter(nullptr);
  SetScreenRecorder(nullptr);
  SetCurrentPath({});
  SetMediumLook(false);
  InstallKeys();
  Layout();
}

media::CMediaPlayer& CVideoPlayerDlg::Player() {
  if (player_ != nullptr) return *player_;
  player_ = options_.vlc_library != nullptr ? std::make_unique<media::CMediaPlayer>(video_, options_.vlc_library)
                                            : std::make_unique<media::CMediaPlayer>(video_);
  // Engine and worker threads: post only. The window outlives the player.
  player_->SetNotify([this](int code, uintptr_t wparam, intptr_t lparam) {
    // Playback events carry the open they belong to (the core drops those of an earlier one).
    const uint32_t opened = core_->open_number();
    switch (code) {
      case msg::kNotifyPosition:  // the position comes in wparam; the window reads lparam
        post(msg::kMsgMediaEvent, msg::MediaEventParam(code, opened), static_cast<LParam>(wparam));
        break;
      case msg::kNotifyEnd:
      case msg::kNotifyPaused:
      case msg::kNotifyPlaying:
        post(msg::kMsgMediaEvent, msg::MediaEventParam(code, opened), lparam);
        break;
      case media::kNotifySnapshot:  // its result comes in wparam; the window reads lparam
        post(msg::kMsgEngineEvent, static_cast<WParam>(code), static_cast<LParam>(wparam));
        break;
      default:
        post(msg::kMsgEngineEvent, static_cast<WParam>(code), lparam);
        break;
    }
  });
  player_->SetPlainPlaybackQuestion(
      [this] { return ui::MessageBox(this, Text(ui::kStrNoGl2PlayFlat), {}, ui::BoxButtons::kOkCancel) == ui::kIdOk; });
  player_->SetOutputDirectory(output_dir_);
  player_->SetConversionService(options_.service);
  return *player_;
}

CVideoPlayerDlg::~CVideoPlayerDlg() {
  // The player stops the decoder's thread before the video area it draws into goes away, and
  // before the core its events read their open number from.
  player_.reset();
  core_.reset();
  engine_.reset();
}

// ---------------------------------------------------------------------------------------------
// Layout

QRect CVideoPlayerDlg::VideoRect() const {
  return QRect(0, 30, width(), height() - 85 - (reframe_open_ ? ReframePanel::kHeight : 0));
}
QRect CVideoPlayerDlg::CaptionRect() const { return QRect(1, 1, width() - 2, ui::CCaptionDlg::kHeight); }
QRect CVideoPlayerDlg::BottomRect() const { return QRect(1, height() - 56, width() - 2, ui::CBOTTOMDLG::kHeight); }
QRect CVideoPlayerDlg::PanelRect() const {
  const QRect frame = frameGeometry();
  return QRect(frame.left(), frame.top() + 29, frame.width(), ui::CFloatDlg::kHeight);
}

void CVideoPlayerDlg::Layout() {
  video_->setGeometry(VideoRect());
  caption_->setGeometry(CaptionRect());
  bottom_->setGeometry(BottomRect());
  reframe_->setGeometry(0, VideoRect().bottom() + 1, width(), ReframePanel::kHeight);
  if (panel_->isVisible()) panel_->setGeometry(PanelRect());
  // Top left of the picture, below where the floating panel shows.
  recording_badge_->move(VideoRect().topLeft() + QPoint(12, ui::CFloatDlg::kHeight + 10));
  // The notice across the middle of the picture's top, at most 560 pixels wide.
  const QRect video = VideoRect();
  const int notice_width = std::min(560, video.width() - 24);
  playback_notice_->setFixedWidth(std::max(notice_width, 1));
  playback_notice_->adjustSize();
  playback_notice_->move(video.left() + (video.width() - playback_notice_->width()) / 2,
                         video.top() + ui::CFloatDlg::kHeight + 10);
  update();
}

void CVideoPlayerDlg::resizeEvent(QResizeEvent* event) {
  Layout();
  MessageWindow::resizeEvent(event);
}

void CVideoPlayerDlg::moveEvent(QMoveEvent* event) {
  if (panel_->isVisible()) panel_->setGeometry(PanelRect());
  MessageWindow::moveEvent(event);
}

void CVideoPlayerDlg::paintEvent(QPaintEvent*) {
  // The player and the files of the command line come after the first picture of the window:
  // making the player reads the driver's OpenGL version and loads the media engine, opening
  // a file loads MediaInfo and probes it, and either would hold the window back.
  if (player_ == nullptr && !player_scheduled_) {
    player_scheduled_ = true;
    QTimer::singleShot(0, this, [this] {
      Player();
      if (!startup_files_.empty()) OpenDropped(std::exchange(startup_files_, {}), startup_start_ms_);
    });
  }
  QPainter painter(this);
  painter.fillRect(rect(), QColor(ui::skin_color::kWindow));
  if (video_->isVisible()) return;
  // The idle picture between the caption (30 pixels) and the bottom bar (49 pixels): the logo,
  // the name and how to open a file.
  const QRect area(0, 30, width(), height() - 30 - 49);
  painter.setRenderHint(QPainter::Antialiasing);
  const int logo = std::min(112, area.height() / 3);
  const int block = logo + 22 + 30 + 16 + 22 + 8 + 20;
  int y = area.top() + (area.height() - block) / 2;
  ui::DrawSkinImage(painter, QRect(area.center().x() - logo / 2, y, logo, logo), ui::kImgLogo);
  y += logo + 22;
  painter.setPen(QColor(ui::skin_color::kTitleText));
  painter.setFont(ui::SkinFont(22, 500));
  painter.drawText(QRect(0, y, width(), 30), Qt::AlignCenter, Text(ui::kStrAppTitle));
  y += 30 + 16;
  painter.setPen(QColor(ui::skin_color::kBarText));
  painter.setFont(ui::SkinFont(15));
  painter.drawText(QRect(0, y, width(), 22), Qt::AlignCenter, Text(ui::kStrEmptyHint));
  y += 22 + 8;
  painter.setPen(QColor(ui::skin_color::kHintText));
  painter.setFont(ui::SkinFont(13));
  painter.drawText(QRect(0, y, width(), 20), Qt::AlignCenter, Text(ui::kStrEmptyHintKeys));
}

// ---------------------------------------------------------------------------------------------
// Plugged-in parts

void CVideoPlayerDlg::SetConverter(ConverterLauncher launcher) {
  converter_ = std::move(launcher);
  bottom_->SetConverterAvailable(static_cast<bool>(converter_));
  panel_->SetConverterAvailable(static_cast<bool>(converter_));
}

void CVideoPlayerDlg::SetScreenRecorder(ScreenRecorder* recorder) {
  recorder_ = recorder;
  panel_->SetRecordingDisabled(recorder_ == nullptr);
}

// ---------------------------------------------------------------------------------------------
// ui::MediaFacts

int CVideoPlayerDlg::CameraType(const std::string& path) { return path == current_path_ ? Player().camera_type() : 0; }

bool CVideoPlayerDlg::FrameSize(const std::string& path, bool, int* width, int* height) {
  if (path != current_path_ || Player().width() <= 0 || Player().height() <= 0) return false;
  *width = Player().width();
  *height = Player().height();
  return true;
}

// ---------------------------------------------------------------------------------------------
// MprisSource

MprisStatus CVideoPlayerDlg::RemoteStatus() {
  MprisStatus status;
  status.volume = bottom_->muted() ? 0.0 : bottom_->volumeSlider()->pos() / 100.0;
  if (current_path_.empty() || refused_ || player_ == nullptr) return status;
  status.path = current_path_;
  status.kind = is_photo_ ? MprisStatus::Kind::kPhoto : MprisStatus::Kind::kVideo;
  status.open = is_photo_ ? PhotoShown() : PlayingOrPaused();
  status.playing = !is_photo_ && player_->state() == media::kStatePlaying;
  if (status.open && !is_photo_) {
    status.position_ms = player_->Time();
    status.length_ms = player_->Length();
  }
  return status;
}

void CVideoPlayerDlg::RemoteCommand(MprisCommand command, double value) {
  // While the converter is open the window stands still behind it: closing would lose the
  // converter's job, and a playback beside its preview would be heard twice.
  if (converter_open_ && command != MprisCommand::kRaise) return;
  switch (command) {
    case MprisCommand::kPlayPause:
      Run("play-pause");
      break;
    case MprisCommand::kStop:
      if (HasMedium()) send(msg::kMsgEngineEvent, msg::kNotifyEnd, msg::kStopByWindow);
      break;
    case MprisCommand::kSeek:
      if (HasMedium() && Player().Length() > 0) {
        const double percent = std::clamp(100.0 * value / static_cast<double>(Player().Length()), 0.0, 100.0);
        core_->Run({player::CommandId::kSeek, static_cast<float>(percent)});
      }
      break;
    case MprisCommand::kVolume: {
      // As the volume slider: it moves, and turning the volume while muted means to hear it.
      const int volume = static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 100.0));
      bottom_->volumeSlider()->SetPos(volume);
      if (bottom_->muted()) bottom_->SetMuted(false);
      core_->Run({player::CommandId::kVolume, static_cast<float>(volume)});
      break;
    }
    case MprisCommand::kRaise:
      if (isMinimized()) showNormal();
      raise();
      activateWindow();
      break;
    case MprisCommand::kQuit:
      post(msg::kMsgClose);
      break;
  }
}

void CVideoPlayerDlg::RemoteOpen(const std::string& path) {
  if (!converter_open_) OpenDropped({path});
}

// ---------------------------------------------------------------------------------------------
// State

bool CVideoPlayerDlg::HasMedium() const {
  const int state = player_ != nullptr ? player_->state() : media::kStateNone;
  return state >= media::kStateOpened && state <= media::kStatePaused;
}

bool CVideoPlayerDlg::PhotoShown() const { return is_photo_ && timerRunning(kTimerPhoto); }

bool CVideoPlayerDlg::PlayingOrPaused() const {
  const int state = player_ != nullptr ? player_->state() : media::kStateNone;
  return state == media::kStatePlaying || state == media::kStatePaused;
}

void CVideoPlayerDlg::SetMediumLook(bool open) {
  video_->setVisible(open);
  bottom_->SetMediumOpen(open);
  if (open) {
    caption_->SetTitle(QString::fromStdString(ui::FileNameOf(current_path_)));
    caption_->SetViewSet(panel_->visibleButtons());
    caption_->SetActiveMode(Player().view_mode());
    panel_->SetActiveMode(Player().view_mode());
  } else {
    bottom_->SetTotalTime(0);
    bottom_->SetTime(0);
    caption_->SetViewSet(0);
  }
  update();
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void CVideoPlayerDlg::SetCurrentPath(std::string path) {
  current_path_ = std::move(path);
  // A photo shown so far is no longer refreshed; the new file's kind comes from its name.
  if (is_photo_) killTimer(kTimerPhoto);
  is_photo_ = !current_path_.empty() && ui::IsPhotoPath(current_path_);
  // Play opens the current file again; without one it has nothing to do.
  bottom_->button(ui::CBOTTOMDLG::kPlay)->setEnabled(!current_path_.empty());
}

void CVideoPlayerDlg::OpenOnceShown(std::vector<std::string> paths, int64_t start_ms) {
  if (player_scheduled_) {
    OpenDropped(paths, start_ms);
  } else {
    startup_files_ = std::move(paths);
    startup_start_ms_ = start_ms;
  }
}

void CVideoPlayerDlg::OpenDropped(const std::vector<std::string>& paths, int64_t start_ms) {
  // The current playback closes first, so that the labels and buttons start afresh.
  send(msg::kMsgEngineEvent, msg::kNotifyEnd, msg::kStopByWindow);
  if (paths.empty()) return;
  SetCurrentPath(paths.front());
  start_ms_ = start_ms;
  post(msg::kMsgPlayPause);
}

std::vector<std::string> CVideoPlayerDlg::ReopenArguments() {
  if (current_path_.empty() || (!HasMedium() && !PhotoShown())) return {};
  std::vector<std::string> arguments;
  if (!is_photo_) {
    char start[48];
    std::snprintf(start, sizeof start, "--start=%.3f", static_cast<double>(Player().Time()) / 1000.0);
    arguments.emplace_back(start);
  }
  arguments.push_back(current_path_);
  return arguments;
}

void CVideoPlayerDlg::OpenFile() {
  if (Player().gl_major_version() < 2) send(msg::kMsgEngineEvent, msg::kNotifyEnd, msg::kStopByWindow);
  const QString filter =
      QString(
          "%1 (*.jpg *.bmp *.rm *.rmvb *.flv *.f4v *.avi *.3gp *.mp4 *.wmv *.mpeg *.mpga *.asf *.dat *.mov);;"
          "%2 (*)")
          .arg(Text(ui::kStrFilesFilter), Text(ui::kStrAllFilesFilter));
  QString start = QString::fromStdString(current_path_);
  if (start.isEmpty()) start = QDir::homePath();
  const QStringList files = QFileDialog::getOpenFileNames(this, Text(ui::kStrOpenFile), start, filter);
  if (files.isEmpty()) return;
  caption_->update();
  SetCurrentPath(files.front().toStdString());
  start_ms_ = 0;
  refused_ = false;
  OpenCurrent();
}

void CVideoPlayerDlg::Reopen() {
  refused_ = false;
  OpenCurrent();
}

void CVideoPlayerDlg::OpenCurrent() { core_->Open(current_path_, is_photo_); }

void CVideoPlayerDlg::Close() { send(msg::kMsgEngineEvent, msg::kNotifyEnd, msg::kStopByWindow); }

void CVideoPlayerDlg::Refused(int reason) {
  caption_->SetTitle(QString::fromStdString(ui::FileNameOf(current_path_)));
  refused_ = true;
  ui::MessageBox(this, Text(media::RefusalText(reason)), {}, ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
}

void CVideoPlayerDlg::OpenFailed() {
  QString text = Text(ui::kStrGl2Required);
  // When the engine itself is missing, the player says which part; the user needs to know.
  if (!Player().open_error().empty()) text += "\n\n" + QString::fromStdString(Player().open_error());
  ui::MessageBox(this, text, {}, ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
}

void CVideoPlayerDlg::Started(bool photo) {
  panel_->SetFile(current_path_);
  if (photo) {
    setTimer(kTimerPhoto, 25);
  } else {
    reframe_->SetFile(current_path_, output_dir_);
    setTimer(kTimerTime, 500);
    bottom_->SetPlaying(true);
  }
  SetMediumLook(true);
}

void CVideoPlayerDlg::EndOfMedia() {
  position_ = 0;
  seeking_ = true;
  bottom_->SetPlaying(false);
  Player().Stop();
  post(msg::kMsgRecordStop);
  core_->Opened();
  killTimer(kTimerTime);
  if (is_photo_) killTimer(kTimerPhoto);
  playback_notice_->hide();
  SetMediumLook(false);
  reframe_->MediumEnded();
  if (reframe_open_) Reframe();
  panel_->Reset();
  panel_->hide();
  caption_->SetPanelShown(false);
}

void CVideoPlayerDlg::PlaybackChanged(player::Playback what, int64_t value) {
  switch (what) {
    case player::Playback::kEnded:
      OnEngineEvent(msg::kNotifyEnd, msg::kStopByEngine);
      break;
    case player::Playback::kPaused:
      OnEngineEvent(msg::kNotifyPaused, 0);
      break;
    case player::Playback::kPlaying:
      OnEngineEvent(msg::kNotifyPlaying, static_cast<LParam>(value));
      break;
    case player::Playback::kPosition:
      send(msg::kMsgPosition, 0, static_cast<LParam>(value));
      break;
  }
}

void CVideoPlayerDlg::OnEngineEvent(WParam code, LParam l) {
  switch (code) {
    case msg::kNotifyEnd:
      EndOfMedia();
      break;
    case msg::kNotifyPaused:
      bottom_->SetPlaying(false);
      break;
    case msg::kNotifyPlaying:
      seeking_ = false;
      bottom_->SetPlaying(true);
      if (l >= 1) bottom_->SetTotalTime(l / 1000 * 1000);
      // A video opened again after a restart goes on where it was.
      if (l >= 1 && start_ms_ > 0) {
        Tracef("resuming %s at %lld ms", current_path_.c_str(), static_cast<long long>(start_ms_));
        Player().Seek(std::min(100.0f, 100.0f * static_cast<float>(start_ms_) / static_cast<float>(l)));
        start_ms_ = 0;
      }
      // A medium starts with the sound the bar shows.
      Player().SetMute(bottom_->muted());
      Player().SetVolume(bottom_->volumeSlider()->pos());
      break;
    case media::kNotifySnapshot:
      ui::MessageBox(this,
                     l != 0 ? Saved(ui::kStrScreenshotSavedIn, ui::JoinPath(output_dir_, "snapshots/"))
                            : Text(ui::kStrSnapshotFailed),
                     l != 0 ? Text(ui::kStrFinish) : QString());
      break;
    case media::kNotifyRecording:
      ui::MessageBox(this,
                     l == 0 ? Saved(ui::kStrStreamRecordSavedIn, ui::JoinPath(output_dir_, "records/"))
                            : Text(ui::kStrStreamRecordFailed),
                     l == 0 ? Text(ui::kStrFinish) : QString());
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Full screen and the bars

void CVideoPlayerDlg::FullScreen(bool on) {
  if (on == full_screen_) return;
  full_screen_ = on;
  // The geometry is set as well as the state: without a window manager nobody acts on the
  // state, and with one the geometry is what the state gives anyway.
  if (full_screen_) {
    normal_geometry_ = geometry();
    showFullScreen();
    if (const QScreen* screen = this->screen()) setGeometry(screen->geometry());
    setTimer(kTimerBars, 3000);
  } else {
    showNormal();
    if (normal_geometry_.isValid()) setGeometry(normal_geometry_);
    killTimer(kTimerBars);
    caption_->show();
    bottom_->show();
  }
  caption_->SetMaximised(full_screen_);
  video_->setFocus();
}

void CVideoPlayerDlg::ShowPanelIfSuitable() {
  if (caption_->isHidden() || converter_open_ || panel_->isVisible()) return;
  panel_->setGeometry(PanelRect());
  if (!refused_ && (HasMedium() || PhotoShown()) && panel_->visibleButtons() != 0) {
    panel_->show();
    caption_->SetPanelShown(true);
  }
  killTimer(kTimerPanel);
}

void CVideoPlayerDlg::onTimer(unsigned id) {
  switch (id) {
    case kTimerTime:
      bottom_->SetPosition(position_);
      bottom_->SetTime(Player().Time());
      if (Player().DecoderFallsBehind()) {
        playback_notice_->show();
        playback_notice_->raise();
        playback_notice_timer_->start();
      }
      break;
    case kTimerBars:
      if (!panel_->isVisible()) {
        caption_->hide();
        bottom_->hide();
      }
      killTimer(kTimerBars);
      break;
    case kTimerPanel:
      if (full_screen_) {
        if (!caption_->underMouse()) caption_->hide();
        bottom_->hide();
      }
      panel_->hide();
      caption_->SetPanelShown(false);
      killTimer(kTimerPanel);
      break;
    case kTimerPhoto:
      Player().Refresh();
      break;
    default:
      break;
  }
}

void CVideoPlayerDlg::mouseMoveEvent(QMouseEvent* event) {
  const int y = static_cast<int>(event->position().y());
  if (full_screen_) {
    if (y <= 30) caption_->show();
    if (y >= height() - 55) bottom_->show();
  }
  if (y < 30 || y > 60) {
    post(msg::kMsgPanelLeave);
  } else if (!converter_open_ && !caption_->isHidden() && !panel_->isVisible() && !is_photo_) {
    panel_->setGeometry(PanelRect());
    post(msg::kMsgPanelHover);
  }
  MessageWindow::mouseMoveEvent(event);
}

void CVideoPlayerDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) send(msg::kMsgVideoPress);
  MessageWindow::mousePressEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Screenshots and recordings

void CVideoPlayerDlg::Screenshot() {
  render::COpenglRender* renderer = Player().renderer();
  if (renderer == nullptr || renderer->gl_major_version() < 2) return;
  std::error_code ec;
  std::filesystem::create_directories(output_dir_, ec);
  screenshot_path_ = TimedName(output_dir_, "ScreenShot_", ".jpg");
  // Served by the next drawn frame: at once for a photo or a playing video, when play goes on
  // for a paused one.
  renderer->RequestScreenshot(screenshot_path_);
}

void CVideoPlayerDlg::StartScreenRecording() {
  if (recorder_ == nullptr || screen_recording_) return;
  if (!PlayingOrPaused() && !PhotoShown()) return;
  std::error_code ec;
  std::filesystem::create_directories(output_dir_, ec);
  screen_record_path_ = TimedName(output_dir_, "ScreenRecord_", ".mp4");
  screen_recording_ = recorder_->Start(current_path_, screen_record_path_, Player().Time());
  panel_->SetRecording(screen_recording_);
  if (screen_recording_) {
    recording_badge_->Start();
  } else {
    ui::MessageBox(this, Text(ui::kStrScreenRecordNotStarted, QString::fromStdString(screen_record_path_)), {},
                   ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
  }
}

void CVideoPlayerDlg::StopScreenRecording(bool quietly) {
  if (recorder_ == nullptr || !screen_recording_) return;
  const bool saved = recorder_->Stop();
  screen_recording_ = false;
  panel_->SetRecording(false);
  recording_badge_->Stop();
  // A file that could not be finished is reported through kMsgRecordFailed; a recording that
  // caught no frame leaves no file and nothing else would mention it.
  if (!saved && !quietly && recorder_->failure() == ScreenRecorder::Failure::kNone) {
    ui::MessageBox(this, Text(ui::kStrScreenRecordNothing), {}, ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
  }
}

// The recorder stopped taking frames (or could not finish the file): what was written is
// finished where possible, and the user learns why the recording is not whole.
void CVideoPlayerDlg::ReportRecordingFailure() {
  StopScreenRecording();
  using Failure = ScreenRecorder::Failure;
  const Failure why = recorder_ != nullptr ? recorder_->failure() : Failure::kWriteError;
  const int cause = why == Failure::kDiskFull   ? ui::kStrCauseDiskFull
                    : why == Failure::kFileGone ? ui::kStrCauseRecordingGone
                                                : ui::kStrCauseFileError;
  QString text = Text(ui::kStrScreenRecordFailed, QString::fromStdString(screen_record_path_));
  if (!text.endsWith(QChar(0x3002))) text += ' ';  // no space after a Chinese full stop
  ui::MessageBox(this, text + Text(cause), QString());
}

// As the panel's Record button, with its rule that a recording lasts at least three seconds.
void CVideoPlayerDlg::ScreenRecord() { panel_->send(ui::kWmCommand, ui::CFloatDlg::kRecord, 0); }

// ---------------------------------------------------------------------------------------------
// player::Host

player::Situation CVideoPlayerDlg::situation() const {
  player::Situation s;
  if (player_ != nullptr && !refused_) s = media::ShownSituation(*player_, is_photo_, PhotoShown());
  s.file_current = !current_path_.empty();
  s.converter = static_cast<bool>(converter_);
  s.screen_recorder = recorder_ != nullptr;
  return s;
}

void CVideoPlayerDlg::Converter() {
  panel_->hide();
  caption_->SetPanelShown(false);
  if (converter_open_) return;
  converter_open_ = true;
  post(msg::kMsgEngineEvent, msg::kNotifyEnd, msg::kStopByWindow);
  converter_(current_path_.substr(0, 1024), is_photo_);
  converter_open_ = false;
}

void CVideoPlayerDlg::Language() { language_->Open(); }

void CVideoPlayerDlg::Quit() {
  post(msg::kMsgRecordStop);
  close();
}

void CVideoPlayerDlg::Changed(const player::Command& command) {
  switch (command.id) {
    case player::CommandId::kPlayPause:
      bottom_->SetPlaying(Player().state() == media::kStatePlaying);
      break;
    case player::CommandId::kViewMode:
      caption_->SetActiveMode(command.value());
      panel_->SetActiveMode(command.value());
      break;
    case player::CommandId::kFlip:
      caption_->SetFlipped(core_->flipped());
      panel_->SetFlipped(core_->flipped());
      break;
    case player::CommandId::kSeek:
      // The bar shows where the seek goes before the engine reports the new position.
      position_ = static_cast<int>(std::clamp(command.x, 0.0f, 100.0f));
      break;
    default:
      break;
  }
}

void CVideoPlayerDlg::AddKeyframe() {
  if (!reframe_open_) Reframe();
  reframe_->AddKeyframe();
}

void CVideoPlayerDlg::Reframe() {
  reframe_open_ = !reframe_open_;
  reframe_->setVisible(reframe_open_);
  Layout();
}

void CVideoPlayerDlg::Run(const char* command) { core_->Run(command); }

void CVideoPlayerDlg::TogglePanel() {
  if (panel_->isVisible()) {
    panel_->hide();
    caption_->SetPanelShown(false);
  } else if (panel_->visibleButtons() != 0) {
    panel_->setGeometry(PanelRect());
    panel_->show();
    caption_->SetPanelShown(true);
  }
}

// ---------------------------------------------------------------------------------------------
// The dispatch

platform::LParam CVideoPlayerDlg::onMessage(unsigned message, WParam w, LParam l) {
  if (const std::optional<player::Command> command = media::ButtonCommand(player::kMainWindow, message, w, l)) {
    core_->Run(*command);
    return 0;
  }
  switch (message) {
    case msg::kMsgRecordStart:
      StartScreenRecording();
      break;
    case msg::kMsgRecordStop:
      StopScreenRecording();
      break;
    case msg::kMsgDrawIdleImage:
    case msg::kMsgPaintCaption:
    case msg::kMsgRepaintAll:
      update();
      caption_->update();
      bottom_->update();
      break;
    case msg::kMsgClosePlayback:
      if (HasMedium()) send(msg::kMsgEngineEvent, msg::kNotifyEnd, msg::kStopByWindow);
      SetCurrentPath({});
      break;
    case msg::kMsgThemeChange:
      theme_ = static_cast<int>(l);
      update();
      break;
    case msg::kMsgPosition:
      if (PlayingOrPaused() && l != 0 && !seeking_) position_ = static_cast<int>(l);
      break;
    case msg::kMsgMinimise:
      showMinimized();
      break;
    case msg::kMsgPalette:  // no transient pop-up exists to close
    case msg::kMsgFlipper:
    case msg::kMsgLoop:
    case msg::kMsgRewind:
    case msg::kMsgNotHandled:
      break;
    case msg::kMsgCommand1009:
      send(msg::kMsgNotHandled);
      break;
    case msg::kMsgMediaEvent: {
      using player::Playback;
      const unsigned code = msg::MediaEventCode(w);
      const Playback what = code == msg::kNotifyPosition  ? Playback::kPosition
                            : code == msg::kNotifyPlaying ? Playback::kPlaying
                            : code == msg::kNotifyPaused  ? Playback::kPaused
                                                          : Playback::kEnded;
      core_->EngineEvent(msg::MediaEventOpen(w), what, l);
      break;
    }
    case msg::kMsgEngineEvent:
      OnEngineEvent(w, l);
      break;
    case msg::kMsgCaptionHover:
      if (full_screen_) {
        caption_->show();
        killTimer(kTimerBars);
      }
      break;
    case msg::kMsgCaptionLeave:
    case msg::kMsgBottomHover:
      if (full_screen_) setTimer(kTimerBars, 3000);
      break;
    case msg::kMsgShowBottomBar:
      bottom_->show();
      killTimer(kTimerBars);
      break;
    case msg::kMsgTogglePanel:
      TogglePanel();
      break;
    case msg::kMsgPanelHover:
      ShowPanelIfSuitable();
      break;
    case msg::kMsgPanelLeave:
      if (panel_->isVisible()) setTimer(kTimerPanel, 3000);
      break;
    case msg::kMsgFrameDrawn:
      if (Player().IsPlaying() != 0 || Player().state() == media::kStatePaused) Player().Refresh();
      break;
    case msg::kMsgDrag:
    case msg::kMsgFling:
    case msg::kMsgZoom:
      media::ForwardPointer(*core_, message, l);
      break;
    case msg::kMsgDropFiles:
      if (const auto* dropped = reinterpret_cast<const platform::DroppedFiles*>(l)) OpenDropped(dropped->paths);
      break;
    case msg::kMsgVideoPress:
      if (panel_->isVisible()) {
        panel_->hide();
        caption_->SetPanelShown(false);
      }
      break;
    case msg::kMsgRecordSaved:
      ui::MessageBox(this, Saved(ui::kStrScreenRecordSavedIn, screen_record_path_), Text(ui::kStrFinish));
      break;
    case msg::kMsgRecordFailed:
      ReportRecordingFailure();
      break;
    case msg::kMsgScreenshotSaved:
    case msg::kMsgScreenshotFailed: {
      std::error_code ec;
      const bool written = message == msg::kMsgScreenshotSaved && std::filesystem::exists(screenshot_path_, ec);
      ui::MessageBox(this,
                     written ? Saved(ui::kStrScreenshotSavedIn, screenshot_path_)
                             : Text(ui::kStrScreenshotFailed, QString::fromStdString(screenshot_path_)),
                     written ? Text(ui::kStrFinish) : QString());
      break;
    }
    default:
      break;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Keys, the context menu, drops, closing

void CVideoPlayerDlg::InstallKeys() {
  for (const player::KeyBinding& binding : player::KeyBindings()) {
    if ((binding.windows & player::kMainWindow) == 0) continue;
    auto* shortcut = new QShortcut(QKeySequence(binding.keys), this);
    shortcut->setContext(Qt::WindowShortcut);
    const char* command = binding.command;
    connect(shortcut, &QShortcut::activated, this, [this, command] { Run(command); });
  }
}

void CVideoPlayerDlg::keyPressEvent(QKeyEvent* event) {
  // Keys that reach the window as key presses, not as shortcuts: those the video surface
  // passes on, and "+" typed with Shift.
  if (const auto command = media::KeyCommand(player::kMainWindow, *event)) {
    core_->Run(*command);
    return;
  }
  MessageWindow::keyPressEvent(event);
}

void CVideoPlayerDlg::ShowContextMenu(const QPoint& global) {
  using player::CommandId;
  ui::CMyMenu menu(this);
  std::vector<player::Command> commands;
  bool separator = false;
  for (const player::MenuEntry& entry : player::ContextMenu()) {
    const std::optional<player::Command> command =
        entry.command != nullptr ? player::ParseCommand(entry.command) : std::nullopt;
    if (!command) {
      separator = !commands.empty();
      continue;
    }
    // Left out: what this window cannot do at all, and the view modes the shown file has no
    // button for (all of them while nothing is shown).
    const bool missing = (command->id == CommandId::kConverter && !converter_) ||
                         (command->id == CommandId::kScreenRecord && (recorder_ == nullptr || is_photo_)) ||
                         (command->id == CommandId::kViewMode &&
                          (situation().shown == player::Shown::kNothing || !core_->Applies(*command)));
    if (missing) continue;
    if (separator) menu.AppendSeparator();
    separator = false;
    int text = entry.text;
    if (command->id == CommandId::kPlayPause && Player().state() == media::kStatePlaying) text = ui::kStrPause;
    if (command->id == CommandId::kScreenRecord && screen_recording_) text = ui::kStrStopRecording;
    if (command->id == CommandId::kStreamRecord && Player().recording()) text = ui::kStrStopStreamRecord;
    const bool checked = (command->id == CommandId::kFullScreen && full_screen_) ||
                         (command->id == CommandId::kViewMode && Player().view_mode() == command->value());
    commands.push_back(*command);
    menu.AppendItem(static_cast<int>(commands.size()), Text(text), MenuIcon(*command),
                    QString::fromStdString(player::KeysForCommand(player::kMainWindow, *command)), checked,
                    core_->Applies(*command));
  }
  const int chosen = menu.Exec(global);
  if (chosen > 0) core_->Run(commands[static_cast<size_t>(chosen) - 1]);
}

void CVideoPlayerDlg::contextMenuEvent(QContextMenuEvent* event) { ShowContextMenu(event->globalPos()); }

void CVideoPlayerDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CVideoPlayerDlg::dropEvent(QDropEvent* event) {
  // Drops on the idle window, while the video area is hidden.
  const std::vector<std::string> paths = platform::LocalFilePaths(event->mimeData()->urls());
  event->acceptProposedAction();
  if (!paths.empty()) OpenDropped(paths);
}

bool CVideoPlayerDlg::eventFilter(QObject* watched, QEvent* event) {
  // The video surface is a window of its own: its right clicks and drops come here too.
  if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
    ShowContextMenu(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
    return true;
  }
  return MessageWindow::eventFilter(watched, event);
}

void CVideoPlayerDlg::closeEvent(QCloseEvent* event) {
  StopScreenRecording(true);
  killTimer(kTimerTime);
  killTimer(kTimerPhoto);
  if (player_ != nullptr) player_->Stop();
  panel_->hide();
  language_->hide();
  MessageWindow::closeEvent(event);
}

}  // namespace spherolux::app
