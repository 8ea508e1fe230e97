// The converter's jobs on the conversion service, under Xvfb with the real photo pipeline:
// the window keeps serving its events while a photo is stitched.
#include <gtest/gtest.h>

#include <QTimer>
#include <filesystem>

#include "calib/stitch_state.h"
#include "dialogs/composite_dlg.h"
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

}  // namespace
}  // namespace spherolux::dialogs
