// Exported functions of libconvert.so and the state they share.
#include "convert/engine.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "args.h"
#include "av.h"
#include "base/file.h"
#include "jobs.h"

namespace spherolux::convert {
namespace {

// Registered callback; guarded by g_callback_mu so that a change never tears the pair.
std::mutex g_callback_mu;
convert_position_callback g_callback = nullptr;
void* g_callback_user = nullptr;

// Incremented by stop_transcoding: a job is stopped once this differs from its start value.
std::atomic<uint64_t> g_stop_generation{0};

}  // namespace

void RequestStopAll() { g_stop_generation.fetch_add(1); }

void ReportProgress(float percent) {
  std::lock_guard<std::mutex> lock(g_callback_mu);
  if (g_callback) g_callback(percent, g_callback_user);
}

JobContext::JobContext() : generation_(g_stop_generation.load()), reporter_([this] { Report(); }) {}

JobContext::~JobContext() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    done_ = true;
  }
  cv_.notify_all();
  reporter_.join();
}

bool JobContext::stopped() const { return g_stop_generation.load() != generation_; }

int JobContext::Interrupt(void* opaque) { return static_cast<JobContext*>(opaque)->stopped() ? 1 : 0; }

void JobContext::Report() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!done_) {
    ReportProgress(progress_.load(std::memory_order_relaxed));
    cv_.wait_for(lock, std::chrono::milliseconds(250));
  }
}

void JobContext::Finish() {
  progress_.store(100);
  ReportProgress(100);
}

TempFiles::~TempFiles() {
  for (int i = 0; i < count_; ++i)
    if (!created_[i].empty()) ::unlink(created_[i].c_str());
}

bool TempFiles::Create(std::string* path) {
  if (count_ == 4) return false;
  namespace fs = std::filesystem;
  fs::path out(output_);
  if (out.filename().empty()) return false;
  fs::path dir = out.parent_path();
  std::string pattern = (dir.empty() ? fs::path(".") : dir).string() + "/." + out.filename().string() + ".XXXXXX";
  int fd = spherolux::CreateUniqueFile(pattern);
  if (fd < 0) return false;
  ::close(fd);
  created_[count_++] = pattern;
  *path = pattern;
  return true;
}

bool TempFiles::Commit(const std::string& path) {
  if (std::rename(path.c_str(), output_.c_str()) != 0) return false;
  for (int i = 0; i < count_; ++i)
    if (created_[i] == path) created_[i].clear();
  return true;
}

}  // namespace spherolux::convert

using namespace spherolux::convert;

extern "C" {

__attribute__((visibility("default"))) int synth_trans(int argc, const char* const* argv, int rotation, int reserved,
                                                       int high_quality) {
  (void)reserved;
  (void)high_quality;  // the vector carries the encoder settings of every quality
  if (argc < 1 || !argv) return CONVERT_ERR_ARGUMENTS;
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    if (!argv[i]) return CONVERT_ERR_ARGUMENTS;
    args.emplace_back(argv[i]);
  }
  auto job = ParseJob(args);
  if (!job) return CONVERT_ERR_ARGUMENTS;
  if (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270) return CONVERT_ERR_ARGUMENTS;
  av_log_set_level(AV_LOG_QUIET);
  JobContext ctx;
  int rc = job->kind == Job::Kind::kMerge ? RunMerge(*job, ctx) : RunConvert(*job, rotation, ctx);
  if (rc == CONVERT_OK)
    ctx.Finish();
  else if (ctx.stopped())
    rc = CONVERT_ERR_STOPPED;
  return rc;
}

__attribute__((visibility("default"))) int stop_transcoding(void) {
  RequestStopAll();
  return 0;
}

__attribute__((visibility("default"))) int setposition_callback(convert_position_callback callback, void* user) {
  std::lock_guard<std::mutex> lock(g_callback_mu);
  g_callback = callback;
  g_callback_user = user;
  return 0;
}

__attribute__((visibility("default"))) int rescale_csconvert(const uint8_t* src, uint8_t* dst, int src_width,
                                                             int src_height, int src_format, int dst_width,
                                                             int dst_height, int reserved) {
  (void)reserved;
  if (!src || !dst || src_format != 2) return CONVERT_ERR_FORMAT;
  if (src_width <= 0 || src_height <= 0 || dst_width <= 0 || dst_height <= 0 || src_width > 16384 ||
      src_height > 16384 || dst_width > 16384 || dst_height > 16384)
    return CONVERT_ERR_FORMAT;
  // One scaler per thread, reused while the sizes stay the same.
  thread_local SwsContext* sws = nullptr;
  sws = sws_getCachedContext(sws, src_width, src_height, AV_PIX_FMT_BGRA, dst_width, dst_height, AV_PIX_FMT_YUV420P,
                             SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!sws) return CONVERT_ERR_FORMAT;
  const int cw = (dst_width + 1) / 2, ch = (dst_height + 1) / 2;
  uint8_t* planes[4] = {dst, dst + size_t(dst_width) * dst_height,
                        dst + size_t(dst_width) * dst_height + size_t(cw) * ch, nullptr};
  int strides[4] = {dst_width, cw, cw, 0};
  const uint8_t* src_planes[4] = {src, nullptr, nullptr, nullptr};
  int src_strides[4] = {src_width * 4, 0, 0, 0};
  int rows = sws_scale(sws, src_planes, src_strides, 0, src_height, planes, strides);
  return rows == dst_height ? CONVERT_OK : CONVERT_ERR_FORMAT;
}

__attribute__((visibility("default"))) int synth_image(void) { return CONVERT_ERR_UNSUPPORTED; }

}  // extern "C"
