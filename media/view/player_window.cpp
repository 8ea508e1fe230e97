#include "player_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "platform/messages.h"
#include "probe/probe.h"
#include "ui/strings.h"

namespace spherolux::media {

using namespace platform;

namespace {

constexpr int kPhotoRefreshMs = 25;
constexpr float kSeekStepPercent = 5.0f;

}  // namespace

PlayerWindow::PlayerWindow(QWidget* parent) : MessageWindow(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  video_ = new CVideoControl(this);
  layout->addWidget(video_);
  video_->winId();  // the surface needs a native window before the player reads the GL version
  player_ = std::make_unique<CMediaPlayer>(video_);
  // Engine threads post, never wait. The window keeps the position (wParam) as lParam.
  player_->SetNotify([this](int code, WParam wparam, LParam lparam) {
    if (code == kNotifyPosition) {
      post(kMsgPosition, 0, static_cast<LParam>(wparam));
    } else {
      post(kMsgEngineEvent, static_cast<WParam>(code), code == kNotifyEnd ? kStopByEngine : lparam);
    }
  });
  photo_timer_.setInterval(kPhotoRefreshMs);
  QObject::connect(&photo_timer_, &QTimer::timeout, [this] {
    if (photo_refresh_) player_->Refresh();
  });
}

PlayerWindow::~PlayerWindow() {
  // The player stops its output thread before the window it draws into goes away.
  photo_timer_.stop();
  player_.reset();
}

bool PlayerWindow::OpenFile(const std::string& path, std::string* error) {
  const bool photo = MediaKindOfPath(path) == MediaKind::kPhoto;
  Close();
  if (const int refused = player_->Probe(path, photo); refused != 0) {
    if (error != nullptr) *error = ui::LoadString(RefusalText(refused));
    return false;
  }
  if (player_->Open(path, photo) != 1) {
    if (error != nullptr) {
      *error = !player_->open_error().empty() ? player_->open_error()
                                              : std::string(
                                                    "OpenGL2.0 is required. Please upgrade the driver of "
                                                    "video card!");
    }
    return false;
  }
  photo_ = photo;
  rotation_ = 0;
  if (photo) {
    photo_timer_.start();
  } else {
    player_->Play();
  }
  return true;
}

void PlayerWindow::Close() {
  photo_timer_.stop();
  player_->Stop();
}

int PlayerWindow::count(unsigned message) const {
  const auto it = counts_.find(message);
  return it == counts_.end() ? 0 : it->second;
}

PlayerWindow::LParam PlayerWindow::onMessage(unsigned message, WParam wparam, LParam lparam) {
  Handle(message, wparam, lparam);
  ++counts_[message];
  if (observer_) observer_(message, wparam, lparam);
  return 0;
}

void PlayerWindow::Handle(unsigned message, WParam wparam, LParam lparam) {
  const auto* pair = reinterpret_cast<const float*>(lparam);
  switch (message) {
    case kMsgDrag:
      player_->Drag(pair[0], pair[1]);
      break;
    case kMsgFling:
      player_->Fling(pair[0], pair[1]);
      break;
    case kMsgZoom:
      player_->Zoom(static_cast<int>(lparam));
      break;
    case kMsgFrameDrawn:
      if (player_->IsPlaying() != 0 || player_->state() == kStatePaused) player_->Refresh();
      break;
    case kMsgViewCommand:
      if (lparam >= 0 && lparam <= 6) {
        player_->SetViewMode(static_cast<int>(lparam));
        player_->ApplyViewMode();
      } else if (lparam == kViewDirection) {
        flip_ = !flip_;
        player_->SetFlip(flip_);
      } else if (lparam == kViewReset) {
        player_->ResetView();
      }
      break;
    case kMsgEngineEvent:
      OnEngineEvent(wparam, lparam);
      break;
    case kMsgPosition:
      position_ = static_cast<int>(lparam);
      break;
    case kMsgDropFiles: {
      const auto* dropped = reinterpret_cast<const DroppedFiles*>(lparam);
      std::string error;
      if (!dropped->paths.empty() && !OpenFile(dropped->paths.front(), &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
      }
      break;
    }
    default:
      break;
  }
}

void PlayerWindow::OnEngineEvent(WParam code, LParam lparam) {
  if (code == kNotifyEnd) {
    position_ = 0;
    rotation_ = 0;
    Close();
  } else if (code == kNotifyPlaying && lparam >= 1) {
    length_ms_ = lparam;
  }
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
  CMediaPlayer& p = *player_;
  const int key = event->key();
  if (key >= Qt::Key_0 && key <= Qt::Key_6) {
    send(kMsgViewCommand, 0, key - Qt::Key_0);
  } else if (key == Qt::Key_F) {
    send(kMsgViewCommand, 0, kViewDirection);
  } else if (key == Qt::Key_R) {
    send(kMsgViewCommand, 0, kViewReset);
  } else if (key == Qt::Key_Space) {
    if (p.state() == kStatePlaying) {
      p.Pause();
    } else {
      p.Play();
    }
  } else if (key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
    const float step = key == Qt::Key_PageUp ? kSeekStepPercent : -kSeekStepPercent;
    p.Seek(std::clamp(static_cast<float>(position_) + step, 0.0f, 100.0f));
  } else if (key == Qt::Key_BracketLeft || key == Qt::Key_BracketRight) {
    rotation_ = (rotation_ + (key == Qt::Key_BracketLeft ? 270 : 90)) % 360;
    p.Rotate(rotation_);
  } else if (key == Qt::Key_S) {
    const std::string path = p.Snapshot();
    if (!path.empty()) std::printf("snapshot: %s\n", path.c_str());
  } else if (key == Qt::Key_C) {
    p.ToggleRecording();
    std::printf(p.recording() ? "recording\n" : "recording ended\n");
  } else if (key == Qt::Key_M) {
    muted_ = !muted_;
    p.SetMute(muted_);
  } else if (key == Qt::Key_Escape) {
    close();
  } else {
    MessageWindow::keyPressEvent(event);
  }
  std::fflush(stdout);
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
  Close();
  MessageWindow::closeEvent(event);
}

}  // namespace spherolux::media
