// A bounded queue between pipeline threads that gives up when its job is stopped.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "job_context.h"

namespace spherolux::convert {

template <typename T>
class PipeQueue {
 public:
  PipeQueue(size_t capacity, const JobContext& ctx) : capacity_(capacity), ctx_(ctx) {}

  // False when the job was stopped or the queue closed; the item is then dropped.
  bool Push(T item) {
    std::unique_lock<std::mutex> lock(mu_);
    while (items_.size() >= capacity_ && !closed_) {
      if (ctx_.stopped()) return false;
      not_full_.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (closed_) return false;
    items_.push_back(std::move(item));
    not_empty_.notify_one();
    return true;
  }

  // nullopt when the job was stopped or the queue closed and drained.
  std::optional<T> Pop() {
    std::unique_lock<std::mutex> lock(mu_);
    while (items_.empty() && !closed_) {
      if (ctx_.stopped()) return std::nullopt;
      not_empty_.wait_for(lock, std::chrono::milliseconds(50));
    }
    if (items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    not_full_.notify_one();
    return item;
  }

  // Wakes both sides for good (a consumer that gave up).
  void Close() {
    std::lock_guard<std::mutex> lock(mu_);
    closed_ = true;
    not_full_.notify_all();
    not_empty_.notify_all();
  }

 private:
  const size_t capacity_;
  const JobContext& ctx_;
  std::mutex mu_;
  std::condition_variable not_full_, not_empty_;
  std::deque<T> items_;  // guarded by mu_
  bool closed_ = false;  // guarded by mu_
};

}  // namespace spherolux::convert
