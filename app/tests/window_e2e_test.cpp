// The program as a user meets it, under an X server of its own: `spherolux FILE` started as a
// process, the screen read back, real pointer and key events sent with xdotool (XTest).
//
// The window opens at (0, 0) with 1024 x 597 pixels (no window manager moves it), so the bars'
// buttons sit at the places their layout gives them.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "testsupport/screen.h"
#include "ui/bar_logic.h"

namespace spherolux::app {
namespace {

namespace fs = std::filesystem;

using testsupport::ClickAt;
using testsupport::LitShare;
using testsupport::Screen;
using testsupport::WaitFor;

const std::string kBin = SPHEROLUX_BINARY_DIR "/bin/";

std::string Quote(const std::string& s) { return "'" + s + "'"; }

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

void Key(const std::string& keys) { Shell("xdotool key " + keys); }
void Move(int x, int y) { Shell("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y)); }

void Sleep(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

bool Near(QRgb a, QRgb b, int tolerance = 12) {
  return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Mean absolute difference of two images over `area`, per channel.
double Difference(const QImage& a, const QImage& b, const QRect& area) {
  double sum = 0;
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); y += 3) {
    for (int x = area.left(); x <= area.right(); x += 3) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
      ++n;
    }
  }
  return n > 0 ? sum / (3.0 * n) : 0;
}

// A message box is on the screen: its light body (RGB 237, 237, 237) fills part of the column
// x = 312, which otherwise crosses only the dark window. The box is centred on the window.
bool BoxShown() {
  const QImage screen = Screen();
  int body = 0;
  for (int y = 150; y < 450; ++y) body += screen.pixel(312, y) == 0xFFEDEDED ? 1 : 0;
  return body > 40;
}

// Answers the box with Return once it is mapped (the log names it before it shows, and a key
// pressed before then reaches no window), and waits for it to go.
bool AnswerBox() {
  if (!WaitFor(BoxShown, 10000)) return false;
  Key("Return");
  return WaitFor([] { return !BoxShown(); }, 10000);
}

// The window's parts on the screen (the window sits at 0, 0).
const QRect kVideo(0, 30, 1024, 512);
constexpr QRgb kCaptionStripTop = 0xFF2B3038;
constexpr QRgb kBottomStripMiddle = 0xFF1E2126;
QPoint CaptionButton(int slot) { return {1 + ui::CaptionSlotX(1022, slot) + 15, 16}; }
const QPoint kPlayButton(1 + 12 + 20, 541 + 18 + 20);
// The middle of the recording sign's red dot, top left of the picture below the floating panel.
const QPoint kRecordingDot(12 + 10 + 5, 30 + 30 + 10 + 14);
constexpr QRgb kRecordingRed = 0xFFE52B2B;

// Test media, made once: camera videos and a photo from camgen, a plain video from ffmpeg.
class WindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = (fs::temp_directory_path() / "spherolux-window-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    const std::string camgen = kBin + "spherolux-camgen";
    ASSERT_TRUE(Shell(camgen + " video " + Quote(dir_ + "/dual.mp4") + " --size 1920x960 --seconds 20"));
    ASSERT_TRUE(Shell(camgen + " video " + Quote(dir_ + "/single.mp4") + " --type 1 --size 1920x1080 --seconds 6"));
    ASSERT_TRUE(Shell("ffmpeg -loglevel error -y -f lavfi -i testsrc2=size=640x360:rate=25 -t 2 -pix_fmt yuv420p " +
                      Quote(dir_ + "/plain.mp4")));
    ASSERT_TRUE(Shell(camgen + " video " + Quote(dir_ + "/nested.mp4") +
                      " --size 960x480 --seconds 2 --no-audio --nest-udta 10000"));
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void SetUp() override {
    home_ = dir_ + "/home-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(home_);
  }

  void TearDown() override {
    if (app_.state() != QProcess::NotRunning) {
      app_.kill();
      app_.waitForFinished(5000);
    }
    Move(1200, 780);  // leave the pointer out of the next window's way
  }

  // Starts `spherolux ARGS` (or `program ARGS`) with a private home and settings folder, in
  // `lang`.
  void Start(const QStringList& args, const QString& lang = "C.UTF-8",
             const std::string& program = kBin + "spherolux") {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(home_));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(home_ + "/.config"));
    env.insert("LANG", lang);
    env.insert("LC_ALL", lang);
    env.insert("SPHEROLUX_LOG", QString::fromStdString(home_ + "/log.txt"));
    app_.setProcessEnvironment(env);
    app_.setStandardOutputFile(QString::fromStdString(home_ + "/stdout.txt"));
    app_.setStandardErrorFile(QString::fromStdString(home_ + "/stderr.txt"));
    app_.start(QString::fromStdString(program), args);
    ASSERT_TRUE(app_.waitForStarted(5000));
    // The caption bar is drawn: the window is up.
    ASSERT_TRUE(WaitFor([] { return Near(Screen().pixel(300, 2), kCaptionStripTop, 8); }, 10000))
        << "no caption bar on the screen";
  }

  // What the program logged (SPHEROLUX_LOG), and what it wrote on stderr.
  std::string Log() const { return Read(home_ + "/log.txt"); }
  std::string Stderr() const { return Read(home_ + "/stderr.txt"); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  bool LogShows(const std::string& text, int timeout_ms = 8000) const {
    return WaitFor([&] { return Log().find(text) != std::string::npos; }, timeout_ms);
  }

  bool WaitForPicture(int timeout_ms = 15000) {
    return WaitFor([] { return LitShare(Screen(), kVideo) > 0.5; }, timeout_ms);
  }

  // The picture changes (playing) or stays (paused): waits for it up to a generous limit, so
  // that a loaded machine only makes the test slower.
  static bool Moving(int timeout_ms = 8000) {
    return WaitFor(
        [] {
          const QImage a = Screen();
          Sleep(300);
          return Difference(a, Screen(), kVideo) > 0.5;
        },
        timeout_ms);
  }
  static bool Still(int timeout_ms = 8000) {
    return WaitFor(
        [] {
          const QImage a = Screen();
          Sleep(600);
          return Difference(a, Screen(), kVideo) < 0.1;
        },
        timeout_ms);
  }

  static std::string dir_;
  std::string home_;
  QProcess app_;
};

std::string WindowTest::dir_;

TEST_F(WindowTest, ADualLensVideoPlaysAndTheBarsWork) {
  Start({QString::fromStdString(dir_ + "/dual.mp4")});
  ASSERT_TRUE(WaitForPicture()) << "no picture in the video area";
  const QImage playing = Screen();
  // Skinned bars around a panorama.
  EXPECT_TRUE(Near(playing.pixel(300, 2), kCaptionStripTop, 8));
  EXPECT_TRUE(Near(playing.pixel(500, 590), kBottomStripMiddle, 10)) << std::hex << playing.pixel(500, 590);
  EXPECT_GT(LitShare(playing, kVideo), 0.5);
  EXPECT_TRUE(Moving()) << "the video does not play";

  // Play/pause: the picture stops and goes on.
  ClickAt(kPlayButton.x(), kPlayButton.y());
  EXPECT_TRUE(Still()) << "pause did not stop the picture";
  ClickAt(kPlayButton.x(), kPlayButton.y());
  EXPECT_TRUE(Moving()) << "play did not start the picture again";

  // A view mode from the caption bar: the flat view shows the two fisheye circles unchanged,
  // which looks nothing like the planet view the file opened in.
  const QImage planet = Screen();
  const QPoint flat = CaptionButton(5);
  ClickAt(flat.x(), flat.y());
  EXPECT_TRUE(WaitFor([&] { return Difference(planet, Screen(), kVideo) > 20.0; }, 8000))
      << "the flat view looks like the planet view";

  // Full screen: the window covers the whole screen, and the bars go after 3 s.
  const QPoint max = CaptionButton(1);
  ClickAt(max.x(), max.y());
  ASSERT_TRUE(WaitFor([] { return Near(Screen().pixel(1270, 2), kCaptionStripTop, 8); }, 5000))
      << "the window did not grow to the screen";
  Move(640, 400);
  EXPECT_TRUE(WaitFor([] { return !Near(Screen().pixel(300, 2), kCaptionStripTop, 8); }, 12000))
      << "the caption bar stays in full screen";
  Key("Escape");
  ASSERT_TRUE(WaitFor([] { return !Near(Screen().pixel(1270, 2), kCaptionStripTop, 8); }, 5000))
      << "Esc did not leave full screen";
  ASSERT_TRUE(WaitFor([] { return Near(Screen().pixel(300, 2), kCaptionStripTop, 8); }, 3000))
      << "the caption bar is back with the window";

  // Close.
  const QPoint close = CaptionButton(0);
  ClickAt(close.x(), close.y());
  ASSERT_TRUE(app_.waitForFinished(8000)) << "the close button did not end the program";
  EXPECT_EQ(app_.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(app_.exitCode(), 0);
}

TEST_F(WindowTest, ASingleLensVideoGetsTheDomePanelAndAScreenshot) {
  Start({QString::fromStdString(dir_ + "/single.mp4")});
  ASSERT_TRUE(WaitFor([] { return LitShare(Screen(), kVideo) > 0.2; }, 15000));
  // The floating panel appears under the caption when the pointer comes near the top.
  Move(300, 40);
  Move(310, 44);
  ASSERT_TRUE(WaitFor([] { return Near(Screen().pixel(100, 44), 0xFF1B1E23, 6); }, 8000)) << "no floating panel";
  // Its buttons, centred: three dome views, direction and reset, snapshot and record, the
  // converter.
  const int left = (1024 - (3 * 36 + 22 + 2 * 36 + 22 + 2 * 36 + 22 + 36)) / 2;
  const int snapshot_x = left + 3 * 36 + 22 + 2 * 36 + 22 + 18;
  ClickAt(snapshot_x, 44);
  ASSERT_TRUE(LogShows("message box: Screenshot saved in: ")) << Log();
  const std::string log = Log();
  const size_t at = log.find("Screenshot saved in: ") + std::string("Screenshot saved in: ").size();
  const std::string path = log.substr(at, log.find('\n', at) - at);
  EXPECT_EQ(path.rfind(home_ + "/Videos/SPHEROLUX Video Converter/ScreenShot_", 0), 0u) << path;
  ASSERT_TRUE(fs::exists(path));
  EXPECT_GT(fs::file_size(path), 10'000u);
  std::ifstream jpeg(path, std::ios::binary);
  unsigned char soi[2] = {};
  jpeg.read(reinterpret_cast<char*>(soi), 2);
  EXPECT_EQ(soi[0], 0xFF);
  EXPECT_EQ(soi[1], 0xD8) << "the screenshot is a JPEG file";
  ASSERT_TRUE(AnswerBox());  // the box closes; the program goes on
  EXPECT_EQ(app_.state(), QProcess::Running);
  Key("ctrl+q");
  EXPECT_TRUE(app_.waitForFinished(8000));
  // The diagnostics went to the log only: stderr is for warnings.
  for (const char* diagnostic : {"message box:", "glRender instance", "in vout_format", "Status: Using GL"}) {
    EXPECT_EQ(Stderr().find(diagnostic), std::string::npos) << Stderr();
  }
}

TEST_F(WindowTest, ShiftRRecordsTheViewWithTheVideosSound) {
  Start({QString::fromStdString(dir_ + "/dual.mp4")});
  ASSERT_TRUE(WaitForPicture());
  Key("shift+r");
  // A red dot over the picture says that the view is recorded, for as long as it is.
  EXPECT_TRUE(WaitFor([] { return Near(Screen().pixel(kRecordingDot), kRecordingRed, 24); }, 3000))
      << "no recording sign";
  Sleep(3000);
  Key("shift+r");
  EXPECT_TRUE(WaitFor([] { return !Near(Screen().pixel(kRecordingDot), kRecordingRed, 24); }, 3000))
      << "the recording sign stays after the recording";
  ASSERT_TRUE(LogShows("message box: Screen record saved in: ", 15000)) << Log();
  const std::string log = Log();
  const size_t at = log.find("Screen record saved in: ") + std::string("Screen record saved in: ").size();
  const std::string path = log.substr(at, log.find('\n', at) - at);
  EXPECT_EQ(path.rfind(home_ + "/Videos/SPHEROLUX Video Converter/ScreenRecord_", 0), 0u) << path;
  ASSERT_TRUE(fs::exists(path));
  // H.264 at 1920 x 960 with the clip's AAC sound; every frame decodes.
  auto output = [](const std::string& command) {
    std::string text;
    if (std::FILE* p = popen(command.c_str(), "r")) {
      char buf[4096];
      for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
      pclose(p);
    }
    return text;
  };
  EXPECT_EQ(output("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 " + Quote(path)),
            "h264,1920,960\naac\n");
  EXPECT_EQ(output("ffmpeg -nostdin -v error -i " + Quote(path) + " -map 0 -f framemd5 - 2>&1 >/dev/null"), "");
  EXPECT_FALSE(fs::exists(home_ + "/Videos/SPHEROLUX Video Converter/headerinfo.dat"));
  ASSERT_TRUE(AnswerBox());
  Key("ctrl+q");
  EXPECT_TRUE(app_.waitForFinished(8000));
}

// Opens `path` through Ctrl+O and the open dialog, typed into its name field.
void OpenThroughTheDialog(const std::string& path) {
  ClickAt(500, 350);  // the window has the keyboard, whatever had it before
  const auto dialog = [] { return Shell("timeout 5 xdotool search --sync --name '^Open File$' windowfocus --sync"); };
  Key("ctrl+o");
  if (!dialog()) Key("ctrl+o");  // a key pressed while a box was closing reaches no window
  ASSERT_TRUE(dialog()) << "no open dialog for " << path;
  Sleep(300);
  Shell("xdotool type --delay 2 " + Quote(path));
  Key("Return");
}

// The floating panel shows when the pointer comes near the top: it has view-mode buttons.
bool PanelShows() {
  Move(300, 40);
  Move(310, 44);
  const bool shown = WaitFor([] { return Near(Screen().pixel(100, 44), 0xFF1B1E23, 6); }, 8000);
  Move(500, 350);
  return shown;
}

// A file opened while a video plays leaves the window as a fresh one shows it (the old
// playback's end reset the new file: its panel and view-mode buttons were gone); mode keys the
// file has no button for do nothing (they turned the view black); the engine's snapshot has its
// key in the main window.
TEST_F(WindowTest, OpeningAFileWhileAVideoPlaysStartsAfresh) {
  const std::string photo = home_ + "/photo.jpg";
  ASSERT_TRUE(Shell(kBin + "spherolux-camgen photo " + Quote(photo) + " --size 1920x960"));
  Start({QString::fromStdString(dir_ + "/dual.mp4")});
  ASSERT_TRUE(WaitForPicture());
  ASSERT_TRUE(PanelShows()) << "no floating panel for the first file";

  OpenThroughTheDialog(dir_ + "/single.mp4");
  ASSERT_TRUE(WaitFor([] { return LitShare(Screen(), kVideo) > 0.2; }, 15000)) << "no picture of the second file";
  EXPECT_TRUE(Moving()) << "the second file does not play";
  EXPECT_TRUE(PanelShows()) << "the second file has no floating panel";

  // '0', the sphere, is no mode of a single-lens file: the picture stays.
  Key("0");
  Sleep(1500);
  EXPECT_GT(LitShare(Screen(), kVideo), 0.2) << "a mode key that does not suit the file blanked the view";

  Key("ctrl+shift+s");
  ASSERT_TRUE(LogShows("message box: Screenshot saved in: " + home_ + "/Videos/SPHEROLUX Video Converter/snapshots/"))
      << Log();
  ASSERT_TRUE(AnswerBox());

  // A photo after the video, and a video after the photo.
  OpenThroughTheDialog(photo);
  // The photo is drawn, not the video's last picture left standing: the view turns.
  Sleep(1500);
  const QImage before = Screen();
  Key("Left Left Left Left");
  EXPECT_TRUE(WaitFor([&] { return Difference(before, Screen(), kVideo) > 3.0; }, 5000))
      << "the picture does not turn: the photo is not drawn";
  EXPECT_TRUE(PanelShows()) << "the photo has no floating panel";
  OpenThroughTheDialog(dir_ + "/dual.mp4");
  ASSERT_TRUE(WaitForPicture()) << "no picture of the video after the photo";
  EXPECT_TRUE(Moving()) << "the video after the photo does not play";
  EXPECT_TRUE(PanelShows()) << "the video after the photo has no floating panel";
  Key("ctrl+q");
  EXPECT_TRUE(app_.waitForFinished(8000));
}

// Screenshots and recordings that fail say so, and never "saved": the folder for them cannot be
// made (a file has its name).
TEST_F(WindowTest, FailedScreenshotsAndRecordingsAreReported) {
  const std::string output = home_ + "/Videos/SPHEROLUX Video Converter";
  fs::create_directories(home_ + "/Videos");
  std::ofstream(output) << "in the way";
  Start({QString::fromStdString(dir_ + "/dual.mp4")});
  ASSERT_TRUE(WaitForPicture());
  Key("shift+s");
  ASSERT_TRUE(LogShows("message box: The screenshot could not be written to " + output + "/ScreenShot_")) << Log();
  ASSERT_TRUE(AnswerBox());
  Key("shift+r");
  ASSERT_TRUE(LogShows("message box: The screen recording could not be started in " + output + "/ScreenRecord_"))
      << Log();
  ASSERT_TRUE(AnswerBox());

  EXPECT_EQ(Log().find("saved in"), std::string::npos) << Log();
  Key("ctrl+q");
  EXPECT_TRUE(app_.waitForFinished(8000));
}

// A change of language restarts the program, which opens the video that was open where it was.
// The new program is no child of the test: it is found by the log file it holds open.
TEST_F(WindowTest, ALanguageChangeReopensTheVideoWhereItWas) {
  const std::string video = dir_ + "/dual.mp4";
  Start({QString::fromStdString(video)});
  ASSERT_TRUE(WaitForPicture());
  Sleep(3000);
  const QPoint language = CaptionButton(3);
  ClickAt(language.x(), language.y());
  // The dialog is centred on the window: its list, then OK.
  const QPoint dialog((1024 - 240) / 2, (597 - 140) / 2);
  ASSERT_TRUE(WaitFor([&] { return Near(Screen().pixel(dialog.x() + 232, dialog.y() + 60), 0xFFEDEDED, 6); }, 5000))
      << "no language dialog";
  ClickAt(dialog.x() + 100, dialog.y() + 30 + 40 + 13);
  Sleep(500);
  Key("Down");
  Key("Return");
  ClickAt(dialog.x() + 180, dialog.y() + 30 + 76 + 14);
  ASSERT_TRUE(app_.waitForFinished(8000)) << "the program did not end for its restart";

  const std::string log = home_ + "/log.txt";
  const auto holders = [&log] {
    std::set<pid_t> pids;
    std::error_code ec;
    for (const auto& process : fs::directory_iterator("/proc", ec)) {
      const std::string name = process.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      for (const auto& fd : fs::directory_iterator(process.path() / "fd", ec)) {
        if (fs::read_symlink(fd.path(), ec) == log) pids.insert(std::stoi(name));
      }
    }
    return pids;
  };
  const std::string resuming = "resuming " + video + " at ";
  const bool resumed = LogShows(resuming, 20000);
  const std::set<pid_t> restarted = holders();
  if (resumed) {
    const std::string text = Log();
    const long long ms = std::atoll(text.c_str() + text.find(resuming) + resuming.size());
    EXPECT_GE(ms, 2500) << "the video starts again from the beginning";
    EXPECT_LE(ms, 20000);
    Key("ctrl+q");
    WaitFor([&] { return holders().empty(); }, 8000);
  }
  for (const pid_t pid : holders()) kill(pid, SIGKILL);
  ASSERT_TRUE(resumed) << Log();
  EXPECT_EQ(restarted.size(), 1u);
}

// A drag of the picture from (x, y) by (dx, dy), in steps, held still before the release so that
// the view does not coast on.
void DragView(int x, int y, int dx, int dy) {
  std::string steps;
  for (int i = 1; i <= 8; ++i) {
    steps += " mousemove " + std::to_string(x + dx * i / 8) + " " + std::to_string(y + dy * i / 8) + " sleep 0.05";
  }
  Shell("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " mousedown 1" + steps +
        " sleep 0.5 mouseup 1");
}

// One frame of a video as RGB pixels (ffmpeg), `last` or the first.
QImage VideoFrame(const std::string& video, bool last, const std::string& png) {
  Shell("ffmpeg -nostdin -v error -y " + std::string(last ? "-sseof -0.3 " : "") + "-i " + Quote(video) +
        " -frames:v 1 -update 1 " + Quote(png));
  return QImage(QString::fromStdString(png)).convertToFormat(QImage::Format_RGB32);
}

// A path steered in the window by real drags, with K at each view, exports a flat video that
// looks where the window looked: the test panorama's colour tells the direction (red grows
// with yaw, green with the angle below the zenith), and the export's first frame (held at the
// first keyframe) and last frame (after the last one) show what the window's picture showed
// at the middle and at a point right of it when K was pressed. The panorama states its colour
// matrix, so that the window and ffmpeg turn it into the same RGB.
TEST_F(WindowTest, APathSteeredByDragsExportsAFlatVideoThatFollowsThem) {
  const std::string base = home_ + "/gradient.mp4", video = home_ + "/gradient360.mp4";
  ASSERT_TRUE(
      Shell("ffmpeg -loglevel error -y -f lavfi -i \"color=c=black:s=1920x960:r=25:d=12,geq=r='255*X/W':"
            "g='255*Y/H':b=128\" -pix_fmt yuv420p -colorspace smpte170m -color_primaries smpte170m "
            "-color_trc smpte170m -c:v libx264 " +
            Quote(base)));
  ASSERT_TRUE(Shell(kBin + "spherolux-camgen embed " + Quote(base) + " " + Quote(video) + " --no-block --spherical"));
  Start({QString::fromStdString(video)});
  ASSERT_TRUE(WaitForPicture());
  // The sphere, zoomed in; the reframe panel opens under the picture, which gets shorter.
  Key("0");
  for (int i = 0; i < 3; ++i) {
    Sleep(300);
    Key("equal");
  }
  Key("ctrl+k");
  const QRect video_area(0, 30, 1024, 597 - 85 - 64);
  const QPoint middle = video_area.center(), right = middle + QPoint(60, 0);
  ASSERT_TRUE(WaitFor([&] { return Near(Screen().pixel(500, video_area.bottom() + 10), 0xFF14161A, 4); }, 5000))
      << "no keyframe strip under the picture";

  std::vector<std::pair<QRgb, QRgb>> seen;  // the middle and the point right of it, at each K
  for (const auto& [dx, dy] : {std::pair{120, 50}, std::pair{200, -110}}) {
    DragView(middle.x(), middle.y(), dx, dy);
    ASSERT_TRUE(Still()) << "the view does not come to rest";
    Key("k");
    // The window may draw the view's last turn only after K took it: read the picture once it
    // is still again.
    Sleep(500);
    ASSERT_TRUE(Still());
    const QImage shown = Screen();
    seen.emplace_back(shown.pixel(middle), shown.pixel(right));
    Sleep(500);
  }
  Key("space");  // paused: the video does not end (which closes the panel) during the export
  EXPECT_GT(
      std::abs(qRed(seen[0].first) - qRed(seen[1].first)) + std::abs(qGreen(seen[0].first) - qGreen(seen[1].first)), 30)
      << "the drags did not turn the view";

  ClickAt(891, video_area.bottom() + 1 + 29 + 14);  // Export…
  ASSERT_TRUE(LogShows("message box: Reframed video saved in: ", 120000)) << Log();
  const std::string log = Log();
  const size_t at = log.find("Reframed video saved in: ") + std::string("Reframed video saved in: ").size();
  const std::string output = log.substr(at, log.find('\n', at) - at);
  EXPECT_EQ(output, home_ + "/Videos/SPHEROLUX Video Converter/gradient360_spherolux_0.mp4");
  ASSERT_TRUE(AnswerBox());
  Key("ctrl+q");
  EXPECT_TRUE(app_.waitForFinished(8000));

  SCOPED_TRACE(Log());
  for (const bool last : {false, true}) {
    const QImage frame = VideoFrame(output, last, home_ + "/frame.png");
    ASSERT_EQ(frame.size(), QSize(1920, 1080));
    // 60 of the window's 1024 pixels right of the middle are as far across the flat view.
    const auto& [expected_middle, expected_right] = seen[last ? 1 : 0];
    const QRgb got_middle = frame.pixel(960, 540), got_right = frame.pixel(960 + 60 * 1920 / 1024, 540);
    EXPECT_TRUE(Near(got_middle, expected_middle, 10))
        << (last ? "last" : "first") << std::hex << " frame " << got_middle << ", window " << expected_middle;
    EXPECT_TRUE(Near(got_right, expected_right, 10))
        << (last ? "last" : "first") << std::hex << " frame " << got_right << ", window " << expected_right;
  }
}

// A screen reader meets the window through AT-SPI, on a D-Bus session of the test's own: every
// control shown has a name and a description, and controls found by name do what they say
// (accessibility_walk.py tells the steps).
TEST_F(WindowTest, AScreenReaderFindsTheControlsByNameAndPressesThem) {
  const std::string output = home_ + "/accessibility.txt";
  const std::string command = "HOME=" + Quote(home_) + " XDG_CONFIG_HOME=" + Quote(home_ + "/.config") +
                              " LANG=C.UTF-8 LC_ALL=C.UTF-8 dbus-run-session -- /usr/bin/python3 " +
                              Quote(SPHEROLUX_SOURCE_DIR "/app/tests/accessibility_walk.py") + " " +
                              Quote(kBin + "spherolux") + " " + Quote(dir_ + "/dual.mp4") + " >" + Quote(output) +
                              " 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << Read(output);
}

// A file name is bytes, UTF-8 or not: a camera clip named in Latin-1 ("caf" and the byte E9,
// which no QString argument can carry, so a shell makes it) plays like any other.
TEST_F(WindowTest, AFileNamedInLatin1Plays) {
  fs::copy_file(dir_ + "/dual.mp4", dir_ + "/caf\xe9.mp4", fs::copy_options::overwrite_existing);
  Start({"-c", "exec \"$0\" \"$1$(printf '\\351').mp4\"", QString::fromStdString(kBin + "spherolux"),
         QString::fromStdString(dir_ + "/caf")},
        "C.UTF-8", "/bin/sh");
  ASSERT_TRUE(WaitForPicture()) << "no picture in the video area" << Log();
  EXPECT_EQ(Log().find("message box:"), std::string::npos) << Log();
  Key("ctrl+q");
  EXPECT_TRUE(app_.waitForFinished(8000));
}

TEST_F(WindowTest, APlainVideoIsRefusedInTheUiLanguage) {
  Start({QString::fromStdString(dir_ + "/plain.mp4")}, "zh_CN.UTF-8");
  ASSERT_TRUE(LogShows("message box: 此文件并非由合格的全景相机拍摄！")) << Log();
  ASSERT_TRUE(AnswerBox());
  EXPECT_EQ(app_.state(), QProcess::Running) << "a refusal is no reason to end";
  EXPECT_LT(LitShare(Screen(), QRect(0, 440, 1024, 100)), 0.05) << "nothing plays after a refusal";
  Key("ctrl+q");
  EXPECT_TRUE(app_.waitForFinished(8000));
}

// What once held or ended the window: settings files that are pipes (no window ever came up),
// a pipe given to open (the window thread waited in open for a writer, for good), and a camera
// video whose boxes nest 10,000 deep (the engine's readers recursed until the stack ran out).
// The window comes up, refuses each file with a message and stays usable.
TEST_F(WindowTest, PipesAndDeeplyNestedFilesAreRefusedWithAMessage) {
  const std::string config = home_ + "/.config/spherolux";
  fs::create_directories(config);
  ASSERT_EQ(mkfifo((config + "/spheroluxplayer.ini").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((config + "/Language.ini").c_str(), 0600), 0);
  const std::string pipe = home_ + "/pipe.mp4";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  Start({QString::fromStdString(pipe)});
  ASSERT_TRUE(LogShows("message box: Only regular files can be opened")) << Log();
  ASSERT_TRUE(AnswerBox());
  Key("ctrl+q");
  ASSERT_TRUE(app_.waitForFinished(8000)) << "the window must still answer its keys";

  Start({QString::fromStdString(dir_ + "/nested.mp4")});
  ASSERT_TRUE(LogShows("message box: This file cannot be played safely")) << Log();
  ASSERT_TRUE(AnswerBox());
  EXPECT_EQ(app_.state(), QProcess::Running);
  Key("ctrl+q");
  EXPECT_TRUE(app_.waitForFinished(8000));
}

}  // namespace
}  // namespace spherolux::app
