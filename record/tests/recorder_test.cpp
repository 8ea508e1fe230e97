// The recorder fed frames as the renderer hands them over (Capture), with the real
// conversion engine, x264 and MP4 writer; the recordings are checked with ffprobe, ffmpeg
// and our reader.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "camgen/camgen.h"
#include "mp4/reader.h"
#include "mp4/writer.h"
#include "record/screen_recorder.h"
#include "record_test_util.h"
#include "testsupport/testsupport.h"

namespace spherolux::record {
namespace {

namespace fs = std::filesystem;

const std::string kEngineDir = SPHEROLUX_BINARY_DIR "/bin";

// A frame whose bars move with `n`, so consecutive frames differ as a turning view does.
std::vector<uint8_t> MovingFrame(int width, int height, int n) {
  std::vector<uint8_t> px(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &px[(static_cast<size_t>(y) * width + x) * 4];
      p[0] = static_cast<uint8_t>((x + 8 * n) & 0xff);
      p[1] = static_cast<uint8_t>(y & 0xff);
      p[2] = static_cast<uint8_t>(((x + 8 * n) / 64 % 2) * 200);
      p[3] = 255;
    }
  }
  return px;
}

// Hands a picture (rows top first, bytes B, G, R, A) to the recorder as the renderer does:
// read back into the recorder's buffer bottom row first.
void CaptureTopFirst(ScreenRecorder& r, const std::vector<uint8_t>& px, int width, int height) {
  r.Capture(width, height, render::PixelOrder::kBgra, [&](uint8_t* dst) {
    const size_t row = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y)
      std::memcpy(dst + row * static_cast<size_t>(height - 1 - y), px.data() + row * static_cast<size_t>(y), row);
  });
}

void WaitUntilTaken(ScreenRecorder& r) {
  while (r.stats().queued > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

class RecorderTest : public ::testing::Test {
 protected:
  ScreenRecorder::Options Options() {
    ScreenRecorder::Options o;
    o.engine_dir = kEngineDir;
    o.clock = [this] { return now_.load(); };
    return o;
  }
  // Captures `count` frames of 480 x 240, 40 ms apart on the recorder's clock, and waits
  // until the worker has taken them all (Stop drops what is still queued).
  void Feed(ScreenRecorder& r, int count) {
    for (int i = 0; i < count; ++i) {
      const std::vector<uint8_t> frame = MovingFrame(480, 240, i);
      CaptureTopFirst(r, frame, 480, 240);
      now_ += 40;
    }
    WaitUntilTaken(r);
  }
  std::string Out(const std::string& name) const { return dir_.path + "/" + name; }

  TempDir dir_;
  std::atomic<int64_t> now_{100000};
};

TEST(RecordRules, FileNameAndEncoderFrameRate) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 7;
  t.tm_hour = 9;
  t.tm_min = 5;
  t.tm_sec = 3;
  EXPECT_EQ(RecordFileName("/videos", t), "/videos/ScreenRecord_2026-03-07-09-05-03.mp4");
  EXPECT_EQ(EncoderFrameRate(30), 15);
  EXPECT_EQ(EncoderFrameRate(29.97), 14);
  EXPECT_EQ(EncoderFrameRate(25), 12);
  EXPECT_EQ(EncoderFrameRate(20), 10);
  EXPECT_EQ(EncoderFrameRate(15), 15);
  EXPECT_EQ(EncoderFrameRate(19.5), 19);
  EXPECT_EQ(EncoderFrameRate(0), 30);
  EXPECT_EQ(EncoderFrameRate(-1), 30);
}

// The frame rate x264 was opened with, read back from the SPS timing of the recording
// (time_scale / (2 num_units_in_tick), H.264 E.2.1) by ffmpeg's header tracer.
int SpsFrameRate(const std::string& path) {
  const std::string trace = testsupport::Shell("ffmpeg -nostdin -v trace -i '" + path +
                                               "' -c copy -bsf:v trace_headers -f null - 2>&1 | grep -E "
                                               "'num_units_in_tick|time_scale' | head -2");
  const size_t a = trace.find("num_units_in_tick"), b = trace.find("time_scale");
  if (a == std::string::npos || b == std::string::npos) return -1;
  const long units = std::atol(trace.substr(trace.find('=', a) + 1).c_str());
  const long scale = std::atol(trace.substr(trace.find('=', b) + 1).c_str());
  return units > 0 ? static_cast<int>(scale / (2 * units)) : -1;
}

TEST_F(RecorderTest, EncoderFollowsTheSourceFrameRateRule) {
  const std::string text = Out("notes.txt");
  camgen::WriteFileBytes(text, {'n', 'o', ' ', 'v', 'i', 'd', 'e', 'o'});
  struct Case {
    int source_fps;  // 0: a source that is no video
    int expected;
  };
  for (const Case c : {Case{30, 15}, Case{25, 12}, Case{15, 15}, Case{0, 30}}) {
    SCOPED_TRACE(c.source_fps);
    std::string source = text;
    if (c.source_fps > 0) {
      source = Out("src" + std::to_string(c.source_fps) + ".mp4");
      ASSERT_TRUE(MakeClip(source, 1, c.source_fps, false));
    }
    ScreenRecorder recorder(nullptr, Options());
    const std::string out = Out("rate" + std::to_string(c.source_fps) + ".mp4");
    ASSERT_EQ(recorder.Start(source, out, 0), kRecordOk);
    Feed(recorder, 3);
    ASSERT_TRUE(recorder.Stop());
    EXPECT_EQ(SpsFrameRate(out), c.expected);
  }
}

TEST_F(RecorderTest, SourceWithoutSoundGivesOneVideoTrack) {
  const std::string source = Out("silent.mp4");
  ASSERT_TRUE(MakeClip(source, 2, 25, false));
  ScreenRecorder recorder(nullptr, Options());
  ASSERT_EQ(recorder.Start(source, Out("one.mp4"), 500), kRecordOk);
  Feed(recorder, 10);
  ASSERT_TRUE(recorder.Stop());
  EXPECT_EQ(ProbeStreams(Out("one.mp4")), "h264,1920,960\n");
  bool errors = true;
  EXPECT_EQ(DecodedVideoFrames(Out("one.mp4"), &errors), 10);
  EXPECT_FALSE(errors);
  EXPECT_FALSE(fs::exists(Out("headerinfo.dat")));
}

TEST_F(RecorderTest, FullQueueDropsFramesAndStopFinishesWhatWasEncoded) {
  const std::string source = Out("src.mp4");
  ASSERT_TRUE(MakeClip(source, 2, 30, true));
  ScreenRecorder recorder(nullptr, Options());
  ASSERT_EQ(recorder.Start(source, Out("queued.mp4"), 0), kRecordOk);
  // 7680 x 3840 frames: copying one takes a fraction of the time scaling it down does, so
  // the queue reaches its memory bound (four such frames) and further frames are dropped.
  const int sent = 16;
  const std::vector<uint8_t> frame(size_t{7680} * 3840 * 4, 0x80);
  for (int i = 0; i < sent; ++i) {
    CaptureTopFirst(recorder, frame, 7680, 3840);
    now_ += 40;
  }
  const RecorderStats before = recorder.stats();
  EXPECT_GT(before.dropped, 0u);
  EXPECT_EQ(before.captured + before.dropped, static_cast<uint64_t>(sent));
  ASSERT_TRUE(recorder.Stop());
  const RecorderStats after = recorder.stats();
  EXPECT_GT(after.dropped_at_stop, 0u);
  EXPECT_GT(after.encoded, 0u);
  EXPECT_EQ(after.failed, 0u);
  EXPECT_EQ(after.encoded + after.dropped_at_stop, after.captured);
  bool errors = true;
  EXPECT_EQ(DecodedVideoFrames(Out("queued.mp4"), &errors), static_cast<int>(after.encoded));
  EXPECT_FALSE(errors);
  EXPECT_FALSE(recorder.IsRecording());
}

TEST_F(RecorderTest, LargerWindowIsScaledWholeIntoTheRecordingTheRightWayUp) {
  // A 2400 x 1200 window read back as R, G, B, A bytes, its rows bottom-up in memory as GL
  // gives them: black with a red square in its bottom-right corner.
  const int w = 2400, h = 1200;
  const size_t row = size_t{w} * 4;
  std::vector<uint8_t> frame(row * h, 0);
  for (size_t y = 0; y < 120; ++y) {
    for (size_t x = w - 120; x < w; ++x) {
      frame[y * row + x * 4] = 255;
      frame[y * row + x * 4 + 3] = 255;
    }
  }
  ScreenRecorder recorder(nullptr, Options());
  ASSERT_EQ(recorder.Start(Out("none.mp4"), Out("large.mp4"), 0), kRecordOk);
  for (int i = 0; i < 3; ++i) {
    recorder.Capture(w, h, render::PixelOrder::kRgba,
                     [&](uint8_t* dst) { std::memcpy(dst, frame.data(), frame.size()); });
    now_ += 40;
  }
  WaitUntilTaken(recorder);
  ASSERT_TRUE(recorder.Stop());
  int ow = 0, oh = 0;
  const std::vector<uint8_t> rgb = DecodeFrameRgb(Out("large.mp4"), 0, &ow, &oh);
  ASSERT_EQ(ow, kOutputWidth);
  ASSERT_EQ(oh, kOutputHeight);
  ASSERT_EQ(rgb.size(), static_cast<size_t>(ow) * oh * 3);
  // The square is scaled with the rest (120 -> 96 pixels), still in the corner, still red.
  auto at = [&](int x, int y, int c) { return int{rgb[(static_cast<size_t>(y) * ow + x) * 3 + c]}; };
  for (const int d : {48, 90}) {
    EXPECT_GT(at(ow - d, oh - d, 0), 200) << d;
    EXPECT_LT(at(ow - d, oh - d, 2), 60) << d;
  }
  EXPECT_LT(at(ow - 110, oh - 110, 0), 40);
  EXPECT_LT(at(ow / 2, oh / 2, 0), 40);
}

TEST_F(RecorderTest, ConversionAndEncodingRunOnlyWhenTheDrawingLeavesTime) {
  ScreenRecorder recorder(nullptr, Options());
  ASSERT_EQ(recorder.Start(Out("none.mp4"), Out("idle.mp4"), 0), kRecordOk);
  Feed(recorder, 3);
  // The worker and the encoder's own threads, which it started, are in the idle class; the
  // thread that drew (here the test's) is not.
  int idle = 0;
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    if (sched_getscheduler(std::stoi(task.path().filename().string())) == SCHED_IDLE) ++idle;
  }
  EXPECT_GE(idle, 2);
  EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
  ASSERT_TRUE(recorder.Stop());
}

TEST_F(RecorderTest, FailedStartLeavesNothingAndOneRecordingAtATime) {
  ScreenRecorder no_engine(nullptr, ScreenRecorder::Options{dir_.path, {}});
  EXPECT_EQ(no_engine.Start(Out("x.mp4"), Out("a.mp4"), 0), kRecordNoEngine);
  ScreenRecorder recorder(nullptr, Options());
  EXPECT_EQ(recorder.Start(Out("x.mp4"), Out("missing/b.mp4"), 0), kRecordCannotCreate);
  EXPECT_TRUE(fs::is_empty(dir_.path));
  ASSERT_EQ(recorder.Start(Out("x.mp4"), Out("c.mp4"), 0), kRecordOk);
  EXPECT_EQ(recorder.Start(Out("x.mp4"), Out("d.mp4"), 0), kRecordBusy);
  EXPECT_FALSE(fs::exists(Out("d.mp4")));
  // Stopped before any frame was drawn: no file rather than an empty one.
  EXPECT_FALSE(recorder.Stop());
  EXPECT_TRUE(fs::is_empty(dir_.path));
}

// A recording killed with SIGKILL in a child process after `frames` frames were written.
void RecordAndDie(const std::string& out, const std::string& engine_dir, int frames) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::atomic<int64_t> tick{0};
    ScreenRecorder r(nullptr, {engine_dir, [&] { return tick.load(); }});
    if (r.Start(out + ".none", out, 0) != kRecordOk) _exit(1);
    // x264 holds a few frames in its threads: keep feeding until enough came out.
    for (int i = 0; r.stats().encoded < static_cast<uint64_t>(frames); ++i) {
      const std::vector<uint8_t> f = MovingFrame(480, 240, i);
      CaptureTopFirst(r, f, 480, 240);
      tick += 40;
      usleep(20000);
    }
    raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
}

TEST_F(RecorderTest, KilledRecordingIsRecoveredByTheCliAndByTheNextStart) {
  const std::string first = Out("killed1.mp4");
  RecordAndDie(first, kEngineDir, 12);
  ASSERT_TRUE(fs::exists(Out("headerinfo.dat")));
  const std::string json = testsupport::Shell("'" SPHEROLUX_BINARY_DIR "/bin/spherolux-cli' recover '" + first + "'");
  EXPECT_NE(json.find("\"samples\":"), std::string::npos) << json;
  bool errors = true;
  const int recovered = DecodedVideoFrames(first, &errors);
  EXPECT_GE(recovered, 12);
  EXPECT_FALSE(errors);
  EXPECT_NE(json.find("\"samples\":" + std::to_string(recovered)), std::string::npos) << json;
  EXPECT_FALSE(fs::exists(Out("headerinfo.dat")));

  const std::string second = Out("killed2.mp4");
  RecordAndDie(second, kEngineDir, 5);
  ScreenRecorder recorder(nullptr, Options());
  ASSERT_EQ(recorder.Start(Out("none.mp4"), Out("next.mp4"), 0), kRecordOk);
  EXPECT_GE(DecodedVideoFrames(second, &errors), 5);
  EXPECT_FALSE(errors);
  Feed(recorder, 2);
  EXPECT_TRUE(recorder.Stop());
  EXPECT_FALSE(fs::exists(Out("headerinfo.dat")));
}

// Counts the messages a recorder posts to its window.
struct CountingSink final : render::RenderMessageSink {
  void Post(unsigned message) override {
    if (message == render::kMsgRecordSaved) ++saved;
    if (message == render::kMsgRecordFailed) ++failed;
  }
  std::atomic<int> saved{0}, failed{0};
};

// With its folder deleted mid-way, a recording was reported saved into a file that did not
// exist; with the disk full, nothing was said at all.
TEST_F(RecorderTest, ARecordingThatCannotBeSavedIsReportedOnceWithItsCause) {
  {
    fs::create_directory(Out("gone"));
    CountingSink sink;
    ScreenRecorder r(&sink, Options());
    ASSERT_EQ(r.Start(Out("x.mp4"), Out("gone/a.mp4"), 0), kRecordOk);
    Feed(r, 4);
    fs::remove_all(Out("gone"));
    EXPECT_FALSE(r.Stop());
    EXPECT_EQ(r.failure(), kRecordFileGone);
    EXPECT_EQ(sink.saved.load(), 0);
    EXPECT_EQ(sink.failed.load(), 1);
    // The next recording starts clean and is saved.
    ASSERT_EQ(r.Start(Out("x.mp4"), Out("b.mp4"), 0), kRecordOk);
    Feed(r, 4);
    EXPECT_TRUE(r.Stop());
    EXPECT_EQ(r.failure(), kRecordNotFailed);
    EXPECT_EQ(sink.saved.load(), 1);
    EXPECT_EQ(sink.failed.load(), 1);
  }
  // A disk that fills up: a 1 MiB tmpfs, mounted in a mount namespace of a child process.
  const std::string small = Out("small");
  fs::create_directory(small);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("none", small.c_str(), "tmpfs", 0, "size=1m") != 0)
      _exit(77);
    CountingSink sink;
    ScreenRecorder r(&sink, Options());
    if (r.Start(Out("x.mp4"), small + "/full.mp4", 0) != kRecordOk) _exit(1);
    for (int i = 0; i < 600 && r.failure() == kRecordNotFailed; ++i) {
      CaptureTopFirst(r, MovingFrame(480, 240, i * 7), 480, 240);
      now_ += 40;
      WaitUntilTaken(r);
    }
    // Frames are refused from the failure on; Stop finishes what fits and tells no more.
    const bool taking = r.IsRecording();
    const bool stopped = r.Stop();
    _exit(r.failure() != kRecordDiskFull ? 2
          : taking                       ? 3
          : stopped                      ? 4
          : sink.failed != 1             ? 5
          : sink.saved != 0              ? 6
                                         : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace with a tmpfs here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A side file cut short (as a power loss leaves it) once made recovery shrink the recording
// to its header and delete the side file, and the next recording in the folder did the same
// unasked.
TEST_F(RecorderTest, TornSideFileNeverCostsTheRecording) {
  const std::string torn = Out("torn.mp4"), side = Out("headerinfo.dat");
  RecordAndDie(torn, kEngineDir, 12);
  fs::resize_file(side, 1000);
  const std::string recording = Contents(torn), records = Contents(side);

  ScreenRecorder recorder(nullptr, Options());
  ASSERT_EQ(recorder.Start(Out("none.mp4"), Out("next.mp4"), 0), kRecordOk);
  Feed(recorder, 2);
  EXPECT_TRUE(recorder.Stop());
  EXPECT_EQ(Contents(torn), recording);
  EXPECT_EQ(Contents(side), records);

  const testsupport::CommandResult r =
      testsupport::RunCommand(testsupport::ShellQuote(testsupport::BuiltProgram("spherolux-cli")) + " recover " +
                              testsupport::ShellQuote(torn));
  EXPECT_EQ(Contents(torn), recording) << r.err;
  EXPECT_EQ(Contents(side), records);
  if (r.exit_code == 0) {
    // Written beside it, with what it holds.
    EXPECT_NE(r.out.find("\"output\":\"" + Out("torn_recovered.mp4") + "\""), std::string::npos) << r.out;
    bool errors = true;
    const int frames = DecodedVideoFrames(Out("torn_recovered.mp4"), &errors);
    EXPECT_FALSE(errors);
    EXPECT_NE(r.out.find("\"video_frames\":" + std::to_string(frames)), std::string::npos) << r.out;
  } else {
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.err.find("unchanged"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace spherolux::record
