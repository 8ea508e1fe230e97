// ConversionWorker: the converter's worker thread. It sleeps until a job is handed to it,
// runs that one job through the conversion engine (convert/runner.h), and sleeps again; one
// hand-over runs one job.
//
//   ConversionWorker worker(api, {on_progress, on_ended});   // the thread starts here
//   uint64_t id = worker.Run({call, output_path, rotation});
//   ...  on_progress(id) once a second, LatestProgress() has the figures
//   ...  on_ended(id, result, cancelled) when the job is over
//   worker.Stop();                                           // any time: stop the job
//
// A stopped or cancelled job leaves no output file: a file the engine finished before the
// stop reached it is removed as well; a file of that name that the job did not write is
// never touched.
//
// Threads. Run, Stop, CancelAndWait and the destructor are called from one owner thread
// (the UI thread). The two callbacks run on the worker thread and must return at once
// (post to the owner, never wait for it). The destructor stops a running job and waits for
// the thread to end.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "convert/client.h"
#include "convert/job.h"
#include "convert/runner.h"

namespace spherolux::dialogs {

class ConversionWorker {
 public:
  struct Job {
    convert::EngineCall call;  // argument vector (its last entry is the output) and High flag
    std::string output;        // the file the job writes
    int rotation = 0;
  };
  struct Callbacks {
    std::function<void(uint64_t id)> progress;                           // LatestProgress() changed
    std::function<void(uint64_t id, int result, bool cancelled)> ended;  // the job is over
  };

  ConversionWorker(const convert::EngineApi& api, Callbacks callbacks);
  ~ConversionWorker();
  ConversionWorker(const ConversionWorker&) = delete;
  ConversionWorker& operator=(const ConversionWorker&) = delete;

  // Hands `job` to the worker and wakes it; returns the job's id (ids grow from 1). Jobs
  // handed over while another one runs or ends wait for it, in order. After CancelAndWait
  // nothing runs any more: 0, and nothing is reported.
  uint64_t Run(Job job);
  // Stops the job handed over last (waiting or running); it ends as cancelled. Nothing when
  // none is left.
  void Stop();
  // Stops the job as Stop does and blocks until the worker has finished cleaning up (polling
  // every 50 ms); no job runs afterwards.
  void CancelAndWait();
  // From the hand-over of a job to the end of its clean-up.
  bool busy() const { return busy_.load(); }

  convert::JobProgress LatestProgress() const;

 private:
  void Loop();
  void RunOne(uint64_t id, const Job& job);

  convert::EngineApi api_;
  Callbacks callbacks_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  struct Pending {
    uint64_t id;
    Job job;
    bool cancelled = false;  // stopped before it began
  };
  // Guarded by mutex_: the jobs handed over and not yet taken, the quit flag, and whether
  // the running job was stopped.
  std::deque<Pending> pending_;
  bool quit_ = false;
  bool cancel_ = false;
  uint64_t last_id_ = 0;                  // owner thread
  convert::JobRunner* runner_ = nullptr;  // guarded by mutex_: the running job's runner
  convert::JobProgress latest_;           // guarded by mutex_
  std::atomic<bool> busy_{false};         // written by Run (owner) and the worker
  std::thread thread_;
};

}  // namespace spherolux::dialogs
