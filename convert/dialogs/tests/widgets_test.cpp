// The converter's windows that need no video surface, headless: the range slider under the
// pointer, the upload shortcuts, and the merger with the real engine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>
#include <filesystem>

#include "dialogs/multi_composite_dlg.h"
#include "dialogs/range_slider.h"
#include "dialogs/upload_dlg.h"
#include "gui_support.h"
#include "platform/messages.h"
#include "testing/message_recorder.h"
#include "ui/button_ex.h"
#include "ui/list_ctrl.h"
#include "ui/skin.h"
#include "ui/skinned_dialog.h"

namespace spherolux::dialogs {
namespace {

using spherolux::testing::Message;
using spherolux::testing::MessageRecorder;

void Mouse(QWidget* w, QEvent::Type type, int x, Qt::MouseButtons buttons) {
  const QPointF at(x, w->height() / 2);
  QMouseEvent event(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                    Qt::NoModifier);
  QApplication::sendEvent(w, &event);
}

TEST(RangeSliderWidgetTest, DraggingAThumbTellsTheParentAndPaintsTheSelection) {
  MessageRecorder parent;
  parent.resize(640, 100);
  auto* slider = new CRangeSlider(0, &parent);
  slider->setGeometry(13, 40, 614, 16);
  parent.show();
  const RangeSliderModel& m = slider->model();

  // The high thumb (right of pixel(100) = 601) dragged to pixel(50).
  Mouse(slider, QEvent::MouseButtonPress, 605, Qt::LeftButton);
  Mouse(slider, QEvent::MouseMove, 605 - 601 + m.PixelOf(50), Qt::LeftButton);
  Mouse(slider, QEvent::MouseButtonRelease, 605 - 601 + m.PixelOf(50), Qt::NoButton);
  EXPECT_EQ(slider->high(), 50);
  const Message moved{platform::kMsgRangeSlider, 0, RangeSliderModel::kHighMoved};
  EXPECT_EQ(parent.Take(), (std::vector<Message>{moved, moved}));

  // A click between the thumbs reports its place.
  Mouse(slider, QEvent::MouseButtonPress, m.PixelOf(20), Qt::LeftButton);
  Mouse(slider, QEvent::MouseButtonRelease, m.PixelOf(20), Qt::NoButton);
  EXPECT_EQ(slider->clicked(), 20);
  EXPECT_EQ(parent.Take(), (std::vector<Message>{{platform::kMsgRangeSlider, 0, RangeSliderModel::kClicked}}));

  // What is drawn: the selection in the accent colour between the thumbs, the track beyond
  // the high thumb, and the high thumb right of its value.
  const QImage image = slider->grab().toImage();
  const QColor selection = image.pixelColor(m.PixelOf(25), 8);
  const QColor beyond = image.pixelColor(m.PixelOf(75), 8);
  EXPECT_EQ(selection.rgb(), QColor(ui::skin_color::kAccent).rgb());
  EXPECT_NE(beyond.rgb(), QColor(ui::skin_color::kAccent).rgb());
  EXPECT_GT(beyond.alpha(), 0);
  const QColor thumb = image.pixelColor(m.PixelOf(50) + CRangeSlider::kThumbWidth / 2, 3);
  EXPECT_GT(thumb.blue(), thumb.red() + 60) << "the blue thumb right of the high value";

  // A disabled slider is deaf to the pointer.
  slider->setEnabled(false);
  Mouse(slider, QEvent::MouseButtonPress, 605 - 601 + m.PixelOf(50), Qt::LeftButton);
  Mouse(slider, QEvent::MouseMove, m.PixelOf(90), Qt::LeftButton);
  Mouse(slider, QEvent::MouseButtonRelease, m.PixelOf(90), Qt::NoButton);
  EXPECT_EQ(slider->high(), 50);
  EXPECT_TRUE(parent.Take().empty());
}

// Receives the pages the upload shortcuts open, as the desktop's browser would.
class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  std::vector<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }
};

TEST(UploadDlgTest, EachVisibleServiceOpensItsUploadPageAndHidesTheWindow) {
  MessageRecorder converter;
  converter.resize(660, 640);
  auto* upload = new CUploadDlg(&converter);
  converter.show();
  EXPECT_TRUE(upload->isHidden());
  upload->Toggle();
  EXPECT_TRUE(upload->isVisible());
  EXPECT_EQ(upload->size(), CUploadDlg::kSize);

  UrlCatcher catcher;
  // openUrl hands https pages to the catcher instead of the desktop's browser.
  QDesktopServices::setUrlHandler("https", &catcher, "Open");
  int shown = 0;
  for (const UploadService& service : UploadServices()) {
    auto* button = upload->findChild<ui::CButtonEx*>(QString("upload%1").arg(service.control_id));
    if (button == nullptr) {
      ADD_FAILURE() << service.name << " has no button";
      continue;
    }
    if (upload->isHidden()) upload->Toggle();
    EXPECT_EQ(button->isVisible(), service.visible) << service.name;
    if (!service.visible) continue;
    ++shown;
    button->click();
    EXPECT_TRUE(upload->isHidden()) << service.name;
  }
  QDesktopServices::unsetUrlHandler("https");
  EXPECT_EQ(shown, 2);
  ASSERT_EQ(catcher.opened.size(), 2u);
  EXPECT_EQ(catcher.opened[0].host(), "www.youtube.com");
  EXPECT_EQ(catcher.opened[1].host(), "www.facebook.com");
}

TEST(MergerDlgTest, StitchedClipsAreListedMergedAndNeverOverwritten) {
  dialogs::testing::Scratch scratch;
  dialogs::testing::BoxAnswerer boxes(ui::kIdOk);
  const std::string stitched = "--no-block --spherical --size 320x160 --seconds ";
  const std::string a = scratch.Video("a.mp4", stitched + "1");
  const std::string b = scratch.Video("b.mp4", stitched + "2");
  const std::string camera = scratch.Video("camera.mp4", "--size 320x160 --seconds 1");
  CMultiCompositeDlg merger(nullptr, scratch.Options());
  merger.show();
  EXPECT_FALSE(merger.button(CMultiCompositeDlg::kStart)->isEnabled());

  // The camera file is refused by its path; the others are listed in order.
  merger.AddFiles({a, camera, b});
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_EQ(boxes.texts[0], "This file is not yet stitched, please stitch firstly!\nFile Path: " + camera);
  ui::CListCtrlCl* list = merger.list();
  ASSERT_EQ(list->ItemCount(), 2);
  EXPECT_EQ(list->ItemText(0, 0), "001");
  EXPECT_EQ(list->ItemText(1, 1).toStdString(), b);
  EXPECT_TRUE(merger.button(CMultiCompositeDlg::kStart)->isEnabled());

  // Two merges in a row: two files, each as long as its inputs together.
  merger.Merge();
  const std::string first = merger.last_output();
  merger.Merge();
  const std::string second = merger.last_output();
  EXPECT_NE(first, second);
  for (const std::string& out : {first, second}) {
    EXPECT_EQ(std::filesystem::path(out).parent_path(), std::filesystem::path(scratch.OutputDir()).parent_path());
    EXPECT_NEAR(testing::DurationSeconds(out), 3.0, 0.15) << out;
  }
  ASSERT_EQ(boxes.texts.size(), 3u);
  EXPECT_EQ(boxes.texts[1], "Merge file saved in: " + first);
  EXPECT_EQ(boxes.captions[1], "Finish");

  // Five rows; deleting the second and third renumbers the rest 001-003.
  merger.AddFiles({a, b, a});
  ASSERT_EQ(list->ItemCount(), 5);
  merger.DeleteSelected();
  EXPECT_EQ(boxes.texts.back(), "Please select Files!");
  list->selectRow(1);
  list->selectionModel()->select(list->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  merger.DeleteSelected();
  ASSERT_EQ(list->ItemCount(), 3);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(list->ItemText(row, 0), QString("%1").arg(row + 1, 3, 10, QChar('0')));
  EXPECT_EQ(merger.model().files(), (std::vector<std::string>{a, b, a}));
}

TEST(MergerDlgTest, AMergeTheEngineRefusesIsReportedAsFailed) {
  dialogs::testing::Scratch scratch;
  dialogs::testing::BoxAnswerer boxes(ui::kIdOk);
  // Pictures of two sizes cannot be joined by stream copy.
  const std::string small = scratch.Video("small.mp4", "--no-block --spherical --size 320x160 --seconds 1");
  const std::string large = scratch.Video("large.mp4", "--no-block --spherical --size 640x320 --seconds 1");
  CMultiCompositeDlg merger(nullptr, scratch.Options());
  merger.show();
  merger.AddFiles({small, large});
  EXPECT_NE(merger.Merge(), 0);
  ASSERT_FALSE(boxes.texts.empty());
  EXPECT_TRUE(boxes.texts.back().starts_with("Merge file failed!")) << boxes.texts.back();
  EXPECT_NE(boxes.texts.back().find("differ"), std::string::npos) << "the cause is told: " << boxes.texts.back();
  EXPECT_TRUE(merger.last_output().empty());
  std::error_code ec;
  EXPECT_TRUE(std::filesystem::is_empty(scratch.OutputDir(), ec)) << "nothing left behind";
}

// The button of `parent` with the caption `text` (null without one).
ui::CButtonEx* ButtonCaptioned(QWidget* parent, const QString& text) {
  for (auto* button : parent->findChildren<ui::CButtonEx*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

// The merger's list once could not be reordered, and an empty one said nothing of what to do.
TEST(MergerDlgTest, TheEmptyListSaysWhatToDoAndUpAndDownReorderTheClips) {
  dialogs::testing::Scratch scratch;
  dialogs::testing::BoxAnswerer boxes(ui::kIdOk);
  const std::string stitched = "--no-block --spherical --size 320x160 --seconds 1";
  const std::string a = scratch.Video("a.mp4", stitched);
  const std::string b = scratch.Video("b.mp4", stitched);
  const std::string c = scratch.Video("c.mp4", stitched);
  CMultiCompositeDlg merger(nullptr, scratch.Options());
  merger.show();
  const auto* hint = merger.findChild<QLabel*>("emptyHint");
  ASSERT_NE(hint, nullptr);
  EXPECT_TRUE(hint->isVisible());
  EXPECT_EQ(hint->text(), "Add stitched videos with Add; they are merged in the order of this list.");
  // It has room for its text, inside the list.
  dialogs::testing::Pump(50);
  EXPECT_GE(hint->width(), hint->fontMetrics().horizontalAdvance(hint->text()));
  EXPECT_TRUE(merger.list()->viewport()->rect().contains(hint->geometry()));
  ui::CButtonEx* up = ButtonCaptioned(&merger, "Up");
  ui::CButtonEx* down = ButtonCaptioned(&merger, "Down");
  ASSERT_NE(up, nullptr);
  ASSERT_NE(down, nullptr);

  merger.AddFiles({a, b, c});
  EXPECT_FALSE(hint->isVisible());
  ui::CListCtrlCl* list = merger.list();
  up->click();
  EXPECT_EQ(boxes.texts.back(), "Please select Files!");
  EXPECT_EQ(merger.model().files(), (std::vector<std::string>{a, b, c}));

  // The last clip goes up twice and then stays on top, selected all the way.
  list->selectRow(2);
  for (int i = 0; i < 3; ++i) up->click();
  EXPECT_EQ(merger.model().files(), (std::vector<std::string>{c, a, b}));
  EXPECT_EQ(list->SelectedRows(), std::vector<int>{0});
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(list->ItemText(row, 0), QString("%1").arg(row + 1, 3, 10, QChar('0')));
    EXPECT_EQ(list->ItemText(row, 1).toStdString(), merger.model().files()[row]);
  }
  // Two rows down: the one at the bottom stays, the other moves down next to it.
  list->selectionModel()->select(list->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  down->click();
  EXPECT_EQ(merger.model().files(), (std::vector<std::string>{a, c, b}));
  EXPECT_EQ(list->SelectedRows(), (std::vector<int>{1, 2}));

  // An emptied list says it again.
  list->selectAll();
  merger.DeleteSelected();
  EXPECT_TRUE(hint->isVisible());
}

}  // namespace
}  // namespace spherolux::dialogs

#include "widgets_test.moc"
