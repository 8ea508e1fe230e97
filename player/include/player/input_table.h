// The input table: which key and which context-menu entry runs which command (commands.h), in
// one place, as mpv's input.conf does. Each binding names the windows it holds in: the main
// window, spherolux-play and the converter's trim preview. The README's key table is checked
// against the main window's rows by a test.
//
// Keys are written as QKeySequence text ("Ctrl+Shift+S", "Space", "."); commands in their
// text form ("view-mode 3"). Constant data; any thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "player/commands.h"

namespace spherolux::player {

enum Window : unsigned {
  kMainWindow = 1u << 0,
  kPlayWindow = 1u << 1,   // spherolux-play
  kTrimPreview = 1u << 2,  // the converter's trim preview
};

struct KeyBinding {
  const char* keys;
  const char* command;
  unsigned windows;  // Window bits
};
std::span<const KeyBinding> KeyBindings();

// The command `keys` runs in `window`; nullopt when the key is not bound there.
std::optional<Command> CommandForKey(Window window, std::string_view keys);
// The first key bound to `command` in `window` ("" for none): the text a menu shows beside it.
std::string KeysForCommand(Window window, const Command& command);

// The main window's context menu, top to bottom; a null command is a separator. `text` is the
// entry's string id (ui/strings.h); the entry is enabled when its command applies, and a
// command that cannot run at all here (no converter, no screen recorder) is left out.
struct MenuEntry {
  const char* command;
  int text;
};
std::span<const MenuEntry> ContextMenu();

}  // namespace spherolux::player
