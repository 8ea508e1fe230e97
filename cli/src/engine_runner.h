// Runs one conversion-engine job for a subcommand: loads the engine from the program's
// folder, shows progress and time left on stderr once a second, and turns Ctrl-C into a
// clean stop of the job.
#pragma once

#include <string>
#include <vector>

namespace cli {

struct EngineRun {
  int result = 0;        // the engine's result code
  bool stopped = false;  // interrupted by SIGINT or SIGTERM
  bool loaded = false;   // false: the engine could not be loaded (message printed)
};

EngineRun RunEngineJob(const std::vector<std::string>& args, int rotation, int high_flag, bool show_progress);

}  // namespace cli
