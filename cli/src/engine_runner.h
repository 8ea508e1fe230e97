// Running jobs for the subcommands: the process's conversion service (convert/service.h),
// a queue of jobs with one progress line per file on stderr, and SIGINT / SIGTERM turned into
// a clean stop (a photo, which cannot be interrupted, has its unfinished files removed and
// ends the program).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "convert/job.h"
#include "convert/service.h"
#include "convert/words.h"

namespace cli {

// The language of every text the command line prints, whatever the UI language.
inline constexpr spherolux::ui::Language kLanguage = spherolux::ui::Language::kEnglish;

// The conversion service of this process, loaded from the program's folder at first use;
// null, with the reason printed, when the engine cannot be loaded.
spherolux::convert::ConversionService* Service();

// One job of a queue: what runs, what its progress line starts with (QueueLabel), and what
// to do with its end (on the service's thread, in the order of the queue).
struct QueueItem {
  spherolux::convert::ServiceJob job;
  std::string label;
  std::function<void(const spherolux::convert::ServiceResult&)> ended;
};

struct QueueRun {
  bool loaded = false;   // false: the engine could not be loaded (message printed), nothing ran
  bool stopped = false;  // interrupted by SIGINT or SIGTERM: the running job was stopped, the rest dropped
  int signal = 0;        // the signal that stopped it
};

// "[3/5] NAME " for the third of five files, "" for a single file.
std::string QueueLabel(size_t index, size_t count, const std::string& name);

// Runs the items in order through the service and returns when all have ended.
QueueRun RunQueue(std::vector<QueueItem> items);

struct EngineRun {
  int result = 0;        // the engine's result code
  bool stopped = false;  // interrupted by SIGINT or SIGTERM
  int signal = 0;        // the signal that stopped it
  bool loaded = false;   // false: the engine could not be loaded (message printed)
};

// One engine call (its last argument the output) as a queue of one.
EngineRun RunEngineJob(const spherolux::convert::EngineCall& call, int rotation);

// Why an OUT the user named may not be written ("OUT: A file of the output's name exists
// already; ... Give --overwrite to replace it."), or empty when it may (CheckOutput of
// convert/client.h).
std::string OutputRefusal(const std::string& output, const std::vector<std::string>& inputs, bool photo,
                          bool overwrite);

// The exit code of a program ended by `signal`: 130 for SIGINT, 143 for SIGTERM.
inline int SignalExitCode(int signal) { return 128 + signal; }

}  // namespace cli
