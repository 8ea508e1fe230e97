// playback_bench: plays one file for a while and reports what the media engine counted
// (pictures displayed and lost), the time from the open to the first displayed picture and,
// for our player, where the drawing thread's time per picture went.
//
//   playback_bench ours FILE SECONDS [OPTIONS]      the player: frame callbacks + our renderer
//   playback_bench peer FILE SECONDS                libvlc drawing by itself with its OpenGL
//                                                   output (360-degree view for files with
//                                                   spherical metadata)
//
// Runs under an X server (scripts/xvfb-run-test.sh); prints one line of key=value pairs.
// Options of ours: --readback attaches a recorder that reads every frame back, as a screen
// recording does; --yuv-shader and --yuv-processor choose where YUV pictures become RGB
// (default: the renderer's own choice for the driver).
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWindow>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/system.h"
#include "media/media_player.h"
#include "media/vlc_api.h"
#include "player_window.h"
#include "render/opengl_render.h"
#include "render/render_hooks.h"

// Xlib's, declared here: its header's macros collide with Qt's names.
extern "C" int XInitThreads();

namespace {

using namespace spherolux;

constexpr int kWidth = 1200;
constexpr int kHeight = 600;

// Reads frames back into memory it keeps, as the screen recorder does, and throws them away.
class CountingRecorder : public render::FrameRecorder {
 public:
  bool IsRecording() const override { return true; }
  void Capture(int width, int height, render::PixelOrder, const render::FrameReader& read) override {
    frame_.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    read(frame_.data());
  }
  void Finish() override {}

 private:
  std::vector<uint8_t> frame_;
};

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
}

// Waits until `displayed` reports a picture; the milliseconds it took, or -1.
template <typename Displayed>
double FirstPicture(const QElapsedTimer& since_open, Displayed displayed) {
  while (since_open.elapsed() < 20000) {
    if (displayed() > 0) return static_cast<double>(since_open.nsecsElapsed()) / 1e6;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    QThread::usleep(500);
  }
  return -1;
}

int RunOurs(const std::string& file, int seconds, bool readback, render::YuvConversion conversion) {
  media::PlayerWindow window;
  window.resize(kWidth, kHeight);
  window.show();
  Pump(300);
  window.player().SetYuvConversion(conversion);
  CountingRecorder recorder;
  QElapsedTimer since_open;
  since_open.start();
  std::string error;
  if (!window.OpenFile(file, &error)) {
    std::fprintf(stderr, "playback_bench: %s: %s\n", file.c_str(), error.c_str());
    return 1;
  }
  if (readback) window.player().renderer()->AttachRecorder(&recorder);
  const double first = FirstPicture(since_open, [&] { return window.player().GetStats().frames_drawn; });
  Pump(seconds * 1000);
  const media::CMediaPlayer::Stats stats = window.player().GetStats();
  const render::COpenglRender::DrawTimes& t = window.player().renderer()->draw_times();
  const double frames = static_cast<double>(std::max<uint64_t>(t.frames.load(), 1));
  std::printf(
      "player=ours%s displayed=%d lost=%d drawn=%llu first_frame_ms=%.0f upload_ms=%.2f draw_ms=%.2f "
      "readback_ms=%.2f chroma=%s->%s%s\n",
      readback ? "+readback" : "", stats.displayed, stats.lost, static_cast<unsigned long long>(stats.frames_drawn),
      first, t.upload_ns.load() / frames / 1e6, t.draw_ns.load() / frames / 1e6, t.readback_ns.load() / frames / 1e6,
      stats.proposed_chroma.c_str(), stats.chosen_chroma.c_str(),
      window.player().renderer()->converts_yuv() ? "->RGB" : "");
  window.player().renderer()->AttachRecorder(nullptr);
  window.Close();
  return 0;
}

int RunPeer(const std::string& file, int seconds) {
  QWindow window;
  window.resize(kWidth, kHeight);
  window.show();
  Pump(300);
  media::VlcApi api;
  api.Load();
  const std::string missing = api.MissingFor(media::kVlcPlaybackEntries);
  if (!missing.empty()) {
    std::fprintf(stderr, "playback_bench: %s\n", missing.c_str());
    return 1;
  }
  // libvlc's OpenGL output reaches the X server through Xlib (GLX): with --no-xlib it finds no
  // OpenGL and falls back to a flat picture converted on the CPU. main() made Xlib safe for
  // its threads.
  const char* args[] = {"--quiet", "--no-osd", "--vout=gl", "--aout=adummy"};
  libvlc_instance_t* instance = api.new_instance()(4, args);
  QElapsedTimer since_open;
  since_open.start();
  libvlc_media_t* media = api.media_new_path()(instance, file.c_str());
  libvlc_media_player_t* player = api.player_new_from_media()(media);
  api.set_xwindow()(player, static_cast<uint32_t>(window.winId()));
  api.play()(player);
  auto displayed = [&] {
    libvlc_media_stats_t s{};
    return api.media_get_stats()(media, &s) != 0 ? s.i_displayed_pictures : 0;
  };
  const double first = FirstPicture(since_open, displayed);
  Pump(seconds * 1000);
  libvlc_media_stats_t s{};
  api.media_get_stats()(media, &s);
  std::printf("player=vlc-gl displayed=%d lost=%d first_frame_ms=%.0f\n", s.i_displayed_pictures, s.i_lost_pictures,
              first);
  api.stop()(player);
  api.player_release()(player);
  api.media_release()(media);
  api.release_instance()(instance);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any other use of Xlib in the process (Qt's included).
  if (argc > 1 && std::strcmp(argv[1], "peer") == 0) XInitThreads();
  spherolux::KeepFreedMemoryForReuse();  // as the program does
  QApplication app(argc, argv);
  if (argc < 4 || (std::strcmp(argv[1], "ours") != 0 && std::strcmp(argv[1], "peer") != 0)) {
    std::fprintf(stderr, "usage: playback_bench ours|peer FILE SECONDS [--readback] [--yuv-shader|--yuv-processor]\n");
    return 2;
  }
  const int seconds = std::atoi(argv[3]);
  if (std::strcmp(argv[1], "peer") == 0) return RunPeer(argv[2], seconds);
  bool readback = false;
  auto conversion = render::YuvConversion::kAuto;
  for (int i = 4; i < argc; ++i) {
    if (std::strcmp(argv[i], "--readback") == 0) readback = true;
    if (std::strcmp(argv[i], "--yuv-shader") == 0) conversion = render::YuvConversion::kShader;
    if (std::strcmp(argv[i], "--yuv-processor") == 0) conversion = render::YuvConversion::kProcessor;
  }
  return RunOurs(argv[2], seconds, readback, conversion);
}
