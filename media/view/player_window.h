// PlayerWindow: a small window around CMediaPlayer and its CVideoControl that handles the
// video control's messages and the player's notifications the way a player window does:
// drag, fling and wheel become view requests, each drawn frame (0x500) a refresh, the view
// commands (0x504) modes, flip and reset, the end of media a stop. Its keys run the commands
// the input table binds for spherolux-play through the command core. spherolux-play shows
// it; the player's GUI tests drive it with real input.
//
// Window thread only; the player's notifications are posted to it.
#pragma once

#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "media/media_player.h"
#include "media/player_input.h"
#include "media/video_control.h"
#include "platform/message_window.h"

namespace spherolux::media {

class PlayerWindow : public platform::MessageWindow, private player::Host {
 public:
  explicit PlayerWindow(QWidget* parent = nullptr);
  ~PlayerWindow() override;

  // Probes and opens a photo (by its name: .jpg, .bmp) or a video and starts it. False with a
  // message in *error when the file is refused or cannot be opened.
  bool OpenFile(const std::string& path, std::string* error);
  // Stops the playback or closes the photo.
  void Close() override;

  CMediaPlayer& player() { return *player_; }
  // The 25 ms refresh of a shown photo (on by default); tests turn it off to refresh by hand.
  void SetPhotoRefresh(bool on) { photo_refresh_ = on; }
  CVideoControl& video() { return *video_; }
  bool photo() const { return photo_; }
  // Messages seen so far, by number, and commands run from keys (for the tests).
  int count(unsigned message) const;
  int count(player::CommandId command) const;
  // The last position (percent) and length (ms) the player reported.
  int position() const { return position_; }
  int64_t length_ms() const { return length_ms_; }
  // Called for every message after it was handled.
  void SetObserver(std::function<void(unsigned, WParam, LParam)> observer) { observer_ = std::move(observer); }

 protected:
  LParam onMessage(unsigned msg, WParam wparam, LParam lparam) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Handle(unsigned message, WParam wparam, LParam lparam);
  // player::Host
  player::Situation situation() const override;
  void Quit() override { close(); }
  void Changed(const player::Command& command) override;
  // Opening through the core (OpenFile): whatever is there is stopped first.
  bool showing() const override { return true; }
  void Refused(int reason) override;
  void OpenFailed() override;
  void Started(bool photo) override;
  void OnEngineEvent(WParam code, LParam lparam);

  CVideoControl* video_ = nullptr;  // child widget
  std::unique_ptr<CMediaPlayer> player_;
  std::unique_ptr<PlayerEngine> engine_;
  std::unique_ptr<player::PlayerCore> core_;
  QTimer photo_timer_;
  bool photo_ = false;
  bool photo_refresh_ = true;
  bool started_ = false;    // the last OpenFile's file is shown
  std::string open_error_;  // or why it is not
  int position_ = 0;
  int64_t length_ms_ = 0;
  std::map<unsigned, int> counts_;
  std::map<player::CommandId, int> commands_;
  std::function<void(unsigned, WParam, LParam)> observer_;
};

}  // namespace spherolux::media
