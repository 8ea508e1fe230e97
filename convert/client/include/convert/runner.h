// Runs one job of the conversion engine and reports its progress and time left.
//
//   JobRunner runner(api);                      // api: a loaded engine (convert/client.h)
//   JobOutcome done = runner.Run(call, rotation, [](const JobProgress& p) { show p });
//
// Run calls synth_trans on a thread of its own and waits on the calling thread, which wakes
// every 50 ms to pass on a stop request and once a second to report; it reports once more
// when the job has ended. The report callback runs on the calling thread: a window posts
// what it receives to its user-interface thread, a terminal prints it.
//
// The engine keeps one progress callback for the whole process: run one job at a time per
// process. A stop, once requested, stays requested until Reset (a window that runs many jobs
// on one runner calls it before each). RequestStop may be called from any thread and from a
// signal handler. The report callback must not throw.
//
// A stopped or failed job leaves nothing behind and touches no other file: the engine removes
// its own temporary and claimed name. Front ends must not delete the output path themselves
// after a stop (a file of that name is not theirs).
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "convert/client.h"
#include "convert/job.h"

namespace spherolux::convert {

struct JobProgress {
  float percent = 0;          // 0 to 100
  int remaining_seconds = 0;  // the time-left estimate
  bool finished = false;      // the last report: percent is 100 after a success, else 0
};

struct JobOutcome {
  int result = CONVERT_OK;  // the engine's result code
  bool stopped = false;     // a stop was requested and passed to the engine
};

class JobRunner {
 public:
  explicit JobRunner(const EngineApi& api) : api_(api) {}
  // A runner that loads the engine from `engine_dir` (LoadEngine) when its first job runs, so
  // that a program pays for the engine's libraries only once it converts. A job that finds the
  // engine unloadable ends with CONVERT_ERR_SYSTEM (the reason goes to the log).
  explicit JobRunner(std::string engine_dir) : engine_dir_(std::move(engine_dir)) {}
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // Runs the job to its end. CONVERT_ERR_SYSTEM when no thread can be started for it.
  JobOutcome Run(const EngineCall& call, int rotation, const std::function<void(const JobProgress&)>& report);

  // Asks the running job (or the next one, if none runs) to stop soon.
  void RequestStop() { stop_.store(true); }
  // Forgets a stop request, for the next job. Not while a job runs.
  void Reset() { stop_.store(false); }

 private:
  static void StoreProgress(float percent, void* user);

  EngineApi api_;
  std::string engine_dir_;  // where to load the engine from before the first job
  std::atomic<bool> stop_{false};
  std::atomic<float> progress_{0};
  static_assert(std::atomic<bool>::is_always_lock_free, "RequestStop must be safe in a signal handler");
};

}  // namespace spherolux::convert
