// The main window's keys and context menu, one line per binding. Each does exactly what the
// matching button does: it posts that button's message to the window (or, for the two
// pseudo messages below, runs the same code as the button).
#pragma once

#include <QString>
#include <span>

#include "platform/messages.h"

namespace spherolux::app {

// Bindings that are no message of their own.
constexpr unsigned kKeyRecord = platform::kWmUser + 900;           // the panel's Record button
constexpr unsigned kKeyLeaveFullScreen = platform::kWmUser + 901;  // Esc: full screen off only

struct KeyBinding {
  const char* keys;        // QKeySequence text
  const char* other_keys;  // a second sequence, or null
  unsigned message;
  platform::LParam lparam;
};
std::span<const KeyBinding> KeyBindings();

// The context menu of the video area. message 0 is a separator.
struct MenuEntry {
  unsigned message;
  platform::LParam lparam;
  int text;           // string id
  int icon;           // skin image id, 0 for none
  const char* keys;   // shown beside the text
  bool needs_medium;  // disabled while nothing is shown
};
std::span<const MenuEntry> ContextMenu();

// The UI-language text of a string id, with "%s" replaced by `arg` when given.
QString Text(int id);
QString Text(int id, const QString& arg);

}  // namespace spherolux::app
