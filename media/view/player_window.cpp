#include "player_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "calib/stitch_state.h"
#include "media/video_messages.h"
#include "render/render_hooks.h"

namespace spherolux::media {
namespace {

constexpr int kPhotoRefreshMs = 25;
constexpr float kSeekStepPercent = 5.0f;

}  // namespace

PlayerWindow::PlayerWindow(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  video_ = new CVideoControl(this);
  layout->addWidget(video_);
  video_->SetTarget(this);
  video_->winId();  // the surface needs a native window before the player reads the GL version
  player_ = std::make_unique<CMediaPlayer>(video_);
  QPointer<PlayerWindow> self(this);
  // Engine threads: post, never wait. The window keeps the position (wParam) as lParam.
  player_->SetNotify([self](int code, uintptr_t wparam, intptr_t lparam) {
    QMetaObject::invokeMethod(
        self.data(),
        [self, code, wparam, lparam] {
          if (self == nullptr) return;
          if (code == kNotifyPosition) {
            self->Send(kMsgPositionEvent, 0, static_cast<intptr_t>(wparam));
          } else if (code == kNotifyEnded) {
            self->Send(kMsgEngineEvent, kNotifyEnded, kCloseFromEnd);
          } else {
            self->Send(kMsgEngineEvent, static_cast<uintptr_t>(code), lparam);
          }
        },
        Qt::QueuedConnection);
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
  if (player_->Probe(path, photo) != 0) {
    if (error != nullptr) *error = "This file is not captured by a qualified camera!";
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

intptr_t PlayerWindow::Send(unsigned message, uintptr_t wparam, intptr_t lparam) {
  const intptr_t result = Handle(message, wparam, lparam);
  ++counts_[message];
  if (observer_) observer_(message, wparam, lparam);
  return result;
}

void PlayerWindow::Post(unsigned message, uintptr_t wparam, intptr_t lparam) {
  QPointer<PlayerWindow> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, message, wparam, lparam] {
        if (self != nullptr) self->Send(message, wparam, lparam);
      },
      Qt::QueuedConnection);
}

intptr_t PlayerWindow::Handle(unsigned message, uintptr_t wparam, intptr_t lparam) {
  const auto* pair = reinterpret_cast<const float*>(lparam);
  switch (message) {
    case kMsgDrag:
      player_->Drag(pair[0], pair[1]);
      break;
    case kMsgFling:
      player_->Fling(pair[0], pair[1]);
      break;
    case kMsgWheel:
      player_->Zoom(static_cast<int>(lparam));
      break;
    case render::kMsgFrameDrawn:
      if (player_->IsPlaying() != 0 || player_->state() == kStatePaused) player_->Refresh();
      break;
    case kMsgViewCommand:
      if (lparam >= 0 && lparam <= 6) {
        player_->SetViewMode(static_cast<int>(lparam));
        player_->ApplyViewMode();
      } else if (lparam == kViewCommandFlip) {
        flip_ = !flip_;
        player_->SetFlip(flip_);
      } else if (lparam == kViewCommandReset) {
        player_->ResetView();
      }
      break;
    case kMsgEngineEvent:
      OnEngineEvent(wparam, lparam);
      break;
    case kMsgPositionEvent:
      position_ = static_cast<int>(lparam);
      break;
    case kMsgFilesDropped: {
      const std::vector<std::string> files = video_->TakeDroppedFiles();
      std::string error;
      if (!files.empty() && !OpenFile(files.front(), &error)) std::fprintf(stderr, "%s\n", error.c_str());
      break;
    }
    default:
      break;
  }
  return 0;
}

void PlayerWindow::OnEngineEvent(uintptr_t code, intptr_t lparam) {
  if (code == static_cast<uintptr_t>(kNotifyEnded)) {
    position_ = 0;
    rotation_ = 0;
    Close();
  } else if (code == static_cast<uintptr_t>(kNotifyPlaying) && lparam >= 1) {
    length_ms_ = lparam;
  }
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
  CMediaPlayer& p = *player_;
  const int key = event->key();
  if (key >= Qt::Key_0 && key <= Qt::Key_6) {
    Send(kMsgViewCommand, 0, key - Qt::Key_0);
  } else if (key == Qt::Key_F) {
    Send(kMsgViewCommand, 0, kViewCommandFlip);
  } else if (key == Qt::Key_R) {
    Send(kMsgViewCommand, 0, kViewCommandReset);
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
    QWidget::keyPressEvent(event);
  }
  std::fflush(stdout);
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
  Close();
  QWidget::closeEvent(event);
}

}  // namespace spherolux::media
