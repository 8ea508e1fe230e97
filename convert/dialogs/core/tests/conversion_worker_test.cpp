// The converter's worker with the real engine (libconvert.so from the build) on camera
// videos made by camgen: a job to its file, a stop that leaves nothing, and the order of
// jobs handed over while another still ends.
#include "dialogs/conversion_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <vector>

#include "camera_files.h"
#include "testsupport/testsupport.h"

namespace spherolux::dialogs {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Ended {
  uint64_t id;
  int result;
  bool cancelled;
};

// What the worker reported, as a window would receive it.
class Reports {
 public:
  ConversionWorker::Callbacks Callbacks() {
    return {[this](uint64_t) {
              std::lock_guard<std::mutex> lock(mutex_);
              ++progress_;
              changed_.notify_all();
            },
            [this](uint64_t id, int result, bool cancelled) {
              std::lock_guard<std::mutex> lock(mutex_);
              ended_.push_back({id, result, cancelled});
              changed_.notify_all();
            }};
  }
  bool WaitEnded(size_t count, std::chrono::seconds limit = 120s) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return ended_.size() >= count; });
  }
  bool WaitProgress(std::chrono::seconds limit = 60s) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return progress_ > 0 || !ended_.empty(); });
  }
  std::vector<Ended> ended() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int progress_ = 0;
  std::vector<Ended> ended_;
};

class ConversionWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    const std::string bin = fs::path(testsupport::BuiltProgram("spherolux-cli")).parent_path().string();
    ASSERT_TRUE(convert::LoadEngine(bin, &api_, &error)) << error;
  }

  std::string Video(const std::string& name, const std::string& args) {
    return testing::Camgen("video", folder_.Path(name), args);
  }
  ConversionWorker::Job JobFor(const std::string& input, const std::string& output, int64_t ms) {
    return {convert::ConversionCall(input, output, {0, ms}, convert::Quality::kLow, false), output, 0};
  }
  size_t FilesInDir() { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }

  testsupport::TempDir folder_{"conversion-worker"};
  const std::string& dir_ = folder_.path();
  convert::EngineApi api_;
};

TEST_F(ConversionWorkerTest, AJobWritesItsFileAndAStoppedJobLeavesNothing) {
  const std::string clip = Video("clip.mp4", "--size 1920x960 --seconds 6 --no-audio");
  Reports reports;
  ConversionWorker worker(api_, reports.Callbacks());
  EXPECT_FALSE(worker.busy());

  const std::string done = dir_ + "/done.mp4";
  const uint64_t first = worker.Run(JobFor(clip, done, 500));
  EXPECT_TRUE(worker.busy()) << "busy from the hand-over";
  ASSERT_TRUE(reports.WaitEnded(1));
  ASSERT_EQ(reports.ended().size(), 1u);
  EXPECT_EQ(reports.ended()[0].id, first);
  EXPECT_EQ(reports.ended()[0].result, 0);
  EXPECT_FALSE(reports.ended()[0].cancelled);
  EXPECT_TRUE(fs::exists(done));

  // The whole clip, stopped once it reported progress: no file, nothing beside it.
  const size_t before = FilesInDir();
  const std::string stopped = dir_ + "/stopped.mp4";
  const uint64_t second = worker.Run(JobFor(clip, stopped, 6000));
  ASSERT_TRUE(reports.WaitProgress());
  worker.Stop();
  ASSERT_TRUE(reports.WaitEnded(2));
  EXPECT_EQ(reports.ended()[1].id, second);
  EXPECT_TRUE(reports.ended()[1].cancelled);
  EXPECT_FALSE(fs::exists(stopped));
  EXPECT_EQ(FilesInDir(), before);
  for (int i = 0; i < 50 && worker.busy(); ++i) std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(worker.busy());
}

TEST_F(ConversionWorkerTest, AJobHandedOverWhileAnotherEndsRunsAfterIt) {
  const std::string clip = Video("clip.mp4", "--size 1920x960 --seconds 6 --no-audio");
  Reports reports;
  ConversionWorker worker(api_, reports.Callbacks());
  // Start, Stop and Start again while the first job still winds down.
  const uint64_t first = worker.Run(JobFor(clip, dir_ + "/first.mp4", 6000));
  ASSERT_TRUE(reports.WaitProgress());
  worker.Stop();
  const uint64_t second = worker.Run(JobFor(clip, dir_ + "/second.mp4", 500));
  ASSERT_TRUE(reports.WaitEnded(2));
  const std::vector<Ended> ended = reports.ended();
  EXPECT_EQ(ended[0].id, first);
  EXPECT_TRUE(ended[0].cancelled);
  EXPECT_EQ(ended[1].id, second);
  EXPECT_FALSE(ended[1].cancelled);
  EXPECT_EQ(ended[1].result, 0);
  EXPECT_FALSE(fs::exists(dir_ + "/first.mp4"));
  EXPECT_TRUE(fs::exists(dir_ + "/second.mp4"));
}

TEST_F(ConversionWorkerTest, CancellingForCloseWaitsForTheCleanUp) {
  const std::string clip = Video("clip.mp4", "--size 1920x960 --seconds 6 --no-audio");
  Reports reports;
  const std::string output = dir_ + "/closing.mp4";
  {
    ConversionWorker worker(api_, reports.Callbacks());
    worker.Run(JobFor(clip, output, 6000));
    ASSERT_TRUE(reports.WaitProgress());
    worker.CancelAndWait();
    EXPECT_FALSE(worker.busy());
    // Cleaned up before CancelAndWait returned: the job's end was reported, its file gone.
    ASSERT_EQ(reports.ended().size(), 1u);
    EXPECT_TRUE(reports.ended()[0].cancelled);
    EXPECT_FALSE(fs::exists(output));
    // Nothing starts after a cancel for closing.
    EXPECT_EQ(worker.Run(JobFor(clip, dir_ + "/never.mp4", 500)), 0u);
    EXPECT_FALSE(worker.busy());
  }
  EXPECT_FALSE(fs::exists(dir_ + "/never.mp4"));
  EXPECT_EQ(reports.ended().size(), 1u);
}

}  // namespace
}  // namespace spherolux::dialogs
