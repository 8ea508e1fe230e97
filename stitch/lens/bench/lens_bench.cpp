// Table building costs: the photo maps of a 5376 x 2688 panorama for each rotation, and the
// two video grids (dual-lens sphere grids, single-lens grid).
#include <benchmark/benchmark.h>

#include <vector>

#include "../tests/sample_para.h"
#include "stitch/remap.h"
#include "stitch/single_lens.h"
#include "stitch/sphere_grid.h"

namespace spherolux {
namespace {

void BM_PhotoMaps(benchmark::State& state) {
  const DoubleFisheyeCameraPara para = lens_test::SamplePara(static_cast<int32_t>(state.range(1)));
  const PhotoMapGeometry geo{5376, 2688, 5376, 2688, static_cast<int>(state.range(0)), false};
  int wm = 0;
  int hm = 0;
  if (!PhotoMapSize(para, geo, &wm, &hm)) {
    state.SkipWithError("map size refused");
    return;
  }
  std::vector<RemapEntry> map1(static_cast<size_t>(wm) * hm);
  std::vector<RemapEntry> map2(map1.size());
  for (auto _ : state) {
    BuildRemapMaps(para, geo, map1.data(), map2.data());
    benchmark::DoNotOptimize(map1.data());
    benchmark::DoNotOptimize(map2.data());
  }
  state.counters["entries"] = static_cast<double>(2 * map1.size());
}
// Model 2201: lens class 0; 401: lens class 1 (per-pixel parallax correction).
BENCHMARK(BM_PhotoMaps)->ArgsProduct({{0, 90, 180, 270}, {2201, 401}})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SphereGrids(benchmark::State& state) {
  const DoubleFisheyeCameraPara para = lens_test::SamplePara(static_cast<int32_t>(state.range(0)));
  std::vector<float> a(kGridFloats);
  std::vector<float> b(kGridFloats);
  for (auto _ : state) {
    BuildSphereGrids(para, 3840, 1920, kGridColumns, kGridRings, false, a.data(), b.data());
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(b.data());
  }
}
BENCHMARK(BM_SphereGrids)->Arg(2201)->Arg(401)->Unit(benchmark::kMicrosecond);

void BM_SingleLensGrid(benchmark::State& state) {
  std::vector<float> grid(kGridFloats);
  for (auto _ : state) {
    BuildSingleLensGrid(1920, 1080, 180, 48, 960.0f, 540.0f, 192.0f, 530.0f, grid.data());
    benchmark::DoNotOptimize(grid.data());
  }
}
BENCHMARK(BM_SingleLensGrid)->Unit(benchmark::kMicrosecond);

void BM_SingleLensRemap(benchmark::State& state) {
  const int w = 3840;
  const int h = 1920;
  std::vector<SingleLensRemapEntry> table(static_cast<size_t>(w) * h);
  for (auto _ : state) {
    BuildSingleLensRemap(w, 2160, 1920.0f, 1080.0f, 190.0f, 1060.0f, table.data(), w, h,
                         static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(table.data());
  }
}
BENCHMARK(BM_SingleLensRemap)->Arg(0)->Arg(90)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace spherolux

BENCHMARK_MAIN();
