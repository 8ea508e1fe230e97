#include "dialogs/transcode_preview_dlg.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QWindow>
#include <algorithm>

#include "dialog_widgets.h"
#include "media/media_player.h"
#include "media/player_input.h"
#include "media/video_control.h"
#include "platform/messages.h"
#include "ui/button_ex.h"
#include "ui/skin.h"
#include "ui/skinned_dialog.h"
#include "ui/strings.h"

namespace spherolux::dialogs {

namespace msg = platform;

namespace {

// lparam of a posted kNotifyEnd: the player reached the end of the file (a stop that the
// preview asks of itself carries 0).
constexpr platform::LParam kEndReached = 1275;

QLabel* MakeTimeLabel(QWidget* parent, Qt::Alignment alignment) {
  auto* label = new QLabel("00:00:00", parent);
  label->setFont(ui::SkinFont(11));
  label->setAlignment(alignment | Qt::AlignVCenter);
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, QColor(ui::skin_color::kDialog));
  palette.setColor(QPalette::WindowText, QColor(ui::skin_color::kDialogText));
  label->setPalette(palette);
  label->setAutoFillBackground(true);
  return label;
}

}  // namespace

CTranscodePreviewDlg::Layout CTranscodePreviewDlg::LayoutFor(QSize client) {
  const int w = client.width(), h = client.height();
  const int a = 4 * h / 5 + 18;
  return {QRect(13, 20, w - 26, a), QRect(13, a + 22, w - 26, 16), QRect(w / 2 - 9, h - 20, 18, 16),
          QRect(13, h - 18, 50, 14), QRect(w - 64, h - 18, 51, 14)};
}

CTranscodePreviewDlg::CTranscodePreviewDlg(QWidget* parent) : MessageWindow(parent) {
  setObjectName("trimPreview");
  video_ = new media::CVideoControl(this);
  video_->setObjectName("videoArea");
  video_->winId();  // the player reads the GL version on the surface's native window
  video_->hide();
  player_ = std::make_unique<media::CMediaPlayer>(video_);
  engine_ = std::make_unique<media::PlayerEngine>([this]() -> media::CMediaPlayer& { return *player_; }, *video_);
  core_ = std::make_unique<player::PlayerCore>(*engine_, static_cast<player::Host&>(*this));
  video_->surface()->installEventFilter(this);
  // The engine's threads only post.
  player_->SetNotify([this](int code, WParam w, LParam l) {
    switch (code) {
      case msg::kNotifyEnd:
        post(msg::kMsgEngineEvent, msg::kNotifyEnd, kEndReached);
        break;
      case msg::kNotifyPaused:
      case msg::kNotifyPlaying:
        post(msg::kMsgEngineEvent, static_cast<WParam>(code), l);
        break;
      case msg::kNotifyPosition:
        post(msg::kMsgPosition, 0, static_cast<LParam>(w));
        break;
      default:
        post(msg::kMsgEngineEvent, msg::kNotifyEnd, 0);
        break;
    }
  });
  player_->SetPlainPlaybackQuestion(
      [this] { return ui::MessageBox(this, Text(ui::kStrNoGl2PlayFlat), {}, ui::BoxButtons::kOkCancel) == ui::kIdOk; });

  range_ = new CRangeSlider(0, this);
  range_->setObjectName("rangeSlider");
  range_->SetRange(0, 100);
  range_->SetLow(0);
  range_->SetHigh(100);
  range_->setEnabled(false);

  play_ = new ui::CButtonEx(kPlayPause, this);
  play_->setObjectName("playPause");
  play_->SetImages({ui::kImgPreviewPlay, 0, ui::kImgPreviewPlayPressed, ui::kImgPreviewPlayDisabled, 0, {}});
  play_->SetTooltipText(Text(ui::kStrPlay));
  play_->setEnabled(false);
  stop_ = new ui::CButtonEx(kStopButton, this);
  stop_->hide();

  start_label_ = MakeTimeLabel(this, Qt::AlignLeft);
  start_label_->setObjectName("startTime");
  end_label_ = MakeTimeLabel(this, Qt::AlignRight);
  end_label_->setObjectName("endTime");
  setFont(ui::SkinFont(13));
}

CTranscodePreviewDlg::~CTranscodePreviewDlg() {
  killTimer(kTimerMarker);
  killTimer(kTimerPhoto);
  killTimer(kTimerFirstFrame);
  killTimer(kTimerRedraw);
  video_->surface()->removeEventFilter(this);
  // The player stops the engine's output thread before its window goes.
  core_.reset();
  engine_.reset();
  player_.reset();
}

int CTranscodePreviewDlg::gl_major_version() const { return player_->gl_major_version(); }

void CTranscodePreviewDlg::Load(const std::string& path, bool photo, int low, int high) {
  const PreviewSteps steps = model_.Load(path, photo, low, high);
  range_->SetLow(low);
  range_->SetHigh(high);
  range_->SetMarker(low);
  range_->setEnabled(false);
  ShowLabels();
  Carry(steps);
}

void CTranscodePreviewDlg::SetRotation(int degrees) {
  rotation_ = degrees;
  player_->Rotate(degrees);
}

void CTranscodePreviewDlg::Carry(const PreviewSteps& steps) {
  for (const PreviewStep& step : steps) {
    switch (step.kind) {
      case PreviewStep::kStop:
        post(msg::kMsgEngineEvent, msg::kNotifyEnd, 0);
        break;
      case PreviewStep::kTogglePlay:
        post(msg::kMsgPlayPause);
        break;
      case PreviewStep::kSeek:
        post(msg::kMsgSeek, 0, step.value);
        break;
      case PreviewStep::kRangeChanged:
        if (auto* parent = dynamic_cast<platform::MessageWindow*>(parentWidget())) parent->post(msg::kMsgRangeChanged);
        break;
    }
  }
}

void CTranscodePreviewDlg::TogglePlay() {
  switch (player_->state()) {
    case media::kStatePlaying:
      player_->Pause();
      range_->setEnabled(!model_.photo());
      ShowPauseImage(false);
      break;
    case media::kStatePaused:
    case media::kStateOpened:
      player_->Play();
      ShowPauseImage(true);
      break;
    default:
      ProbeAndOpen();
      break;
  }
}

void CTranscodePreviewDlg::ProbeAndOpen() {
  if (!model_.path().empty()) core_->Open(model_.path(), model_.photo());
}

void CTranscodePreviewDlg::Refused(int reason) {
  ui::MessageBox(this, Text(media::RefusalText(reason)), {}, ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
}

void CTranscodePreviewDlg::OpenFailed() {
  QString text = Text(ui::kStrGl2Required);
  if (!player_->open_error().empty()) text += "\n\n" + QString::fromStdString(player_->open_error());
  ui::MessageBox(this, text, {}, ui::BoxButtons::kOk, ui::BoxIcon::kWarning);
}

void CTranscodePreviewDlg::Started(bool photo) {
  player_->Rotate(rotation_);  // an open starts upright
  if (photo) {
    setTimer(kTimerPhoto, kPhotoRefreshMs);
    play_->setEnabled(false);
  } else {
    frames_at_open_ = player_->GetStats().frames_drawn;
  }
  video_->show();
  update();
}

CTranscodePreviewDlg::LParam CTranscodePreviewDlg::onMessage(unsigned message, WParam w, LParam l) {
  switch (message) {
    case msg::kMsgPlayPause:
      TogglePlay();
      break;
    case msg::kMsgPosition: {
      const int state = player_->state();
      Carry(model_.OnPosition(static_cast<int>(l), state == media::kStatePlaying, state == media::kStatePaused));
      break;
    }
    case msg::kMsgSeek:
      if (player_->state() != media::kStateNone) {
        model_.OnSeek(static_cast<int>(l));
        player_->Seek(static_cast<float>(l));
      }
      break;
    case msg::kMsgEngineEvent:
      OnEngineEvent(w, l);
      break;
    case msg::kMsgRangeSlider: {
      const int which = static_cast<int>(l);
      const int value = which == 0 ? range_->low() : which == 1 ? range_->high() : range_->clicked();
      Carry(model_.OnSlider(which, value, player_->state() == media::kStatePlaying));
      ShowLabels();
      break;
    }
    case msg::kMsgFrameDrawn:
      if (player_->IsPlaying() != 0 || player_->state() == media::kStatePaused) player_->Refresh();
      CarryFirstFramePause();
      break;
    case msg::kMsgDrag:
    case msg::kMsgFling:
    case msg::kMsgZoom:
      media::ForwardPointer(*core_, message, l);
      break;
    case msg::kMsgViewCommand:
      if (const auto command = media::ButtonCommand(player::kTrimPreview, message, w, l)) core_->Run(*command);
      break;
    case msg::kMsgDropFiles:
      // Files dropped on the picture are the converter's to choose.
      if (auto* parent = dynamic_cast<platform::MessageWindow*>(parentWidget())) parent->send(message, w, l);
      break;
    case ui::kWmCommand:
      if (static_cast<int>(w) == kPlayPause) {
        Carry(model_.OnPlayButton());
      } else if (static_cast<int>(w) == kStopButton) {
        post(msg::kMsgEngineEvent, msg::kNotifyEnd, 0);
      }
      break;
    default:
      break;
  }
  return 0;
}

void CTranscodePreviewDlg::OnEngineEvent(WParam code, LParam l) {
  switch (code) {
    case msg::kNotifyEnd:
      OnStopped(l == kEndReached);
      break;
    case msg::kNotifyPaused:
      ShowPauseImage(false);
      break;
    case msg::kNotifyPlaying:
      if (!model_.photo()) setTimer(kTimerMarker, kMarkerMs);
      ShowPauseImage(true);
      if (model_.first_play()) {
        play_->setEnabled(true);
        first_frame_pause_ = model_.OnPlaying(l, range_->high());
        if (player_->GetStats().frames_drawn != frames_at_open_)
          CarryFirstFramePause();
        else if (!first_frame_pause_.empty())
          setTimer(kTimerFirstFrame, kFirstFrameWaitMs);
      }
      ShowLabels();
      break;
    default:
      break;
  }
}

void CTranscodePreviewDlg::CarryFirstFramePause() {
  if (first_frame_pause_.empty()) return;
  killTimer(kTimerFirstFrame);
  PreviewSteps steps;
  steps.swap(first_frame_pause_);
  Carry(steps);
}

void CTranscodePreviewDlg::OnStopped(bool end_of_media) {
  first_frame_pause_.clear();
  killTimer(kTimerFirstFrame);
  if (end_of_media && !model_.photo()) range_->SetMarker(model_.EndMarker());
  Carry(model_.OnStopped(end_of_media));
  player_->Stop();
  killTimer(kTimerMarker);
  killTimer(kTimerPhoto);
  ShowPauseImage(false);
}

void CTranscodePreviewDlg::onTimer(unsigned id) {
  if (id == kTimerMarker) {
    range_->SetMarker(std::clamp(model_.position(), range_->low(), std::max(range_->low(), range_->high())));
  } else if (id == kTimerPhoto) {
    player_->Refresh();
  } else if (id == kTimerFirstFrame) {
    CarryFirstFramePause();
  } else if (id == kTimerRedraw) {
    killTimer(kTimerRedraw);
    RedrawPausedPicture();
  }
}

player::Situation CTranscodePreviewDlg::situation() const {
  return media::ShownSituation(*player_, model_.photo(), timerRunning(kTimerPhoto));
}

void CTranscodePreviewDlg::keyPressEvent(QKeyEvent* event) {
  if (const auto command = media::KeyCommand(player::kTrimPreview, *event)) {
    core_->Run(*command);
    return;
  }
  MessageWindow::keyPressEvent(event);
}

bool CTranscodePreviewDlg::eventFilter(QObject* watched, QEvent* event) {
  // Uncovering exposes the surface; a run of exposures (a window dragged across) asks once.
  if (watched == video_->surface() && event->type() == QEvent::Expose && !model_.photo() &&
      player_->state() == media::kStatePaused) {
    setTimer(kTimerRedraw, kRedrawMs);
  }
  return MessageWindow::eventFilter(watched, event);
}

void CTranscodePreviewDlg::RedrawPausedPicture() {
  // A seek to where it stands makes the engine show the paused picture again.
  const int64_t length = player_->Length();
  if (player_->state() != media::kStatePaused || length <= 0) return;
  player_->Seek(100.0f * static_cast<float>(player_->Time()) / static_cast<float>(length));
}

void CTranscodePreviewDlg::ShowPauseImage(bool pause) {
  ui::ButtonImages images = play_->images();
  images.normal = pause ? ui::kImgPreviewPause : ui::kImgPreviewPlay;
  images.pressed = pause ? ui::kImgPreviewPausePressed : ui::kImgPreviewPlayPressed;
  play_->SetImages(images);
  play_->SetTooltipText(Text(pause ? ui::kStrPause : ui::kStrPlay));
  play_->setGeometry(LayoutFor(size()).play);
}

void CTranscodePreviewDlg::ShowLabels() {
  start_label_->setText(QString::fromStdString(model_.start_label()));
  end_label_->setText(QString::fromStdString(model_.end_label()));
}

void CTranscodePreviewDlg::resizeEvent(QResizeEvent* event) {
  const Layout layout = LayoutFor(size());
  video_->setGeometry(layout.video);
  range_->setGeometry(layout.range);
  play_->setGeometry(layout.play);
  start_label_->setGeometry(layout.start);
  end_label_->setGeometry(layout.end);
  MessageWindow::resizeEvent(event);
}

void CTranscodePreviewDlg::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(ui::skin_color::kDialog));
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF video = QRectF(LayoutFor(size()).video).adjusted(-0.5, -0.5, 0.5, 0.5);
  if (!video_->isVisible()) {
    // Until a file is shown, the video area is an empty screen with a hint.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(ui::skin_color::kWindow));
    painter.drawRoundedRect(video, 4, 4);
    painter.setPen(QColor(ui::skin_color::kHintText));
    painter.setFont(ui::SkinFont(14));
    painter.drawText(video, Qt::AlignCenter, Text(ui::kStrPreviewHint));
  }
  painter.setPen(QColor(177, 177, 177));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(video.adjusted(-1, -1, 1, 1), 4, 4);
}

}  // namespace spherolux::dialogs
