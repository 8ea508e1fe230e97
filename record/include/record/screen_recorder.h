// The screen recorder: what the panoramic view shows, encoded to H.264 in an MP4 file, with
// the sound of the file being played copied from where recording began.
//
//   ScreenRecorder recorder(sink);              // sink gets kMsgRecordSaved at Stop
//   renderer.AttachRecorder(&recorder);
//   recorder.Start(source, RecordFileName(output_dir, now), player_time_ms);
//   ...                                         // the renderer calls Capture per frame
//   recorder.Stop();                            // the file is complete
//
// Threads. Start and Stop belong to one controlling thread (the window's). Capture and
// IsRecording are called by the renderer on its drawing thread: Capture only has the
// renderer read the frame into a buffer of the bounded queue and returns. A worker thread
// converts each queued frame to 1920 x 960 I420 through the conversion engine's
// rescale_csconvert (turning the rows the right way up on the way), encodes it with x264
// and writes it, with the source's audio up to that frame's time, through the MP4 writer.
// Frames arriving while the queue holds kQueueFrames (or kQueueBytes) are dropped and
// counted; the renderer never waits for the encoder.
//
// Files. The side file of the MP4 writer (mp4/writer.h) lies in the output folder as
// "headerinfo.dat" (or "<output>.headerinfo.dat" while another recording holds that one).
// A recording cut short by a crash is finished from it by the next Start into that folder,
// or by `spherolux-cli recover FILE`.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "render/render_hooks.h"

namespace spherolux::record {

inline constexpr int kOutputWidth = 1920;
inline constexpr int kOutputHeight = 960;
// The queue holds at most two seconds of 30 frames per second, and at most this much memory.
inline constexpr size_t kQueueFrames = 60;
inline constexpr size_t kQueueBytes = size_t{512} << 20;

// Start's results.
enum RecordResult : int {
  kRecordOk = 0,
  kRecordBusy = 1,           // a recording is running
  kRecordNoEngine = 2,       // libconvert.so or its rescale_csconvert cannot be loaded
  kRecordCannotCreate = 3,   // the output file or its side file cannot be created
  kRecordEncoderFailed = 4,  // x264 refused the parameters
};

// Why a recording could not be saved (ScreenRecorder::failure).
enum RecordFailure : int {
  kRecordNotFailed = 0,
  kRecordDiskFull = 1,   // the disk filled up: the recording ends with what was written
  kRecordFileGone = 2,   // the file or its folder was removed while recording
  kRecordWriteError = 3  // any other failure to write or finish the file
};

// "ScreenRecord_%d-%02d-%02d-%02d-%02d-%02d.mp4" of `local` in `dir` (with a separator).
std::string RecordFileName(const std::string& dir, const std::tm& local);

// The frame rate given to the encoder for a source of `fps` frames per second: halved from
// 20 on, as it is below that, 30 when unknown (<= 0); truncated.
int EncoderFrameRate(double fps);

struct RecorderStats {
  uint64_t captured = 0;         // frames queued by Capture
  uint64_t encoded = 0;          // frames written as video samples
  uint64_t dropped = 0;          // frames refused because the queue was full
  uint64_t dropped_at_stop = 0;  // frames still queued when Stop came
  uint64_t queued = 0;           // frames waiting in the queue now
  uint64_t failed = 0;           // frames lost to conversion, encoding or writing
  uint64_t audio_samples = 0;    // source audio samples copied
  uint64_t capture_ns = 0;       // time spent in Capture (read-back included) on the drawing thread, in total
};

class ScreenRecorder final : public render::FrameRecorder {
 public:
  struct Options {
    // Folder holding libconvert.so; empty: the running program's folder.
    std::string engine_dir;
    // The capture tick in milliseconds; empty: a monotonic clock.
    std::function<int64_t()> clock;
  };

  // `sink` (may be null, not owned) receives render::kMsgRecordSaved when Stop finishes the
  // file, or render::kMsgRecordFailed (once per recording) when it cannot be saved: from the
  // worker thread as soon as writing fails (frames are no longer taken then; Stop finishes
  // what was written), or from Stop.
  explicit ScreenRecorder(render::RenderMessageSink* sink, Options options = {});
  ~ScreenRecorder() override;  // stops a running recording (without a message)
  ScreenRecorder(const ScreenRecorder&) = delete;
  ScreenRecorder& operator=(const ScreenRecorder&) = delete;

  // Starts recording into `output` (UTF-8 path; its folder must exist). `source` is the file
  // being played: its video track's frame rate sets the encoder's (EncoderFrameRate), and
  // its sound track, when it is an MP4 file with one, is copied from `start_ms` on. A source
  // that cannot be read gives a video-only recording at 30. On failure nothing is left
  // behind and no message is posted.
  int Start(const std::string& source, const std::string& output, int64_t start_ms);
  // Ends the recording: frames still queued are dropped, the file is finished, the sink
  // gets kMsgRecordSaved, or kMsgRecordFailed if it was not told already. True when the
  // file was finished whole (false: nothing was recording, writing failed, or finishing
  // failed and the side file was kept for recovery).
  bool Stop();
  // Why the current or last recording could not be saved; kRecordNotFailed when it was.
  RecordFailure failure() const { return failure_.load(); }

  bool IsRecording() const override { return accepting_.load(); }
  void Capture(int width, int height, render::PixelOrder order, const render::FrameReader& read) override;
  // Called by a renderer that is destroyed while recording (it posts the message itself).
  void Finish() override { StopRecording(); }

  const std::string& output_path() const { return output_; }
  RecorderStats stats() const;

 private:
  struct Frame {
    std::vector<uint8_t> pixels;  // rows bottom row first, as the renderer reads them
    render::PixelOrder order = render::PixelOrder::kBgra;
    int width = 0;
    int height = 0;
    int64_t tick = 0;
  };
  struct Session;

  bool StopRecording();
  // Records the first failure and posts kMsgRecordFailed once per recording.
  void Fail(RecordFailure why);
  // kRecordFileGone when the output's name no longer exists, else kRecordWriteError.
  RecordFailure FailureOfFile() const;
  // The worker: opens the encoder (telling `opened` whether it could), then encodes the
  // queued frames until Stop.
  void WorkerLoop(std::promise<bool>& opened);
  int64_t Now() const;

  render::RenderMessageSink* sink_;
  Options options_;
  std::string output_;  // controlling thread

  // The running recording; created by Start, destroyed by Stop (controlling thread). The
  // worker uses it while it runs; Capture does not touch it.
  std::unique_ptr<Session> session_;
  std::thread worker_;

  // Shared by Capture (drawing thread), the worker and Stop; guarded by mutex_.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::unique_ptr<Frame>> queue_;
  std::vector<std::unique_ptr<Frame>> spare_;  // used frames kept for their buffers
  size_t queued_bytes_ = 0;
  bool stop_ = false;
  // Set by the worker or Stop, read by any thread; reset by Start.
  std::atomic<RecordFailure> failure_{kRecordNotFailed};
  bool failure_posted_ = false;  // guarded by mutex_
  RecorderStats stats_;
  std::atomic<bool> accepting_{false};  // written by Start and Stop, read by Capture
};

}  // namespace spherolux::record
