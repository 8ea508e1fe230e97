// Exported functions of libconvert.so and the state they share.
#include "convert/engine.h"

#include <chrono>
#include <vector>

#include "args.h"
#include "av.h"
#include "jobs.h"
#include "to_i420.h"

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

}  // namespace spherolux::convert

using namespace spherolux::convert;

namespace {

// Runs one exported call; an exception that escapes it becomes a result code, so that none
// ever crosses into the C caller.
template <typename Fn>
int Guarded(const Fn& fn) noexcept {
  try {
    return fn();
  } catch (...) {
    return CurrentExceptionCode();
  }
}

int RunJob(int argc, const char* const* argv, int rotation) {
  if (argc < 1 || !argv) return CONVERT_ERR_ARGUMENTS;
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    if (!argv[i]) return CONVERT_ERR_ARGUMENTS;
    args.emplace_back(argv[i]);
  }
  auto job = ParseJob(args);
  if (!job) return CONVERT_ERR_ARGUMENTS;
  if (rotation != 0 && rotation != 90 && rotation != 180 && rotation != 270) return CONVERT_ERR_ARGUMENTS;
  if (job->output == job->input) return CONVERT_ERR_OUTPUT_IS_INPUT;
  av_log_set_level(AV_LOG_QUIET);
  JobContext ctx;
  int rc = job->kind == Job::Kind::kMerge ? RunMerge(*job, ctx) : RunConvert(*job, rotation, ctx);
  if (rc == CONVERT_OK)
    ctx.Finish();
  else if (ctx.stopped())
    rc = CONVERT_ERR_STOPPED;
  return rc;
}

int Rescale(const uint8_t* src, uint8_t* dst, int src_width, int src_height, int src_format, int dst_width,
            int dst_height) {
  const int pixels = src_format & ~CONVERT_ROWS_BOTTOM_UP;
  if (!src || !dst || (pixels != CONVERT_PIXELS_BGRA && pixels != CONVERT_PIXELS_RGBA)) return CONVERT_ERR_FORMAT;
  if (src_width <= 0 || src_height <= 0 || dst_width <= 0 || dst_height <= 0 || src_width > 16384 ||
      src_height > 16384 || dst_width > 16384 || dst_height > 16384)
    return CONVERT_ERR_FORMAT;
  // The top row and the step to the next one down.
  const ptrdiff_t row = ptrdiff_t{src_width} * 4;
  const bool bottom_up = (src_format & CONVERT_ROWS_BOTTOM_UP) != 0;
  const uint8_t* top = bottom_up ? src + row * (src_height - 1) : src;
  const ptrdiff_t stride = bottom_up ? -row : row;
  if (src_width == dst_width && src_height == dst_height && src_width % 2 == 0 && src_height % 2 == 0) {
    ToI420(top, stride, src_width, src_height, pixels == CONVERT_PIXELS_RGBA ? PixelOrder::kRgba : PixelOrder::kBgra,
           dst);
    return CONVERT_OK;
  }
  // One scaler per calling thread, reused while the sizes stay the same and freed when the
  // thread ends.
  thread_local SwsPtr sws;
  sws.reset(sws_getCachedContext(sws.release(), src_width, src_height,
                                 pixels == CONVERT_PIXELS_RGBA ? AV_PIX_FMT_RGBA : AV_PIX_FMT_BGRA, dst_width,
                                 dst_height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
  if (!sws) return CONVERT_ERR_FORMAT;
  const int cw = (dst_width + 1) / 2, ch = (dst_height + 1) / 2;
  uint8_t* planes[4] = {dst, dst + size_t(dst_width) * dst_height,
                        dst + size_t(dst_width) * dst_height + size_t(cw) * ch, nullptr};
  int strides[4] = {dst_width, cw, cw, 0};
  const uint8_t* src_planes[4] = {top, nullptr, nullptr, nullptr};
  int src_strides[4] = {static_cast<int>(stride), 0, 0, 0};
  int rows = sws_scale(sws.get(), src_planes, src_strides, 0, src_height, planes, strides);
  return rows == dst_height ? CONVERT_OK : CONVERT_ERR_FORMAT;
}

}  // namespace

// The library's only exports (hidden visibility and the version script hide the rest).
#define SPHEROLUX_EXPORT __attribute__((visibility("default")))

extern "C" {

SPHEROLUX_EXPORT int synth_trans(int argc, const char* const* argv, int rotation, int reserved, int high_quality) {
  (void)reserved;
  (void)high_quality;  // the vector carries the encoder settings of every quality
  return Guarded([&] { return RunJob(argc, argv, rotation); });
}

SPHEROLUX_EXPORT int stop_transcoding(void) {
  RequestStopAll();
  return 0;
}

SPHEROLUX_EXPORT int setposition_callback(convert_position_callback callback, void* user) {
  return Guarded([&] {
    std::lock_guard<std::mutex> lock(g_callback_mu);
    g_callback = callback;
    g_callback_user = user;
    return 0;
  });
}

SPHEROLUX_EXPORT int rescale_csconvert(const uint8_t* src, uint8_t* dst, int src_width, int src_height, int src_format,
                                       int dst_width, int dst_height, int reserved) {
  (void)reserved;
  return Guarded([&] { return Rescale(src, dst, src_width, src_height, src_format, dst_width, dst_height); });
}

SPHEROLUX_EXPORT int synth_image(void) { return CONVERT_ERR_UNSUPPORTED; }

}  // extern "C"
