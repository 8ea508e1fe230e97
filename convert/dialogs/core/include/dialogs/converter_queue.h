// The converter's queue, for when it is given several files at once: one job per file with
// its own range, rotation, quality and codec, its state and its output name; the order in which
// the jobs run; and the summary once the queue has run through.
//
//   waiting ──Next──▶ running ──OnEnded──▶ done | failed (with the cause) | stopped
//   failed, stopped ──Start──▶ waiting again; done stays done
//
// Jobs run in the order of the list: Next takes the first waiting one. Only a job that is
// not running can be removed; only a waiting one can be moved or edited (a failed or
// stopped one too, as it runs again at the next Start).
//
// Like ConverterModel it touches files only through the `exists` test it is given and runs
// nothing itself: MakeJob describes a job for the conversion service, the window hands it
// over and reports back here.
//
// Plain class, UI thread only. Paths are UTF-8; texts are in the UI language.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/client.h"
#include "convert/runner.h"
#include "convert/service.h"
#include "dialogs/converter_model.h"

namespace spherolux::dialogs {

class ConverterQueue {
 public:
  enum class State { kWaiting, kRunning, kDone, kFailed, kStopped };

  struct Entry {
    uint64_t id = 0;  // stays with the job when rows move
    std::string input;
    bool photo = false;
    int rotation = 0;
    int quality = 1;
    convert::Codec codec = convert::Codec::kH264;
    // The range in whole percent of the length, and the length the preview reported
    // (-1 until it did: MediaInfo's is taken when the job starts).
    int low = 0;
    int high = 100;
    int64_t length_ms = -1;
    State state = State::kWaiting;
    float percent = 0;
    int remaining_seconds = 0;
    // Until the job ran, the name it is going to get (the first that neither exists nor
    // is proposed to a job above it); then the file it wrote or meant to write.
    std::string output;
    std::string cause;  // why it failed or stopped
    // The engine call as the job was handed over (a video only).
    convert::EngineCall call;
  };

  explicit ConverterQueue(ExistsFn exists);

  // The output folder (ending with a separator, or empty: beside each input).
  void SetOutputDir(const std::string& dir);

  // One waiting job per file, at the end, with the given rotation, quality and codec.
  void Add(const std::vector<std::string>& paths, int rotation, int quality,
           convert::Codec codec = convert::Codec::kH264);
  // False for a running job or a row out of range.
  bool Remove(size_t row);
  // Moves a waiting (or failed or stopped) job one row up (-1) or down (+1), never past the
  // running one; false when it cannot. The job's new row is `row + step` on success.
  bool Move(size_t row, int step);

  // The job may still change: it is waiting, failed or stopped.
  bool editable(size_t row) const;
  // Edits of a job that may change (false otherwise). The range comes with the length the
  // preview reported (<= 0 when unknown).
  bool SetRotation(size_t row, int degrees);
  bool SetQuality(size_t row, int quality);
  bool SetCodec(size_t row, convert::Codec codec);
  bool SetRange(size_t row, int low, int high, int64_t length_ms);

  // Start pressed: failed and stopped jobs wait again. False when nothing is left to run.
  bool Start();
  // The row of the next job to run, now running; -1 when none waits or Stop all ended the
  // queue (the queue is over then).
  int Next();
  // The service's job for `row`: the photo, or the engine call of its range (the length
  // `fallback_length_ms` when the preview reported none), quality and codec; `copy` for a
  // recording the camera stitched already. Its output is picked when it starts. Kept as
  // the entry's `call`.
  convert::ServiceJob MakeJob(size_t row, int64_t fallback_length_ms, bool copy);

  // Reports of the job `id` (ignored for an unknown id).
  void OnProgress(uint64_t id, const convert::JobProgress& progress);
  // The check at its turn refused it, with the refusal's text.
  void OnRefused(uint64_t id, const std::string& why);
  // The service ended it: its result code, whether a stop reached it, the file.
  void OnEnded(uint64_t id, int result, bool stopped, const std::string& output);

  // Stop all: no other job starts (the window stops the running one); the waiting ones
  // keep waiting.
  void StopAll() { stop_all_ = true; }
  // Stop all ended the queue (until the next Start).
  bool stopped_all() const { return stop_all_; }
  // A job runs, or the queue goes on with the next.
  bool running() const { return running_; }
  // Start may be pressed: not running and something is left to run.
  bool can_start() const;
  // The row of the running job, -1 when none.
  int running_row() const;
  // The row of the job `id`, -1 when it was removed.
  int Row(uint64_t id) const;

  const std::vector<Entry>& entries() const { return entries_; }
  const Entry& entry(size_t row) const { return entries_[row]; }

  // The state column's text: "Waiting", "Converting 37%", "Done", "Failed: CAUSE", "Stopped".
  std::string StateText(size_t row) const;
  // The summary at the end of a queue that ran through: how many were done, and each one
  // that was not, with its cause, one per line. `done` gets the count.
  std::string Summary(int* done) const;

 private:
  void ProposeOutputs();
  // Some job is neither done nor running.
  bool HasWork() const;

  ExistsFn exists_;
  std::string output_dir_;
  std::vector<Entry> entries_;
  uint64_t last_id_ = 0;
  bool running_ = false;
  bool stop_all_ = false;
};

}  // namespace spherolux::dialogs
