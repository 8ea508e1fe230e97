// The skin and the skinned controls, headless.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include "testing/message_recorder.h"
#include "ui/button_ex.h"
#include "ui/color_matrix.h"
#include "ui/list_ctrl.h"
#include "ui/menu.h"
#include "ui/skin.h"
#include "ui/skinned_dialog.h"
#include "ui/slider_ex.h"
#include "ui/strings.h"
#include "ui/tooltip.h"

namespace spherolux::ui {
namespace {

using testing::Message;
using testing::MessageRecorder;
using testing::PumpUntil;

void Mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
  QMouseEvent event(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &event);
}

QImage Grab(QWidget* w) {
  QImage image(w->size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  w->render(&image);
  return image;
}

// Every id the table names must find its art: a misspelt file name shows as a missing icon.
TEST(SkinTest, EveryImageIdRendersAtItsNaturalSize) {
  int ids = 0;
  for (int id = 1; id < 1000; ++id) {
    const QSize size = SkinImageSize(id);
    if (size.isEmpty()) continue;
    ++ids;
    const QImage image = LoadSkinImage(id);
    ASSERT_FALSE(image.isNull()) << "image " << id << " has no art";
    EXPECT_EQ(image.size(), size) << id;
    // Something is drawn: not every pixel transparent.
    bool any = false;
    for (int y = 0; y < image.height() && !any; ++y) {
      for (int x = 0; x < image.width() && !any; ++x) any = qAlpha(image.pixel(x, y)) > 0;
    }
    EXPECT_TRUE(any) << "image " << id << " is empty";
  }
  EXPECT_GT(ids, 130);
  // The ids the shared dialogs and bars name.
  for (int id : {132, 147, 158, 176, 188, 189, 190, 294, 344, 348, 349, 350, 412, 417,
                 418, 420, 434, 435, 436, 450, 452, 453, 461, 467, 468, 469, 470}) {
    EXPECT_FALSE(SkinImageSize(id).isEmpty()) << id;
  }
  EXPECT_TRUE(LoadSkinImage(999).isNull());
}

TEST(SkinTest, ImagesScaleToTheDevicePixelRatioAndSlicesKeepTheirCaps) {
  const QImage sharp = LoadSkinImage(kImgClose, {}, 2.0);
  EXPECT_EQ(sharp.size(), QSize(60, 60));
  EXPECT_DOUBLE_EQ(sharp.devicePixelRatio(), 2.0);
  // A three-slice track stretched to 300 pixels: opaque along the whole middle row, and the
  // rounded caps leave the corners clear.
  QImage canvas(300, 4, QImage::Format_ARGB32_Premultiplied);
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  ASSERT_TRUE(DrawSkinImage(painter, canvas.rect(), kImgTrack));
  painter.end();
  for (int x = 2; x < 298; ++x) ASSERT_GT(qAlpha(canvas.pixel(x, 2)), 200) << x;
  EXPECT_LT(qAlpha(canvas.pixel(0, 0)), 128);
  EXPECT_LT(qAlpha(canvas.pixel(299, 0)), 128);
}

TEST(SkinTest, TheColourAdjustmentReachesEveryDrawnImage) {
  QImage plain(40, 40, QImage::Format_ARGB32_Premultiplied), grey = plain;
  plain.fill(Qt::black);
  grey.fill(Qt::black);
  QPainter(&plain).end();
  {
    QPainter painter(&plain);
    DrawSkinImage(painter, QRect(0, 0, 40, 40), kImgPlay);
  }
  SetSkinColor({0.0f, 0, 0, 0});
  {
    QPainter painter(&grey);
    DrawSkinImage(painter, QRect(0, 0, 40, 40), kImgPlay);
  }
  SetSkinColor({});
  const QColor blue = plain.pixelColor(20, 5), washed = grey.pixelColor(20, 5);
  EXPECT_GT(blue.blue() - blue.red(), 100) << "the play disc is blue";
  EXPECT_LT(std::abs(washed.blue() - washed.red()), 3) << "saturation 0 turns it grey";
}

// A slider dragged through every width kept one rendered image per width for good.
TEST(SkinTest, TheImageCacheStaysBoundedAndKeepsWhatIsInUse) {
  const QImage first = LoadSkinImage(kImgLogo, QSize(40, 40));
  for (int width = 1; width <= 1200; ++width) {
    LoadSkinImage(kImgLogo, QSize(40, 40));  // in use all along
    LoadSkinImage(kImgMenuBackground, QSize(width, 25));
  }
  EXPECT_LE(SkinImageCacheSize(), kSkinImageCacheEntries);
  EXPECT_GE(SkinImageCacheSize(), kSkinImageCacheEntries / 2) << "the cache still serves";
  EXPECT_EQ(LoadSkinImage(kImgLogo, QSize(40, 40)).cacheKey(), first.cacheKey()) << "an image in use is kept";
}

TEST(ButtonTest, StateImagesFollowTheRules) {
  MessageRecorder bar;
  CButtonEx button(1048, &bar);
  button.SetImages({kImgClose, kImgCloseHover, kImgClosePressed, kImgStopDisabled, 0, {}});
  EXPECT_EQ(button.size(), QSize(30, 30)) << "the button takes the normal image's size";
  EXPECT_EQ(button.CurrentImage(), kImgClose);
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(&button, &enter);
  EXPECT_EQ(button.CurrentImage(), kImgCloseHover);
  button.setDown(true);
  EXPECT_EQ(button.CurrentImage(), kImgClosePressed) << "pressed wins over hover";
  button.setDown(false);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&button, &leave);
  EXPECT_EQ(button.CurrentImage(), kImgClose);
  button.setEnabled(false);
  EXPECT_EQ(button.CurrentImage(), kImgStopDisabled);
  button.setEnabled(true);
  button.SetActiveImage(kImgFlatActive);
  button.SetActive(true);
  EXPECT_EQ(button.CurrentImage(), kImgFlatActive);
}

TEST(ButtonTest, AButtonWithoutImagesDrawsItsBackgroundAndStillSendsItsCommand) {
  MessageRecorder bar;
  bar.resize(100, 40);
  CButtonEx button(1066, &bar);
  button.SetImages({900, 901, 902, 0, 0, {}});  // ids without art
  button.SetFallbackBackground(QColor(10, 200, 30));
  button.resize(30, 30);
  const QImage image = Grab(&button);
  EXPECT_EQ(image.pixelColor(15, 15), QColor(10, 200, 30));
  button.click();
  ASSERT_EQ(bar.received.size(), 1u) << "the command is sent, not posted";
  EXPECT_EQ(bar.received[0], (Message{kWmCommand, 1066, 0}));
}

TEST(ButtonTest, TheBackgroundIsThePartOfTheStripUnderTheButton) {
  MessageRecorder bar;
  CButtonEx button(1, &bar);
  button.SetImages({0, 0, 0, 0, kImgCaptionStrip, QPoint(100, 0)});
  button.resize(30, 30);
  const QImage image = Grab(&button);
  const QImage strip = LoadSkinImage(kImgCaptionStrip);
  EXPECT_EQ(image.pixel(3, 0), strip.pixel(103, 0));
  EXPECT_EQ(image.pixel(3, 29), strip.pixel(103, 29)) << "the strip's bottom line shows";
}

TEST(ButtonTest, TheTooltipWaitsTwoSecondsOfHovering) {
  MessageRecorder bar;
  bar.resize(200, 100);
  bar.show();
  CButtonEx button(1, &bar);
  button.SetImages({kImgClose, kImgHover, kImgClosePressed, 0, 0, {}});
  button.SetTooltipText("Close");
  button.show();
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), button.mapToGlobal(QPointF(5, 5)));
  QApplication::sendEvent(&button, &enter);
  // The delay is the button's own (not the style's), and nothing shows before it runs out.
  EXPECT_TRUE(button.tooltipTimer().isActive());
  EXPECT_EQ(button.tooltipTimer().interval(), CButtonEx::kTooltipDelayMs);
  EXPECT_TRUE(button.tooltipTimer().isSingleShot());
  EXPECT_EQ(ShownTooltip(), nullptr);
  QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button.mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(&button, &help);
  EXPECT_EQ(ShownTooltip(), nullptr) << "the style's quicker tooltip is not used";
  ASSERT_TRUE(PumpUntil([] { return ShownTooltip() != nullptr; }, 10000));
  EXPECT_EQ(static_cast<QLabel*>(ShownTooltip())->text(), "Close");
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&button, &leave);
  EXPECT_FALSE(button.tooltipTimer().isActive());
  EXPECT_TRUE(PumpUntil([] { return ShownTooltip() == nullptr; }, 5000)) << "leaving hides the tooltip";
}

// Tooltips look like the bars and stay beside their control: near the screen's bottom right a
// button's tip goes above it, wholly on the screen and clear of the pointer resting on it. A
// widget's plain toolTip() shows the same way.
TEST(ButtonTest, TooltipsAreSkinnedAndStayOnTheScreenBesideTheirControl) {
  InstallSkinnedTooltips();
  const QRect screen = QApplication::primaryScreen()->geometry();
  QWidget corner(nullptr, Qt::FramelessWindowHint);
  corner.setGeometry(screen.right() - 39, screen.bottom() - 29, 40, 30);
  CButtonEx button(1, &corner);
  button.SetImages({kImgClose, kImgHover, kImgClosePressed, 0, 0, {}});
  button.SetTooltipText("A tooltip that is much wider than the button it explains");
  button.setGeometry(0, 0, 40, 30);
  corner.show();
  const QPoint pointer = button.mapToGlobal(QPoint(20, 15));
  QCursor::setPos(pointer);
  QEnterEvent enter(QPointF(20, 15), QPointF(20, 15), QPointF(pointer));
  QApplication::sendEvent(&button, &enter);
  ASSERT_TRUE(PumpUntil([] { return ShownTooltip() != nullptr; }, 10000));
  const QRect tip = ShownTooltip()->geometry();
  EXPECT_TRUE(screen.contains(tip)) << tip.x() << "," << tip.y() << " " << tip.width() << "x" << tip.height();
  EXPECT_FALSE(tip.contains(pointer));
  EXPECT_FALSE(tip.intersects(QRect(button.mapToGlobal(QPoint(0, 0)), button.size())));
  EXPECT_EQ(Grab(ShownTooltip()).pixel(tip.width() / 2, 2), 0xFF2B3038u) << "the caption strip's colour";
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&button, &leave);
  EXPECT_EQ(ShownTooltip(), nullptr);

  QLabel plain("label", &corner);
  plain.setToolTip("plain");
  plain.show();
  QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), plain.mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(&plain, &help);
  ASSERT_NE(ShownTooltip(), nullptr) << "a plain toolTip() shows the skinned tooltip";
  EXPECT_EQ(static_cast<QLabel*>(ShownTooltip())->text(), "plain");
  HideTooltip();
}

class SliderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bar_.resize(400, 40);
    slider_ = new CSliderCtrlEx(1069, &bar_);
    slider_->setGeometry(0, 0, 214, 16);  // channel 7 .. 207, 200 pixels
    slider_->SetRange(0, 100);
  }
  std::vector<Message> Scrolls() { return bar_.Take(); }
  static Message Scroll(unsigned code, int position) {
    return {platform::kWmHScroll, platform::MakeWParam(code, position), 1069};
  }

  MessageRecorder bar_;
  CSliderCtrlEx* slider_ = nullptr;
};

TEST_F(SliderTest, APressJumpsToTheClickedPlaceAndReportsTrackThenPosition) {
  ASSERT_EQ(slider_->ChannelRect().left(), 7);
  ASSERT_EQ(slider_->ChannelRect().width(), 200);
  Mouse(slider_, QEvent::MouseButtonPress, {107, 8});  // f = 0.5
  EXPECT_EQ(slider_->pos(), 50);
  Mouse(slider_, QEvent::MouseButtonRelease, {107, 8});
  EXPECT_EQ(Scrolls(),
            (std::vector<Message>{Scroll(platform::kSbThumbTrack, 50), Scroll(platform::kSbThumbPosition, 50)}));
}

TEST_F(SliderTest, DraggingPastTheEndsClampsAndEachChangeIsReported) {
  Mouse(slider_, QEvent::MouseButtonPress, {7, 8});  // the left end: the range minimum
  EXPECT_EQ(slider_->pos(), 0);
  Mouse(slider_, QEvent::MouseMove, {-40, 8});  // no change: nothing posted
  Mouse(slider_, QEvent::MouseMove, {500, 8});
  EXPECT_EQ(slider_->pos(), 100);
  EXPECT_EQ(slider_->hoverX(), 214) << "the hover marker is clamped to the width";
  Mouse(slider_, QEvent::MouseButtonRelease, {57, 8});
  EXPECT_EQ(slider_->pos(), 25);
  EXPECT_EQ(Scrolls(), (std::vector<Message>{Scroll(platform::kSbThumbTrack, 100), Scroll(platform::kSbThumbTrack, 25),
                                             Scroll(platform::kSbThumbPosition, 25)}));
}

TEST_F(SliderTest, APressThatChangesNothingReportsNothing) {
  slider_->SetPos(50);
  Mouse(slider_, QEvent::MouseButtonPress, {107, 8});
  Mouse(slider_, QEvent::MouseButtonRelease, {107, 8});
  EXPECT_TRUE(Scrolls().empty());
}

TEST_F(SliderTest, TheProgramDoesNotMoveTheThumbFromUnderTheUser) {
  Mouse(slider_, QEvent::MouseButtonPress, {47, 8});
  const int held = slider_->pos();
  slider_->SetPos(90);  // the player reports its position
  EXPECT_EQ(slider_->pos(), held);
  Mouse(slider_, QEvent::MouseButtonRelease, {47, 8});
  slider_->SetPos(90);
  EXPECT_EQ(slider_->pos(), 90);
  slider_->SetPos(250);
  EXPECT_EQ(slider_->pos(), 100) << "positions are kept within the range";
}

TEST(ListTest, RowsAreInsertedDeletedAndSelected) {
  CListCtrlCl list(nullptr);
  list.InsertColumn(0, "Index", 60);
  list.InsertColumn(1, "Input Files", 300);
  for (int i = 0; i < 5; ++i) {
    const int row = list.InsertItem(list.ItemCount(), QString::asprintf("%03d", i + 1));
    list.SetItemText(row, 1, QString("/clips/%1.mp4").arg(i));
  }
  list.DeleteItem(2);
  list.DeleteItem(7);  // no such row: nothing happens
  ASSERT_EQ(list.ItemCount(), 4);
  EXPECT_EQ(list.ItemText(2, 1), "/clips/3.mp4");
  list.selectRow(1);
  list.selectionModel()->select(list.model()->index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_EQ(list.SelectedRows(), (std::vector<int>{1, 3}));
  list.SetRowColors(0, Qt::red, Qt::yellow);
  EXPECT_EQ(list.item(0, 1)->background().color(), QColor(Qt::yellow));
  EXPECT_EQ(list.horizontalHeader()->height(), CHeaderCtrlCl::kHeight);
}

TEST(MenuTest, KeysChooseAnItemAndEscapeChoosesNothing) {
  CMyMenu menu;
  menu.AppendItem(10, "Open");
  menu.AppendSeparator();
  menu.AppendItem(20, "Disabled", 0, {}, false, false);
  menu.AppendItem(30, "Language");
  EXPECT_EQ(menu.ItemRect(0).size(), QSize(CMyMenu::kItemWidth, CMyMenu::kItemHeight));
  EXPECT_EQ(menu.ItemRect(2).top(), 1 + CMyMenu::kItemHeight + CMyMenu::kSeparatorHeight);

  const auto press = [&menu](int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&menu, &event);
  };
  QTimer::singleShot(0, [&] {
    press(Qt::Key_Down);  // Open
    press(Qt::Key_Down);  // skips the separator and the disabled item
    press(Qt::Key_Return);
  });
  EXPECT_EQ(menu.Exec(QPoint(10, 10)), 30);
  QTimer::singleShot(0, [&] { press(Qt::Key_Escape); });
  EXPECT_EQ(menu.Exec(QPoint(10, 10)), 0);
}

// "Open Converter" ran into its shortcut: a wide text makes the menu wider, so that a clear gap
// of dark columns stays between every text and its shortcut, in both languages.
TEST(MenuTest, ATextNeverRunsIntoItsShortcut) {
  for (const Language language : {Language::kEnglish, Language::kChinese}) {
    CMyMenu menu;
    menu.AppendItem(10, QString::fromUtf8(LoadString(kStrOpenConverter, language)), 0, "Ctrl+E");
    menu.AppendItem(20, QString::fromUtf8(LoadString(kStrEngineSnapshot, language)), 0, "Ctrl+Shift+S");
    menu.resize(menu.itemWidth() + 2, 2 * CMyMenu::kItemHeight + 2);
    const QImage image = menu.grab().toImage();
    for (int row = 0; row < 2; ++row) {
      const QRect item = menu.ItemRect(row);
      // Dark columns between the first and the last inked column of the item.
      const auto inked = [&](int x) {
        for (int y = item.top() + 4; y < item.bottom() - 4; ++y) {
          const QRgb p = image.pixel(x, y);
          if (qRed(p) + qGreen(p) + qBlue(p) > 300) return true;
        }
        return false;
      };
      int widest_gap = 0, gap = 0;
      bool seen = false;
      for (int x = item.left() + 30; x < item.right() - 2; ++x) {
        if (inked(x)) {
          if (seen) widest_gap = std::max(widest_gap, gap);
          seen = true;
          gap = 0;
        } else {
          ++gap;
        }
      }
      EXPECT_GE(widest_gap, 10) << "row " << row << " in language " << static_cast<int>(language);
    }
  }
}

TEST(SkinnedDialogTest, TheFrameRunsUnbrokenAboveTheTitleButtons) {
  // Guards against the close and minimise buttons painting over the frame's top line.
  for (const int margin : {6, 10}) {
    SkinnedDialog dialog(nullptr, QSize(300, 120));
    dialog.AddCloseButton(1);
    dialog.AddMinimiseButton(2);
    dialog.SetTitleButtonsMargin(margin);
    const QImage image = Grab(&dialog);
    const QRgb frame = image.pixel(0, 0);
    for (int x = 0; x < image.width(); ++x) ASSERT_EQ(image.pixel(x, 0), frame) << "margin " << margin << ", x " << x;
    for (int y = 0; y < SkinnedDialog::kTitleHeight; ++y) ASSERT_EQ(image.pixel(image.width() - 1, y), frame) << y;
    // The buttons still fill the band below the line, the close button at the margin.
    EXPECT_EQ(dialog.childAt(image.width() - margin - 1, 1), dialog.childAt(image.width() - margin - 15, 28));
    EXPECT_NE(dialog.childAt(image.width() - margin - 1, 1), nullptr);
  }
}

TEST(MessageBoxTest, AnswersComeFromTheButtonsAndKeysInTheUiLanguage) {
  const Language saved = UiLanguage();
  SetUiLanguage(Language::kChinese);
  QString ok_text;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QWidget*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    auto* ok = box->findChild<CButtonEx*>("answer1");
    auto* text = box->findChild<QLabel*>("messageText");
    ASSERT_NE(ok, nullptr);
    ok_text = ok->text();
    EXPECT_EQ(text->text(), "text");
    box->findChild<CButtonEx*>("answer2")->click();
  });
  EXPECT_EQ(MessageBox(nullptr, "text", "", BoxButtons::kOkCancel), kIdCancel);
  EXPECT_EQ(ok_text, LoadString(kStrOk, Language::kChinese));
  SetUiLanguage(saved);

  QTimer::singleShot(0, [] {
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(QApplication::activeModalWidget(), &enter);
  });
  EXPECT_EQ(MessageBox(nullptr, "question", "Finish", BoxButtons::kYesNo, BoxIcon::kQuestion), kIdYes);
  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  EXPECT_EQ(MessageBox(nullptr, "question", "Finish", BoxButtons::kYesNo), kIdNo)
      << "closing the box is the negative answer";
}

// A folder or a link the desktop has no program for (here: no program on PATH, no browser
// named) must not be dropped silently: the user reads why nothing opened, in the UI language.
TEST(MessageBoxTest, ALinkWithoutAProgramToOpenItIsReported) {
  const Language saved = UiLanguage();
  SetUiLanguage(Language::kChinese);
  QTemporaryDir empty;
  const QByteArray path = qgetenv("PATH");
  const QByteArray browser = qgetenv("BROWSER");
  qputenv("PATH", empty.path().toUtf8());
  qunsetenv("BROWSER");
  QString shown;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    shown = box->findChild<QLabel*>("messageText")->text();
    box->close();
  });
  EXPECT_FALSE(OpenExternally(nullptr, QUrl("https://example.invalid/guide")));
  EXPECT_EQ(shown, QString::fromUtf8("系统中没有可打开 https://example.invalid/guide 的程序。"));
  qputenv("PATH", path);
  if (!browser.isEmpty()) qputenv("BROWSER", browser);
  SetUiLanguage(saved);
}

}  // namespace
}  // namespace spherolux::ui
