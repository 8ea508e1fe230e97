// Draw of one decoded frame (texture update + draw + swap) on Mesa's llvmpipe, in 32-bit BGRA
// and in planar YUV 4:2:0 (turned into RGB by the shaders, or on the processor first).
// Run under an X server, e.g.:
//   scripts/xvfb-run-test.sh build/render/gl/render_draw_bench
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>
#include <QWindow>
#include <cstdint>
#include <memory>
#include <vector>

#include "render/opengl_render.h"

namespace {

using spherolux::render::COpenglRender;
using spherolux::render::YuvPicture;

struct Fixture {
  std::unique_ptr<QWindow> window;
  std::unique_ptr<COpenglRender> renderer;
  std::vector<uint8_t> frame;
  YuvPicture yuv;  // planes in `frame` when the frames are YUV
  std::vector<float> table_a;
  std::vector<float> table_b;
};

// A window of window_width x (window_width * 9 / 16) showing a frame of width x height in
// `mode`; media kind 2 uses the blend shaders with grids spread over both halves of the frame.
void DrawOnce(Fixture& f) {
  if (f.yuv.width > 0) {
    f.renderer->DrawYuv(f.yuv);
  } else {
    f.renderer->Draw(f.frame.data());
  }
}

std::unique_ptr<Fixture> Open(int kind, int width, int height, int mode, int window_width, bool yuv,
                              spherolux::render::YuvConversion conversion) {
  auto f = std::make_unique<Fixture>();
  f->window = std::make_unique<QWindow>();
  f->window->setSurfaceType(QSurface::OpenGLSurface);
  f->window->resize(window_width, window_width * 9 / 16);
  f->window->show();
  for (int i = 0; i < 400 && !f->window->isExposed(); ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  f->renderer = std::make_unique<COpenglRender>(f->window.get(), nullptr);
  f->frame.resize(static_cast<size_t>(width) * height * (yuv ? 3 : 8) / 2);
  if (yuv) {
    const size_t luma = static_cast<size_t>(width) * height;
    f->yuv = {{f->frame.data(), f->frame.data() + luma, f->frame.data() + luma * 5 / 4},
              {width, width / 2, width / 2},
              width,
              height,
              {}};
  }
  for (size_t i = 0; i < f->frame.size(); ++i) f->frame[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  if (kind == spherolux::render::kMediaDualLens) {
    for (int r = 0; r < 52; ++r) {
      for (int c = 0; c < 181; ++c) {
        f->table_a.insert(f->table_a.end(), {width * 0.25f + r * 9.0f, height * 0.5f + c});
        f->table_b.insert(f->table_b.end(), {width * 0.75f - r * 9.0f, height * 0.5f - c});
      }
    }
  }
  f->renderer->SetMediaKind(kind, width, height, f->table_a.empty() ? nullptr : f->table_a.data(),
                            f->table_b.empty() ? nullptr : f->table_b.data(), static_cast<int>(f->table_a.size()));
  f->renderer->SetFrameSource(yuv ? COpenglRender::kSourceDecoderYuv : COpenglRender::kSourceDecoder);
  f->renderer->SetYuvConversion(conversion);
  if (f->renderer->Initialise() != 0) return nullptr;
  f->renderer->SetTextureSize(width, height);
  f->renderer->SetViewMode(mode);
  DrawOnce(*f);  // the full allocation happens here, outside the timing
  return f;
}

void BM_DrawFrame(benchmark::State& state) {
  const int kind = static_cast<int>(state.range(0));
  const int mode = static_cast<int>(state.range(1));
  const int window_width = static_cast<int>(state.range(2));
  const bool yuv = state.range(3) != 0;
  const auto conversion =
      state.range(3) == 2 ? spherolux::render::YuvConversion::kProcessor : spherolux::render::YuvConversion::kShader;
  std::unique_ptr<Fixture> f = Open(kind, 3840, 1920, mode, window_width, yuv, conversion);
  if (f == nullptr) {
    state.SkipWithError("renderer did not initialise");
    return;
  }
  for (auto _ : state) {
    f->frame[0]++;
    DrawOnce(*f);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["sub_uploads"] = f->renderer->sub_uploads();
  state.counters["full_uploads"] = f->renderer->full_uploads();
}
// (media kind, mode, window width, picture): panorama on the sphere, dual fisheye blended on
// the sphere and on the planet, flat view; a 1280 x 720 window, and a 320 x 180 one where the
// upload dominates; each in BGRA (0), in YUV turned into RGB by the shaders (1) and in YUV
// converted on the processor (2).
BENCHMARK(BM_DrawFrame)
    ->ArgsProduct({{512}, {0}, {1280}, {0, 1, 2}})
    ->ArgsProduct({{2}, {0, 2, 6}, {1280}, {0, 1, 2}})
    ->ArgsProduct({{2}, {0}, {320}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
