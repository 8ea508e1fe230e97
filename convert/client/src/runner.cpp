#include "convert/runner.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include "base/log.h"

namespace spherolux::convert {
namespace {

uint32_t NowMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

JobProgress Snapshot(const ProgressClock& clock, float percent, bool finished) {
  JobProgress p;
  p.percent = percent;
  p.remaining_seconds = clock.remaining_seconds();
  p.finished = finished;
  return p;
}

}  // namespace

void JobRunner::StoreProgress(float percent, void* user) { static_cast<JobRunner*>(user)->progress_.store(percent); }

JobOutcome JobRunner::Run(const EngineCall& call, int rotation, const std::function<void(const JobProgress&)>& report) {
  JobOutcome outcome;
  if (api_.synth_trans == nullptr) {
    std::string error;
    if (!LoadEngine(engine_dir_, &api_, &error)) {
      Logf("conversion engine: %s\n", error.c_str());
      outcome.result = CONVERT_ERR_SYSTEM;
      return outcome;
    }
  }
  progress_ = 0;
  api_.setposition_callback(&JobRunner::StoreProgress, this);
  std::vector<const char*> argv;
  for (const auto& a : call.args) argv.push_back(a.c_str());
  std::atomic<bool> done{false};
  std::thread worker;
  try {
    worker = std::thread([&] {
      outcome.result = api_.synth_trans(static_cast<int>(argv.size()), argv.data(), rotation, 0, call.high_flag);
      done = true;
    });
  } catch (const std::system_error&) {
    api_.setposition_callback(nullptr, nullptr);
    outcome.result = CONVERT_ERR_SYSTEM;
    return outcome;
  }

  ProgressClock clock;
  clock.Start(NowMs());
  uint32_t next_report = NowMs() + 1000;
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (stop_ && !outcome.stopped) {
      api_.stop_transcoding();
      outcome.stopped = true;
    }
    if (int32_t(NowMs() - next_report) >= 0) {
      next_report += 1000;
      const float percent = progress_.load();
      clock.Update(percent, NowMs());
      if (report) report(Snapshot(clock, percent, false));
    }
  }
  worker.join();
  api_.setposition_callback(nullptr, nullptr);
  const float last = outcome.result == CONVERT_OK ? 100.0f : 0.0f;
  clock.Update(last, NowMs());
  if (report) report(Snapshot(clock, last, true));
  return outcome;
}

}  // namespace spherolux::convert
