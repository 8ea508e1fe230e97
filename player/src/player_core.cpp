#include "player/player_core.h"

#include <algorithm>
#include <cstdlib>

#include "ui/bar_logic.h"

namespace spherolux::player {

namespace {

constexpr int kWheelNotch = 120;  // a zoom step is a wheel notch

}  // namespace

void PlayerCore::Open(const std::string& path, bool photo) {
  if (host_.showing()) host_.Close();
  // From here on, what the engine says about the file shown before is stale.
  ++open_number_;
  if (const int reason = engine_.Probe(path, photo); reason != 0) {
    host_.Refused(reason);
    return;
  }
  if (!engine_.Open(path, photo)) {
    host_.OpenFailed();
    return;
  }
  Opened();
  host_.Started(photo);
  if (!photo) engine_.Play();
}

void PlayerCore::EngineEvent(uint32_t open, Playback what, int64_t value) {
  if (open == open_number_.load()) host_.PlaybackChanged(what, value);
}

void PlayerCore::Opened() {
  flipped_ = false;
  rotation_ = 0;
}

bool PlayerCore::Run(std::string_view text) {
  const std::optional<Command> command = ParseCommand(text);
  return command && Run(*command);
}

bool PlayerCore::Run(const Command& command) {
  if (!Applies(command)) return false;
  switch (command.id) {
    case CommandId::kOpen:
      host_.OpenFile();
      return true;
    case CommandId::kPlayPause:
      switch (engine_.state()) {
        case Engine::kPlaying:
          engine_.Pause();
          break;
        case Engine::kPaused:
          engine_.Play();
          break;
        case Engine::kOpened:
          return true;  // starting already
        default:
          host_.Reopen();
          return true;
      }
      break;
    case CommandId::kStop:
      engine_.Stop();
      break;
    case CommandId::kSeek:
      engine_.Seek(std::clamp(command.x, 0.0f, 100.0f));
      break;
    case CommandId::kSeekBy:
      engine_.Seek(std::clamp(static_cast<float>(engine_.position()) + command.x, 0.0f, 100.0f));
      break;
    case CommandId::kFrameStep:
      engine_.FrameStep();
      break;
    case CommandId::kViewMode:
      engine_.SetViewMode(command.value());
      break;
    case CommandId::kTurn:
      engine_.Turn(command.x, command.y);
      break;
    case CommandId::kZoom:
      engine_.Wheel(-kWheelNotch * command.value());
      break;
    case CommandId::kResetView:
      engine_.ResetView();
      break;
    case CommandId::kFlip:
      flipped_ = !flipped_;
      engine_.SetFlip(flipped_);
      break;
    case CommandId::kRotate:
      for (int quarter = 0; quarter < std::abs(command.value()) % 4; ++quarter) {
        rotation_ = ui::RotatedQuarter(rotation_, command.value() < 0);
      }
      engine_.Rotate(rotation_);
      break;
    case CommandId::kScreenshot:
      host_.Screenshot();
      return true;
    case CommandId::kEngineSnapshot:
      engine_.Snapshot();
      break;
    case CommandId::kStreamRecord:
      engine_.ToggleStreamRecording();
      break;
    case CommandId::kScreenRecord:
      host_.ScreenRecord();
      return true;
    case CommandId::kMute:
    case CommandId::kToggleMute:
      muted_ = command.id == CommandId::kMute ? command.value() != 0 : !muted_;
      if (host_.situation().shown == Shown::kVideo) engine_.SetMute(muted_);
      break;
    case CommandId::kVolume:
      if (host_.situation().shown == Shown::kVideo) engine_.SetVolume(std::clamp(command.value(), 0, 100));
      break;
    case CommandId::kFullScreen:
      host_.FullScreen(!host_.fullScreen());
      return true;
    case CommandId::kLeaveFullScreen:
      if (host_.fullScreen()) host_.FullScreen(false);
      return true;
    case CommandId::kConverter:
      host_.Converter();
      return true;
    case CommandId::kLanguage:
      host_.Language();
      return true;
    case CommandId::kQuit:
      host_.Quit();
      return true;
    case CommandId::kAddKeyframe:
      host_.AddKeyframe();
      return true;
    case CommandId::kReframe:
      host_.Reframe();
      return true;
  }
  host_.Changed(command);
  return true;
}

}  // namespace spherolux::player
