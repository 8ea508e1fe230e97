// The trim preview with its real player (libvlc, Mesa GL) under Xvfb, on camera files made
// by camgen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>

#include "dialogs/range_slider.h"
#include "dialogs/transcode_preview_dlg.h"
#include "gui_support.h"
#include "media/media_player.h"
#include "media/video_control.h"
#include "platform/messages.h"
#include "render/opengl_render.h"
#include "testing/message_recorder.h"
#include "ui/button_ex.h"
#include "ui/skin.h"
#include "ui/skinned_dialog.h"

namespace spherolux::dialogs {
namespace {

using testing::BoxAnswerer;
using testing::WaitUntil;

// The preview as the converter holds it: a 640 x 380 child of a message window.
struct PreviewHost {
  spherolux::testing::MessageRecorder converter;
  CTranscodePreviewDlg* preview;
  PreviewHost() {
    converter.resize(660, 480);
    preview = new CTranscodePreviewDlg(&converter);
    preview->setGeometry(11, 40, 640, 380);
    converter.show();
  }
  ~PreviewHost() { preview->player()->Stop(); }
  bool PausedOnFirstFrame() const {
    return preview->player()->state() == media::kStatePaused && !preview->model().first_play();
  }
};

void Drag(QWidget* w, int from, int to) {
  auto send = [&](QEvent::Type type, int x, Qt::MouseButtons buttons) {
    const QPointF at(x, w->height() / 2);
    QMouseEvent event(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
  };
  send(QEvent::MouseButtonPress, from, Qt::LeftButton);
  send(QEvent::MouseMove, to, Qt::LeftButton);
  send(QEvent::MouseButtonRelease, to, Qt::NoButton);
}

TEST(TrimPreviewGuiTest, AVideoStopsOnItsFirstFrameAndTheHighThumbSetsTheEnd) {
  testing::Scratch scratch;
  const std::string clip = scratch.Video("two-minutes.mp4", "--size 320x160 --seconds 120 --no-audio");
  BoxAnswerer boxes(ui::kIdOk);
  PreviewHost host;
  CTranscodePreviewDlg* preview = host.preview;
  EXPECT_FALSE(preview->rangeSlider()->isEnabled());
  preview->Load(clip, false);

  // Playing starts, the length arrives with the first playing event, and the player pauses.
  ASSERT_TRUE(WaitUntil([&] { return host.PausedOnFirstFrame(); })) << "state " << preview->player()->state();
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_NEAR(static_cast<double>(preview->media_length_ms()), 120000.0, 100.0);
  EXPECT_EQ(preview->endLabel()->text(), "00:02:00");
  EXPECT_EQ(preview->startLabel()->text(), "00:00:00");
  EXPECT_TRUE(preview->rangeSlider()->isEnabled());
  EXPECT_TRUE(preview->playButton()->isEnabled());
  EXPECT_TRUE(preview->video()->isVisible());

  // A key on the picture reaches the preview's input table: Left turns the view by 5 degrees.
  render::CShapeModel& model = *preview->player()->renderer()->current_model();
  const float yaw = model.GetYaw();
  QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
  QApplication::sendEvent(preview->video()->surface(), &left);
  preview->player()->Refresh();
  EXPECT_NEAR(model.GetYaw() - yaw, -5.0f, 0.01f);

  // The high thumb to 50: the end label reads one minute and the converter hears of it.
  CRangeSlider* slider = preview->rangeSlider();
  const RangeSliderModel& m = slider->model();
  host.converter.Take();
  Drag(slider, m.PixelOf(100) + 4, m.PixelOf(50) + 4);
  spherolux::testing::PumpUntil([&] { return host.converter.Count(platform::kMsgRangeChanged) > 0; });
  EXPECT_EQ(preview->range_high(), 50);
  EXPECT_EQ(preview->endLabel()->text(), "00:01:00");
  EXPECT_GE(host.converter.Count(platform::kMsgRangeChanged), 1);
  testing::KeepScreenShot(&host.converter, "trim-preview-video");
}

TEST(TrimPreviewGuiTest, PlayingIntoTheEndOfTheRangePausesAtItsStart) {
  testing::Scratch scratch;
  const std::string clip = scratch.Video("ten.mp4", "--size 320x160 --seconds 10 --no-audio");
  PreviewHost host;
  CTranscodePreviewDlg* preview = host.preview;
  preview->Load(clip, false);
  ASSERT_TRUE(WaitUntil([&] { return host.PausedOnFirstFrame(); }));

  // Select 20-40 % and play: two seconds later the preview is paused, back near 20 %.
  CRangeSlider* slider = preview->rangeSlider();
  const RangeSliderModel& m = slider->model();
  Drag(slider, m.PixelOf(0) - 4, m.PixelOf(20) - 4);
  Drag(slider, m.PixelOf(100) + 4, m.PixelOf(40) + 4);
  ASSERT_TRUE(WaitUntil([&] { return preview->range_low() == 20 && preview->range_high() == 40; }, 5000));
  testing::Pump(300);
  preview->playButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return preview->player()->state() == media::kStatePlaying; }, 5000));
  int furthest = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        furthest = std::max(furthest, preview->model().position());
        return preview->player()->state() == media::kStatePaused;
      },
      15000));
  EXPECT_GE(furthest, 35) << "it played through the range";
  testing::Pump(500);
  EXPECT_EQ(preview->player()->state(), media::kStatePaused);
  EXPECT_GE(preview->model().position(), 19);
  EXPECT_LT(preview->model().position(), 30);
}

TEST(TrimPreviewGuiTest, APhotoHasNoRange) {
  testing::Scratch scratch;
  const std::string photo = scratch.Photo("dual.jpg", "--size 1920x960");
  PreviewHost host;
  CTranscodePreviewDlg* preview = host.preview;
  preview->Load(photo, true);
  ASSERT_TRUE(WaitUntil([&] { return preview->video()->isVisible(); }));
  testing::Pump(300);
  EXPECT_FALSE(preview->rangeSlider()->isEnabled());
  EXPECT_FALSE(preview->playButton()->isEnabled());
  EXPECT_EQ(preview->startLabel()->text(), "00:00:00");
  EXPECT_EQ(preview->endLabel()->text(), "00:00:00");
  // The photo is drawn: the video area is not the empty screen.
  const QImage before = testing::ScreenShot(preview->video());
  EXPECT_GT(testing::LitShare(before), 0.5);
  testing::KeepScreenShot(&host.converter, "trim-preview-photo");

  // A drag across the picture with the real pointer turns the view, as in the main window.
  const QPoint centre = preview->video()->mapToGlobal(preview->video()->rect().center());
  const std::string x = std::to_string(centre.x()), y = std::to_string(centre.y());
  testsupport::RunCommand("xdotool mousemove " + x + " " + y + " mousedown 1 mousemove_relative --sync -- -60 0 " +
                          "mousemove_relative --sync -- -60 0 mouseup 1");
  testing::Pump(500);
  const QImage after = testing::ScreenShot(preview->video());
  int changed = 0;
  for (int py = 0; py < after.height(); py += 8) {
    for (int px = 0; px < after.width(); px += 8) changed += before.pixel(px, py) != after.pixel(px, py);
  }
  EXPECT_GT(changed, (after.width() / 8) * (after.height() / 8) / 4) << "the view did not turn";
}

TEST(TrimPreviewGuiTest, AFileThatIsNoPanoramaIsRefused) {
  testing::Scratch scratch;
  const std::string plain = scratch.Video("plain.mp4", "--no-block --size 320x240 --seconds 1 --no-audio");
  BoxAnswerer boxes(ui::kIdOk);
  PreviewHost host;
  host.preview->Load(plain, false);
  ASSERT_TRUE(WaitUntil([&] { return !boxes.texts.empty(); }));
  EXPECT_EQ(boxes.texts.front(), "This file is not captured by a qualified camera!");
  EXPECT_EQ(host.preview->player()->state(), media::kStateNone);
  EXPECT_FALSE(host.preview->rangeSlider()->isEnabled());
}

}  // namespace
}  // namespace spherolux::dialogs
