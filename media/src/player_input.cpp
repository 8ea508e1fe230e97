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
