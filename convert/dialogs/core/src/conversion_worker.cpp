#include "dialogs/conversion_worker.h"

#include <chrono>
#include <filesystem>

namespace spherolux::dialogs {

ConversionWorker::ConversionWorker(const convert::EngineApi& api, Callbacks callbacks)
    : api_(api), callbacks_(std::move(callbacks)) {
  thread_ = std::thread([this] { Loop(); });
}

ConversionWorker::~ConversionWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    cancel_ = true;
    if (runner_ != nullptr) runner_->RequestStop();
  }
  wake_.notify_all();
  thread_.join();
}

uint64_t ConversionWorker::Run(Job job) {
  const uint64_t id = ++last_id_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return 0;
    pending_.push_back({id, std::move(job)});
    busy_ = true;
  }
  wake_.notify_one();
  return id;
}

void ConversionWorker::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!pending_.empty()) {
    pending_.back().cancelled = true;
  } else if (runner_ != nullptr) {
    cancel_ = true;
    runner_->RequestStop();
  }
}

void ConversionWorker::CancelAndWait() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    for (Pending& p : pending_) p.cancelled = true;
    cancel_ = true;
    if (runner_ != nullptr) runner_->RequestStop();
  }
  wake_.notify_all();
  while (busy_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

convert::JobProgress ConversionWorker::LatestProgress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return latest_;
}

void ConversionWorker::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return quit_ || !pending_.empty(); });
    if (pending_.empty()) break;  // quit, and nothing left to report
    Pending next = std::move(pending_.front());
    pending_.pop_front();
    // After a cancel for closing the waiting jobs end without running.
    cancel_ = next.cancelled || quit_;
    latest_ = {};
    lock.unlock();
    RunOne(next.id, next.job);
    lock.lock();
    cancel_ = false;
    if (pending_.empty()) busy_ = false;
  }
  busy_ = false;
}

void ConversionWorker::RunOne(uint64_t id, const Job& job) {
  convert::JobRunner runner(api_);
  bool stopped_before;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_before = cancel_;
    if (!stopped_before) runner_ = &runner;
  }
  if (stopped_before) {
    // Stopped before it began: the engine is not called at all.
    if (callbacks_.ended) callbacks_.ended(id, CONVERT_OK, true);
    return;
  }
  const convert::JobOutcome outcome = runner.Run(job.call, job.rotation, [this, id](const convert::JobProgress& p) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      latest_ = p;
    }
    if (callbacks_.progress) callbacks_.progress(id);
  });
  bool cancelled;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    runner_ = nullptr;
    cancelled = cancel_;
  }
  // The engine publishes its output only when it succeeds; a success that a stop reached
  // too late is taken back, and a failed job left nothing of its own to remove.
  if (cancelled && outcome.result == CONVERT_OK) {
    std::error_code ec;
    std::filesystem::remove(job.output, ec);
  }
  if (callbacks_.ended) callbacks_.ended(id, outcome.result, cancelled);
}

}  // namespace spherolux::dialogs
