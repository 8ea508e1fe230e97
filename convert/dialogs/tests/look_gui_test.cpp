// How the dialogs look, in English and in Chinese: every text fits its control, and with
// SPHEROLUX_SHOTS=DIR each dialog is written to DIR as a PNG to be looked at.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionComboBox>

#include "dialogs/composite_dlg.h"
#include "dialogs/multi_composite_dlg.h"
#include "dialogs/transcode_preview_dlg.h"
#include "dialogs/upload_dlg.h"
#include "gui_support.h"
#include "media/media_player.h"
#include "media/video_control.h"
#include "ui/button_ex.h"
#include "ui/list_ctrl.h"
#include "ui/strings.h"

namespace spherolux::dialogs {
namespace {

using testing::WaitUntil;

// Texts of labels and buttons that do not fit their control, as "text (needs N, has M)".
std::vector<std::string> ClippedTexts(QWidget* root) {
  std::vector<std::string> clipped;
  auto check = [&](QWidget* w, const QString& text, int room) {
    if (!w->isVisible() || text.isEmpty()) return;
    const int needs = QFontMetrics(w->font()).horizontalAdvance(text);
    if (needs > room) {
      clipped.push_back(text.toStdString() + " (needs " + std::to_string(needs) + ", has " + std::to_string(room) +
                        ")");
    }
  };
  for (QLabel* label : root->findChildren<QLabel*>()) {
    if (!label->wordWrap()) check(label, label->text(), label->contentsRect().width());
  }
  for (ui::CButtonEx* button : root->findChildren<ui::CButtonEx*>()) check(button, button->text(), button->width() - 8);
  for (QRadioButton* radio : root->findChildren<QRadioButton*>()) check(radio, radio->text(), radio->width() - 24);
  // Every entry of a list box fits the field that shows the chosen one.
  for (QComboBox* combo : root->findChildren<QComboBox*>()) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    const int room =
        combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).width();
    for (int i = 0; i < combo->count(); ++i) check(combo, combo->itemText(i), room);
  }
  return clipped;
}

class LookTest : public ::testing::TestWithParam<ui::Language> {
 protected:
  void SetUp() override { ui::SetUiLanguage(GetParam()); }
  void TearDown() override { ui::SetUiLanguage(ui::Language::kEnglish); }
  std::string Suffix() const { return GetParam() == ui::Language::kChinese ? "-zh" : "-en"; }
  testing::Scratch scratch_;
};

TEST_P(LookTest, TheConverterWithAVideoAndTheUploadShortcuts) {
  const std::string clip = scratch_.Video("VID_0042.MP4", "--size 1920x960 --seconds 4 --no-audio");
  CCompositeDlg dlg(nullptr, scratch_.Options());
  dlg.show();
  testing::KeepScreenShot(&dlg, "converter-empty" + Suffix());
  dlg.ChooseFile(clip);
  ASSERT_TRUE(WaitUntil(
      [&] { return dlg.preview()->player()->state() == media::kStatePaused && !dlg.preview()->model().first_play(); }));
  testing::Pump(500);
  // Paused on the first frame, which stays on the screen.
  EXPECT_GT(testing::LitShare(testing::ScreenShot(dlg.preview()->video())), 0.5);
  EXPECT_EQ(ClippedTexts(&dlg), std::vector<std::string>{});
  // The title's texts are the string table's.
  EXPECT_EQ(dlg.title().toStdString(), ui::LoadString(ui::kStrConverterTitle));
  EXPECT_EQ(static_cast<ui::CButtonEx*>(dlg.control(CCompositeDlg::kStart))->text().toStdString(),
            ui::LoadString(ui::kStrStart));
  testing::KeepScreenShot(&dlg, "converter-video" + Suffix());

  static_cast<ui::CButtonEx*>(dlg.control(CCompositeDlg::kUploadToggle))->click();
  ASSERT_TRUE(dlg.upload()->isVisible());
  EXPECT_EQ(ClippedTexts(dlg.upload()), std::vector<std::string>{});
  testing::Pump(100);
  testing::KeepScreenShot(&dlg, "converter-upload" + Suffix());
  dlg.preview()->player()->Stop();
}

TEST_P(LookTest, TheConverterWithAQueue) {
  const std::string a = scratch_.Video("VID_0042.MP4", "--size 1920x960 --seconds 4 --no-audio");
  const std::string b =
      scratch_.Video("VID_0043_with_a_rather_long_name_from_a_trip.MP4", "--size 640x320 --seconds 2");
  const std::string c = scratch_.Photo("IMG_0044.JPG", "--size 1920x960");
  CCompositeDlg dlg(nullptr, scratch_.Options());
  dlg.show();
  dlg.ChooseFiles({a, b, c});
  ASSERT_TRUE(WaitUntil(
      [&] { return dlg.preview()->player()->state() == media::kStatePaused && !dlg.preview()->model().first_play(); }));
  testing::Pump(300);
  // The queue's buttons and column titles fit (the rest of the window is the test above's).
  for (int id : {CCompositeDlg::kQueueUp, CCompositeDlg::kQueueDown, CCompositeDlg::kQueueRemove,
                 CCompositeDlg::kQueueStopAll}) {
    auto* button = static_cast<ui::CButtonEx*>(dlg.control(id));
    EXPECT_LE(QFontMetrics(button->font()).horizontalAdvance(button->text()), button->width() - 8) << id;
  }
  auto* list = static_cast<ui::CListCtrlCl*>(dlg.control(CCompositeDlg::kQueueList));
  // The three columns are all in view.
  int columns = 0;
  for (int i = 0; i < 3; ++i) {
    columns += list->columnWidth(i);
    const QString title = list->horizontalHeaderItem(i)->text();
    EXPECT_LE(QFontMetrics(list->horizontalHeader()->font()).horizontalAdvance(title) + 16, list->columnWidth(i));
  }
  EXPECT_LE(columns, list->viewport()->width());
  testing::KeepScreenShot(&dlg, "converter-queue" + Suffix());
  dlg.preview()->player()->Stop();
}

TEST_P(LookTest, TheMergerWithItsList) {
  const std::string a = scratch_.Video("20240305142607_merge.mp4", "--no-block --spherical --size 320x160 --seconds 1");
  const std::string b = scratch_.Video("VID_0001_spherolux_0.mp4", "--no-block --spherical --size 320x160 --seconds 1");
  CMultiCompositeDlg merger(nullptr, scratch_.Options());
  merger.show();
  testing::KeepScreenShot(&merger, "merger-empty" + Suffix());
  merger.AddFiles({a, b});
  ASSERT_EQ(merger.list()->ItemCount(), 2);
  testing::Pump(200);
  EXPECT_EQ(ClippedTexts(&merger), std::vector<std::string>{});
  testing::KeepScreenShot(&merger, "merger" + Suffix());
}

INSTANTIATE_TEST_SUITE_P(Languages, LookTest, ::testing::Values(ui::Language::kEnglish, ui::Language::kChinese),
                         [](const auto& info) { return info.param == ui::Language::kChinese ? "Chinese" : "English"; });

}  // namespace
}  // namespace spherolux::dialogs
