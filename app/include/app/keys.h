// What the main window shows of its input beyond the input table (player/input_table.h): the
// icon beside a context-menu entry, and the UI-language texts of string ids.
#pragma once

#include <QString>

#include "player/commands.h"

namespace spherolux::app {

// The skin image shown beside `command` in the context menu, 0 for none.
int MenuIcon(const player::Command& command);

// The UI-language text of a string id, with "%s" replaced by `arg` when given.
QString Text(int id);
QString Text(int id, const QString& arg);

}  // namespace spherolux::app
