// The player's commands: what a user can ask of a player window, by name and with typed
// arguments, as mpv names its commands. Keys and context-menu entries (input_table.h) and the
// bars' buttons (each window's dispatch) all end in one of these; PlayerCore (player_core.h)
// runs them.
//
// Each command has one rule of when it applies to what is open (a photo has no play, a
// dual-lens file has no dome modes); buttons, menu entries and keys are enabled from that one
// answer, and a command that does not apply does nothing. Steering the view (turn, zoom, flip,
// reset) and choosing a view mode while nothing is shown always apply: the player keeps them
// for nothing, or until a file opens.
//
// Text form: the name, then the arguments separated by spaces ("view-mode 3", "turn -5 0").
// Plain functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace spherolux::player {

enum class CommandId : uint8_t {
  kOpen,             // open-file: ask for a file and open it
  kPlayPause,        // play-pause: play, pause, or open the current file again after its end
  kStop,             // stop
  kSeek,             // seek PERCENT: to 0-100 % of the length
  kSeekBy,           // seek-by PERCENT: forwards (backwards when negative) from where it is
  kFrameStep,        // frame-step: the next picture, paused
  kViewMode,         // view-mode N: 0 sphere, 1 tile, 2 little planet, 3 half ball, 4 in-dome,
                     // 5 layer, 6 flat
  kTurn,             // turn DX DY: turn the view by degrees (right, up)
  kZoom,             // zoom STEPS: zoom in (out when negative) by wheel steps
  kResetView,        // reset-view
  kFlip,             // flip: the view's direction the other way
  kRotate,           // rotate QUARTERS: the picture by quarter turns, clockwise when positive
  kScreenshot,       // screenshot: the view as shown
  kEngineSnapshot,   // engine-snapshot: the decoded picture, as the file holds it
  kStreamRecord,     // stream-record: start or end copying the file's stream as it plays
  kScreenRecord,     // screen-record: start or end recording the view
  kMute,             // mute ON: 1 mute, 0 sound
  kToggleMute,       // toggle-mute
  kVolume,           // volume PERCENT
  kFullScreen,       // full-screen: on and off
  kLeaveFullScreen,  // leave-full-screen: off only
  kConverter,        // converter: open the converter with the current file
  kLanguage,         // language: the language dialog
  kQuit,             // quit
  kAddKeyframe,      // add-keyframe: the current view at the current time, to the reframe path
  kReframe,          // reframe: the reframe panel, open and closed
};

enum class ArgKind : uint8_t { kNone, kInt, kNumber, kPair };

struct Command {
  CommandId id = CommandId::kQuit;
  float x = 0;  // kInt and kNumber: the argument; kPair: the first
  float y = 0;  // kPair: the second
  int value() const { return static_cast<int>(x); }
  bool operator==(const Command&) const = default;
};

// The name of a command ("view-mode") and the kind of its arguments.
const char* NameOf(CommandId id);
ArgKind ArgsOf(CommandId id);
// "view-mode 3" as a command; nullopt for an unknown name or wrong arguments. FormatCommand
// is its inverse.
std::optional<Command> ParseCommand(std::string_view text);
std::string FormatCommand(const Command& command);
// Every command id, in declaration order.
std::span<const CommandId> AllCommands();

// What is open in a window, as far as the rules care.
enum class Shown : uint8_t { kNothing, kPhoto, kVideo };
struct Situation {
  Shown shown = Shown::kNothing;
  // A file is current: shown, or ended or refused (play then opens it again).
  bool file_current = false;
  // The view modes that suit the open file, as bits (1 << mode); see ViewModesFor.
  unsigned view_modes = 0;
  bool converter = false;        // a converter is plugged in
  bool screen_recorder = false;  // a screen recorder is plugged in
};

// The view modes that suit a file, as bits (1 << mode): the modes the floating panel offers
// (ui::PanelButtonsFor), and the flat view for any file that has some.
unsigned ViewModesFor(int camera_type, int width, int height, bool is_photo);

// Whether `command` applies in `situation`.
bool Applies(const Command& command, const Situation& situation);

}  // namespace spherolux::player
