// The small windows of the converter, headless: the range slider under the pointer and the
// upload shortcuts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QMouseEvent>
#include <QUrl>

#include "dialogs/range_slider.h"
#include "dialogs/upload_dlg.h"
#include "platform/messages.h"
#include "testing/message_recorder.h"
#include "ui/button_ex.h"
#include "ui/skin.h"

namespace spherolux::dialogs {
namespace {

using testing::Message;
using testing::MessageRecorder;

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

}  // namespace
}  // namespace spherolux::dialogs

#include "widgets_test.moc"
