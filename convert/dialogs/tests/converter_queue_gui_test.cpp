// The converter's queue as a user drives it, under Xvfb: several camera files dropped on the
// preview, rows clicked, settings chosen per job, the real engine and photo pipeline run one
// job after another, and the files written and the summary checked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QMouseEvent>
#include <filesystem>

#include "calib/stitch_state.h"
#include "dialogs/composite_dlg.h"
#include "dialogs/transcode_preview_dlg.h"
#include "gui_support.h"
#include "media/media_player.h"
#include "media/video_control.h"
#include "platform/messages.h"
#include "ui/button_ex.h"
#include "ui/list_ctrl.h"

namespace spherolux::dialogs {
namespace {

namespace fs = std::filesystem;
using State = ConverterQueue::State;
using testing::BoxAnswerer;
using testing::WaitUntil;

void Click(CCompositeDlg& dlg, int id) { static_cast<ui::CButtonEx*>(dlg.control(id))->click(); }
bool Enabled(CCompositeDlg& dlg, int id) { return dlg.control(id)->isEnabled(); }

class ConverterQueueGuiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dlg_ = std::make_unique<CCompositeDlg>(nullptr, scratch_.Options());
    dlg_->show();
  }
  void TearDown() override { dlg_.reset(); }

  // The files dropped together on the preview's picture.
  void Drop(const std::vector<std::string>& paths) {
    platform::DroppedFiles dropped{paths};
    dlg_->preview()->send(platform::kMsgDropFiles, 0, reinterpret_cast<platform::LParam>(&dropped));
  }
  ui::CListCtrlCl* List() { return static_cast<ui::CListCtrlCl*>(dlg_->control(CCompositeDlg::kQueueList)); }
  // A click on a row of the queue.
  void PressRow(int row) {
    QWidget* viewport = List()->viewport();
    const QPointF at = List()->visualRect(List()->model()->index(row, 0)).center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton,
                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(viewport, &event);
    }
  }
  // The same, then waits until the preview shows the row's file.
  void ClickRow(int row) {
    PressRow(row);
    ASSERT_EQ(dlg_->selected_job(), row);
    const CTranscodePreviewDlg& preview = *dlg_->preview();
    ASSERT_TRUE(WaitUntil([&] {
      if (preview.model().photo()) return preview.video()->isVisible();
      return preview.player()->state() == media::kStatePaused && !preview.model().first_play();
    }));
  }
  // Start, then wait until the queue has run through (its summary answered).
  void RunQueue() {
    ASSERT_TRUE(Enabled(*dlg_, CCompositeDlg::kStart));
    Click(*dlg_, CCompositeDlg::kStart);
    ASSERT_TRUE(WaitUntil([&] { return !dlg_->queue().running() && !dlg_->busy(); }, 180000));
  }
  std::string Out(const std::string& name) { return scratch_.OutputDir() + name; }

  testing::Scratch scratch_;
  std::unique_ptr<CCompositeDlg> dlg_;
};

TEST_F(ConverterQueueGuiTest, TwoVideosAndAPhotoAreConvertedEachWithItsOwnSettings) {
  BoxAnswerer boxes(ui::kIdCancel);
  const std::string a = scratch_.Video("VID_A.MP4", "--size 640x320 --seconds 2");
  const std::string b = scratch_.Video("VID_B.MP4", "--size 640x320 --seconds 4");
  const std::string c = scratch_.Photo("IMG_C.JPG", "--size 1920x960");
  EXPECT_FALSE(List()->isVisible()) << "one file shows no queue";
  const int single_height = dlg_->height();
  Drop({a, b, c});
  ASSERT_TRUE(dlg_->queue_shown());
  EXPECT_TRUE(List()->isVisible());
  EXPECT_EQ(dlg_->height(), single_height + CCompositeDlg::kQueueHeight);
  ASSERT_EQ(List()->ItemCount(), 3);
  EXPECT_EQ(List()->ItemText(1, 0), "VID_B.MP4");
  EXPECT_EQ(List()->ItemText(1, 1), "VID_B_spherolux_0.mp4");
  EXPECT_EQ(List()->ItemText(1, 2), "Waiting");

  // A: High in H.265, turned by 90 degrees.
  ClickRow(0);
  static_cast<QComboBox*>(dlg_->control(CCompositeDlg::kQualityList))->setCurrentIndex(2);
  auto* codec = static_cast<QComboBox*>(dlg_->control(CCompositeDlg::kCodecList));
  EXPECT_EQ(codec->currentText(), "H.264") << "the default";
  codec->setCurrentIndex(1);
  Click(*dlg_, CCompositeDlg::kRadio90);
  ASSERT_TRUE(WaitUntil([&] { return dlg_->queue().entry(0).rotation == 90; }));  // the radio posts its choice
  // B: Low, its first half (the high thumb dragged to 50 %).
  ClickRow(1);
  EXPECT_EQ(dlg_->model().rotation(), 0) << "the controls show B's own settings";
  EXPECT_EQ(codec->currentText(), "H.264");
  static_cast<QComboBox*>(dlg_->control(CCompositeDlg::kQualityList))->setCurrentIndex(0);
  CRangeSlider* slider = dlg_->preview()->rangeSlider();
  testing::DragThumb(slider, slider->model().PixelOf(100) + 4, slider->model().PixelOf(50) + 4);
  ASSERT_TRUE(WaitUntil([&] { return dlg_->queue().entry(1).high == 50; }));
  // C: turned by 180 degrees.
  ClickRow(2);
  Click(*dlg_, CCompositeDlg::kRotate180);
  // Back on A, its settings are shown again, its range too.
  ClickRow(0);
  EXPECT_EQ(static_cast<QComboBox*>(dlg_->control(CCompositeDlg::kQualityList))->currentIndex(), 2);
  EXPECT_EQ(codec->currentText(), "H.265");
  EXPECT_EQ(dlg_->model().rotation(), 90);
  ClickRow(1);
  EXPECT_EQ(dlg_->preview()->range_high(), 50);

  RunQueue();
  const ConverterQueue& q = dlg_->queue();
  for (size_t row = 0; row < 3; ++row) EXPECT_EQ(q.entry(row).state, State::kDone) << q.entry(row).cause;
  EXPECT_EQ(q.entry(0).rotation, 90);
  EXPECT_EQ(q.entry(0).call.high_flag, 1) << "High";
  EXPECT_EQ(q.entry(1).rotation, 0);
  EXPECT_EQ(q.entry(1).call.args.size(), 23u) << "Low";
  EXPECT_EQ(q.entry(2).rotation, 180);
  EXPECT_NEAR(testing::DurationSeconds(Out("VID_A_spherolux_0.mp4")), 2.0, 0.15);
  const auto codec_of = [&](const std::string& name) {
    return testsupport::Shell("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 '" +
                              Out(name) + "'")
        .substr(0, 4);
  };
  EXPECT_EQ(codec_of("VID_A_spherolux_0.mp4"), "hevc");
  EXPECT_EQ(codec_of("VID_B_spherolux_0.mp4"), "h264");
  EXPECT_NEAR(testing::DurationSeconds(Out("VID_B_spherolux_0.mp4")), 2.0, 0.15) << "half of B";
  EXPECT_EQ(SphericalVideoFlag(Out("VID_B_spherolux_0.mp4").c_str()), 1);
  EXPECT_EQ(IsStitchedPhoto(Out("IMG_C_spherolux_0.jpg").c_str()), 1);
  EXPECT_EQ(List()->ItemText(2, 2), "Done");
  ASSERT_EQ(boxes.texts.size(), 1u) << "one summary for the queue";
  EXPECT_EQ(boxes.texts[0], "3 of 3 files were converted.\n\nDo you want to open the output directory?");
  EXPECT_EQ(boxes.captions[0], "Finish");
  EXPECT_FALSE(Enabled(*dlg_, CCompositeDlg::kStart)) << "nothing left to run";
}

TEST_F(ConverterQueueGuiTest, WaitingJobsAreReorderedAndRemoved) {
  BoxAnswerer boxes(ui::kIdCancel);
  const std::string a = scratch_.Photo("IMG_A.JPG", "--size 1920x960");
  const std::string b = scratch_.Photo("IMG_B.JPG", "--size 1920x960");
  const std::string c = scratch_.Photo("IMG_C.JPG", "--size 1920x960");
  dlg_->ChooseFiles({a, b, c});
  ClickRow(2);
  EXPECT_FALSE(Enabled(*dlg_, CCompositeDlg::kQueueDown)) << "the last row";
  Click(*dlg_, CCompositeDlg::kQueueUp);
  EXPECT_EQ(dlg_->selected_job(), 1) << "the moved job stays selected";
  EXPECT_EQ(List()->ItemText(1, 0), "IMG_C.JPG");
  Click(*dlg_, CCompositeDlg::kQueueUp);
  EXPECT_EQ(List()->ItemText(0, 0), "IMG_C.JPG");
  EXPECT_FALSE(Enabled(*dlg_, CCompositeDlg::kQueueUp)) << "the first row";
  ClickRow(2);
  ASSERT_EQ(List()->ItemText(2, 0), "IMG_B.JPG");
  Click(*dlg_, CCompositeDlg::kQueueRemove);
  ASSERT_EQ(List()->ItemCount(), 2);
  EXPECT_EQ(List()->ItemText(0, 0), "IMG_C.JPG");
  EXPECT_EQ(List()->ItemText(1, 0), "IMG_A.JPG");

  // The first job runs first, and a running job can be neither removed nor passed (its end
  // is reported through the event loop, which has not run yet).
  Click(*dlg_, CCompositeDlg::kStart);
  PressRow(0);
  ASSERT_EQ(dlg_->selected_job(), 0);
  EXPECT_EQ(dlg_->queue().entry(0).state, State::kRunning);
  EXPECT_FALSE(Enabled(*dlg_, CCompositeDlg::kQueueRemove));
  EXPECT_FALSE(Enabled(*dlg_, CCompositeDlg::kQueueDown));
  EXPECT_FALSE(Enabled(*dlg_, CCompositeDlg::kRotate90)) << "its settings are fixed";
  EXPECT_TRUE(Enabled(*dlg_, CCompositeDlg::kOpen)) << "files can be added meanwhile";
  ASSERT_TRUE(WaitUntil([&] { return !dlg_->queue().running() && !dlg_->busy(); }, 120000));
  ASSERT_TRUE(fs::exists(Out("IMG_C_spherolux_0.jpg")));
  ASSERT_TRUE(fs::exists(Out("IMG_A_spherolux_0.jpg")));
  EXPECT_LE(fs::last_write_time(Out("IMG_C_spherolux_0.jpg")), fs::last_write_time(Out("IMG_A_spherolux_0.jpg")));
  EXPECT_FALSE(fs::exists(Out("IMG_B_spherolux_0.jpg"))) << "removed";
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0].rfind("2 of 2 files were converted.", 0), 0u) << boxes.texts[0];
}

// Stop ends the running job and the queue goes on; Stop all ends the queue: nothing of the
// stopped jobs is left and no other job starts.
TEST_F(ConverterQueueGuiTest, StopEndsOneJobAndStopAllTheQueueLeavingNoPartialFile) {
  BoxAnswerer boxes(ui::kIdCancel);
  const std::string a = scratch_.Video("long_a.mp4", "--size 1920x960 --seconds 12 --no-audio");
  const std::string b = scratch_.Video("long_b.mp4", "--size 1920x960 --seconds 12 --no-audio");
  const std::string c = scratch_.Photo("IMG_0010.JPG", "--size 1920x960");
  dlg_->ChooseFiles({a, b, c});
  Click(*dlg_, CCompositeDlg::kStart);
  EXPECT_TRUE(Enabled(*dlg_, CCompositeDlg::kQueueStopAll));
  ASSERT_TRUE(WaitUntil([&] { return dlg_->queue().entry(0).percent > 0; }, 60000));
  EXPECT_EQ(List()->ItemText(0, 2).left(11), "Converting ");
  testing::KeepScreenShot(dlg_.get(), "converter-queue-running");
  Click(*dlg_, CCompositeDlg::kStop);
  ASSERT_TRUE(WaitUntil([&] { return dlg_->queue().entry(1).percent > 0; }, 60000)) << "the queue goes on";
  EXPECT_EQ(dlg_->queue().entry(0).state, State::kStopped);
  EXPECT_EQ(List()->ItemText(0, 2), "Stopped");
  Click(*dlg_, CCompositeDlg::kQueueStopAll);
  ASSERT_TRUE(WaitUntil([&] { return !dlg_->queue().running() && !dlg_->busy(); }));
  testing::Pump(300);
  EXPECT_EQ(dlg_->queue().entry(1).state, State::kStopped);
  EXPECT_EQ(dlg_->queue().entry(2).state, State::kWaiting) << "the next did not start";
  std::error_code ec;
  EXPECT_TRUE(fs::is_empty(scratch_.OutputDir(), ec)) << "no file, no temporary";
  EXPECT_TRUE(boxes.texts.empty()) << "a queue that was stopped has no summary";
  EXPECT_TRUE(Enabled(*dlg_, CCompositeDlg::kStart));
  EXPECT_FALSE(Enabled(*dlg_, CCompositeDlg::kStop));
  EXPECT_FALSE(Enabled(*dlg_, CCompositeDlg::kQueueStopAll));
}

TEST_F(ConverterQueueGuiTest, TheSummaryCountsAFailedJobWithItsCause) {
  BoxAnswerer boxes(ui::kIdCancel);
  const std::string plain = scratch_.Video("plain.mp4", "--no-block --size 320x240 --seconds 1 --no-audio");
  const std::string photo = scratch_.Photo("IMG_0009.JPG", "--size 1920x960");
  dlg_->ChooseFiles({plain, photo});
  testing::Pump(300);
  boxes.texts.clear();  // the preview's own refusal of the plain video
  RunQueue();
  EXPECT_EQ(dlg_->queue().entry(0).state, State::kFailed);
  EXPECT_EQ(List()->ItemText(0, 2), "Failed: This file is not captured by a qualified camera!");
  EXPECT_EQ(dlg_->queue().entry(1).state, State::kDone);
  EXPECT_TRUE(fs::exists(Out("IMG_0009_spherolux_0.jpg")));
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0],
            "1 of 2 files were converted.\n\nNot converted:\nplain.mp4: This file is not captured by a qualified "
            "camera!\n\nDo you want to open the output directory?");
  // Start runs the failed job again.
  EXPECT_TRUE(Enabled(*dlg_, CCompositeDlg::kStart));
  testing::KeepScreenShot(dlg_.get(), "converter-queue-ended");
}

}  // namespace
}  // namespace spherolux::dialogs
