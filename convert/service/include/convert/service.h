// ConversionService: the one owner of the conversion engine in a process. Every job that
// uses the engine or the photo pipeline (a conversion, a stitched photo, a merge, the
// player's stream-record remux) is handed to it and runs on its thread, one at a time, in
// the order handed over.
//
//   std::string error;
//   auto service = ConversionService::Load(ProgramDir(), &error);   // once per process
//   ServiceJob job = ...;                                            // see ServiceJob
//   uint64_t id = service->Submit(std::move(job), {on_started, on_progress, on_ended});
//   service->Stop(id);                                               // this job only
//
// Why one owner: the engine keeps one stop request and one progress callback for the whole
// process (stop_transcoding ends every job running at that moment). With the service as its
// only caller, one job runs at a time, and a job's Stop never reaches another job.
//
// Each job has its own callbacks: `started` when it begins, `progress` once a second while
// an engine job runs, `ended` exactly once per job. They run on the service's thread and
// must return at once (a window posts what it receives to its user-interface thread and
// touches no widget there); the one exception is a job stopped or dropped while it waits:
// its `ended` runs on the thread that stopped it, before Stop returns.
//
// A stopped job leaves nothing behind: the engine removes its temporary and claimed name. A
// job a stop reached too late to interrupt (a photo cannot be interrupted; an engine job may
// have just finished) has its output removed when its name was one the program picked, and
// counts as done when the user named it. The service never touches any other file.
//
// Submit, Stop, StopAll, Wait and the destructor may be called from any thread;
// StopAllFromSignal also from a signal handler. The destructor stops every job and waits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "convert/client.h"
#include "convert/job.h"
#include "convert/runner.h"

namespace spherolux::convert {

// One job: a call of the engine, or a photo through the photo pipeline.
struct ServiceJob {
  enum class Kind { kEngine, kPhoto };
  Kind kind = Kind::kEngine;
  // The output. Empty: the program picks the first free name for `input` in `output_dir`
  // (DefaultOutputPath of convert/client.h), and picks again when another run took it
  // meanwhile (RunOnFreeName).
  std::string output;
  std::string input;
  std::string output_dir;
  // kEngine: the call that writes a given output, and the rotation in degrees.
  std::function<EngineCall(const std::string& output)> call;
  int rotation = 0;
  // kPhoto: the photo pipeline's quality index and what it may do with an existing file
  // (a picked name is always claimed).
  int quality = 1;
  bool overwrite = false;
};

struct ServiceResult {
  int result = 0;        // the engine's result code, or the photo pipeline's (0: done)
  bool stopped = false;  // a stop reached the job: nothing of it is left
  std::string output;    // the file the job wrote or meant to write ("" when never started)
};

struct ServiceCallbacks {
  std::function<void()> started;  // the job begins (not for one stopped while it waits)
  std::function<void(const JobProgress&)> progress;
  std::function<void(const ServiceResult&)> ended;
};

class ConversionService {
 public:
  // The service for the engine in `dir` (kEngineFileName), or null with *error set when that
  // file is missing or unreadable. The engine is loaded when the first engine job runs.
  static std::unique_ptr<ConversionService> Load(const std::string& dir, std::string* error);

  explicit ConversionService(const EngineApi& api);
  explicit ConversionService(const std::string& engine_dir);
  ~ConversionService();
  ConversionService(const ConversionService&) = delete;
  ConversionService& operator=(const ConversionService&) = delete;

  // Queues `job` behind the others; returns its id (ids grow from 1).
  uint64_t Submit(ServiceJob job, ServiceCallbacks callbacks);
  // Stops the job `id`, waiting or running; nothing for a job that ended or is unknown.
  void Stop(uint64_t id);
  // Stops the running job and drops every waiting one.
  void StopAll();
  // StopAll for a signal handler: the running job stops soon, and no waiting job starts.
  // Stays in force until ClearStopAll.
  void StopAllFromSignal();
  void ClearStopAll() { stop_all_.store(false); }
  // Blocks until the job `id` has ended (its `ended` returned); at once for an ended one.
  void Wait(uint64_t id);
  // No job waits or runs.
  bool idle() const;
  // A photo job runs (it cannot be interrupted; a signal handler may end the process).
  bool photo_running() const { return photo_running_.load(); }

 private:
  struct Pending {
    uint64_t id;
    ServiceJob job;
    ServiceCallbacks callbacks;
  };
  void Loop();
  ServiceResult RunOne(const Pending& pending);
  ServiceResult RunPhoto(const ServiceJob& job);
  ServiceResult RunEngine(const ServiceJob& job, const ServiceCallbacks& callbacks);
  void Finish(uint64_t id);
  bool StopRequested() const;

  // The engine's one runner: Run on the service's thread, Reset there under mutex_ before
  // each job, RequestStop from any thread (and signal handlers).
  JobRunner runner_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable ended_;
  std::deque<Pending> pending_;  // guarded by mutex_
  std::set<uint64_t> live_;      // guarded: submitted and not yet ended
  uint64_t running_ = 0;         // guarded: the job on the thread, 0 when none
  bool stop_running_ = false;    // guarded: Stop reached the running job
  bool quit_ = false;            // guarded
  uint64_t last_id_ = 0;         // guarded
  std::atomic<bool> stop_all_{false};
  std::atomic<bool> photo_running_{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "StopAllFromSignal must be safe in a signal handler");
  std::thread thread_;
};

}  // namespace spherolux::convert
