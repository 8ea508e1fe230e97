// The player as a user meets it: real libvlc, real GL (Mesa) under Xvfb, camera files made
// by the tests, and pointer, wheel and key events injected into the X server.
#include "media/media_player.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "calib/calibration.h"
#include "convert/service.h"
#include "frame_pipeline.h"
#include "media/media_info.h"
#include "media/video_control.h"
#include "platform/messages.h"
#include "player_window.h"
#include "render/opengl_render.h"
#include "test_media.h"
#include "x_input.h"

namespace spherolux::media {
namespace {

using namespace platform;
using render::YuvConversion;
using testing::TestMedia;
using testing::XInput;

TestMedia* g_media = nullptr;

// Runs the event loop until `done` holds; false after `timeout_ms`.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeout_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
}

// Mean of |a - b| over the colour channels of two pictures of one size.
double MeanDifference(const QImage& a, const QImage& b) {
  const QImage x = a.convertToFormat(QImage::Format_RGB32);
  const QImage y = b.convertToFormat(QImage::Format_RGB32);
  if (x.size() != y.size() || x.isNull()) return 1e9;
  double sum = 0;
  for (int r = 0; r < x.height(); ++r) {
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(r));
    const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(r));
    for (int c = 0; c < x.width(); ++c) {
      sum += std::abs(qRed(p[c]) - qRed(q[c])) + std::abs(qGreen(p[c]) - qGreen(q[c])) +
             std::abs(qBlue(p[c]) - qBlue(q[c]));
    }
  }
  return sum / (3.0 * x.width() * x.height());
}

// Mean channel level: 0 for a black picture.
double MeanLevel(const QImage& image) {
  QImage black(image.size(), QImage::Format_RGB32);
  black.fill(Qt::black);
  return MeanDifference(image, black);
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<PlayerWindow>();
    window_->resize(800, 600);
    window_->move(0, 0);
    window_->show();
    ASSERT_TRUE(WaitUntil([&] { return window_->video().surface()->isExposed(); }));
    output_dir_ = g_media->Path("output-" + std::to_string(++serial_));
    player().SetOutputDirectory(output_dir_);
    window_->SetObserver([this](unsigned message, uintptr_t wparam, intptr_t lparam) {
      if (message == kMsgEngineEvent) events_.push_back({static_cast<int>(wparam), lparam});
      if (message == kMsgFling) std::memcpy(fling_, reinterpret_cast<const float*>(lparam), sizeof fling_);
    });
  }
  void TearDown() override { window_.reset(); }

  CMediaPlayer& player() { return window_->player(); }
  render::COpenglRender& renderer() { return *player().renderer(); }
  render::CShapeModel& model() { return *renderer().current_model(); }

  bool Open(const std::string& path) {
    std::string error;
    const bool ok = window_->OpenFile(path, &error);
    EXPECT_TRUE(ok) << path << ": " << error;
    return ok;
  }
  bool WaitFrames(uint64_t count) {
    const uint64_t target = player().GetStats().frames_drawn + count;
    return WaitUntil([&] { return player().GetStats().frames_drawn >= target; }, 20000);
  }
  // The picture of the next drawn frame, as the renderer reads it back. A playing video's
  // read-back waits for a draw begun after the call, so that it shows the commands given
  // before it (a draw under way takes its mode and view when it starts).
  QImage ReadBack() {
    const std::string path = g_media->Path("readback-" + std::to_string(++shots_) + ".png");
    if (!window_->photo()) {
      EXPECT_TRUE(WaitFrames(2));
    }
    const int before = window_->count(kMsgScreenshotSaved);
    renderer().RequestScreenshot(path);
    if (window_->photo()) player().Refresh();
    EXPECT_TRUE(WaitUntil([&] { return window_->count(kMsgScreenshotSaved) > before; }));
    return QImage(QString::fromStdString(path));
  }
  // The control's top-left corner on the screen.
  QPoint Origin() { return window_->video().mapToGlobal(QPoint(0, 0)); }
  intptr_t Send(unsigned message, uintptr_t wparam, intptr_t lparam) { return window_->send(message, wparam, lparam); }
  void ResetModel() {
    player().ResetView();
    player().Refresh();
  }
  bool SawEvent(int code) const {
    for (const auto& e : events_) {
      if (e.first == code) return true;
    }
    return false;
  }

  std::unique_ptr<PlayerWindow> window_;
  std::string output_dir_;
  std::vector<std::pair<int, intptr_t>> events_;
  float fling_[2] = {0, 0};  // the last fling the window received
  int shots_ = 0;
  static inline int serial_ = 0;
};

TEST_F(PlayerTest, ProbeAcceptsCameraFilesAndPanoramasAndRefusesTheRest) {
  struct Case {
    std::string path;
    bool photo;
    int accepted;  // 0 accepted
    int camera_type;
    int view_mode;
    int width;
    int height;
  };
  const Case cases[] = {
      {g_media->DualPhoto(), true, 0, 2, 2, 1920, 960},
      {g_media->DualVideo(1.0), false, 0, 2, 2, 1920, 960},
      {g_media->SinglePhoto(), true, 0, 1, 3, 1920, 1080},
      {g_media->SingleVideo(), false, 0, 1, 3, 1920, 1080},
      {g_media->CameraStitchedVideo(), false, 0, 512, 2, 640, 320},
      // Tagged by another tool: no camera, shown on the sphere.
      {g_media->GPanoPhoto(), true, 0, kCalibCannotOpen, 2, 1024, 512},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(player().Probe(c.path, c.photo), c.accepted) << c.path;
    EXPECT_EQ(player().camera_type(), c.camera_type) << c.path;
    EXPECT_EQ(player().view_mode(), c.view_mode) << c.path;
    EXPECT_EQ(player().width(), c.width) << c.path;
    EXPECT_EQ(player().height(), c.height) << c.path;
    EXPECT_EQ(player().Open(c.path, c.photo), 1) << c.path;
    if (!c.photo) {
      EXPECT_EQ(player().state(), kStateOpened) << c.path;
    }
  }

  // A stitched 2:1 video without a camera: the sphere with the panorama's planet limits.
  const std::string v1 = g_media->StitchedV1Video();
  EXPECT_EQ(player().Probe(v1, false), 0);
  EXPECT_EQ(player().view_mode(), 2);
  ASSERT_EQ(player().Open(v1, false), 1);
  EXPECT_EQ(renderer().models().sphere_c().min_fov(), 100.0f);
  EXPECT_EQ(renderer().models().sphere_c().max_fov(), 160.0f);

  // Refused before the engine's readers recurse through 10,000 boxes, which ran out of stack.
  EXPECT_EQ(player().Probe(g_media->NestedVideo(), false), CMediaPlayer::kProbeNestedTooDeep);
  EXPECT_NE(player().Probe(g_media->PlainVideo(), false), 0);
  EXPECT_NE(player().Probe(g_media->NotMedia(), false), 0);
  EXPECT_NE(player().Probe(g_media->Path("missing.mp4"), false), 0);
  EXPECT_NE(player().Probe(g_media->Path("missing.jpg"), true), 0);
}

// A camera video plays through the frame pipeline; the commands change what they should
// and the engine's events reach the window as its messages.
TEST_F(PlayerTest, CameraVideoPlaysAndAnswersItsCommands) {
  const std::string clip = g_media->DualVideo(6.0);
  ASSERT_TRUE(Open(clip));
  EXPECT_EQ(player().state(), kStatePlaying);
  ASSERT_TRUE(WaitFrames(5));
  ASSERT_TRUE(WaitUntil([&] { return SawEvent(kNotifyPlaying); }));
  EXPECT_NEAR(static_cast<double>(window_->length_ms()), 6000.0, 100.0);
  EXPECT_NEAR(static_cast<double>(player().Length()), 6000.0, 100.0);
  EXPECT_GT(MeanLevel(ReadBack()), 20.0);

  // Pause holds the picture (the engine still shows it again now and then, so the view can
  // be steered); play moves on.
  player().Pause();
  EXPECT_EQ(player().state(), kStatePaused);
  ASSERT_TRUE(WaitUntil([&] { return SawEvent(kNotifyPaused) && player().IsPlaying() == 0; }));
  const int64_t paused_at = player().Time();
  Pump(600);
  EXPECT_EQ(player().Time(), paused_at);
  // The paused picture comes again and again, but is drawn again only when the view turns or
  // the window is uncovered.
  const uint64_t shown = player().GetStats().frames_drawn, drawn = renderer().draw_times().frames.load();
  Pump(800);
  EXPECT_GT(player().GetStats().frames_drawn, shown + 3) << "the engine shows the paused picture again";
  EXPECT_LE(renderer().draw_times().frames.load(), drawn + 1);
  Send(kMsgViewCommand, 0, 0);  // the sphere, which yaw turns
  EXPECT_TRUE(WaitUntil([&] { return renderer().current_mode() == 0; }));
  Pump(300);
  const uint64_t sphere = renderer().draw_times().frames.load();
  model().AddYaw(30);
  EXPECT_TRUE(WaitUntil([&] { return renderer().draw_times().frames.load() > sphere; }));
  const uint64_t turned = renderer().draw_times().frames.load();
  window_->video().SurfaceExposed();
  EXPECT_TRUE(WaitUntil([&] { return renderer().draw_times().frames.load() > turned; }));
  player().Play();
  EXPECT_EQ(player().state(), kStatePlaying);
  EXPECT_TRUE(WaitUntil([&] { return player().Time() > paused_at; }));

  // A seek to the middle.
  player().Seek(50);
  EXPECT_TRUE(WaitUntil([&] { return window_->position() >= 45 && window_->position() <= 70; }));
  EXPECT_GE(player().Time(), 2800);

  // Near the end, then the end of the media stops the player and tells the window.
  player().Seek(90);

  ASSERT_TRUE(WaitUntil([&] { return player().state() == kStateStopped; }, 15000));
  EXPECT_TRUE(SawEvent(kNotifyEnd));
  EXPECT_TRUE(player().stopped_mark());
  EXPECT_EQ(player().GetStats().live_outputs, 0);
  EXPECT_EQ(renderer().gl_errors(), 0);
}

// An H.265 camera video plays on this machine: with a VA-API device through it, else (no
// render node, no GPU) decoded in software without a word; either way the pictures reach the
// frame pipeline as planar YUV and are drawn.
TEST_F(PlayerTest, AnH265CameraVideoPlaysWithOrWithoutAHardwareDecoder) {
  const std::string clip = g_media->DualHevcVideo(3.0, 1920);
  ASSERT_TRUE(Open(clip));
  ASSERT_TRUE(WaitFrames(20));
  const CMediaPlayer::Stats stats = player().GetStats();
  EXPECT_EQ(stats.chosen_chroma, "I420");
  EXPECT_EQ(stats.picture_width, 1920);
  EXPECT_GT(MeanLevel(ReadBack()), 20.0);
  EXPECT_TRUE(WaitUntil([&] { return player().Time() > 1000; }));
  EXPECT_EQ(renderer().gl_errors(), 0);
}

// Drag, fling, wheel and keys through real input on the real control, against the figures
// of the view interaction: in an 800 x 600 area (diagonal 1000) a drag of 10 px to the left
// turns the yaw by 10 * 5 * 60 / 500 = 6 degrees; a release 200 ms after a press 100 px to
// the left of it gives -500 px/s, a yaw velocity of -0.5 degrees per frame, which decays
// (x 0.98 per frame, zero below 0.1) after about 80 frames.
TEST_F(PlayerTest, MouseAndKeysSteerTheView) {
  XInput x;
  ASSERT_TRUE(x.ok());
  ASSERT_TRUE(Open(g_media->DualPhoto(960)));
  window_->SetPhotoRefresh(false);  // each refresh below is one drawn frame
  ASSERT_EQ(window_->video().Diagonal(), 1000.0f);
  Send(kMsgViewCommand, 0, 0);  // the sphere
  player().Refresh();
  const QPoint o = Origin();
  auto input_done = [&](unsigned message, int count) {
    x.Sync();
    return WaitUntil([&] { return window_->count(message) >= count; }, 3000);
  };

  // Drag: press, 10 px to the left, and the refresh applies it.
  const float yaw0 = model().GetYaw();
  x.MoveTo(o.x() + 400, o.y() + 300);
  x.Button(1, true);
  ASSERT_TRUE(input_done(kMsgVideoPress, 1));
  x.MoveTo(o.x() + 390, o.y() + 300);
  ASSERT_TRUE(input_done(kMsgDrag, 1));
  player().Refresh();
  EXPECT_NEAR(model().GetYaw() - yaw0, 6.0f, 0.01f);
  // A slow release gives a velocity below what survives one frame.
  x.Button(1, false, 1500);
  ASSERT_TRUE(input_done(kMsgFling, 1));
  player().Refresh();
  EXPECT_EQ(model().yaw_velocity(), 0.0f);

  // Fling: 100 px to the right of the press, released 200 ms after it.
  x.MoveTo(o.x() + 300, o.y() + 300);
  x.Button(1, true);
  x.MoveTo(o.x() + 400, o.y() + 300);
  x.Button(1, false, 200);
  ASSERT_TRUE(input_done(kMsgFling, 2));
  // The X server stamps the release 200 ms after the press, later when it is busy.
  EXPECT_LE(fling_[0], -100 * 1000 / 260.0f);
  EXPECT_GE(fling_[0], -500.0f);
  player().Refresh();
  const float velocity = fling_[0] / 1000;  // degrees per frame: vx / d
  EXPECT_FLOAT_EQ(model().yaw_velocity(), velocity * 0.98f);
  int frames = 1;
  while (model().yaw_velocity() != 0.0f && frames < 200) {
    player().Refresh();
    ++frames;
  }
  // From -0.5 it takes about 80 frames of x 0.98 to fall below 0.1 (0.5 * 0.98^80 = 0.099);
  // the frame that finds it below sets it to zero.
  EXPECT_NEAR(frames, std::ceil(std::log(0.1 / std::fabs(velocity)) / std::log(0.98)), 1.0);

  // Wheel: a step forward narrows the view by 10 degrees, a step back widens it again.
  const float fov0 = model().fov();
  x.Button(4, true);
  x.Button(4, false);
  ASSERT_TRUE(input_done(kMsgZoom, 1));
  player().Refresh();
  EXPECT_EQ(model().fov(), fov0 - 10);
  x.Button(5, true);
  x.Button(5, false);
  ASSERT_TRUE(input_done(kMsgZoom, 2));
  player().Refresh();
  EXPECT_EQ(model().fov(), fov0);

  // Leaving the control during a drag ends it without a fling.
  const int flings = window_->count(kMsgFling);
  x.MoveTo(o.x() + 400, o.y() + 300);
  x.Button(1, true);
  ASSERT_TRUE(input_done(kMsgVideoPress, 3));
  x.MoveTo(o.x() + 900, o.y() + 300);
  x.Button(1, false, 20);
  x.Sync();
  Pump(200);
  player().Refresh();
  EXPECT_EQ(window_->count(kMsgFling), flings);
  EXPECT_EQ(model().yaw_velocity(), 0.0f);

  // Keys: an arrow turns by 5 degrees, '+' zooms in, Home resets.
  x.MoveTo(o.x() + 400, o.y() + 300);
  const float yaw1 = model().GetYaw();
  const auto key_done = [&](player::CommandId command, int count) {
    x.Sync();
    return WaitUntil([&] { return window_->count(command) >= count; }, 3000);
  };
  x.Key("Left");
  ASSERT_TRUE(key_done(player::CommandId::kTurn, 1));
  player().Refresh();
  EXPECT_NEAR(model().GetYaw() - yaw1, -5.0f, 0.01f);
  x.Key("plus");
  ASSERT_TRUE(key_done(player::CommandId::kZoom, 1));
  player().Refresh();
  EXPECT_EQ(model().fov(), fov0 - 10);
  x.Key("Home");
  ASSERT_TRUE(key_done(player::CommandId::kResetView, 1));
  player().Refresh();
  EXPECT_EQ(model().GetYaw(), yaw0);
  EXPECT_EQ(model().fov(), model().default_fov());
  // The view-mode keys: '1' the tile view; '3', the half ball, does not suit a dual-lens photo
  // (it turned the view black) and does nothing.
  x.Key("1");
  x.Key("3");
  ASSERT_TRUE(key_done(player::CommandId::kViewMode, 2));
  EXPECT_EQ(player().view_mode(), 1);
  Send(kMsgViewCommand, 0, 0);

  // A release in the millisecond of its press must not fling to infinity.
  x.Button(1, true);
  x.MoveTo(o.x() + 380, o.y() + 300);
  x.Button(1, false);
  ASSERT_TRUE(input_done(kMsgFling, flings + 1));
  player().Refresh();
  EXPECT_TRUE(std::isfinite(model().yaw_velocity()));
  ResetModel();

  // The flat view turns nothing.
  Send(kMsgViewCommand, 0, 6);
  player().Refresh();
  const float flat_yaw = model().GetYaw();
  x.Button(1, true);
  x.MoveTo(o.x() + 300, o.y() + 250);
  x.Button(1, false, 100);
  ASSERT_TRUE(input_done(kMsgFling, flings + 2));
  player().Refresh();
  EXPECT_EQ(model().GetYaw(), flat_yaw);
  EXPECT_EQ(model().yaw_velocity(), 0.0f);
}

// The panoramic view of a camera photo, drawn through its calibration grids, shows what
// the stitching core's panorama of the same photo shows in the same direction. The planet
// views of both kinds of sphere are built to match (eye on the surface); the camera sphere
// has its lens axis where the panorama's yaw is 90, so the panorama is turned by 90 degrees
// to look the same way. Tolerance: a mean channel difference of 16 (edges of the test
// pattern's checks, sampled from the fisheye and from the panorama, differ by a few pixels);
// looking elsewhere differs by more than twice that.
TEST_F(PlayerTest, CameraPhotoViewMatchesTheStitchedPanorama) {
  const std::string photo = g_media->DualPhoto(1920);
  const std::string panorama = g_media->Path("stitched.jpg");
  const std::string cli = std::string(SPHEROLUX_BINARY_DIR) + "/bin/spherolux-cli";
  ASSERT_EQ(std::system((cli + " stitch '" + photo + "' '" + panorama + "' > /dev/null").c_str()), 0);
  window_->SetPhotoRefresh(false);

  auto view = [&](const std::string& path, float yaw, float pitch) {
    EXPECT_TRUE(Open(path));
    if (!window_->photo()) {
      EXPECT_TRUE(WaitFrames(2));
    }
    Send(kMsgViewCommand, 0, 2);
    player().Refresh();
    model().SetFov(120);
    model().SetYaw(yaw);
    model().SetPitch(pitch);
    return ReadBack();
  };
  for (const auto& [yaw, pitch] : {std::pair<float, float>{30, -60}, {120, -20}, {250, -80}}) {
    const QImage camera = view(photo, yaw, pitch);
    const double same = MeanDifference(camera, view(panorama, yaw + 90, pitch));
    const double elsewhere = MeanDifference(camera, view(panorama, yaw + 180, pitch));
    EXPECT_LT(same, 16.0) << "yaw " << yaw << " pitch " << pitch;
    EXPECT_GT(elsewhere, 2 * same) << "yaw " << yaw << " pitch " << pitch;
  }

  // A video of the same picture, drawn by the frame pipeline on the engine's thread.
  const std::string clip = g_media->DualVideo(4.0);
  const QImage stitched = view(panorama, 30 + 90, -60);
  const QImage video = view(clip, 30, -60);
  EXPECT_EQ(player().state(), kStatePlaying);
  EXPECT_LT(MeanDifference(video, stitched), 16.0);
}

// The renderer turns the YUV pictures of a video into RGB with the matrix and the range
// the file states, in its shaders and on the processor alike: flat patches of known colour,
// coded with the BT.601 and the BT.709 matrix in studio range and with BT.709 in full range,
// come back in the flat view within 6 of 255 in every channel (8-bit coding rounds by up to
// 2). A wrong matrix moves saturated green by 20 or more, a wrong range moves white or black
// by 16 or more. The BT.601 clip is 1920 wide, where an untagged video would be taken for
// BT.709, so its tag must be honoured.
TEST_F(PlayerTest, YuvVideosShowTheColoursTheirFilesState) {
  const QRgb colours[8] = {qRgb(255, 0, 0), qRgb(0, 255, 0),   qRgb(0, 0, 255),    qRgb(255, 255, 255),
                           qRgb(0, 0, 0),   qRgb(255, 255, 0), qRgb(40, 160, 220), qRgb(128, 128, 128)};
  QImage patches(1920, 960, QImage::Format_RGB32);
  QPainter painter(&patches);
  for (int i = 0; i < 8; ++i) painter.fillRect(i % 4 * 480, i / 4 * 480, 480, 480, QColor(colours[i]));
  painter.end();
  const std::string picture = g_media->Path("patches.png");
  ASSERT_TRUE(patches.save(QString::fromStdString(picture)));

  for (const auto& [matrix, range, conversion] : {std::tuple{"smpte170m", "tv", YuvConversion::kShader},
                                                  {"bt709", "tv", YuvConversion::kShader},
                                                  {"bt709", "pc", YuvConversion::kShader},
                                                  {"smpte170m", "tv", YuvConversion::kProcessor},
                                                  {"bt709", "tv", YuvConversion::kProcessor},
                                                  {"bt709", "pc", YuvConversion::kProcessor}}) {
    const bool processor = conversion == YuvConversion::kProcessor;
    SCOPED_TRACE(std::string(matrix) + " " + range + (processor ? " on the processor" : " in the shaders"));
    player().SetYuvConversion(conversion);
    ASSERT_TRUE(Open(g_media->TaggedDualVideo(picture, matrix, range)));
    ASSERT_TRUE(WaitFrames(2));
    EXPECT_TRUE(player().GetStats().chosen_chroma == "I420" || player().GetStats().chosen_chroma == "J420");
    EXPECT_EQ(renderer().converts_yuv(), processor);
    Send(kMsgViewCommand, 0, 6);
    const QImage shown = ReadBack().convertToFormat(QImage::Format_RGB32);
    for (int i = 0; i < 8; ++i) {
      // The mean of a small square at the patch's centre.
      const int cx = (i % 4 * 2 + 1) * shown.width() / 8;
      const int cy = (i / 4 * 2 + 1) * shown.height() / 4;
      int sum[3] = {};
      for (int y = cy - 4; y <= cy + 4; ++y) {
        for (int x = cx - 4; x <= cx + 4; ++x) {
          const QRgb p = shown.pixel(x, y);
          sum[0] += qRed(p);
          sum[1] += qGreen(p);
          sum[2] += qBlue(p);
        }
      }
      const int want[3] = {qRed(colours[i]), qGreen(colours[i]), qBlue(colours[i])};
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(sum[c] / 81.0, want[c], 6.0) << "patch " << i << " channel " << c;
      }
    }
    window_->Close();
  }
}

// Rotation turns the picture in the renderer: in the flat view a turn of 180 degrees shows
// the picture upside down and mirrored, 90 degrees turns it clockwise (stretched to the
// window, as the picture keeps its frame), and 0 restores it.
TEST_F(PlayerTest, RotationTurnsThePicture) {
  ASSERT_TRUE(Open(g_media->DualVideo(8.0)));
  ASSERT_TRUE(WaitFrames(2));
  Send(kMsgViewCommand, 0, 6);
  const QImage upright = ReadBack();
  player().Rotate(180);
  const QImage turned = ReadBack();
  player().Rotate(90);
  const QImage quarter = ReadBack();
  player().Rotate(0);
  const QImage back = ReadBack();
  // The moving bar at the top of the frames differs between read-backs.
  EXPECT_LT(MeanDifference(turned, upright.mirrored(true, true)), 6.0);
  EXPECT_GT(MeanDifference(turned, upright), 20.0);
  const QImage clockwise = upright.transformed(QTransform().rotate(90))
                               .scaled(upright.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  EXPECT_LT(MeanDifference(quarter, clockwise), 10.0);
  EXPECT_GT(MeanDifference(quarter, upright.transformed(QTransform().rotate(-90)).scaled(upright.size())), 20.0);
  EXPECT_LT(MeanDifference(back, upright), 6.0);
}

// The engine proposes pictures of whole macroblocks (1090 lines for a 1080-line video) and
// stretches the picture over them when they are taken as proposed; the player asks for the
// visible size, so the flat view shows the picture the video was made of, not stretched.
TEST_F(PlayerTest, PicturesAreDrawnAtTheirVisibleSize) {
  ASSERT_TRUE(Open(g_media->SingleVideo()));
  ASSERT_TRUE(WaitFrames(2));
  EXPECT_GT(player().GetStats().picture_height, 1080);
  Send(kMsgViewCommand, 0, 6);
  const QImage shown = ReadBack();
  const QImage source(QString::fromStdString(g_media->Path("single-picture.jpg")));
  // The picture drawn over the window's 600 rows, and stretched by 1090 / 1080 (its top
  // 1070 lines over the 600 rows).
  auto drawn_at = [&](int height) {
    QImage canvas(shown.size(), QImage::Format_RGB32);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(0, 0, canvas.width(), height), source);
    return canvas;
  };
  const double as_recorded = MeanDifference(shown, drawn_at(600));
  EXPECT_LT(as_recorded, 2.5);  // video coding and the moving bar at the top
  EXPECT_LT(2 * as_recorded, MeanDifference(shown, drawn_at(606)));
}

// A snapshot of the decoded picture, and a stream recording of the range played between
// its start and its end, land under the output folder.
TEST_F(PlayerTest, SnapshotAndStreamRecordingAreWritten) {
  // The program's one service, which outlives its players.
  std::string error;
  static const std::unique_ptr<convert::ConversionService> service =
      convert::ConversionService::Load(std::string(SPHEROLUX_BINARY_DIR) + "/bin", &error);
  ASSERT_NE(service, nullptr) << error;
  player().SetConversionService(service.get());
  ASSERT_TRUE(Open(g_media->DualVideo(8.0)));
  ASSERT_TRUE(WaitFrames(2));
  // Two snapshots in a row wait for the engine one after the other; both are written.
  const std::string first = player().Snapshot();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::string snapshot = player().Snapshot();
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(snapshot.empty());
  EXPECT_NE(first, snapshot);
  EXPECT_EQ(std::filesystem::path(snapshot).parent_path(), std::filesystem::path(output_dir_) / "snapshots");
  ASSERT_TRUE(WaitUntil([&] {
    return std::count_if(events_.begin(), events_.end(), [](const auto& e) { return e.first == kNotifySnapshot; }) >= 2;
  }));
  EXPECT_TRUE(std::filesystem::exists(first));
  const QImage picture(QString::fromStdString(snapshot));
  EXPECT_EQ(picture.size(), QSize(1920, 960));

  ASSERT_TRUE(WaitUntil([&] { return player().Time() >= 500; }));
  const int64_t start = player().Time();
  player().ToggleRecording();
  EXPECT_TRUE(player().recording());
  ASSERT_TRUE(WaitUntil([&] { return player().Time() >= start + 2000; }));
  player().ToggleRecording();
  EXPECT_FALSE(player().recording());
  const CMediaPlayer::RecordRange range = player().last_record_range();
  EXPECT_GE(range.start_ms, start);
  EXPECT_GE(range.duration_ms, 2000 - (range.start_ms - start));
  ASSERT_TRUE(WaitUntil([&] { return SawEvent(kNotifyRecording); }, 30000));
  std::vector<std::filesystem::path> records;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(output_dir_) / "records")) {
    records.push_back(entry.path());
  }
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].extension(), ".mp4");
  // The copy holds the range, to a frame; a copy that starts at the key frame before the
  // range may hold that much more.
  const int64_t length = MediaDurationMs(records[0].string());
  EXPECT_GE(length, range.duration_ms - 40);
  EXPECT_LE(length, range.duration_ms + range.start_ms + 40);
}

// A snapshot is the picture shown, full size and in its colours, however seldom the player
// shows a new one (a decoder far behind a 5.7K video, here a clip of one frame every two
// seconds) and while paused.
TEST_F(PlayerTest, SnapshotsOfSeldomPicturesAndOfThePausedOneAreWritten) {
  const std::string clip = g_media->SlowDualVideo();
  ASSERT_TRUE(Open(clip));
  ASSERT_TRUE(WaitFrames(1));
  const auto written = [&](size_t count) {
    return WaitUntil(
        [&] {
          return std::count_if(events_.begin(), events_.end(), [](const auto& e) {
                   return e.first == kNotifySnapshot;
                 }) >= static_cast<std::ptrdiff_t>(count);
        },
        15000);
  };
  std::vector<std::string> shots;
  for (int i = 0; i < 3; ++i) {
    shots.push_back(player().Snapshot());
    ASSERT_TRUE(written(shots.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  player().Pause();
  ASSERT_TRUE(WaitUntil([&] { return player().state() == kStatePaused; }));
  shots.push_back(player().Snapshot());
  ASSERT_TRUE(written(shots.size()));
  const QImage source(QString::fromStdString(g_media->Path("dual-picture-1920.jpg")));
  for (const std::string& shot : shots) {
    const QImage picture(QString::fromStdString(shot));
    ASSERT_EQ(picture.size(), QSize(1920, 960)) << shot;
    EXPECT_LT(MeanDifference(picture, source), 4.0) << shot;
  }
}

// Thirty open, play and stop cycles of two different videos: every output's cleanup runs,
// the one GL context is handed from output thread to output thread, and memory stays put.
// The lowest resident figure of eight cycles after a warm-up is compared with that of the
// last eight.
TEST_F(PlayerTest, OpenPlayStopCyclesLeakNothing) {
  const std::string clips[] = {g_media->DualVideo(3.0), g_media->SingleVideo()};
  std::vector<long> resident;
  for (int cycle = 0; cycle < 30; ++cycle) {
    ASSERT_TRUE(Open(clips[cycle % 2])) << cycle;
    ASSERT_TRUE(WaitFrames(2)) << cycle;
    window_->Close();
    EXPECT_EQ(player().state(), kStateStopped) << cycle;
    EXPECT_EQ(player().GetStats().live_outputs, 0) << cycle;
    resident.push_back(ResidentKiB());
  }
  const long first = *std::min_element(resident.begin() + 4, resident.begin() + 12);
  const long last = *std::min_element(resident.end() - 8, resident.end());
  std::printf("lowest resident memory, cycles 5-12: %ld KiB, cycles 23-30: %ld KiB\n", first, last);
  EXPECT_LT(last - first, 32 * 1024);
  EXPECT_EQ(renderer().gl_errors(), 0);
  EXPECT_GE(player().GetStats().outputs_started, 30u);
}

// A TCP listener on 127.0.0.1 that counts the connections it is offered and closes each at
// once. It stops by itself after `lifetime_ms`, or when destroyed.
class LoopbackListener {
 public:
  explicit LoopbackListener(int lifetime_ms = 120000) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, lifetime_ms] {
      QElapsedTimer clock;
      clock.start();
      while (!stop_.load() && clock.elapsed() < lifetime_ms) {
        pollfd waiting{fd_, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) continue;
        const int connection = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        connections_.fetch_add(1);
        close(connection);
      }
    });
  }
  ~LoopbackListener() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  int port() const { return port_; }
  int connections() const { return connections_.load(); }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// A file whose name reads like a URL (folders "http:" and "127.0.0.1:PORT" in the current
// folder) is a file to every library that opens it: MediaInfo measures it, libvlc plays it,
// the conversion engine converts it, and nothing connects to a listener at that address.
TEST_F(PlayerTest, NamesThatReadLikeUrlsAreFilesToEveryLibrary) {
  LoopbackListener listener;
  ASSERT_NE(listener.port(), 0);
  const std::string dir = g_media->Path("url-names");
  const std::string host = "127.0.0.1:" + std::to_string(listener.port());
  std::filesystem::create_directories(dir + "/http:/" + host);
  std::filesystem::create_directories(dir + "/out");
  const std::string name = "http://" + host + "/clip.mp4";
  std::filesystem::copy_file(g_media->DualVideo(1.0, 960), dir + "/" + name);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);

  EXPECT_EQ(ReadMediaFacts(name, false).width, 960);
  EXPECT_TRUE(Open(name));
  EXPECT_TRUE(WaitFrames(3));
  window_->Close();
  const std::string cli = std::string(SPHEROLUX_BINARY_DIR) + "/bin/spherolux-cli";
  EXPECT_EQ(std::system((cli + " --quiet convert '" + name + "' --output-dir out > /dev/null 2>&1").c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(dir + "/out/clip_spherolux_0.mp4"));

  std::filesystem::current_path(previous);
  EXPECT_EQ(listener.connections(), 0);
}

// Without the media engine, or with one that lacks an entry the player calls, a video is
// refused with a message that names what is missing, and nothing is called; photos still
// open.
// The engine's options: a decoding thread per processor, the VA-API decoder that opens the
// render node itself where there is one and no device probing where there is none, the
// silent sound output without a sound device.
TEST(PlayerEngineTest, OptionsAskForTheHardwareDecoderOnlyWhereThereIsOne) {
  const auto has = [](const std::vector<std::string>& options, const std::string& option) {
    return std::find(options.begin(), options.end(), option) != options.end();
  };
  const std::vector<std::string> plain = EngineOptions(2, true, false);
  EXPECT_TRUE(has(plain, "--avcodec-hw=none"));
  EXPECT_TRUE(has(plain, "--avcodec-threads=2"));
  EXPECT_FALSE(has(plain, "--aout=adummy"));
  const std::vector<std::string> device = EngineOptions(0, false, true);
  EXPECT_TRUE(has(device, "--avcodec-hw=vaapi_drm"));
  EXPECT_FALSE(has(device, "--avcodec-hw=none"));
  EXPECT_TRUE(has(device, "--avcodec-threads=1"));
  EXPECT_TRUE(has(device, "--aout=adummy"));
}

// Hardware surfaces are asked for in planar YUV memory like every other picture (the engine
// copies them back), never refused: a refusal left no picture for a hardware decoder.
TEST(PlayerEngineTest, HardwareSurfacesAreAskedForAsPlanarYuv) {
  for (const char* surface : {"VAOP", "VAO0", "VDV0", "NV12", "I420"}) EXPECT_STREQ(ChosenChroma(surface), "I420");
  EXPECT_STREQ(ChosenChroma("J420"), "J420");
  EXPECT_STREQ(ChosenChroma("RV32"), "RV32");
}

// The decoder is said to fall behind once per video, when a tenth of the pictures of the last
// seconds of the video or more were not shown, never in the settling time after an open or a
// seek, never for a few pictures, never without a frame rate.
TEST(PlayerEngineTest, PictureLossIsToldOncePerVideoAfterTheSettlingTime) {
  PictureLossWatch watch;
  // Playing a 25 fps video from `from_ms` to `to_ms` (media and wall time alike) with `shown`
  // of its pictures displayed a second, sampled twice a second.
  const auto play = [&](int64_t from_ms, int64_t to_ms, int shown, double rate = 25) {
    bool told = false;
    for (int64_t t = from_ms; t <= to_ms; t += 500) told = watch.Sample(t, t, t * shown / 1000, rate) || told;
    return told;
  };
  watch.Restart(0, true);
  EXPECT_FALSE(play(0, PictureLossWatch::kSettleMs + PictureLossWatch::kSpanMs - 500, 20))
      << "a whole span after the settling time is needed";
  EXPECT_TRUE(play(PictureLossWatch::kSettleMs + PictureLossWatch::kSpanMs, 6000, 20));
  EXPECT_FALSE(play(6500, 20000, 5)) << "once per video";
  // The next videos: all shown, fewer than a tenth lost, or a tenth of few pictures are never
  // told; a tenth of many is.
  watch.Restart(0, true);
  EXPECT_FALSE(play(0, 20000, 25));
  watch.Restart(0, true);
  EXPECT_FALSE(play(0, 20000, 95, 100));
  watch.Restart(0, true);
  EXPECT_FALSE(play(0, 20000, 4, 5));
  watch.Restart(0, true);
  EXPECT_TRUE(play(0, 20000, 21));
  // A seek: nothing shown in the settling time, then every picture.
  watch.Restart(0, true);
  watch.Restart(0, false);
  bool told = false;
  for (int64_t t = 0; t <= 20000; t += 500) {
    const int64_t shown = std::max<int64_t>(0, t - PictureLossWatch::kSettleMs) * 25 / 1000;
    told = watch.Sample(t, t, shown, 25) || told;
  }
  EXPECT_FALSE(told);
  // Without a frame rate or counts nothing is judged.
  watch.Restart(0, true);
  EXPECT_FALSE(play(0, 20000, 0, 0));
  for (int64_t t = 0; t < 20000; t += 500) EXPECT_FALSE(watch.Sample(t, t, -1, 25));
}

TEST(PlayerEngineTest, MissingEngineOrEntryRefusesVideosWithAMessage) {
  CVideoControl control;
  control.resize(320, 200);
  control.show();
  ASSERT_TRUE(WaitUntil([&] { return control.surface()->isExposed(); }));
  const std::string clip = g_media->StitchedV1Video();
  {
    CMediaPlayer player(&control, "libspherolux-no-such-engine.so");
    ASSERT_EQ(player.Probe(clip, false), 0);
    EXPECT_EQ(player.Open(clip, false), 0);
    EXPECT_NE(player.open_error().find("cannot load libspherolux-no-such-engine.so"), std::string::npos)
        << player.open_error();
    EXPECT_EQ(player.state(), kStateNone);
    const std::string photo = g_media->DualPhoto(960);
    ASSERT_EQ(player.Probe(photo, true), 0);
    EXPECT_EQ(player.Open(photo, true), 1);
  }
  {
    // A real library that lacks the engine's entries.
    CMediaPlayer player(&control, "libvlccore.so.9");
    EXPECT_EQ(player.Open(clip, false), 0);
    EXPECT_EQ(player.open_error(), "libvlccore.so.9 lacks libvlc_new");
  }
}

// On a driver below OpenGL 2.0 the player asks before it plays without the panorama; a yes
// lets libvlc draw into the window itself, a no opens nothing. Photos are shown flat.
TEST_F(PlayerTest, BelowGlTwoAsksThenPlaysPlainly) {
  ASSERT_LT(player().gl_major_version(), 2);
  int asked = 0;
  bool answer = false;
  player().SetPlainPlaybackQuestion([&] {
    ++asked;
    return answer;
  });
  const std::string clip = g_media->DualVideo(4.0);
  ASSERT_EQ(player().Probe(clip, false), 0);
  EXPECT_EQ(player().Open(clip, false), 0);
  EXPECT_EQ(asked, 1);

  answer = true;
  ASSERT_EQ(player().Open(clip, false), 1);
  EXPECT_EQ(asked, 2);
  player().Play();
  EXPECT_TRUE(WaitUntil([&] { return player().GetStats().displayed > 3; }, 20000));
  EXPECT_EQ(player().GetStats().frames_drawn, 0u);  // nothing went through the frame pipeline
  player().Stop();

  const std::string photo = g_media->DualPhoto(960);
  ASSERT_EQ(player().Probe(photo, true), 0);
  ASSERT_EQ(player().Open(photo, true), 1);
  EXPECT_EQ(asked, 3);
  EXPECT_TRUE(window_->video().showing_flat_image());
}
}  // namespace
}  // namespace spherolux::media

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  spherolux::media::testing::TestMedia media;
  spherolux::media::g_media = &media;
  return RUN_ALL_TESTS();
}
