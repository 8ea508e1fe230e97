// The converter as a user reaches it, under an X server of its own: `spherolux FILE` started
// as a process with a camera video playing, the converter opened with Ctrl+E, Start clicked
// where the converter's layout puts it (real pointer events through XTest, by xdotool), and
// the converted file checked with ffprobe. Also `spherolux --converter FILE` on its own, and
// with several files, its queue.
//
// Without a window manager the main window sits at (0, 0) with 1024 x 597 pixels; the
// converter (660 x 640) is centred on it and kept on the 1280 x 800 screen.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "camera_files.h"
#include "testsupport/screen.h"
#include "testsupport/testsupport.h"

namespace spherolux::dialogs {
namespace {

namespace fs = std::filesystem;
using testsupport::LitShare;
using testsupport::RunCommand;
using testsupport::Screen;
using testsupport::ShellQuote;
using testsupport::WaitFor;
using testsupport::Xdotool;

// The converter's places: centred on the main window and kept on the screen, or centred on
// the screen when it runs on its own.
const QPoint kOverMainWindow(181, 0);
const QPoint kOnItsOwn(309, 79);
// Its trim preview's video area (preview at (11, 75), video at (13, 20) inside it), Start at
// (W - 155, 40, 70, 35) and close at (W - 40, 1, 30, 29), from its top left corner.
const QRect kPreviewVideo(24, 95, 614, 322);
const QPoint kStart(660 - 155 + 35, 40 + 17);
const QPoint kClose(660 - 25, 15);
// The converter's body colour, RGB(237, 237, 237), below its controls.
constexpr QRgb kBody = 0xFFEDEDED;
const QPoint kBodySpot(200, 600);

void ClickAt(QPoint at) { testsupport::ClickAt(at.x(), at.y()); }

class ConverterE2eTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (app_.state() != QProcess::NotRunning) {
      app_.kill();
      app_.waitForFinished(5000);
    }
    Xdotool("mousemove 1270 790");
  }

  void Start(const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(dir_.Path("home")));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir_.Path("config")));
    env.insert("LANG", "C.UTF-8");
    env.insert("LC_ALL", "C.UTF-8");
    app_.setProcessEnvironment(env);
    app_.setStandardOutputFile(QString::fromStdString(dir_.Path("stdout.txt")));
    app_.setStandardErrorFile(QString::fromStdString(dir_.Path("stderr.txt")));
    app_.start(QString::fromStdString(testsupport::BuiltProgram("spherolux")), args);
    ASSERT_TRUE(app_.waitForStarted(5000));
  }
  std::string OutputDir() const { return dir_.Path("home/Videos/SPHEROLUX Video Converter"); }

  // The converter is up at `at`, its preview paused on a drawn first frame.
  void WaitForConverterWithPicture(QPoint at) {
    ASSERT_TRUE(WaitFor(
        [at] {
          const QImage screen = Screen();
          return screen.pixel(at + kBodySpot) == kBody && LitShare(screen, kPreviewVideo.translated(at)) > 0.5;
        },
        20000))
        << "no converter with a picture on the screen";
    if (const char* shots = std::getenv("SPHEROLUX_SHOTS")) {
      fs::create_directories(shots);
      Screen().save(QString::fromStdString(std::string(shots) + "/e2e-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png"));
    }
  }

  // Start clicked; returns the converted file once the engine has written it. The engine
  // takes the name with an empty file when the job starts and puts the finished file in its
  // place in one step: the name holds data only once the job is done.
  std::string ClickStartAndWait(QPoint at, const std::string& name) {
    QThread::msleep(300);
    ClickAt(at + kStart);
    const std::string out = OutputDir() + "/" + name;
    EXPECT_TRUE(WaitFor(
        [&] {
          std::error_code ec;
          return fs::file_size(out, ec) > 0 && !ec;
        },
        120000))
        << out;
    return out;
  }

  // ffprobe: the duration and the spherical projection of the first video stream.
  void ExpectPanorama(const std::string& path, double seconds) {
    EXPECT_NEAR(testing::DurationSeconds(path), seconds, 0.2);
    const testsupport::CommandResult probe =
        RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream_side_data=projection -of csv=p=0 " +
                   ShellQuote(path));
    EXPECT_NE(probe.out.find("equirectangular"), std::string::npos) << probe.out << probe.err;
  }

  testsupport::TempDir dir_{"converter-e2e"};
  QProcess app_;
};

TEST_F(ConverterE2eTest, ACameraVideoPlayingInTheMainWindowIsConvertedFromTheConverter) {
  const std::string clip = testing::Camgen("video", dir_.Path("dual.mp4"), "--size 1920x960 --seconds 10");
  Start({QString::fromStdString(clip)});
  // Playing in the main window: its video area shows pictures.
  ASSERT_TRUE(WaitFor([] { return LitShare(Screen(), QRect(0, 30, 1024, 512)) > 0.5; }, 20000));

  Xdotool("mousemove 512 300 key ctrl+e");
  WaitForConverterWithPicture(kOverMainWindow);
  // The main window stopped playing when the converter opened: the part of its picture left
  // of the converter comes to stand still.
  const QRect left_of_converter(0, 40, kOverMainWindow.x() - 10, 480);
  QImage last = Screen().copy(left_of_converter);
  EXPECT_TRUE(WaitFor(
      [&] {
        QThread::msleep(700);
        const QImage now = Screen().copy(left_of_converter);
        const bool still = now == last;
        last = now;
        return still;
      },
      4000))
      << "the main window still plays";
  const std::string out = ClickStartAndWait(kOverMainWindow, "dual_spherolux_0.mp4");
  ExpectPanorama(out, 10.0);
}

TEST_F(ConverterE2eTest, TheConverterRunsOnItsOwnForAFileManager) {
  const std::string clip = testing::Camgen("video", dir_.Path("VID_0007.MP4"), "--size 1920x960 --seconds 2");
  Start({"--converter", QString::fromStdString(clip)});
  // On its own it is centred on the screen.
  WaitForConverterWithPicture(kOnItsOwn);
  const std::string out = ClickStartAndWait(kOnItsOwn, "VID_0007_spherolux_0.mp4");
  ExpectPanorama(out, 2.0);
  // Closing the converter ends the program: the question about the output directory first
  // (Cancel, once the box titled "Finish" is on the screen), then the close button.
  auto question_shown = [] { return RunCommand("xdotool search --onlyvisible --name '^Finish$'").exit_code == 0; };
  ASSERT_TRUE(WaitFor(question_shown, 30000)) << "no question about the output directory";
  Xdotool("key Escape");
  ASSERT_TRUE(WaitFor([&] { return !question_shown(); }, 10000));
  ClickAt(kOnItsOwn + kClose);
  EXPECT_TRUE(app_.waitForFinished(10000));
  EXPECT_EQ(app_.exitCode(), 0);
}

// The place and size of the visible window titled `title` (empty when there is none).
QRect WindowGeometry(const std::string& title) {
  const testsupport::CommandResult run =
      RunCommand("xdotool search --onlyvisible --name '^" + title + "$' getwindowgeometry --shell");
  int x = 0, y = 0, w = 0, h = 0;
  for (const QString& line : QString::fromStdString(run.out).split('\n')) {
    const QString value = line.section('=', 1);
    if (line.startsWith("X=")) x = value.toInt();
    if (line.startsWith("Y=")) y = value.toInt();
    if (line.startsWith("WIDTH=")) w = value.toInt();
    if (line.startsWith("HEIGHT=")) h = value.toInt();
  }
  return QRect(x, y, w, h);
}

TEST_F(ConverterE2eTest, SeveralFilesForTheConverterMakeItsQueue) {
  const std::string photo = testing::Camgen("photo", dir_.Path("IMG_0001.JPG"), "--size 1920x960");
  const std::string clip = testing::Camgen("video", dir_.Path("VID_0002.MP4"), "--size 640x320 --seconds 2");
  Start({"--converter", QString::fromStdString(photo), QString::fromStdString(clip)});
  // The window is taller by its queue.
  QRect window;
  ASSERT_TRUE(WaitFor(
      [&] {
        window = WindowGeometry("Converter");
        return window.height() == 640 + 150;
      },
      20000))
      << window.width() << "x" << window.height();
  QThread::msleep(1500);
  ClickAt(window.topLeft() + kStart);
  for (const std::string name : {"IMG_0001_spherolux_0.jpg", "VID_0002_spherolux_0.mp4"}) {
    EXPECT_TRUE(WaitFor(
        [&] {
          std::error_code ec;
          return fs::file_size(OutputDir() + "/" + name, ec) > 0 && !ec;
        },
        120000))
        << name;
  }
  ExpectPanorama(OutputDir() + "/VID_0002_spherolux_0.mp4", 2.0);
  // One summary for both, then the close button ends the program.
  auto summary_shown = [] { return RunCommand("xdotool search --onlyvisible --name '^Finish$'").exit_code == 0; };
  ASSERT_TRUE(WaitFor(summary_shown, 30000)) << "no summary";
  Xdotool("key Escape");
  ASSERT_TRUE(WaitFor([&] { return !summary_shown(); }, 10000));
  ClickAt(window.topLeft() + kClose);
  EXPECT_TRUE(app_.waitForFinished(10000));
}

}  // namespace
}  // namespace spherolux::dialogs
