// Running jobs for the subcommands: one conversion-engine job with progress and time left
// on stderr and SIGINT / SIGTERM turned into a clean stop, and the same two signals for
// in-process work (photos), which remove this run's unfinished files and end the program.
#pragma once

#include <string>
#include <vector>

#include "convert/job.h"

namespace cli {

struct EngineRun {
  int result = 0;        // the engine's result code
  bool stopped = false;  // interrupted by SIGINT or SIGTERM
  int signal = 0;        // the signal that stopped it
  bool loaded = false;   // false: the engine could not be loaded (message printed)
};

// Loads the engine from the program's folder and runs the job.
EngineRun RunEngineJob(const spherolux::convert::EngineCall& call, int rotation);

// Why an OUT the user named may not be written ("OUT: A file of the output's name exists
// already; ... Give --overwrite to replace it."), or empty when it may (CheckOutput of
// convert/client.h).
std::string OutputRefusal(const std::string& output, const std::vector<std::string>& inputs, bool photo,
                          bool overwrite);

// The exit code of a program ended by `signal`: 130 for SIGINT, 143 for SIGTERM.
inline int SignalExitCode(int signal) { return 128 + signal; }

// From here on, SIGINT and SIGTERM remove the unfinished output files of this process
// (base/output_file.h) and end it with SignalExitCode.
void EndOnSignalsAfterCleanUp();

}  // namespace cli
