// What the converter and the merger take from their surroundings: where the settings live
// (the output directory) and where the conversion engine is loaded from.
#pragma once

#include <string>

#include "ui/settings.h"

namespace spherolux::dialogs {

struct DialogOptions {
  ui::Environment environment = ui::Environment::FromProcess();
  // The folder of libconvert.so; the program's own folder when empty.
  std::string engine_dir;
};

}  // namespace spherolux::dialogs
