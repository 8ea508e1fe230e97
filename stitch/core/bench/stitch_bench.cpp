// Per-frame cost of stitching at camera photo and video sizes.
//
//   BM_StitchImage/W/format/threads/compiled
//                                     the whole StitchImage call (skipped for widths above
//                                     kMaxStitchWidth, which a context refuses), through the
//                                     maps or, compiled 1, through the context's sample plan
//                                     (I420 only); frames rotate among four sources, as new
//                                     video frames do, so they come from memory
//   BM_Kernel/W/format/threads/path   the blending kernel alone over maps of the same
//                                     geometry, sliced like StitchImage (path 0: scalar
//                                     reference, 1: the processor's fastest path); this
//                                     also covers outputs wider than a context allows
//
// Formats: 0 = I420, 2 = 4 bytes per pixel. The source is a frame of the output's size, as
// the photo pipeline stitches it. CPU time is the whole process's (all threads), so on a
// shared machine it is the steadier figure; wall time shows what two threads gain.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "base/row_slices.h"
#include "blend_dsp.h"
#include "stitch/blend.h"
#include "stitch/remap.h"
#include "stitch/stitch_context.h"

namespace spherolux {
namespace {

DoubleFisheyeCameraPara BenchRecord() {
  DoubleFisheyeCameraPara p;
  p.fLensCoef = 200;
  p.lModel = 2201;
  p.stPoint1 = {480, 480, 470};
  p.stPoint2 = {480, 480, 470};
  p.fRatio = 1.0f;
  p.lPointNum = 0;
  return p;
}

std::vector<uint8_t> Frame(int format, int w, int h) {
  std::vector<uint8_t> f(StitchFrameSize(format, w, h));
  uint32_t s = 12345;
  for (auto& b : f) {
    s = s * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(s >> 24);
  }
  return f;
}

void BM_StitchImage(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = w / 2;
  const int format = static_cast<int>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  const bool compiled = state.range(3) != 0;
  const DoubleFisheyeCameraPara para = BenchRecord();
  StitchContext* ctx = CreateStitchContext(&para, w, h, w, h, format, 0, false, false);
  if (!ctx) {
    state.SkipWithError(w > kMaxStitchWidth ? "wider than kMaxStitchWidth" : "context refused");
    return;
  }
  if (compiled && !CompileStitchContext(ctx, 2)) {
    DestroyStitchContext(ctx);
    state.SkipWithError("only I420 contexts compile");
    return;
  }
  std::vector<std::vector<uint8_t>> sources;
  for (int i = 0; i < 4; ++i) {
    sources.push_back(Frame(format, w, h));
    sources.back()[i] ^= 1;
  }
  std::vector<uint8_t> dst(sources[0].size());
  size_t next = 0;
  for (auto _ : state) {
    StitchImage(ctx, sources[next++ % sources.size()].data(), dst.data(), threads);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.counters["Mpx/s"] =
      benchmark::Counter(static_cast<double>(w) * h * state.iterations() / 1e6, benchmark::Counter::kIsRate);
  DestroyStitchContext(ctx);
}

struct Maps {
  int wm = 0, hm = 0;
  std::vector<RemapEntry> m1, m2;
};

const Maps& MapsFor(int w) {
  static std::map<int, std::unique_ptr<Maps>> cache;
  auto& slot = cache[w];
  if (!slot) {
    slot = std::make_unique<Maps>();
    const DoubleFisheyeCameraPara para = BenchRecord();
    const PhotoMapGeometry geo{w, w / 2, w, w / 2, 0, false};
    PhotoMapSize(para, geo, &slot->wm, &slot->hm);
    slot->m1.resize(static_cast<size_t>(slot->wm) * slot->hm);
    slot->m2.resize(slot->m1.size());
    BuildRemapMaps(para, geo, slot->m1.data(), slot->m2.data());
  }
  return *slot;
}

void BM_Kernel(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = w / 2;
  const int format = static_cast<int>(state.range(1));
  const int threads = static_cast<int>(state.range(2));
  const BlendDsp& dsp = state.range(3) == 0 ? ScalarBlendDsp() : ActiveBlendDsp();
  state.SetLabel(dsp.name);
  const Maps& m = MapsFor(w);
  const std::vector<uint8_t> src = Frame(format, w, h);
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    RunRowSlices(h, 2, threads, [&](int r0, int r1) {
      if (format == kStitchI420) {
        BlendHorizontalI420With(dsp, src.data(), w, h, dst.data(), m.m2.data(), m.m1.data(), m.wm, m.hm, r0, r1);
      } else {
        BlendHorizontalPackedWith(dsp, src.data(), w * 4, h, 4, dst.data(), m.m2.data(), m.m1.data(), m.wm, m.hm, r0,
                                  r1);
      }
    });
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.counters["Mpx/s"] =
      benchmark::Counter(static_cast<double>(w) * h * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_StitchImage)
    ->ArgNames({"W", "format", "threads", "compiled"})
    ->ArgsProduct({{3840, 5376}, {0, 2}, {1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_Kernel)
    ->ArgNames({"W", "format", "threads", "path"})
    ->ArgsProduct({{3840, 5376}, {0, 2}, {1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
}  // namespace spherolux

BENCHMARK_MAIN();
