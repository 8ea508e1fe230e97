// rescale_csconvert's work for one screen-recorder frame (1920 x 960 32-bit to I420): the
// same-size kernels against swscale, which the engine used for every frame before (bicubic,
// as ffmpeg's command line also converts x11grab frames).
#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <random>
#include <vector>

#include "base/system.h"
#include "to_i420.h"

namespace {

using namespace spherolux;

constexpr int kWidth = 1920;
constexpr int kHeight = 960;

// A picture with smooth areas and edges, as a rendered view has them.
const std::vector<uint8_t>& Picture() {
  static const std::vector<uint8_t> px = [] {
    std::vector<uint8_t> p(size_t{kWidth} * kHeight * 4);
    std::mt19937 rng(5);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        uint8_t* q = &p[(static_cast<size_t>(y) * kWidth + x) * 4];
        q[0] = static_cast<uint8_t>(x / 8);
        q[1] = static_cast<uint8_t>(y / 4 + (rng() & 7));
        q[2] = static_cast<uint8_t>((x / 64 + y / 64) % 2 ? 220 : 30);
        q[3] = 255;
      }
    return p;
  }();
  return px;
}

void Report(benchmark::State& state) {
  state.counters["Mpixel/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kWidth * kHeight / 1e6, benchmark::Counter::kIsRate);
}

template <convert::ToI420Fn kKernel>
void BM_SameSizeKernel(benchmark::State& state) {
  if (kKernel == convert::ToI420Avx2 && !CpuHasAvx2()) {
    state.SkipWithError("no AVX2");
    return;
  }
  std::vector<uint8_t> out(size_t{kWidth} * kHeight * 3 / 2);
  const ptrdiff_t row = ptrdiff_t{kWidth} * 4;
  // Rows bottom-up, as the renderer reads them back.
  const uint8_t* top = Picture().data() + row * (kHeight - 1);
  for (auto _ : state) {
    kKernel(top, -row, kWidth, kHeight, convert::PixelOrder::kRgba, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  Report(state);
}
BENCHMARK_TEMPLATE(BM_SameSizeKernel, convert::ToI420Scalar)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_SameSizeKernel, convert::ToI420Avx2)->Unit(benchmark::kMillisecond);

void BM_SwscaleBicubic(benchmark::State& state) {
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGRA, kWidth, kHeight, AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                                   nullptr, nullptr, nullptr);
  std::vector<uint8_t> out(size_t{kWidth} * kHeight * 3 / 2);
  uint8_t* planes[4] = {out.data(), out.data() + kWidth * kHeight, out.data() + kWidth * kHeight * 5 / 4, nullptr};
  const int strides[4] = {kWidth, kWidth / 2, kWidth / 2, 0};
  const uint8_t* src[4] = {Picture().data(), nullptr, nullptr, nullptr};
  const int src_strides[4] = {kWidth * 4, 0, 0, 0};
  for (auto _ : state) {
    sws_scale(sws, src, src_strides, 0, kHeight, planes, strides);
    benchmark::DoNotOptimize(out.data());
  }
  sws_freeContext(sws);
  Report(state);
}
BENCHMARK(BM_SwscaleBicubic)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
