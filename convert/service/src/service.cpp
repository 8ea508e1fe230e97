#include "convert/service.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "base/input_file.h"
#include "photo/stitch_photo.h"

namespace spherolux::convert {

std::unique_ptr<ConversionService> ConversionService::Load(const std::string& dir, std::string* error) {
  // The engine itself is loaded by the first engine job: its libraries would otherwise be
  // mapped and linked before a window could show.
  const std::string path = (dir.empty() ? std::string(".") : dir) + "/" + kEngineFileName;
  if (const std::string why = UnreadableReason(path); !why.empty()) {
    if (error) *error = "cannot load " + path + ": " + why;
    return nullptr;
  }
  return std::make_unique<ConversionService>(dir);
}

ConversionService::ConversionService(const EngineApi& api) : runner_(api) {
  thread_ = std::thread([this] { Loop(); });
}

ConversionService::ConversionService(const std::string& engine_dir) : runner_(engine_dir) {
  thread_ = std::thread([this] { Loop(); });
}

ConversionService::~ConversionService() {
  StopAll();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

uint64_t ConversionService::Submit(ServiceJob job, ServiceCallbacks callbacks) {
  uint64_t id;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    id = ++last_id_;
    live_.insert(id);
    pending_.push_back({id, std::move(job), std::move(callbacks)});
  }
  wake_.notify_one();
  return id;
}

void ConversionService::Stop(uint64_t id) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (running_ == id && id != 0) {
    stop_running_ = true;
    runner_.RequestStop();
    return;
  }
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (it->id != id) continue;
    Pending dropped = std::move(*it);
    pending_.erase(it);
    lock.unlock();
    if (dropped.callbacks.ended) dropped.callbacks.ended({CONVERT_OK, true, {}});
    Finish(id);
    return;
  }
}

void ConversionService::StopAll() {
  std::deque<Pending> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dropped.swap(pending_);
    if (running_ != 0) {
      stop_running_ = true;
      runner_.RequestStop();
    }
  }
  for (Pending& p : dropped) {
    if (p.callbacks.ended) p.callbacks.ended({CONVERT_OK, true, {}});
    Finish(p.id);
  }
}

void ConversionService::StopAllFromSignal() {
  stop_all_.store(true);
  runner_.RequestStop();
}

void ConversionService::Wait(uint64_t id) {
  std::unique_lock<std::mutex> lock(mutex_);
  ended_.wait(lock, [&] { return live_.count(id) == 0; });
}

bool ConversionService::idle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_.empty();
}

void ConversionService::Finish(uint64_t id) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    live_.erase(id);
  }
  ended_.notify_all();
}

void ConversionService::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return quit_ || !pending_.empty(); });
    if (pending_.empty()) return;  // quit, and nothing left
    Pending next = std::move(pending_.front());
    pending_.pop_front();
    // Reset before the job is named as running: a Stop from now on stays requested.
    runner_.Reset();
    running_ = next.id;
    stop_running_ = false;
    lock.unlock();
    if (next.callbacks.started && !stop_all_.load()) next.callbacks.started();
    const ServiceResult result = RunOne(next);
    if (next.callbacks.ended) next.callbacks.ended(result);
    lock.lock();
    running_ = 0;
    live_.erase(next.id);
    ended_.notify_all();
    // The photos' stitching maps are kept from one photo to the next of a batch, and freed
    // when no photo waits.
    if (next.job.kind == ServiceJob::Kind::kPhoto &&
        std::none_of(pending_.begin(), pending_.end(),
                     [](const Pending& p) { return p.job.kind == ServiceJob::Kind::kPhoto; })) {
      lock.unlock();
      KeepStitchingMaps(false);
      lock.lock();
    }
  }
}

ServiceResult ConversionService::RunOne(const Pending& pending) {
  const ServiceJob& job = pending.job;
  ServiceResult result = job.kind == ServiceJob::Kind::kPhoto ? RunPhoto(job) : RunEngine(job, pending.callbacks);
  bool stop_requested;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_requested = stop_running_ || stop_all_.load();
  }
  if (!stop_requested || result.output.empty()) return result;
  // A stop that came too late to interrupt the job: a name the program picked is taken back
  // (the user asked for no file); a name the user gave keeps what was written.
  if (result.result == 0 && job.output.empty()) {
    std::error_code ec;
    std::filesystem::remove(result.output, ec);
    result.stopped = true;
  } else if (result.result != 0) {
    result.stopped = true;
  }
  return result;
}

bool ConversionService::StopRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_running_ || stop_all_.load();
}

ServiceResult ConversionService::RunPhoto(const ServiceJob& job) {
  ServiceResult result;
  if (StopRequested()) return {CONVERT_OK, true, {}};
  photo_running_ = true;
  KeepStitchingMaps(true);
  const bool named = !job.output.empty();
  PhotoOutputOptions options;
  options.overwrite = named && job.overwrite;
  options.claim = !named;
  result.result = RunOnFreeName(
      job.output, job.input, job.output_dir, true, kPhotoOutputExists,
      [&](const std::string& output) {
        return StitchPhoto(job.input.c_str(), output.c_str(), job.rotation, false, job.quality, options);
      },
      &result.output);
  photo_running_ = false;
  return result;
}

ServiceResult ConversionService::RunEngine(const ServiceJob& job, const ServiceCallbacks& callbacks) {
  ServiceResult result;
  if (StopRequested()) return {CONVERT_OK, true, {}};
  result.result = RunOnFreeName(
      job.output, job.input, job.output_dir, false, CONVERT_ERR_OUTPUT_EXISTS,
      [&](const std::string& output) {
        if (StopRequested()) return static_cast<int>(CONVERT_ERR_STOPPED);
        return runner_.Run(job.call(output), job.rotation, callbacks.progress).result;
      },
      &result.output);
  return result;
}

}  // namespace spherolux::convert
