#include "record/screen_recorder.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "base/log.h"
#include "base/system.h"
#include "convert/client.h"
#include "h264_encoder.h"
#include "mp4/reader.h"
#include "mp4/writer.h"

namespace spherolux::record {
namespace {

namespace fs = std::filesystem;
using mp4::Mp4Status;

constexpr int kKeyInterval = 30;
constexpr uint32_t kVideoBitRate = 10485760;
constexpr uint32_t kLargestVideoSample = 2000000;

// Finishes the recordings that a crash left in `dir` (their side files are there) when
// nothing of them is lost, and removes side files whose recording is gone. A recording that
// can be recovered only in part, or not now (its writer still runs, the disk is full), stays
// as it is with its side file, for `spherolux-cli recover`.
void RecoverLeftovers(const fs::path& dir) {
  std::error_code ec;
  const std::string suffix = mp4::kSideFileSuffix;
  std::vector<fs::path> sides;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name == mp4::kSideFileName ||
        (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0))
      sides.push_back(entry.path());
  }
  mp4::RecoveryOptions options;
  options.only_if_whole = true;
  for (const fs::path& side : sides) {
    const Mp4Status s = mp4::RecoverMp4(side.string(), {}, nullptr, options);
    const std::string target = mp4::SideFileTarget(side.string());
    if (s == Mp4Status::kCannotOpen && !target.empty() && !fs::exists(target, ec)) {
      fs::remove(side, ec);
    } else if (s != Mp4Status::kOk) {
      Logf("screen recorder: %s left as it is (%s); spherolux-cli recover finishes what it can\n",
           side.string().c_str(), mp4::StatusText(s));
    }
  }
}

// The side file for `output`: "headerinfo.dat" in its folder, or "<output>.headerinfo.dat"
// while that one is still held.
std::string PickSideFile(const std::string& output) {
  std::error_code ec;
  const fs::path dir = fs::absolute(output, ec).parent_path();
  RecoverLeftovers(dir);
  const std::string shared = (dir / mp4::kSideFileName).string();
  return fs::exists(shared, ec) ? output + mp4::kSideFileSuffix : shared;
}

}  // namespace

std::string RecordFileName(const std::string& dir, const std::tm& t) {
  char name[64];
  std::snprintf(name, sizeof name, "ScreenRecord_%d-%02d-%02d-%02d-%02d-%02d.mp4", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return (fs::path(dir) / name).string();
}

int EncoderFrameRate(double fps) {
  if (fps >= 20) return static_cast<int>(fps / 2);
  if (fps > 0) return static_cast<int>(fps);
  return 30;
}

// One recording: the source's sound, the encoder and the writer. Built by Start on the
// controlling thread, then used only by the worker until Stop joins it.
struct ScreenRecorder::Session {
  convert::EngineApi engine;
  std::unique_ptr<mp4::Mp4Reader> source;
  int source_audio = -1;
  std::unique_ptr<mp4::Mp4Writer> writer;
  int video = -1;
  int audio = -1;
  H264Encoder encoder;
  int encoder_fps = 30;
  std::vector<uint8_t> i420 = std::vector<uint8_t>(size_t{kOutputWidth} * kOutputHeight * 3 / 2);
  int64_t frames = 0;
  // Capture ticks of the frames inside the encoder, by pts (its output lags its input).
  std::deque<std::pair<int64_t, int64_t>> ticks;
  int64_t first_tick = -1;
  int64_t written = 0;  // video samples
  // The source's sound.
  double audio_offset_ms = 0;
  bool audio_done = true;
  bool audio_pending = false;
  std::vector<uint8_t> audio_buffer;
  mp4::SampleRecord audio_record;
  uint64_t audio_samples = 0;
  uint64_t failed = 0;
  int write_errno = 0;  // of the first sample that could not be written

  int Open(const std::string& source_path, const std::string& output, int64_t start_ms, const std::string& engine_dir);
  void AddSourceAudio(const mp4::TrackDescription& d, std::span<const uint8_t> config);
  bool EncodeFrame(const Frame& f);
  void WriteVideo(std::span<const x264_nal_t> nals, int64_t pts, bool key);
  void CopyAudioUpTo(double t);
};

int ScreenRecorder::Session::Open(const std::string& source_path, const std::string& output, int64_t start_ms,
                                  const std::string& engine_dir) {
  std::string error;
  if (!convert::LoadEngine(engine_dir.empty() ? ProgramDir() : engine_dir, &engine, &error)) {
    Logf("screen recorder: %s\n", error.c_str());
    return kRecordNoEngine;
  }
  // Any source we cannot read still gives a recording, without sound, at 30 frames/s.
  double fps = 0;
  const mp4::TrackDescription* sound = nullptr;
  if (mp4::Mp4Reader::Open(source_path, &source) == Mp4Status::kOk) {
    for (int t = 0; t < source->track_count(); ++t) {
      const mp4::TrackDescription& d = source->description(t);
      if (d.handler == mp4::kHandlerVideo && fps == 0) fps = d.frame_rate;
      if (d.handler == mp4::kHandlerSound && !sound) {
        sound = &d;
        source_audio = t;
      }
    }
  }
  if (mp4::Mp4Writer::Create(output, PickSideFile(output), &writer) != Mp4Status::kOk) return kRecordCannotCreate;
  mp4::TrackDescription v;
  v.handler = mp4::kHandlerVideo;
  v.codec = mp4::kCodecAvc;
  v.width = kOutputWidth;
  v.height = kOutputHeight;
  v.frame_rate = 30;
  v.bit_rate = kVideoBitRate;
  v.max_sample_size = kLargestVideoSample;
  v.annex_b = true;  // x264's output; the writer stores it as 'avcC' and lengths
  if (writer->AddTrack(v, &video) != Mp4Status::kOk || writer->SetHandlerName(video, "Core Media") != Mp4Status::kOk ||
      writer->SetTrackSetting(video, mp4::kTrackSettingFlags, 3) != Mp4Status::kOk ||
      writer->SetTrackSetting(video, mp4::kTrackSettingChunkSamples, 15) != Mp4Status::kOk ||
      writer->SetFileSetting(mp4::kFileSettingMovieFirst, 0) != Mp4Status::kOk)
    return kRecordCannotCreate;
  if (sound) AddSourceAudio(*sound, source->decoder_config(source_audio));
  encoder_fps = EncoderFrameRate(fps);
  if (audio >= 0) {
    double reached = 0;
    audio_done = source->SeekToTime(source_audio, static_cast<double>(start_ms), &reached) != Mp4Status::kOk;
    audio_offset_ms = reached;
    audio_buffer.resize(std::max<uint32_t>(sound->max_sample_size, 1));
  }
  return kRecordOk;
}

// The source's sound track with its own description and decoder configuration; a track the
// writer cannot take leaves the recording without sound.
void ScreenRecorder::Session::AddSourceAudio(const mp4::TrackDescription& d, std::span<const uint8_t> config) {
  if (writer->AddTrack(d, &audio) != Mp4Status::kOk) {
    audio = -1;
    return;
  }
  if ((!config.empty() && writer->SetDecoderConfig(audio, config) != Mp4Status::kOk) ||
      writer->SetHandlerName(audio, "SoundHandler") != Mp4Status::kOk) {
    // The track exists but stays without samples: finishing leaves it out.
    audio = -1;
  }
}

bool ScreenRecorder::Session::EncodeFrame(const Frame& f) {
  const int format =
      (f.order == render::PixelOrder::kRgba ? CONVERT_PIXELS_RGBA : CONVERT_PIXELS_BGRA) | CONVERT_ROWS_BOTTOM_UP;
  if (engine.rescale_csconvert(f.pixels.data(), i420.data(), f.width, f.height, format, kOutputWidth, kOutputHeight,
                               0) != 0)
    return false;
  ticks.emplace_back(frames, f.tick);
  const bool key = frames % kKeyInterval == 0;
  const bool ok = encoder.Encode(i420.data(), frames, key, [&](std::span<const x264_nal_t> nals, int64_t pts, bool k) {
    WriteVideo(nals, pts, k);
  });
  ++frames;
  if (!ok) ticks.pop_back();
  return ok;
}

void ScreenRecorder::Session::WriteVideo(std::span<const x264_nal_t> nals, int64_t pts, bool key) {
  int64_t tick = -1;
  while (!ticks.empty() && ticks.front().first <= pts) {
    if (ticks.front().first == pts) tick = ticks.front().second;
    ticks.pop_front();
  }
  if (tick < 0) return;
  if (first_tick < 0) first_tick = tick;
  const double t = static_cast<double>(tick - first_tick);
  CopyAudioUpTo(t);

  // The parameter sets in front of a key frame become the track's decoder configuration;
  // the rest is the sample. x264 lays its NAL units out back to back.
  size_t first_picture = 0;
  while (first_picture < nals.size() &&
         (nals[first_picture].i_type == NAL_SPS || nals[first_picture].i_type == NAL_PPS))
    ++first_picture;
  const uint8_t* begin = nals.front().p_payload;
  const uint8_t* end = nals.back().p_payload + nals.back().i_payload;
  if (first_picture > 0) {
    const uint8_t* config_end = nals[first_picture - 1].p_payload + nals[first_picture - 1].i_payload;
    if (writer->SetDecoderConfig(video, {begin, config_end}) != Mp4Status::kOk) {
      ++failed;
      return;
    }
    begin = config_end;
  }
  if (end - begin <= 4) return;
  mp4::SampleRecord rec;
  rec.decode_ms = rec.composition_ms = t;
  rec.sync = key;
  if (writer->WriteSample(video, {begin, end}, rec) == Mp4Status::kOk) {
    ++written;
  } else {
    ++failed;
    if (write_errno == 0) write_errno = errno ? errno : EIO;
  }
}

// Writes the source's sound samples that end by `t` (ms of the recording).
void ScreenRecorder::Session::CopyAudioUpTo(double t) {
  while (audio >= 0 && !audio_done) {
    if (!audio_pending) {
      const Mp4Status s = source->ReadSample(source_audio, audio_buffer.data(), audio_buffer.size(), &audio_record);
      if (s == Mp4Status::kBufferTooSmall) {
        audio_buffer.resize(audio_record.size);
        continue;
      }
      if (s != Mp4Status::kOk) {
        audio_done = true;
        break;
      }
      // Both times move: the composition time keeps its distance to the decode time.
      audio_record.decode_ms -= audio_offset_ms;
      audio_record.composition_ms -= audio_offset_ms;
      audio_pending = true;
    }
    if (audio_record.decode_ms + audio_record.duration_ms > t) break;
    if (writer->WriteSample(audio, {audio_buffer.data(), audio_record.size}, audio_record) == Mp4Status::kOk)
      ++audio_samples;
    else if (write_errno == 0)
      write_errno = errno ? errno : EIO;
    audio_pending = false;
  }
}

ScreenRecorder::ScreenRecorder(render::RenderMessageSink* sink, Options options)
    : sink_(sink), options_(std::move(options)) {}

ScreenRecorder::~ScreenRecorder() { StopRecording(); }

int64_t ScreenRecorder::Now() const {
  if (options_.clock) return options_.clock();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int ScreenRecorder::Start(const std::string& source, const std::string& output, int64_t start_ms) {
  if (session_) return kRecordBusy;
  auto session = std::make_unique<Session>();
  int result = session->Open(source, output, start_ms, options_.engine_dir);
  if (result == kRecordOk) {
    session_ = std::move(session);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stats_ = RecorderStats{};
      stop_ = false;
      failure_posted_ = false;
    }
    failure_.store(kRecordNotFailed);
    // The worker opens the encoder itself, so that x264's threads share its scheduling class.
    std::promise<bool> opened;
    std::future<bool> ready = opened.get_future();
    output_ = output;
    worker_ = std::thread([this, opened = std::move(opened)]() mutable { WorkerLoop(opened); });
    if (!ready.get()) {
      worker_.join();
      session = std::move(session_);
      result = kRecordEncoderFailed;
    }
  }
  if (result != kRecordOk) {
    // Not one byte of a failed start stays behind.
    if (session->writer) {
      session->writer.reset();
      const std::string side = mp4::FindSideFile(output);
      std::error_code ec;
      if (!side.empty()) fs::remove(side, ec);
      fs::remove(output, ec);
    }
    return result;
  }
  accepting_.store(true);
  return kRecordOk;
}

void ScreenRecorder::Capture(int width, int height, render::PixelOrder order, const render::FrameReader& read) {
  if (!accepting_.load() || width <= 0 || height <= 0) return;
  const auto t0 = std::chrono::steady_clock::now();
  const int64_t tick = Now();
  const size_t bytes = static_cast<size_t>(width) * height * 4;
  std::unique_ptr<Frame> frame;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= kQueueFrames || queued_bytes_ + bytes > kQueueBytes) {
      ++stats_.dropped;
      return;
    }
    if (!spare_.empty()) {
      frame = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  if (!frame) frame = std::make_unique<Frame>();
  // The renderer reads the frame straight into the queued buffer (a spare's is reused).
  frame->pixels.resize(bytes);
  read(frame->pixels.data());
  frame->order = order;
  frame->width = width;
  frame->height = height;
  frame->tick = tick;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!accepting_.load()) return;  // Stop came while reading
    queued_bytes_ += bytes;
    queue_.push_back(std::move(frame));
    ++stats_.captured;
    stats_.capture_ns += static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count());
  }
  wake_.notify_one();
}

void ScreenRecorder::WorkerLoop(std::promise<bool>& opened) {
  // Converting and encoding yield to the drawing: on a machine without cores to spare, the
  // renderer (and a software rasteriser's threads) would otherwise wait for them on every
  // frame. Frames wait in the bounded queue meanwhile; on a machine too busy to encode them
  // all, the queue's bound drops frames rather than the picture stuttering.
  RunThreadWhenIdle();
  Session& s = *session_;
  const bool open = s.encoder.Open(kOutputWidth, kOutputHeight, s.encoder_fps);
  opened.set_value(open);
  if (!open) return;
  for (;;) {
    std::unique_ptr<Frame> frame;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (stop_) break;
      frame = std::move(queue_.front());
      queue_.pop_front();
      queued_bytes_ -= frame->pixels.size();
    }
    errno = 0;
    const bool ok = s.EncodeFrame(*frame);
    if (s.write_errno != 0 && failure_.load() == kRecordNotFailed) {
      // A full disk or a removed folder only gets worse: take no more frames, tell the
      // window now, and let Stop finish what was written.
      accepting_.store(false);
      Fail(s.write_errno == ENOSPC || s.write_errno == EDQUOT ? kRecordDiskFull : FailureOfFile());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ok) ++stats_.failed;
    stats_.encoded = static_cast<uint64_t>(s.written);
    stats_.audio_samples = s.audio_samples;
    // A few used frames are kept for their buffers, within the queue's memory bound.
    if (spare_.size() < 4 && queued_bytes_ + (spare_.size() + 1) * frame->pixels.size() <= kQueueBytes)
      spare_.push_back(std::move(frame));
  }
  // Frames given to the encoder are finished; the ones still queued are dropped by Stop.
  s.encoder.Flush([&](std::span<const x264_nal_t> nals, int64_t pts, bool key) { s.WriteVideo(nals, pts, key); });
  std::lock_guard<std::mutex> lock(mutex_);
  stats_.encoded = static_cast<uint64_t>(s.written);
  stats_.audio_samples = s.audio_samples;
  stats_.failed += s.failed;
}

bool ScreenRecorder::StopRecording() {
  if (!session_) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    accepting_.store(false);
    stop_ = true;
  }
  wake_.notify_all();
  worker_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stats_.dropped_at_stop += queue_.size();
    queue_.clear();
    spare_.clear();
    queued_bytes_ = 0;
  }
  std::unique_ptr<Session> session = std::move(session_);
  session->source.reset();
  if (session->written == 0) {
    // Nothing was drawn while recording (a paused video): no file rather than an empty one.
    session->writer.reset();
    std::error_code ec;
    const std::string side = mp4::FindSideFile(output_);
    if (!side.empty()) fs::remove(side, ec);
    fs::remove(output_, ec);
    return false;
  }
  errno = 0;
  const Mp4Status status = session->writer->Finish();
  if (status != Mp4Status::kOk) {
    Logf("screen recorder: %s not finished: %s\n", output_.c_str(), mp4::StatusText(status));
    Fail(status == Mp4Status::kFileGone       ? kRecordFileGone
         : errno == ENOSPC || errno == EDQUOT ? kRecordDiskFull
                                              : FailureOfFile());
  }
  return status == Mp4Status::kOk && failure_.load() == kRecordNotFailed;
}

RecordFailure ScreenRecorder::FailureOfFile() const {
  std::error_code ec;
  return fs::exists(output_, ec) ? kRecordWriteError : kRecordFileGone;
}

void ScreenRecorder::Fail(RecordFailure why) {
  RecordFailure none = kRecordNotFailed;
  failure_.compare_exchange_strong(none, why);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_posted_) return;
    failure_posted_ = true;
  }
  if (sink_ != nullptr) sink_->Post(render::kMsgRecordFailed);
}

bool ScreenRecorder::Stop() {
  const bool finished = StopRecording();
  if (finished && sink_ != nullptr) sink_->Post(render::kMsgRecordSaved);
  return finished;
}

RecorderStats ScreenRecorder::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  RecorderStats s = stats_;
  s.queued = queue_.size();
  return s;
}

}  // namespace spherolux::record
