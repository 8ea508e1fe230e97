#include "engine_runner.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "base/output_file.h"
#include "base/system.h"
#include "convert/client.h"
#include "convert/runner.h"

namespace cli {
namespace {

using namespace spherolux::convert;

// The job the signal handler stops (RequestStop is safe there), and the signal it got.
std::atomic<JobRunner*> g_runner{nullptr};
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);
void OnSignal(int sig) {
  g_signal.store(sig);
  if (JobRunner* runner = g_runner.load()) runner->RequestStop();
}

void CleanUpAndEnd(int sig) {
  spherolux::DiscardOutputFilesOnSignal();
  ::_exit(SignalExitCode(sig));
}

void PrintProgress(const JobProgress& p) {
  const int filled = static_cast<int>(p.percent / 5);
  std::fprintf(stderr, "\r[%-20.*s] %s %s%s", filled, "####################", p.progress_text.c_str(),
               p.time_left_text.c_str(), p.finished ? "\n" : "");
  std::fflush(stderr);
}

}  // namespace

EngineRun RunEngineJob(const EngineCall& call, int rotation) {
  EngineRun run;
  EngineApi api;
  std::string error;
  if (!LoadEngine(spherolux::ProgramDir(), &api, &error)) {
    std::fprintf(stderr, "spherolux-cli: %s\n", error.c_str());
    return run;
  }
  run.loaded = true;
  JobRunner runner(api);
  g_signal = 0;
  g_runner = &runner;
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  struct sigaction old_int, old_term;
  sigaction(SIGINT, &sa, &old_int);
  sigaction(SIGTERM, &sa, &old_term);
  const JobOutcome outcome = runner.Run(call, rotation, PrintProgress);
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  g_runner = nullptr;
  run.result = outcome.result;
  run.stopped = outcome.stopped;
  run.signal = g_signal.load();
  return run;
}

std::string OutputRefusal(const std::string& output, const std::vector<std::string>& inputs, bool photo,
                          bool overwrite) {
  const Cause refusal = CheckOutput(output, inputs, photo, overwrite);
  if (refusal == Cause::kNone) return {};
  std::string text = output + ": " + CauseText(refusal);
  if (refusal == Cause::kOutputExists) text += " Give --overwrite to replace it.";
  return text;
}

void EndOnSignalsAfterCleanUp() {
  struct sigaction sa = {};
  sa.sa_handler = CleanUpAndEnd;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace cli
