// A bounded first-in first-out queue between threads.
//
// Producers Push (waiting while the queue is full) or TryPush (never waiting: a producer
// that must not stall, such as a render thread, drops what does not fit); consumers Pop,
// waiting while it is empty. Close() ends the exchange for good: waiting calls return, later
// pushes are refused, and consumers still receive what was queued before. A `cancelled`
// check given at construction is asked at least every 50 ms while a call waits; once it
// answers true, waiting Push and Pop give up as if the queue were closed.
//
// Any number of threads may push, pop and close at once. The queue owns the items it
// holds; a refused item is destroyed. Destroy the queue only after every thread has left
// its calls. Nothing throws except the item type's own moves and the allocation of a slot.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace spherolux {

template <typename T>
class BoundedQueue {
 public:
  explicit BoundedQueue(size_t capacity, std::function<bool()> cancelled = {})
      : capacity_(capacity > 0 ? capacity : 1), cancelled_(std::move(cancelled)) {}
  BoundedQueue(const BoundedQueue&) = delete;
  BoundedQueue& operator=(const BoundedQueue&) = delete;

  // Waits for room. False when the queue was closed or cancelled; the item is dropped.
  bool Push(T item) {
    std::unique_lock<std::mutex> lock(mu_);
    while (items_.size() >= capacity_ && !closed_) {
      if (Cancelled()) return false;
      not_full_.wait_for(lock, kPoll);
    }
    if (closed_) return false;
    items_.push_back(std::move(item));
    not_empty_.notify_one();
    return true;
  }

  // Queues the item only when there is room now. False when full or closed.
  bool TryPush(T item) {
    std::lock_guard<std::mutex> lock(mu_);
    if (closed_ || items_.size() >= capacity_) return false;
    items_.push_back(std::move(item));
    not_empty_.notify_one();
    return true;
  }

  // Waits for an item. nullopt once the queue is closed and drained, or cancelled.
  std::optional<T> Pop() {
    std::unique_lock<std::mutex> lock(mu_);
    while (items_.empty() && !closed_) {
      if (Cancelled()) return std::nullopt;
      not_empty_.wait_for(lock, kPoll);
    }
    if (items_.empty()) return std::nullopt;
    std::optional<T> item(std::move(items_.front()));
    items_.pop_front();
    not_full_.notify_one();
    return item;
  }

  // Refuses further pushes and wakes every waiting call.
  void Close() {
    std::lock_guard<std::mutex> lock(mu_);
    closed_ = true;
    not_full_.notify_all();
    not_empty_.notify_all();
  }

  size_t size() const {
    std::lock_guard<std::mutex> lock(mu_);
    return items_.size();
  }

 private:
  static constexpr std::chrono::milliseconds kPoll{50};

  bool Cancelled() const { return cancelled_ && cancelled_(); }

  const size_t capacity_;
  const std::function<bool()> cancelled_;
  mutable std::mutex mu_;
  std::condition_variable not_full_, not_empty_;
  std::deque<T> items_;  // guarded by mu_
  bool closed_ = false;  // guarded by mu_
};

}  // namespace spherolux
