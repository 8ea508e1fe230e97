// The converter's and the merger's jobs on the conversion service, under Xvfb with the real
// engine and photo pipeline: the window keeps serving its events while a photo is stitched,
// and closing the merger stops its merge.
#include <gtest/gtest.h>

#include <QTimer>
#include <filesystem>

#include "calib/stitch_state.h"
#include "convert/engine.h"
#include "dialogs/composite_dlg.h"
#include "dialogs/multi_composite_dlg.h"
#include "gui_support.h"
#include "ui/button_ex.h"

namespace spherolux::dialogs {
namespace {

TEST(ConverterServiceGuiTest, APhotoIsStitchedWhileTheWindowKeepsServingEvents) {
  testing::Scratch scratch;
  testing::BoxAnswerer boxes(ui::kIdCancel);
  const std::string photo = scratch.Photo("IMG_0003.JPG", "--size 5376x2688");
  CCompositeDlg dlg(nullptr, scratch.Options());
  dlg.show();
  dlg.ChooseFile(photo);
  // A timer of the UI thread counts its turns while the photo is being stitched.
  int turns_while_stitching = 0;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (dlg.model().job() == ConverterModel::Job::kPhoto) ++turns_while_stitching;
  });
  timer.start();
  static_cast<ui::CButtonEx*>(dlg.control(CCompositeDlg::kStart))->click();
  ASSERT_TRUE(
      testing::WaitUntil([&] { return dlg.model().job() == ConverterModel::Job::kNone && !dlg.busy(); }, 120000));
  EXPECT_GE(turns_while_stitching, 5);
  EXPECT_EQ(dlg.last_result(), 0);
  EXPECT_EQ(IsStitchedPhoto(dlg.last_output().c_str()), 1);
  EXPECT_EQ(boxes.texts, (std::vector<std::string>{"Do you want to open the output directory?"}));
}

TEST(MergerServiceGuiTest, ClosingTheMergerStopsItsMergeAndLeavesNoFile) {
  testing::Scratch scratch;
  testing::BoxAnswerer boxes(ui::kIdOk);
  const std::string clip = scratch.Video("long.mp4", "--no-block --spherical --size 640x320 --seconds 60");
  CMultiCompositeDlg merger(nullptr, scratch.Options());
  merger.show();
  merger.AddFiles(std::vector<std::string>(8, clip));
  // The close button, pressed as the merge begins.
  merger.post(ui::kWmCommand, CMultiCompositeDlg::kClose);
  EXPECT_EQ(merger.Merge(), CONVERT_ERR_STOPPED);
  EXPECT_TRUE(merger.last_output().empty());
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(merger.output_dir(), ec))
    EXPECT_EQ(e.path().filename().string().find("_merge"), std::string::npos) << e.path();
  EXPECT_TRUE(boxes.texts.empty()) << "a stopped merge is not reported";
}

}  // namespace
}  // namespace spherolux::dialogs
