// Mpris: the player as a remote-controllable media player on the desktop's session bus, after
// the MPRIS D-Bus Interface Specification 2.2, so that media keys, the desktop's player
// controls and tools such as playerctl drive it.
//
// Bus name org.mpris.MediaPlayer2.spherolux (org.mpris.MediaPlayer2.spherolux.instance<PID>
// when another instance holds it), object /org/mpris/MediaPlayer2, interfaces
// org.mpris.MediaPlayer2 and org.mpris.MediaPlayer2.Player with org.freedesktop.DBus.Properties.
// There is no track list: Next and Previous do nothing.
//
// The player is reached only through MprisSource. Mpris asks it for its status every 250 ms and
// sends PropertiesChanged when the playback status, the metadata, the volume or what can be
// done changed, and Seeked after a seek (ours, or one made in the window: a jump of the
// position). Commands that the status does not allow (play a photo, seek with nothing open) do
// nothing, as MPRIS asks. A shown photo is "Stopped": it neither plays nor pauses. OpenUri
// opens file: URIs only. Method calls are answered first and carried out on the next turn of
// the event loop, so that a message box the command opens does not hold the caller.
//
// Without a session bus (no DBUS_SESSION_BUS_ADDRESS) nothing is registered and nothing is
// said; no bus is started for us. Identity and DesktopEntry are the application's display name
// and desktop file name (QGuiApplication).
//
// Threads: the UI thread only; the bus's calls reach the source on that thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace spherolux::app {

// What the player shows, as a remote control sees it.
struct MprisStatus {
  enum class Kind { kNone, kVideo, kPhoto };
  Kind kind = Kind::kNone;  // of the current file; kNone when there is none or it was refused
  bool open = false;        // a video is playing or paused, a photo is shown
  bool playing = false;
  int64_t position_ms = 0;
  int64_t length_ms = 0;  // 0 when unknown
  double volume = 0;      // 0..1; 0 while muted
  std::string path;       // the current file (bytes as the file system has them)
};

enum class MprisCommand {
  kPlayPause,  // pauses a playing video, else plays the current one (opening it again if stopped)
  kStop,       // closes the playback; the file stays current
  kSeek,       // value: milliseconds from the start
  kVolume,     // value: 0..1, unmuting
  kRaise,      // brings the window to the front
  kQuit,       // closes the window, as its close button does
};

// The player as Mpris drives it. A source may ignore what it cannot do now (the window ignores
// all but kRaise while its converter is open).
class MprisSource {
 public:
  virtual ~MprisSource() = default;
  virtual MprisStatus RemoteStatus() = 0;
  virtual void RemoteCommand(MprisCommand command, double value) = 0;
  // Opens `path` as a file dropped on the window.
  virtual void RemoteOpen(const std::string& path) = 0;
};

class Mpris {
 public:
  // Registers on the session bus when there is one. `source` outlives this object.
  explicit Mpris(MprisSource* source);
  ~Mpris();
  Mpris(const Mpris&) = delete;
  Mpris& operator=(const Mpris&) = delete;

  // The bus name taken; empty when there is no bus or no name could be had.
  std::string serviceName() const;

 private:
  class Object;
  std::unique_ptr<Object> object_;
};

}  // namespace spherolux::app
