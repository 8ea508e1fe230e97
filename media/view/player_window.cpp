#include "player_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QVBoxLayout>
#include <cstdio>
#include <filesystem>

#include "platform/messages.h"
#include "probe/probe.h"
#include "ui/strings.h"

namespace spherolux::media {

using namespace platform;

namespace {

constexpr int kPhotoRefreshMs = 25;

}  // namespace

PlayerWindow::PlayerWindow(QWidget* parent) : MessageWindow(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  video_ = new CVideoControl(this);
  layout->addWidget(video_);
  video_->winId();  // the surface needs a native window before the player reads the GL version
  player_ = std::make_unique<CMediaPlayer>(video_);
  engine_ = std::make_unique<PlayerEngine>([this]() -> CMediaPlayer& { return *player_; }, *video_);
  core_ = std::make_unique<player::PlayerCore>(*engine_, static_cast<player::Host&>(*this));
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
  core_.reset();
  engine_.reset();
  player_.reset();
}

bool PlayerWindow::OpenFile(const std::string& path, std::string* error) {
  started_ = false;
  open_error_.clear();
  core_->Open(path, MediaKindOfPath(path) == MediaKind::kPhoto);
  if (!started_ && error != nullptr) *error = open_error_;
  return started_;
}

void PlayerWindow::Refused(int reason) { open_error_ = ui::LoadString(RefusalText(reason)); }

void PlayerWindow::OpenFailed() {
  open_error_ = !player_->open_error().empty() ? player_->open_error() : ui::LoadString(ui::kStrGl2Required);
}

void PlayerWindow::Started(bool photo) {
  started_ = true;
  photo_ = photo;
  if (photo) photo_timer_.start();
}

void PlayerWindow::Close() {
  photo_timer_.stop();
  player_->Stop();
}

int PlayerWindow::count(unsigned message) const {
  const auto it = counts_.find(message);
  return it == counts_.end() ? 0 : it->second;
}

int PlayerWindow::count(player::CommandId command) const {
  const auto it = commands_.find(command);
  return it == commands_.end() ? 0 : it->second;
}

player::Situation PlayerWindow::situation() const {
  player::Situation s = ShownSituation(*player_, photo_, photo_timer_.isActive());
  s.file_current = !photo_ && player_->state() != kStateNone;
  return s;
}

void PlayerWindow::Changed(const player::Command& command) {
  if (command.id == player::CommandId::kEngineSnapshot) {
    std::printf("snapshot: %s\n", (std::filesystem::path(player_->output_directory()) / "snapshots").c_str());
  } else if (command.id == player::CommandId::kStreamRecord) {
    std::printf(player_->recording() ? "recording\n" : "recording ended\n");
  }
  std::fflush(stdout);
}

PlayerWindow::LParam PlayerWindow::onMessage(unsigned message, WParam wparam, LParam lparam) {
  Handle(message, wparam, lparam);
  ++counts_[message];
  if (observer_) observer_(message, wparam, lparam);
  return 0;
}

void PlayerWindow::Handle(unsigned message, WParam wparam, LParam lparam) {
  if (ForwardPointer(*core_, message, lparam)) return;
  switch (message) {
    case kMsgFrameDrawn:
      if (player_->IsPlaying() != 0 || player_->state() == kStatePaused) player_->Refresh();
      break;
    case kMsgViewCommand:
      // Any mode (the tests set each one); keys go through the core and its rule.
      if (lparam >= 0 && lparam <= 6) {
        engine_->SetViewMode(static_cast<int>(lparam));
      } else if (const auto command = ButtonCommand(player::kPlayWindow, message, wparam, lparam)) {
        core_->Run(*command);
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
    core_->Opened();
    Close();
  } else if (code == kNotifyPlaying && lparam >= 1) {
    length_ms_ = lparam;
  }
}

void PlayerWindow::keyPressEvent(QKeyEvent* event) {
  const std::optional<player::Command> command = KeyCommand(player::kPlayWindow, *event);
  if (!command) {
    MessageWindow::keyPressEvent(event);
    return;
  }
  core_->Run(*command);
  ++commands_[command->id];
}

void PlayerWindow::closeEvent(QCloseEvent* event) {
  Close();
  MessageWindow::closeEvent(event);
}

}  // namespace spherolux::media
