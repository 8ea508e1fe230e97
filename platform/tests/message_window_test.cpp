#include "platform/message_window.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "testing/message_recorder.h"

namespace spherolux::platform {
namespace {

struct Received {
  unsigned msg;
  WParam w;
  LParam l;
  bool operator==(const Received&) const = default;
};

class RecordingWindow : public MessageWindow {
 public:
  std::vector<Received> messages;
  std::vector<unsigned> ticks;
  std::vector<Qt::HANDLE> threads;
  unsigned kill_on_tick = 0;

 protected:
  LParam onMessage(unsigned msg, WParam w, LParam l) override {
    messages.push_back({msg, w, l});
    threads.push_back(QThread::currentThreadId());
    return static_cast<LParam>(msg) + l;
  }
  void onTimer(unsigned id) override {
    ticks.push_back(id);
    if (id == kill_on_tick) killTimer(id);
  }
};

using testing::PumpUntil;

TEST(MessageWindowTest, PostIsQueuedInOrderAndSendIsImmediate) {
  RecordingWindow window;
  window.post(kWmUser + 205, 1, 2);
  window.post(kWmUser + 238, 1258, 1275);
  EXPECT_TRUE(window.messages.empty()) << "a posted message must not run inside post()";

  EXPECT_EQ(window.send(kWmUser + 1, 0, 7), static_cast<LParam>(kWmUser + 1 + 7));
  ASSERT_EQ(window.messages.size(), 1u) << "a sent message runs at once, ahead of queued ones";

  QCoreApplication::sendPostedEvents(&window);
  const std::vector<Received> expected = {{kWmUser + 1, 0, 7}, {kWmUser + 205, 1, 2}, {kWmUser + 238, 1258, 1275}};
  EXPECT_EQ(window.messages, expected);
}

TEST(MessageWindowTest, NegativeAndWideParametersSurviveTheQueue) {
  RecordingWindow window;
  window.post(kWmUser + 259, 0, -120);
  window.post(kWmUser + 212, MakeWParam(kSbThumbTrack, 65535), INTPTR_MAX);
  QCoreApplication::sendPostedEvents(&window);
  ASSERT_EQ(window.messages.size(), 2u);
  EXPECT_EQ(window.messages[0].l, -120);
  EXPECT_EQ(LowWord(window.messages[1].w), kSbThumbTrack);
  EXPECT_EQ(HighWord(window.messages[1].w), 65535u);
  EXPECT_EQ(window.messages[1].l, INTPTR_MAX);
}

TEST(MessageWindowTest, PostFromAWorkerThreadIsHandledOnTheWindowThread) {
  RecordingWindow window;
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) window.post(kWmUser + 210, 0, i);
  });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return window.messages.size() == 100; }));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(window.messages[i].l, i) << "posts from one thread keep their order";
  for (Qt::HANDLE thread : window.threads) EXPECT_EQ(thread, QThread::currentThreadId());
}

int g_delivered_after_close = 0;

class CountingWindow : public MessageWindow {
 protected:
  LParam onMessage(unsigned, WParam, LParam) override {
    ++g_delivered_after_close;
    return 0;
  }
};

TEST(MessageWindowTest, MessagesToADestroyedWindowAreDropped) {
  auto window = std::make_unique<CountingWindow>();
  window->post(kWmUser + 238, 1258, 0);
  window.reset();
  // Delivering what was queued must not reach the freed window.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(g_delivered_after_close, 0);
}

TEST(MessageWindowTest, TimersAreNumberedPerWindowAndCanBeRestartedAndKilled) {
  RecordingWindow a, b;
  a.setTimer(2, 10);
  a.setTimer(2, 10);  // restarting the same id leaves one timer
  b.setTimer(2, 10);
  a.setTimer(5, 10);
  a.kill_on_tick = 5;  // timer 5 stops itself on its first tick
  ASSERT_TRUE(PumpUntil([&] { return a.ticks.size() >= 6 && !b.ticks.empty(); }));
  EXPECT_EQ(std::count(a.ticks.begin(), a.ticks.end(), 5u), 1);
  EXPECT_FALSE(a.timerRunning(5));
  EXPECT_TRUE(a.timerRunning(2));

  a.killTimer(2);
  EXPECT_FALSE(a.timerRunning(2));
  a.ticks.clear();
  QElapsedTimer clock;
  clock.start();
  PumpUntil([&] { return clock.elapsed() > 60; });
  EXPECT_TRUE(a.ticks.empty()) << "a killed timer must not tick again";
  EXPECT_FALSE(b.ticks.empty());
  a.killTimer(7);  // killing a timer that never ran is harmless
}

TEST(MessageWindowTest, RunModalReturnsTheValueGivenToEndModal) {
  RecordingWindow dialog;
  QTimer::singleShot(0, [&] {
    EXPECT_TRUE(dialog.inModal());
    dialog.post(kWmUser + 1);  // messages keep flowing inside the modal loop
    QTimer::singleShot(0, [&] { dialog.endModal(7); });
  });
  EXPECT_EQ(dialog.runModal(), 7);
  EXPECT_FALSE(dialog.inModal());
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.messages.size(), 1u);

  QTimer::singleShot(0, [&] { dialog.close(); });
  EXPECT_EQ(dialog.runModal(), 0) << "closing the window ends its modal run with 0";
}

}  // namespace
}  // namespace spherolux::platform
