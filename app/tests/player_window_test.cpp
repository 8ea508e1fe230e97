// The main window without a screen: its layout, and what its messages do while nothing or a
// refused file is open. Playing media is tested end to end under an X server
// (window_e2e_test.cpp).
#include "app/player_window.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "app/language_dialog.h"
#include "base/log.h"
#include "media/media_player.h"
#include "media/video_control.h"
#include "platform/messages.h"
#include "testing/message_recorder.h"
#include "ui/menu.h"
#include "ui/skin.h"
#include "ui/strings.h"

namespace spherolux::app {
namespace {

namespace fs = std::filesystem;
namespace msg = platform;
using testing::PumpUntil;

std::mutex g_log_mutex;
std::vector<std::string> g_log;
void Capture(const char* line) {
  std::lock_guard lock(g_log_mutex);
  g_log.emplace_back(line);
}

// Answers every message box as soon as it shows, noting that it did.
struct BoxAnswerer {
  int boxes = 0;
  QTimer timer;
  BoxAnswerer() {
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        ++boxes;
        box->close();
      }
    });
    timer.start();
  }
};

class PlayerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "player-window-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    WindowOptions options;
    options.environment.home = dir_ + "/home";
    options.environment.config_home = dir_ + "/config";
    options.restart = [](const std::vector<std::string>&) { return false; };
    window_ = std::make_unique<CVideoPlayerDlg>(options);
    window_->show();
    {
      std::lock_guard lock(g_log_mutex);
      g_log.clear();
    }
    SetLogSink(Capture);
  }
  void TearDown() override {
    SetLogSink(nullptr);
    window_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void Deliver() { QCoreApplication::sendPostedEvents(window_.get()); }

  static bool Logged(const std::string& text) {
    std::lock_guard lock(g_log_mutex);
    for (const std::string& line : g_log) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  std::string dir_;
  std::unique_ptr<CVideoPlayerDlg> window_;
};

TEST_F(PlayerWindowTest, LayoutAtStartAndAfterAResize) {
  CVideoPlayerDlg& w = *window_;
  EXPECT_EQ(w.size(), QSize(1024, 597));
  EXPECT_EQ(w.minimumSize(), QSize(1024, 597));
  EXPECT_EQ(w.VideoRect(), QRect(0, 30, 1024, 512));
  EXPECT_EQ(w.CaptionRect(), QRect(1, 1, 1022, 30));
  EXPECT_EQ(w.BottomRect(), QRect(1, 541, 1022, 55));
  EXPECT_EQ(w.caption()->geometry(), w.CaptionRect());
  EXPECT_EQ(w.bottom()->geometry(), w.BottomRect());
  const QRect frame = w.frameGeometry();
  EXPECT_EQ(w.PanelRect(), QRect(frame.left(), frame.top() + 29, frame.width(), 30));

  w.resize(1600, 900);
  EXPECT_EQ(w.video()->geometry(), QRect(0, 30, 1600, 815));
  EXPECT_EQ(w.caption()->geometry(), QRect(1, 1, 1598, 30));
  EXPECT_EQ(w.bottom()->geometry(), QRect(1, 844, 1598, 55));
  EXPECT_EQ(w.caption()->button(ui::CCaptionDlg::kClose)->x(), 1598 - 40);
  w.resize(800, 400);
  EXPECT_EQ(w.size(), QSize(1024, 597)) << "the start size is also the smallest";
}

TEST_F(PlayerWindowTest, NothingOpenShowsTheIdleWindow) {
  CVideoPlayerDlg& w = *window_;
  EXPECT_FALSE(w.video()->isVisible());
  EXPECT_FALSE(w.panel()->isVisible());
  EXPECT_FALSE(w.bottom()->button(ui::CBOTTOMDLG::kPlay)->isEnabled()) << "nothing to play";
  EXPECT_FALSE(w.bottom()->button(ui::CBOTTOMDLG::kStop)->isEnabled());
  EXPECT_EQ(w.bottom()->totalText(), "00:00:00");
  EXPECT_EQ(w.caption()->title(), ui::LoadString(ui::kStrAppTitle));
  // Without a recorder the record button is off; without a converter its buttons are hidden.
  EXPECT_FALSE(w.panel()->button(ui::CFloatDlg::kRecord)->isEnabled());
  EXPECT_TRUE(w.bottom()->button(ui::CBOTTOMDLG::kConverter)->isHidden());
  // Commands that need a medium do nothing.
  w.send(msg::kMsgRotateRight);
  w.send(msg::kMsgScreenshot);
  w.send(msg::kMsgPlayPause);
  w.send(msg::kMsgPosition, 0, 40);
  EXPECT_EQ(w.rotation(), 0);
  EXPECT_TRUE(w.screenshotPath().empty());
  EXPECT_EQ(w.position(), 0);
  EXPECT_EQ(w.outputDir(), dir_ + "/home/Videos/SPHEROLUX Video Converter/");
}

TEST_F(PlayerWindowTest, DroppingThreeFilesOpensOnlyTheFirst) {
  BoxAnswerer answerer;
  // A file that is no camera recording: refused with 481, its name in the caption.
  window_->OpenDropped({dir_ + "/first.JPG", dir_ + "/second.mp4", dir_ + "/third.mp4"});
  EXPECT_EQ(window_->currentPath(), dir_ + "/first.JPG");
  EXPECT_TRUE(window_->isPhoto()) << "JPG in capitals is a photo";
  ASSERT_TRUE(PumpUntil([&] { return window_->refused(); }));
  EXPECT_TRUE(Logged(std::string("message box: ") + ui::LoadString(ui::kStrNotQualifiedCamera)));
  EXPECT_EQ(window_->caption()->title(), "first.JPG");
  EXPECT_FALSE(window_->video()->isVisible());
  EXPECT_TRUE(window_->bottom()->button(ui::CBOTTOMDLG::kPlay)->isEnabled()) << "play tries the file again";
  // The panel stays hidden for a refused file.
  window_->send(msg::kMsgPanelHover);
  EXPECT_FALSE(window_->panel()->isVisible());

  window_->OpenDropped({dir_ + "/clip.jpeg"});
  EXPECT_FALSE(window_->isPhoto()) << "jpeg (four letters) is played as a video";
  PumpUntil([&] { return answerer.boxes >= 2; });
  EXPECT_EQ(answerer.boxes, 2);

  // A drop as a file manager sends it (handed straight to the window's event handler): a
  // name that is not UTF-8 (Latin-1 "café") comes as a percent-escape, and the window takes
  // the name's bytes.
  QMimeData dropped;
  dropped.setUrls({QUrl::fromEncoded(QByteArray::fromStdString("file://" + dir_ + "/caf%E9.JPG"))});
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
  static_cast<QObject*>(window_.get())->event(&drop);
  EXPECT_EQ(window_->currentPath(), dir_ + "/caf\xe9.JPG");
  PumpUntil([&] { return answerer.boxes >= 3; });
}

TEST_F(PlayerWindowTest, CommandLineFilesOpenOnceTheWindowHasPainted) {
  WindowOptions options;
  options.environment.home = dir_ + "/home";
  options.environment.config_home = dir_ + "/config";
  options.restart = [](const std::vector<std::string>&) { return false; };
  CVideoPlayerDlg w(options);
  w.OpenOnceShown({dir_ + "/first.JPG", dir_ + "/second.mp4"});
  QCoreApplication::processEvents();
  EXPECT_TRUE(w.currentPath().empty()) << "nothing opens before the window's first picture";

  BoxAnswerer answerer;
  w.show();
  ASSERT_TRUE(PumpUntil([&] { return w.refused(); })) << "the first file is opened after the paint";
  EXPECT_EQ(w.currentPath(), dir_ + "/first.JPG");
  // Once the window has painted, files open at once.
  w.OpenOnceShown({dir_ + "/clip.jpeg"});
  EXPECT_EQ(w.currentPath(), dir_ + "/clip.jpeg");
  PumpUntil([&] { return answerer.boxes >= 2; });
}

TEST_F(PlayerWindowTest, FullScreenHidesTheBarsAfterThreeSeconds) {
  CVideoPlayerDlg& w = *window_;
  QCursor::setPos(600, 300);  // the pointer rests over the picture, away from the bars
  w.caption()->button(ui::CCaptionDlg::kMaximise)->click();
  Deliver();
  EXPECT_TRUE(w.fullScreen());
  EXPECT_TRUE(w.timerRunning(CVideoPlayerDlg::kTimerBars));
  EXPECT_EQ(w.caption()->button(ui::CCaptionDlg::kMaximise)->images().normal, ui::kImgRestore);
  ASSERT_TRUE(PumpUntil([&] { return w.caption()->isHidden(); }, 12000));
  EXPECT_TRUE(w.bottom()->isHidden());
  EXPECT_FALSE(w.timerRunning(CVideoPlayerDlg::kTimerBars));

  // The pointer over the caption brings it back and holds the timer; leaving starts it again.
  w.send(msg::kMsgCaptionHover);
  EXPECT_FALSE(w.caption()->isHidden());
  EXPECT_FALSE(w.timerRunning(CVideoPlayerDlg::kTimerBars));
  w.send(msg::kMsgCaptionLeave);
  EXPECT_TRUE(w.timerRunning(CVideoPlayerDlg::kTimerBars));

  // Restore: both bars back, the timer gone, the maximise image back.
  w.send(msg::kMsgMaximiseRestore);
  EXPECT_FALSE(w.fullScreen());
  EXPECT_FALSE(w.caption()->isHidden());
  EXPECT_FALSE(w.bottom()->isHidden());
  EXPECT_FALSE(w.timerRunning(CVideoPlayerDlg::kTimerBars));
  EXPECT_EQ(w.caption()->button(ui::CCaptionDlg::kMaximise)->images().normal, ui::kImgMaximise);
  // Out of full screen the hover messages change nothing.
  w.send(msg::kMsgCaptionLeave);
  EXPECT_FALSE(w.timerRunning(CVideoPlayerDlg::kTimerBars));
}

// The engine's snapshot and stream recording were reachable only from spherolux-play: the
// context menu has them, with their keys, in the UI language; what needs an open video is
// disabled while nothing is open, and no view mode is offered for no file.
TEST_F(PlayerWindowTest, TheContextMenuComesFromTheInputTable) {
  std::vector<std::tuple<QString, QString, bool>> items;
  QTimer::singleShot(0, [&] {
    auto* menu = dynamic_cast<ui::CMyMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    for (int i = 0; i < menu->ItemCount(); ++i) {
      items.emplace_back(menu->ItemText(i), menu->ItemShortcut(i), menu->ItemEnabled(i));
    }
    menu->close();
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(500, 300), window_->mapToGlobal(QPoint(500, 300)));
  QCoreApplication::sendEvent(window_.get(), &event);
  const auto find = [&](int text) -> const std::tuple<QString, QString, bool>* {
    for (const auto& item : items) {
      if (std::get<0>(item) == QString::fromUtf8(ui::LoadString(text))) return &item;
    }
    return nullptr;
  };
  const auto* snapshot = find(ui::kStrEngineSnapshot);
  const auto* stream = find(ui::kStrStreamRecord);
  ASSERT_NE(snapshot, nullptr);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(std::get<1>(*snapshot), "Ctrl+Shift+S");
  EXPECT_EQ(std::get<1>(*stream), "Ctrl+Shift+R");
  EXPECT_FALSE(std::get<2>(*snapshot));
  EXPECT_FALSE(std::get<2>(*stream));
  ASSERT_NE(find(ui::kStrOpenFile), nullptr);
  EXPECT_TRUE(std::get<2>(*find(ui::kStrOpenFile)));
  EXPECT_EQ(find(ui::kStrSphere), nullptr);
  EXPECT_EQ(find(ui::kStrHalfBall), nullptr);
}

TEST_F(PlayerWindowTest, BarControlsReachTheirHandlers) {
  CVideoPlayerDlg& w = *window_;
  // Caption: menu shows the language dialog over the window.
  w.caption()->button(ui::CCaptionDlg::kMenu)->click();
  Deliver();
  EXPECT_TRUE(w.languageDialog()->isVisible());
  w.languageDialog()->hide();
  // View modes and direction from the caption and the panel.
  w.caption()->button(ui::CCaptionDlg::kFlat)->click();
  Deliver();
  EXPECT_EQ(w.player()->view_mode(), 6);
  EXPECT_TRUE(w.caption()->button(ui::CCaptionDlg::kFlat)->active());
  w.panel()->button(ui::CFloatDlg::kTile)->click();
  Deliver();
  EXPECT_EQ(w.player()->view_mode(), 1);
  EXPECT_TRUE(w.panel()->button(ui::CFloatDlg::kTile)->active());
  EXPECT_FALSE(w.caption()->button(ui::CCaptionDlg::kFlat)->active());
  w.panel()->button(ui::CFloatDlg::kDirection)->click();
  Deliver();
  EXPECT_TRUE(w.panel()->button(ui::CFloatDlg::kDirection)->active());
  w.panel()->button(ui::CFloatDlg::kDirection)->click();
  Deliver();
  EXPECT_FALSE(w.panel()->button(ui::CFloatDlg::kDirection)->active()) << "direction toggles";
  // Bottom bar: the player's playing event shows pause and the total time; paused shows play.
  w.send(msg::kMsgEngineEvent, msg::kNotifyPlaying, 3'725'000);
  EXPECT_EQ(w.bottom()->totalText(), "01:02:05");
  EXPECT_TRUE(w.bottom()->playing());
  w.send(msg::kMsgEngineEvent, msg::kNotifyPaused, 0);
  EXPECT_FALSE(w.bottom()->playing());
  // Stop (end of media): the nothing-open look, total time zero.
  w.bottom()->SetMediumOpen(true);
  w.bottom()->button(ui::CBOTTOMDLG::kStop)->click();
  Deliver();
  EXPECT_EQ(w.bottom()->totalText(), "00:00:00");
  EXPECT_FALSE(w.bottom()->button(ui::CBOTTOMDLG::kStop)->isEnabled());
  EXPECT_EQ(w.player()->state() == media::kStatePlaying, false);
  // Minimise, then close ends the window.
  w.caption()->button(ui::CCaptionDlg::kMinimise)->click();
  Deliver();
  EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
  w.caption()->button(ui::CCaptionDlg::kClose)->click();
  Deliver();
  EXPECT_FALSE(w.isVisible());
}

}  // namespace
}  // namespace spherolux::app
