// The conversion service with the real engine (libconvert.so from the build) on camera files
// made by camgen: jobs run one at a time in order, a stop reaches its own job only, and a
// photo runs on the service's thread.
#include "convert/service.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "testsupport/testsupport.h"

namespace spherolux::convert {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What the service reported, job by job.
class Reports {
 public:
  ServiceCallbacks For(const std::string& name) {
    return {{},
            [this, name](const JobProgress&) {
              std::lock_guard<std::mutex> lock(mutex_);
              progressed_[name] = true;
              changed_.notify_all();
            },
            [this, name](const ServiceResult& r) {
              std::lock_guard<std::mutex> lock(mutex_);
              ended_[name] = r;
              threads_[name] = std::this_thread::get_id();
              order_.push_back(name);
              changed_.notify_all();
            }};
  }
  bool WaitProgress(const std::string& name) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 60s, [&] { return progressed_[name] || ended_.count(name); });
  }
  std::map<std::string, ServiceResult> ended() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
  }
  std::vector<std::string> order() {
    std::lock_guard<std::mutex> lock(mutex_);
    return order_;
  }
  std::thread::id thread(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_[name];
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, bool> progressed_;
  std::map<std::string, ServiceResult> ended_;
  std::map<std::string, std::thread::id> threads_;
  std::vector<std::string> order_;
};

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    service_ = ConversionService::Load(fs::path(testsupport::BuiltProgram("spherolux-cli")).parent_path(), &error);
    ASSERT_NE(service_, nullptr) << error;
  }
  std::string Camgen(const std::string& kind, const std::string& name, const std::string& args) {
    const std::string path = folder_.Path(name);
    const testsupport::CommandResult run = testsupport::RunCommand(
        testsupport::BuiltProgram("spherolux-camgen") + " " + kind + " " + testsupport::ShellQuote(path) + " " + args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return path;
  }
  // A conversion of the first `ms` of `input` to the first free name in the folder.
  ServiceJob Video(const std::string& input, int64_t ms) {
    ServiceJob job;
    job.input = input;
    job.output_dir = folder_.path();
    job.call = [input, ms](const std::string& output) {
      return ConversionCall(input, output, {0, ms}, Quality::kLow, false);
    };
    return job;
  }
  size_t Mp4Outputs() {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder_.path()))
      n += e.path().filename().string().find("_spherolux_") != std::string::npos;
    return n;
  }

  testsupport::TempDir folder_{"conversion-service"};
  std::unique_ptr<ConversionService> service_;
};

// A program that holds a service pays for the engine's libraries only once it converts: a
// photo needs no engine, the first conversion loads it. A folder without the engine gives no
// service and says why.
class ServiceLoadTest : public ServiceTest {
 protected:
  void SetUp() override {}  // each test loads the service itself
};

TEST_F(ServiceLoadTest, TheEngineIsLoadedByTheFirstConversionOnly) {
  const fs::path dir = fs::path(testsupport::BuiltProgram("spherolux-cli")).parent_path();
  const std::string engine = dir / kEngineFileName;
  const auto loaded = [&] {
    void* handle = dlopen(engine.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
  };
  if (loaded()) GTEST_SKIP() << "another test of this process loaded the engine";
  std::string error;
  service_ = ConversionService::Load(dir, &error);
  ASSERT_NE(service_, nullptr) << error;
  EXPECT_FALSE(loaded());
  const std::string photo = Camgen("photo", "IMG_0001.jpg", "--size 960x480");
  Reports reports;
  ServiceJob stitch;
  stitch.kind = ServiceJob::Kind::kPhoto;
  stitch.input = photo;
  stitch.output_dir = folder_.path();
  service_->Wait(service_->Submit(std::move(stitch), reports.For("photo")));
  EXPECT_EQ(reports.ended().at("photo").result, 0);
  EXPECT_FALSE(loaded());
  const std::string clip = Camgen("video", "clip.mp4", "--size 640x320 --seconds 1 --no-audio");
  service_->Wait(service_->Submit(Video(clip, 500), reports.For("video")));
  EXPECT_EQ(reports.ended().at("video").result, 0);
  EXPECT_TRUE(loaded());

  EXPECT_EQ(ConversionService::Load(folder_.path(), &error), nullptr);
  EXPECT_NE(error.find(kEngineFileName), std::string::npos) << error;
}

TEST_F(ServiceTest, AStopReachesItsOwnJobOnly) {
  const std::string clip = Camgen("video", "clip.mp4", "--size 1920x960 --seconds 6 --no-audio");
  Reports reports;
  // A long job runs; the one waiting behind it is stopped: the running one goes on.
  const uint64_t long_job = service_->Submit(Video(clip, 6000), reports.For("long"));
  const uint64_t waiting = service_->Submit(Video(clip, 500), reports.For("waiting"));
  ASSERT_TRUE(reports.WaitProgress("long"));
  service_->Stop(waiting);
  EXPECT_TRUE(reports.ended().at("waiting").stopped);
  // Then the running one is stopped while a third waits: the third still runs.
  const uint64_t third = service_->Submit(Video(clip, 500), reports.For("third"));
  service_->Stop(long_job);
  service_->Wait(third);
  const auto ended = reports.ended();
  EXPECT_TRUE(ended.at("long").stopped);
  EXPECT_EQ(ended.at("third").result, 0);
  EXPECT_FALSE(ended.at("third").stopped);
  EXPECT_EQ(reports.order(), (std::vector<std::string>{"waiting", "long", "third"}));
  // Only the third job's file is left, under the first free name.
  EXPECT_EQ(ended.at("third").output, folder_.Path("clip_spherolux_0.mp4"));
  EXPECT_TRUE(fs::exists(ended.at("third").output));
  EXPECT_EQ(Mp4Outputs(), 1u);
  EXPECT_TRUE(service_->idle());
}

TEST_F(ServiceTest, APhotoRunsOnTheServiceThreadAndClosingStopsWhatIsLeft) {
  const std::string photo = Camgen("photo", "IMG_0001.jpg", "--size 1920x960");
  const std::string clip = Camgen("video", "clip.mp4", "--size 1920x960 --seconds 6 --no-audio");
  Reports reports;
  ServiceJob job;
  job.kind = ServiceJob::Kind::kPhoto;
  job.input = photo;
  job.output_dir = folder_.path();
  const uint64_t id = service_->Submit(job, reports.For("photo"));
  // Two of them: the second takes the next free name.
  service_->Submit(job, reports.For("photo2"));
  service_->Submit(Video(clip, 6000), reports.For("video"));
  service_->Submit(Video(clip, 6000), reports.For("never"));
  service_->Wait(id);
  EXPECT_NE(reports.thread("photo"), std::this_thread::get_id());
  EXPECT_EQ(reports.ended().at("photo").result, 0);
  EXPECT_TRUE(fs::exists(folder_.Path("IMG_0001_spherolux_0.jpg")));
  ASSERT_TRUE(reports.WaitProgress("video"));
  service_.reset();  // stops the running job, drops the waiting one, and waits
  const auto ended = reports.ended();
  EXPECT_EQ(ended.at("photo2").output, folder_.Path("IMG_0001_spherolux_1.jpg"));
  EXPECT_TRUE(ended.at("video").stopped);
  EXPECT_TRUE(ended.at("never").stopped);
  EXPECT_EQ(Mp4Outputs(), 2u) << "the two photos, nothing of the videos";
}

TEST_F(ServiceTest, ANameTakenMeanwhileGivesWayToTheNextFreeOne) {
  const std::string clip = Camgen("video", "clip.mp4", "--size 640x320 --seconds 1 --no-audio");
  Reports reports;
  ServiceJob job = Video(clip, 500);
  // Another run takes the picked name between the pick and the engine's start.
  const std::string taken = folder_.Path("clip_spherolux_0.mp4");
  auto call = job.call;
  job.call = [this, call, taken](const std::string& output) {
    if (output == taken && !fs::exists(taken)) folder_.Write("clip_spherolux_0.mp4", "another run's");
    return call(output);
  };
  service_->Wait(service_->Submit(std::move(job), reports.For("job")));
  const ServiceResult r = reports.ended().at("job");
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.output, folder_.Path("clip_spherolux_1.mp4"));
  EXPECT_TRUE(fs::exists(r.output));
  EXPECT_EQ(testsupport::Shell("cat " + testsupport::ShellQuote(taken)), "another run's");
}

}  // namespace
}  // namespace spherolux::convert
