// Runs a row function over disjoint slices of a frame on several threads at once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

namespace spherolux {

// Calls fn(begin, end) for `threads` slices covering rows [0, height), each slice a whole
// number of `unit` rows, at least 8 rows per slice, the first slice on the calling thread.
// When a thread cannot be started, the caller's thread runs the slices left over.
template <typename Fn>
void RunRowSlices(int height, int unit, int threads, const Fn& fn) {
  const int units = (height + unit - 1) / unit;
  const int count = std::clamp(threads, 1, std::max(1, units * unit / 8));
  auto bound = [&](int k) { return std::min(height, static_cast<int>(int64_t{units} * k / count) * unit); };
  std::vector<std::thread> workers;
  int next = 1;
  try {
    workers.reserve(count - 1);
    for (; next < count; ++next) workers.emplace_back([&fn, b0 = bound(next), b1 = bound(next + 1)] { fn(b0, b1); });
  } catch (...) {
    // Fewer threads than asked: the remaining slices run below.
  }
  fn(bound(0), bound(1));
  for (int k = next; k < count; ++k) fn(bound(k), bound(k + 1));
  for (std::thread& t : workers) t.join();
}

}  // namespace spherolux
