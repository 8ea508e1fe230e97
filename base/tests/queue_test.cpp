#include "base/queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace spherolux {
namespace {

TEST(BoundedQueue, DeliversEveryItemOnceInOrderAcrossThreads) {
  // Two producers against two consumers through a queue of two slots.
  BoundedQueue<int> queue(2);
  constexpr int kPerProducer = 2000;
  std::vector<int> taken[2];
  std::thread consumers[2];
  for (int c = 0; c < 2; ++c)
    consumers[c] = std::thread([&, c] {
      while (auto v = queue.Pop()) taken[c].push_back(*v);
    });
  std::thread producers[2];
  for (int p = 0; p < 2; ++p)
    producers[p] = std::thread([&, p] {
      for (int i = 0; i < kPerProducer; ++i) ASSERT_TRUE(queue.Push(p * kPerProducer + i));
    });
  for (auto& t : producers) t.join();
  queue.Close();  // the consumers drain what is left, then stop
  for (auto& t : consumers) t.join();

  std::vector<int> seen(2 * kPerProducer, 0);
  for (const auto& list : taken) {
    int last[2] = {-1, -1};
    for (int v : list) {
      ++seen[v];
      const int p = v / kPerProducer;
      EXPECT_GT(v, last[p]);  // one producer's items keep their order
      last[p] = v;
    }
  }
  for (int count : seen) EXPECT_EQ(count, 1);
}

TEST(BoundedQueue, WaitingCallsEndOnCloseAndOnCancel) {
  BoundedQueue<int> full(1);
  ASSERT_TRUE(full.Push(1));
  EXPECT_FALSE(full.TryPush(2));  // a producer that must not wait is refused at once
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    full.Close();
  });
  EXPECT_FALSE(full.Push(3));  // woken by Close
  closer.join();
  EXPECT_EQ(full.Pop(), 1);  // what was queued before Close still arrives
  EXPECT_EQ(full.Pop(), std::nullopt);

  std::atomic<bool> cancel{false};
  BoundedQueue<int> empty(1, [&] { return cancel.load(); });
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    cancel = true;
  });
  EXPECT_EQ(empty.Pop(), std::nullopt);  // gives up once the check says so
  canceller.join();
  EXPECT_TRUE(empty.TryPush(4));
  EXPECT_FALSE(empty.Push(5));  // full and cancelled: refused without waiting forever
}

}  // namespace
}  // namespace spherolux
