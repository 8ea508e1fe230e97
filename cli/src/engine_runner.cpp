#include "engine_runner.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include "base/output_file.h"
#include "base/system.h"
#include "convert/client.h"

namespace cli {
namespace {

using namespace spherolux::convert;

// The service the signal handler stops (StopAllFromSignal is safe there), and the signal it got.
std::atomic<ConversionService*> g_service{nullptr};
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void CleanUpAndEnd(int sig) {
  spherolux::DiscardOutputFilesOnSignal();
  ::_exit(SignalExitCode(sig));
}

void OnSignal(int sig) {
  g_signal.store(sig);
  ConversionService* service = g_service.load();
  if (service == nullptr) return;
  service->StopAllFromSignal();
  // A photo cannot be interrupted: its unfinished files go with the process.
  if (service->photo_running()) CleanUpAndEnd(sig);
}

void PrintProgress(const std::string& prefix, const JobProgress& p) {
  const int filled = static_cast<int>(p.percent / 5);
  std::fprintf(stderr, "\r%s[%-20.*s] %s %s%s", prefix.c_str(), filled, "####################",
               ProgressText(p.percent, kLanguage).c_str(), TimeLeftText(p.remaining_seconds, kLanguage).c_str(),
               p.finished ? "\n" : "");
  std::fflush(stderr);
}

}  // namespace

ConversionService* Service() {
  static const std::unique_ptr<ConversionService> service = [] {
    std::string error;
    std::unique_ptr<ConversionService> s = ConversionService::Load(spherolux::ProgramDir(), &error);
    if (!s) std::fprintf(stderr, "spherolux-cli: %s\n", error.c_str());
    return s;
  }();
  return service.get();
}

std::string QueueLabel(size_t index, size_t count, const std::string& name) {
  if (count < 2) return {};
  return "[" + std::to_string(index + 1) + "/" + std::to_string(count) + "] " + name + " ";
}

QueueRun RunQueue(std::vector<QueueItem> items) {
  QueueRun run;
  ConversionService* service = Service();
  if (service == nullptr) return run;
  run.loaded = true;
  g_signal = 0;
  service->ClearStopAll();
  g_service = service;
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  struct sigaction old_int, old_term;
  sigaction(SIGINT, &sa, &old_int);
  sigaction(SIGTERM, &sa, &old_term);

  std::vector<uint64_t> ids;
  for (QueueItem& item : items) {
    const std::string prefix = item.label;
    // The line of a photo (no progress) is closed when it ends; an engine job's last report closes its own.
    auto open = std::make_shared<bool>(false);
    ServiceCallbacks callbacks;
    callbacks.started = [prefix, open] {
      if (prefix.empty()) return;
      std::fprintf(stderr, "%s", prefix.c_str());
      std::fflush(stderr);
      *open = true;
    };
    callbacks.progress = [prefix, open](const JobProgress& p) {
      PrintProgress(prefix, p);
      *open = !p.finished;
    };
    callbacks.ended = [open, ended = std::move(item.ended)](const ServiceResult& r) {
      if (*open) std::fputc('\n', stderr);
      if (ended) ended(r);
      std::fflush(stdout);
    };
    ids.push_back(service->Submit(std::move(item.job), std::move(callbacks)));
  }
  for (uint64_t id : ids) service->Wait(id);

  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  g_service = nullptr;
  run.signal = g_signal.load();
  run.stopped = run.signal != 0;
  return run;
}

EngineRun RunEngineJob(const EngineCall& call, int rotation) {
  EngineRun engine_run;
  std::vector<QueueItem> items(1);
  items[0].job.output = call.args.back();
  items[0].job.call = [call](const std::string&) { return call; };
  items[0].job.rotation = rotation;
  items[0].ended = [&engine_run](const ServiceResult& r) {
    engine_run.result = r.result;
    engine_run.stopped = r.stopped;
  };
  const QueueRun run = RunQueue(std::move(items));
  engine_run.loaded = run.loaded;
  engine_run.stopped = engine_run.stopped || run.stopped;
  engine_run.signal = run.signal;
  return engine_run;
}

std::string OutputRefusal(const std::string& output, const std::vector<std::string>& inputs, bool photo,
                          bool overwrite) {
  const Cause refusal = CheckOutput(output, inputs, photo, overwrite);
  if (refusal == Cause::kNone) return {};
  std::string text = output + ": " + CauseText(refusal, kLanguage);
  if (refusal == Cause::kOutputExists) text += " Give --overwrite to replace it.";
  return text;
}

}  // namespace cli
