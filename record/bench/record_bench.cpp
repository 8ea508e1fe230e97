// Plays a clip through the renderer in a window at its frame rate, as the player's output
// thread does, optionally recording the view, and reports what it cost as one JSON line.
// bench/record_vs_x11grab.sh runs it beside ffmpeg's x11grab on the same X display.
//
//   record_bench CLIP WIDTH HEIGHT FPS SECONDS [--record OUT.mp4 | --read-back]
//
// --read-back attaches a recorder that takes every frame and keeps nothing: what the drawing
// thread then spends beyond playing is the renderer's read-back alone.
#include <GL/glew.h>
// clang-format off
#include "render/opengl_render.h"
// clang-format on

#include <sys/resource.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/system.h"
#include "record/screen_recorder.h"

namespace {

class ReadBackOnly : public spherolux::render::FrameRecorder {
 public:
  bool IsRecording() const override { return true; }
  void Capture(int width, int height, spherolux::render::PixelOrder,
               const spherolux::render::FrameReader& read) override {
    frame_.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    read(frame_.data());
  }
  void Finish() override {}

 private:
  std::vector<uint8_t> frame_;
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace spherolux;
  KeepFreedMemoryForReuse();  // as the program does
  using Clock = std::chrono::steady_clock;
  if (argc < 6) {
    std::fprintf(stderr, "usage: record_bench CLIP WIDTH HEIGHT FPS SECONDS [--record OUT.mp4]\n");
    return 64;
  }
  const std::string clip = argv[1];
  const int width = std::atoi(argv[2]), height = std::atoi(argv[3]), fps = std::atoi(argv[4]);
  const int seconds = std::atoi(argv[5]);
  const std::string out = argc >= 8 && !std::strcmp(argv[6], "--record") ? argv[7] : "";
  const bool read_back_only = argc >= 7 && !std::strcmp(argv[6], "--read-back");
  QGuiApplication app(argc, argv);

  // The clip's frames, decoded once up front (a second of them, played in a loop), so that
  // decoding costs nothing while measuring.
  const size_t frame_bytes = static_cast<size_t>(width) * height * 4;
  std::vector<std::vector<uint8_t>> frames;
  {
    const std::string cmd =
        "ffmpeg -nostdin -v error -i '" + clip + "' -frames:v " + std::to_string(fps) + " -f rawvideo -pix_fmt bgra -";
    std::FILE* p = popen(cmd.c_str(), "r");
    std::vector<uint8_t> f(frame_bytes);
    while (p && std::fread(f.data(), 1, f.size(), p) == f.size()) frames.push_back(f);
    if (p) pclose(p);
  }
  if (frames.empty()) {
    std::fprintf(stderr, "record_bench: no frames decoded from %s\n", clip.c_str());
    return 1;
  }

  QWindow window;
  window.setSurfaceType(QSurface::OpenGLSurface);
  window.setFlags(Qt::FramelessWindowHint);
  QSurfaceFormat format;
  format.setDepthBufferSize(16);
  format.setVersion(2, 0);
  window.setFormat(format);
  window.setGeometry(0, 0, width, height);
  window.show();
  for (int i = 0; i < 2000 && !window.isExposed(); ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  render::COpenglRender renderer(&window, nullptr);
  renderer.SetMediaKind(512, width, height, nullptr, nullptr, 0);
  if (renderer.Initialise() != 0) return 1;
  renderer.SetViewMode(render::kModeSphere);
  renderer.SetFrameSource(render::COpenglRender::kSourceDecoder);
  renderer.SetTextureSize(width, height);

  record::ScreenRecorder recorder(nullptr);
  ReadBackOnly read_back;
  if (read_back_only)
    renderer.AttachRecorder(&read_back);
  else
    renderer.AttachRecorder(&recorder);
  if (!out.empty() && recorder.Start(clip, out, 0) != record::kRecordOk) {
    std::fprintf(stderr, "record_bench: recording could not start\n");
    return 1;
  }

  const int total = seconds * fps;
  const auto period = std::chrono::nanoseconds(1000000000LL / fps);
  double draw_seconds = 0;
  int late = 0;
  const double cpu0 = CpuSeconds();
  const auto start = Clock::now();
  for (int i = 0; i < total; ++i) {
    renderer.models().sphere_a().SetYaw(static_cast<float>(i) * 0.5f);
    const auto t0 = Clock::now();
    renderer.Draw(frames[static_cast<size_t>(i) % frames.size()].data());
    const auto t1 = Clock::now();
    draw_seconds += std::chrono::duration<double>(t1 - t0).count();
    const auto due = start + period * (i + 1);
    if (t1 > due)
      ++late;
    else
      std::this_thread::sleep_until(due);
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  bool finished = true;
  if (!out.empty()) {
    // Let the encoder take what is queued: its work is part of the recording's cost.
    while (recorder.stats().queued > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    finished = recorder.Stop();
  }
  const double cpu = CpuSeconds() - cpu0;
  renderer.AttachRecorder(nullptr);
  const record::RecorderStats s = recorder.stats();
  std::printf(
      "{\"frames\":%d,\"late\":%d,\"wall_s\":%.3f,\"cpu_s\":%.3f,\"draw_ms\":%.3f,\"captured\":%llu,"
      "\"encoded\":%llu,\"dropped\":%llu,\"dropped_at_stop\":%llu,\"failed\":%llu,\"capture_ms\":%.3f,"
      "\"finished\":%s}\n",
      total, late, wall, cpu, 1000 * draw_seconds / total, static_cast<unsigned long long>(s.captured),
      static_cast<unsigned long long>(s.encoded), static_cast<unsigned long long>(s.dropped),
      static_cast<unsigned long long>(s.dropped_at_stop), static_cast<unsigned long long>(s.failed),
      s.captured ? s.capture_ns / 1e6 / static_cast<double>(s.captured) : 0.0, finished ? "true" : "false");
  return 0;
}
