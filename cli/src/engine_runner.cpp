#include "engine_runner.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <thread>

#include "convert/client.h"
#include "convert/job.h"

namespace cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
void OnSignal(int) { g_interrupted = 1; }

std::atomic<float> g_progress{0};
void StoreProgress(float p, void*) { g_progress.store(p); }

uint32_t NowMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

EngineRun RunEngineJob(const std::vector<std::string>& args, int rotation, int high_flag, bool show_progress) {
  using namespace spherolux::convert;
  EngineRun run;
  EngineApi api;
  std::string error;
  if (!LoadEngine(ProgramDir(), &api, &error)) {
    std::fprintf(stderr, "spherolux-cli: %s\n", error.c_str());
    return run;
  }
  run.loaded = true;
  g_progress = 0;
  api.setposition_callback(StoreProgress, nullptr);

  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  struct sigaction old_int, old_term;
  sigaction(SIGINT, &sa, &old_int);
  sigaction(SIGTERM, &sa, &old_term);
  g_interrupted = 0;

  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::atomic<bool> done{false};
  std::thread worker([&] {
    run.result = api.synth_trans(static_cast<int>(argv.size()), argv.data(), rotation, 0, high_flag);
    done = true;
  });

  ProgressClock clock;
  clock.Start(NowMs());
  uint32_t next_refresh = NowMs() + 1000;
  bool stop_sent = false;
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (g_interrupted && !stop_sent) {
      api.stop_transcoding();
      stop_sent = true;
    }
    if (show_progress && int32_t(NowMs() - next_refresh) >= 0) {
      next_refresh += 1000;
      clock.Update(g_progress.load(), NowMs());
      const int filled = static_cast<int>(g_progress.load() / 5);
      std::fprintf(stderr, "\r[%-20.*s] %s %s", filled, "####################", clock.ProgressText().c_str(),
                   clock.TimeLeftText().c_str());
      std::fflush(stderr);
    }
  }
  worker.join();
  if (show_progress) {
    clock.Update(run.result == 0 ? 100.0f : 0.0f, NowMs());
    std::fprintf(stderr, "\r[%-20.*s] %s %s\n", run.result == 0 ? 20 : 0, "####################",
                 clock.ProgressText().c_str(), clock.TimeLeftText().c_str());
  }
  api.setposition_callback(nullptr, nullptr);
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);
  run.stopped = stop_sent;
  return run;
}

}  // namespace cli
