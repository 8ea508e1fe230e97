// PlayerCore: runs the commands (commands.h) of one player window. The window forwards its
// keys, menu choices and buttons here by command; the core decides whether the command applies
// to what is open, keeps the state a command toggles (flip, rotation, mute) and calls the
// player through Engine and the window through Host. The windows only lay out, paint and
// forward.
//
// Not thread-safe: the window thread only (but for open_number()).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "player/commands.h"

namespace spherolux::player {

// The player the core drives (media::CMediaPlayer in the windows; its states are those of
// PlayerState below).
class Engine {
 public:
  enum PlayerState : int { kNone = 0, kOpened = 1, kPlaying = 2, kPaused = 3, kStopped = 4 };
  virtual ~Engine() = default;
  virtual int state() const = 0;
  virtual void Play() = 0;
  virtual void Pause() = 0;
  virtual void Stop() = 0;
  virtual int position() const = 0;  // percent of the length, as last reported
  virtual void Seek(float percent) = 0;
  virtual void FrameStep() = 0;
  virtual void SetViewMode(int mode) = 0;
  virtual void Turn(float right_degrees, float up_degrees) = 0;
  // The pointer's gestures, in pixels of the video area: a drag, the velocity (pixels per
  // second) at its release, and a wheel turn (minus the wheel's angle delta: a notch forwards,
  // zooming in, is -120).
  virtual void Drag(float dx, float dy) = 0;
  virtual void Fling(float vx, float vy) = 0;
  virtual void Wheel(int delta) = 0;
  virtual void ResetView() = 0;
  virtual void SetFlip(bool on) = 0;
  virtual void Rotate(int degrees) = 0;
  virtual void Snapshot() = 0;
  virtual void ToggleStreamRecording() = 0;
  virtual void SetMute(bool on) = 0;
  virtual void SetVolume(int percent) = 0;
  // Opening a file as a photo or a video: Probe answers 0 when `path` can be shown, else the
  // reason it cannot (a code the window words); Open opens it, false when it could not.
  virtual int Probe(const std::string& path, bool photo) = 0;
  virtual bool Open(const std::string& path, bool photo) = 0;
};

// What the engine reports about the open file (PlayerCore::EngineEvent): it plays (`value` its
// length in ms, 0 when unknown), it paused, it reached its end, it is at `value` (percent x 100).
enum class Playback : uint8_t { kPlaying, kPaused, kEnded, kPosition };

// What only the window can do or show. Commands the window does not offer are no-ops by
// default.
class Host {
 public:
  virtual ~Host() = default;
  virtual Situation situation() const = 0;
  // Opens the current file again (play after its end).
  virtual void Reopen() {}
  virtual void OpenFile() {}
  virtual void Screenshot() {}
  virtual void ScreenRecord() {}
  virtual void FullScreen(bool /*on*/) {}
  virtual bool fullScreen() const { return false; }
  virtual void Converter() {}
  virtual void Language() {}
  virtual void Quit() {}
  // The reframe panel: a keyframe of the current view, and the panel shown or hidden.
  virtual void AddKeyframe() {}
  virtual void Reframe() {}
  // A command changed what the bars show: playing, the view mode, flip, mute.
  virtual void Changed(const Command& /*command*/) {}
  // Opening (PlayerCore::Open), in order: Close() when a file is shown (it ends as a stop
  // would), then Refused(reason) when the file cannot be shown, OpenFailed() when it could not
  // be opened, else Started(photo) once it is open, just before a video starts playing.
  virtual bool showing() const { return false; }
  virtual void Close() {}
  virtual void Refused(int /*reason*/) {}
  virtual void OpenFailed() {}
  virtual void Started(bool /*photo*/) {}
  // The playback of the open file, never of one opened before it.
  virtual void PlaybackChanged(Playback /*what*/, int64_t /*value*/) {}
};

class PlayerCore {
 public:
  PlayerCore(Engine& engine, Host& host) : engine_(engine), host_(host) {}

  bool Applies(const Command& command) const { return player::Applies(command, host_.situation()); }
  // Runs `command` when it applies; false when it does not (nothing happened).
  bool Run(const Command& command);
  // The text form; false also for an unknown command.
  bool Run(std::string_view text);
  // The pointer's gestures on the picture (see Engine), which steer the view as turn and zoom do.
  void Drag(float dx, float dy) { engine_.Drag(dx, dy); }
  void Fling(float vx, float vy) { engine_.Fling(vx, vy); }
  void Wheel(int delta) { engine_.Wheel(delta); }

  // Opens `path` (a photo when `photo`) in place of what is shown, as the Host's opening
  // calls describe; a video starts playing.
  void Open(const std::string& path, bool photo);
  // Each open has a number. The engine's threads tag their events with the number current when
  // they post them (any thread may read it); EngineEvent passes an event on to the host only
  // while its open is current, so that an end or a pause of the file before, still queued when
  // the next one opened, does not stop the new one.
  uint32_t open_number() const { return open_number_.load(); }
  void EngineEvent(uint32_t open, Playback what, int64_t value);
  // A file was opened: it starts upright and unflipped.
  void Opened();
  bool flipped() const { return flipped_; }
  int rotation() const { return rotation_; }
  bool muted() const { return muted_; }

 private:
  Engine& engine_;
  Host& host_;
  bool flipped_ = false;
  int rotation_ = 0;
  bool muted_ = false;
  std::atomic<uint32_t> open_number_{0};
};

}  // namespace spherolux::player
