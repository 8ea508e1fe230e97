// State of one running job shared between its threads and the engine's exported calls.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace spherolux::convert {

// Calls the registered progress callback every 250 ms from its own thread while the job
// runs, so that progress arrives at least once a second even while a frame takes long.
class JobContext {
 public:
  JobContext();
  ~JobContext();
  JobContext(const JobContext&) = delete;
  JobContext& operator=(const JobContext&) = delete;

  // True once stop_transcoding was called after this job began. Any thread.
  bool stopped() const;
  // Progress in percent, written by the job's threads, read by the reporter.
  void SetProgress(float percent) { progress_.store(percent, std::memory_order_relaxed); }
  // Reports 100 at once (success).
  void Finish();

  // libavformat interrupt callback: opaque is the JobContext.
  static int Interrupt(void* opaque);

 private:
  void Report();
  uint64_t generation_;
  std::atomic<float> progress_{0};
  std::mutex mu_;
  std::condition_variable cv_;
  bool done_ = false;  // guarded by mu_
  std::thread reporter_;
};

// Requests every running job to stop.
void RequestStopAll();
// Calls the registered callback (if any) with `percent`.
void ReportProgress(float percent);

}  // namespace spherolux::convert
