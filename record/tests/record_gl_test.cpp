// Recording what the real renderer draws (Mesa under Xvfb) while the view turns: frames of
// a camgen clip decoded by ffmpeg are drawn as a video's frames are, from 20 s into the clip,
// and the recorder copies the clip's sound from there.
#include <GL/glew.h>
// clang-format off
#include "render/opengl_render.h"
// clang-format on

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QThread>
#include <QWindow>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

#include "camgen/camgen.h"
#include "mp4/reader.h"
#include "record/screen_recorder.h"
#include "record_test_util.h"

namespace spherolux::record {
namespace {

constexpr int kClipWidth = 320, kClipHeight = 160, kClipFps = 25;

// The clip's frames from `from_s` on for `seconds`, as 32-bit BGRA pictures.
std::vector<std::vector<uint8_t>> DecodeFrames(const std::string& clip, int from_s, int seconds) {
  const std::string cmd = "ffmpeg -nostdin -v error -ss " + std::to_string(from_s) + " -t " + std::to_string(seconds) +
                          " -i '" + clip + "' -f rawvideo -pix_fmt bgra -";
  std::vector<std::vector<uint8_t>> frames;
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return frames;
  std::vector<uint8_t> frame(static_cast<size_t>(kClipWidth) * kClipHeight * 4);
  while (std::fread(frame.data(), 1, frame.size(), p) == frame.size()) frames.push_back(frame);
  pclose(p);
  return frames;
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return a.empty() ? 0 : sum / static_cast<double>(a.size());
}

TEST(RecordGl, RecordsTheTurningViewWithTheSourceSoundFromTheStartPosition) {
  TempDir dir;
  const std::string clip = dir.path + "/clip.mp4", out = dir.path + "/ScreenRecord_test.mp4";
  ASSERT_TRUE(camgen::MakeMp4Clip(clip, kClipWidth, kClipHeight, 26, true));  // 25 frames/s, AAC
  const auto frames = DecodeFrames(clip, 20, 5);
  ASSERT_EQ(frames.size(), 5u * kClipFps);

  QWindow window;
  window.setSurfaceType(QSurface::OpenGLSurface);
  QSurfaceFormat format;
  format.setDepthBufferSize(16);
  format.setVersion(2, 0);
  window.setFormat(format);
  window.resize(640, 320);
  window.show();
  for (int i = 0; i < 2000 && !window.isExposed(); ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  ASSERT_TRUE(window.isExposed());
  render::COpenglRender renderer(&window, nullptr);
  renderer.SetMediaKind(512, kClipWidth, kClipHeight, nullptr, nullptr, 0);
  ASSERT_EQ(renderer.Initialise(), 0);
  renderer.SetViewMode(render::kModeSphere);
  renderer.SetFrameSource(render::COpenglRender::kSourceDecoder);
  renderer.SetTextureSize(kClipWidth, kClipHeight);

  // Capture ticks with uneven spacing, as a real output thread has them.
  std::atomic<int64_t> now{7000};
  ScreenRecorder recorder(nullptr, {SPHEROLUX_BINARY_DIR "/bin", [&] { return now.load(); }});
  renderer.AttachRecorder(&recorder);
  ASSERT_EQ(recorder.Start(clip, out, 20000), kRecordOk);
  std::vector<int64_t> ticks;
  const size_t kStillFrom = frames.size() - 10;
  for (size_t i = 0; i < frames.size(); ++i) {
    // Keep the queue short, so that no frame is dropped and every tick can be checked.
    while (recorder.stats().captured > recorder.stats().encoded + 20)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    renderer.models().sphere_a().SetYaw(static_cast<float>(i) * 2.0f);  // the user turns the view
    ticks.push_back(now.load());
    // The last frames hold one picture still: only the turning view changes them.
    renderer.Draw(frames[std::min(i, kStillFrom)].data());
    now += 40 + static_cast<int64_t>(i % 3) * 3;
  }
  while (recorder.stats().queued > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(recorder.Stop());
  renderer.AttachRecorder(nullptr);
  const RecorderStats stats = recorder.stats();
  EXPECT_EQ(stats.captured, frames.size());
  EXPECT_EQ(stats.dropped + stats.dropped_at_stop + stats.failed, 0u);

  EXPECT_EQ(ProbeStreams(out), "h264,1920,960\naac\n");
  std::unique_ptr<mp4::Mp4Reader> rec, src;
  ASSERT_EQ(mp4::Mp4Reader::Open(out, &rec), mp4::Mp4Status::kOk);
  ASSERT_EQ(mp4::Mp4Reader::Open(clip, &src), mp4::Mp4Status::kOk);

  // Video: the first sample at 0, then the capture spacing; a key frame every 30 frames.
  const auto video = ReadTrack(*rec, FindTrack(*rec, mp4::kHandlerVideo));
  ASSERT_EQ(video.size(), frames.size());
  for (size_t i = 0; i < video.size(); ++i) {
    EXPECT_NEAR(video[i].rec.decode_ms, static_cast<double>(ticks[i] - ticks[0]), 0.02) << i;
    EXPECT_EQ(video[i].rec.sync, i % 30 == 0) << i;
  }

  // Sound: the source's samples from the one playing at 20 s on, byte for byte, from time 0.
  const int src_audio = FindTrack(*src, mp4::kHandlerSound);
  double reached = 0;
  ASSERT_EQ(src->SeekToTime(src_audio, 20000, &reached), mp4::Mp4Status::kOk);
  EXPECT_LE(reached, 20000);
  EXPECT_GT(reached, 20000 - 22);
  const auto source_audio = ReadTrack(*src, src_audio);
  const auto audio = ReadTrack(*rec, FindTrack(*rec, mp4::kHandlerSound));
  ASSERT_GT(audio.size(), 200u);  // about 4.9 s of 21.3 ms frames
  ASSERT_LE(audio.size(), source_audio.size());
  EXPECT_NEAR(audio.front().rec.decode_ms, 0, 0.01);
  for (size_t i = 0; i < audio.size(); ++i) {
    ASSERT_EQ(audio[i].data, source_audio[i].data) << i;
    EXPECT_NEAR(audio[i].rec.decode_ms, source_audio[i].rec.decode_ms - reached, 0.01) << i;
  }
  EXPECT_LE(audio.back().rec.decode_ms + audio.back().rec.duration_ms, video.back().rec.decode_ms + 0.01);

  // Every frame decodes, and the frames show the view turning over a picture held still.
  bool errors = true;
  EXPECT_EQ(DecodedVideoFrames(out, &errors), static_cast<int>(frames.size()));
  EXPECT_FALSE(errors);
  int w = 0, h = 0;
  const std::vector<uint8_t> first = DecodeFrameRgb(out, static_cast<int>(kStillFrom), &w, &h);
  const std::vector<uint8_t> last = DecodeFrameRgb(out, static_cast<int>(frames.size()) - 1, &w, &h);
  ASSERT_EQ(first.size(), size_t{1920} * 960 * 3);
  EXPECT_GT(MeanDifference(first, last), 10.0);
}

}  // namespace
}  // namespace spherolux::record

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QGuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
