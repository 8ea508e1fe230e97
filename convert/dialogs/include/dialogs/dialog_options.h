// What the converter and the merger take from their surroundings: where the settings live
// (the output directory) and the process's conversion service, which runs their jobs.
#pragma once

#include <string>

#include "convert/service.h"
#include "ui/settings.h"

namespace spherolux::dialogs {

struct DialogOptions {
  ui::Environment environment = ui::Environment::FromProcess();
  // The process's one conversion service (convert/service.h); it outlives the windows. Null
  // when the engine could not be loaded: `engine_error` says why, and no job can start.
  convert::ConversionService* service = nullptr;
  std::string engine_error;
};

}  // namespace spherolux::dialogs
