// Runs one conversion-engine job for a subcommand: loads the engine from the program's
// folder, shows progress and time left on stderr once a second, and turns SIGINT and
// SIGTERM into a clean stop of the job.
#pragma once

#include "convert/job.h"

namespace cli {

struct EngineRun {
  int result = 0;        // the engine's result code
  bool stopped = false;  // interrupted by SIGINT or SIGTERM
  bool loaded = false;   // false: the engine could not be loaded (message printed)
};

EngineRun RunEngineJob(const spherolux::convert::EngineCall& call, int rotation);

}  // namespace cli
