// The flat view's rendering alone: a 1920 x 1080 view from a 3840 x 1920 panorama, the view
// turning a little every frame (so nothing carries over between frames), on 1 and 2 threads.
#include <benchmark/benchmark.h>

#include <vector>

#include "reframe/rectilinear.h"

namespace {

void BM_RenderRectilinear(benchmark::State& state) {
  using namespace spherolux::reframe;
  const int pw = 3840, ph = 1920, w = 1920, h = 1080;
  std::vector<uint8_t> pano(static_cast<size_t>(pw) * ph * 3 / 2), out(static_cast<size_t>(w) * h * 3 / 2);
  for (size_t i = 0; i < pano.size(); ++i) pano[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
  ViewState view;
  view.fov = 90;
  double yaw = 0;
  for (auto _ : state) {
    view.rotation = RotationOf(yaw += 0.5, 10, 0);
    RenderRectilinear(spherolux::BackToBackI420(pano.data(), pw, ph), pw, ph, view, out.data(), w, h,
                      static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_RenderRectilinear)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
