#include "media/player_input.h"

#include <QKeyEvent>
#include <QKeySequence>

#include "media/media_player.h"
#include "media/video_control.h"
#include "platform/messages.h"

namespace spherolux::media {

int PlayerEngine::state() const { return player_().state(); }
void PlayerEngine::Play() { player_().Play(); }
void PlayerEngine::Pause() { player_().Pause(); }
void PlayerEngine::Stop() { player_().Stop(); }
int PlayerEngine::Probe(const std::string& path, bool photo) { return player_().Probe(path, photo); }
bool PlayerEngine::Open(const std::string& path, bool photo) { return player_().Open(path, photo) == 1; }

int PlayerEngine::position() const {
  CMediaPlayer& p = player_();
  const int64_t length = p.Length();
  return length > 0 ? static_cast<int>(100 * p.Time() / length) : 0;
}

void PlayerEngine::Seek(float percent) { player_().Seek(percent); }
void PlayerEngine::FrameStep() { player_().FrameStep(); }

void PlayerEngine::SetViewMode(int mode) {
  CMediaPlayer& p = player_();
  p.SetViewMode(mode);
  if (p.renderer() != nullptr) p.ApplyViewMode();
}

void PlayerEngine::Turn(float right_degrees, float up_degrees) {
  const float pixels_per_degree = video_.Diagonal() / 2.0f / 60.0f;
  player_().Drag(right_degrees * pixels_per_degree, up_degrees * pixels_per_degree);
}

void PlayerEngine::Drag(float dx, float dy) { player_().Drag(dx, dy); }
void PlayerEngine::Fling(float vx, float vy) { player_().Fling(vx, vy); }
void PlayerEngine::Wheel(int delta) { player_().Zoom(delta); }
void PlayerEngine::ResetView() { player_().ResetView(); }
void PlayerEngine::SetFlip(bool on) { player_().SetFlip(on); }
void PlayerEngine::Rotate(int degrees) { player_().Rotate(degrees); }
void PlayerEngine::Snapshot() { player_().Snapshot(); }
void PlayerEngine::ToggleStreamRecording() { player_().ToggleRecording(); }
void PlayerEngine::SetMute(bool on) { player_().SetMute(on); }
void PlayerEngine::SetVolume(int percent) { player_().SetVolume(percent); }

bool ForwardPointer(player::PlayerCore& core, unsigned message, intptr_t lparam) {
  const auto* pair = reinterpret_cast<const float*>(lparam);
  switch (message) {
    case platform::kMsgDrag:
      if (pair != nullptr) core.Drag(pair[0], pair[1]);
      return true;
    case platform::kMsgFling:
      if (pair != nullptr) core.Fling(pair[0], pair[1]);
      return true;
    case platform::kMsgZoom:
      core.Wheel(static_cast<int>(lparam));
      return true;
    default:
      return false;
  }
}

player::Situation ShownSituation(const CMediaPlayer& player, bool photo, bool photo_shown) {
  player::Situation s;
  const int state = player.state();
  if (photo && photo_shown) {
    s.shown = player::Shown::kPhoto;
  } else if (!photo && state >= kStateOpened && state <= kStatePaused) {
    s.shown = player::Shown::kVideo;
  }
  if (s.shown != player::Shown::kNothing) {
    s.view_modes = player::ViewModesFor(player.camera_type(), player.width(), player.height(), photo);
  }
  return s;
}

namespace {

// Where a button's command takes its argument from.
enum class ButtonArg : uint8_t {
  kNone,
  kLParam,      // the number the message carries (percent)
  kWParamFlag,  // 1 when wparam is non-zero, else 0
};
constexpr intptr_t kAnyLParam = INTPTR_MIN;

struct ButtonBinding {
  unsigned message;
  intptr_t lparam;      // the message's lparam this row is for; kAnyLParam for any
  const char* command;  // with a placeholder argument where `arg` gives the real one
  ButtonArg arg;
  unsigned windows;  // player::Window bits
};

constexpr unsigned kMain = player::kMainWindow;
constexpr unsigned kMainAndPlay = player::kMainWindow | player::kPlayWindow;
constexpr unsigned kAll = player::kMainWindow | player::kPlayWindow | player::kTrimPreview;

constexpr ButtonBinding kButtons[] = {
    // The bottom bar.
    {platform::kMsgPlayPause, kAnyLParam, "play-pause", ButtonArg::kNone, kMain},
    {platform::kMsgNextFrame, kAnyLParam, "frame-step", ButtonArg::kNone, kMain},
    {platform::kMsgSeek, kAnyLParam, "seek 0", ButtonArg::kLParam, kMain},
    {platform::kMsgVolume, kAnyLParam, "volume 0", ButtonArg::kLParam, kMain},
    {platform::kMsgMute, kAnyLParam, "mute 0", ButtonArg::kWParamFlag, kMain},
    {platform::kMsgConverter, kAnyLParam, "converter", ButtonArg::kNone, kMain},
    // The caption.
    {platform::kMsgOpenFile, kAnyLParam, "open-file", ButtonArg::kNone, kMain},
    {platform::kMsgMenu, kAnyLParam, "language", ButtonArg::kNone, kMain},
    {platform::kMsgMaximiseCommand, kAnyLParam, "full-screen", ButtonArg::kNone, kMain},
    {platform::kMsgFullScreenCommand, kAnyLParam, "full-screen", ButtonArg::kNone, kMain},
    {platform::kMsgMaximiseRestore, kAnyLParam, "full-screen", ButtonArg::kNone, kMain},
    {platform::kMsgClose, kAnyLParam, "quit", ButtonArg::kNone, kMain},
    {platform::kMsgViewCommand, 0, "view-mode 0", ButtonArg::kNone, kMain},
    {platform::kMsgViewCommand, 1, "view-mode 1", ButtonArg::kNone, kMain},
    {platform::kMsgViewCommand, 2, "view-mode 2", ButtonArg::kNone, kMain},
    {platform::kMsgViewCommand, 3, "view-mode 3", ButtonArg::kNone, kMain},
    {platform::kMsgViewCommand, 4, "view-mode 4", ButtonArg::kNone, kMain},
    {platform::kMsgViewCommand, 5, "view-mode 5", ButtonArg::kNone, kMain},
    {platform::kMsgViewCommand, 6, "view-mode 6", ButtonArg::kNone, kMain},
    {platform::kMsgViewCommand, platform::kViewDirection, "flip", ButtonArg::kNone, kMainAndPlay},
    {platform::kMsgViewCommand, platform::kViewReset, "reset-view", ButtonArg::kNone, kAll},
    // The floating panel.
    {platform::kMsgScreenshot, kAnyLParam, "screenshot", ButtonArg::kNone, kMain},
    {platform::kMsgEngineSnapshot, kAnyLParam, "engine-snapshot", ButtonArg::kNone, kMain},
    {platform::kMsgStreamRecord, kAnyLParam, "stream-record", ButtonArg::kNone, kMain},
    {platform::kMsgRotateLeft, kAnyLParam, "rotate -1", ButtonArg::kNone, kMain},
    {platform::kMsgRotateRight, kAnyLParam, "rotate 1", ButtonArg::kNone, kMain},
};

}  // namespace

std::optional<player::Command> ButtonCommand(player::Window window, unsigned message, uintptr_t wparam,
                                             intptr_t lparam) {
  for (const ButtonBinding& b : kButtons) {
    if (b.message != message || (b.windows & window) == 0 || (b.lparam != kAnyLParam && b.lparam != lparam)) continue;
    std::optional<player::Command> command = player::ParseCommand(b.command);
    if (command && b.arg != ButtonArg::kNone) {
      command->x = b.arg == ButtonArg::kLParam ? static_cast<float>(lparam) : (wparam != 0 ? 1.0f : 0.0f);
    }
    return command;
  }
  return std::nullopt;
}

std::optional<player::Command> KeyCommand(player::Window window, const QKeyEvent& event) {
  const int key = event.key();
  if (key == 0 || key == Qt::Key_unknown || key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
      key == Qt::Key_Meta) {
    return std::nullopt;
  }
  Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
  const auto text = [&](Qt::KeyboardModifiers m) {
    return QKeySequence(QKeyCombination(m, static_cast<Qt::Key>(key))).toString(QKeySequence::PortableText);
  };
  if (auto command = player::CommandForKey(window, text(modifiers).toStdString())) return command;
  const bool letter = key >= Qt::Key_A && key <= Qt::Key_Z;
  if (!letter && (modifiers & Qt::ShiftModifier) != 0) {
    return player::CommandForKey(window, text(modifiers & ~Qt::ShiftModifier).toStdString());
  }
  return std::nullopt;
}

}  // namespace spherolux::media
