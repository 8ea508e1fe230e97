// The command core (player/player_core.h) on the real player: PlayerEngine drives a
// CMediaPlayer and its video control for the core, and KeyCommand looks a key press up in the
// input table (player/input_table.h). The three player windows forward through these.
//
// Window thread only.
#pragma once

#include <functional>
#include <optional>

#include "player/input_table.h"
#include "player/player_core.h"

class QKeyEvent;

namespace spherolux::media {

class CMediaPlayer;
class CVideoControl;

class PlayerEngine final : public player::Engine {
 public:
  // `player` gives the window's player, made on first use when the window makes it lazily.
  PlayerEngine(std::function<CMediaPlayer&()> player, CVideoControl& video)
      : player_(std::move(player)), video_(video) {}

  int state() const override;
  void Play() override;
  void Pause() override;
  void Stop() override;
  int position() const override;
  void Seek(float percent) override;
  void FrameStep() override;
  void SetViewMode(int mode) override;
  // A turn of d degrees is the drag that gives it: d * (diagonal / 2) / 60 pixels, times the
  // renderer's drag gain.
  void Turn(float right_degrees, float up_degrees) override;
  void Drag(float dx, float dy) override;
  void Fling(float vx, float vy) override;
  void Wheel(int delta) override;
  void ResetView() override;
  void SetFlip(bool on) override;
  void Rotate(int degrees) override;
  void Snapshot() override;
  void ToggleStreamRecording() override;
  void SetMute(bool on) override;
  void SetVolume(int percent) override;
  int Probe(const std::string& path, bool photo) override;
  bool Open(const std::string& path, bool photo) override;

 private:
  std::function<CMediaPlayer&()> player_;
  CVideoControl& video_;
};

// The video control's pointer messages (kMsgDrag, kMsgFling with their sent pair of floats,
// kMsgZoom) to `core`; false for any other message.
bool ForwardPointer(player::PlayerCore& core, unsigned message, intptr_t lparam);

// What `player` shows, for the core's rules: a photo while `photo_shown`, a video while one is
// open (and the current file is no photo), with the view modes that suit it. The window adds
// what only it knows (the current file, the plugged-in parts).
player::Situation ShownSituation(const CMediaPlayer& player, bool photo, bool photo_shown);

// The command a button's message runs in `window`: the bars, the caption and the floating
// panel post messages (platform/messages.h), and this table names the command for each, as the
// input table does for keys. The volume and the seek bar carry the command's argument in
// lparam, the mute button its state in wparam; the view command chooses the command by lparam.
// nullopt for any other message.
std::optional<player::Command> ButtonCommand(player::Window window, unsigned message, uintptr_t wparam,
                                             intptr_t lparam);

// The command `event` runs in `window`: the key with its modifiers, or, for a key that is no
// letter, without Shift ("+" is typed with Shift on many keyboards). nullopt when unbound.
std::optional<player::Command> KeyCommand(player::Window window, const QKeyEvent& event);

}  // namespace spherolux::media
