// The language dialog: what OK writes and when the program restarts.
#include "app/language_dialog.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QTimer>
#include <filesystem>

#include "platform/messages.h"
#include "testing/message_recorder.h"
#include "ui/button_ex.h"
#include "ui/settings.h"

namespace spherolux::app {
namespace {

namespace fs = std::filesystem;
using testing::MessageRecorder;
using ui::Language;

class LanguageDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "language-dialog-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    file_ = dir_ + "/spherolux/Language.ini";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Opens the dialog for a program running in `current`, picks `item` (-1: none) and presses
  // OK.
  void ChooseAndConfirm(Language current, int item, const std::string& file = {}) {
    CDlgSetLanguage dialog(&owner_, file.empty() ? file_ : file, current, [this] {
      ++restarts_;
      return true;
    });
    dialog.Open();
    preselected_ = dialog.list()->currentIndex();
    dialog.list()->setCurrentIndex(item);
    dialog.findChild<ui::CButtonEx*>("languageOk")->click();
    EXPECT_FALSE(dialog.isVisible()) << "OK always closes the dialog";
  }

  std::string dir_, file_;
  MessageRecorder owner_;
  int restarts_ = 0;
  int preselected_ = -2;
};

TEST_F(LanguageDialogTest, TheListPreselectsTheLanguageInEffect) {
  EXPECT_EQ(CDlgSetLanguage::PreselectedItem(Language::kEnglish), 0);
  EXPECT_EQ(CDlgSetLanguage::PreselectedItem(Language::kChinese), 1);
  EXPECT_EQ(CDlgSetLanguage::PreselectedItem(Language::kOther), -1);
  CDlgSetLanguage dialog(&owner_, file_, Language::kChinese, {});
  EXPECT_EQ(dialog.list()->count(), 2);
  EXPECT_EQ(dialog.list()->itemText(0), "English(United States)");
  EXPECT_EQ(dialog.list()->itemText(1), QString::fromUtf8("中文(简体，中国)"));
  EXPECT_EQ(dialog.size(), CDlgSetLanguage::kSize);
}

TEST_F(LanguageDialogTest, TheSameLanguageNeitherWritesNorRestarts) {
  ChooseAndConfirm(Language::kChinese, 1);
  EXPECT_EQ(preselected_, 1);
  EXPECT_FALSE(fs::exists(file_));
  EXPECT_EQ(restarts_, 0);
  EXPECT_TRUE(owner_.Take().empty());
}

TEST_F(LanguageDialogTest, AnotherLanguageIsStoredAndTheProgramRestarts) {
  ChooseAndConfirm(Language::kEnglish, 1);
  EXPECT_EQ(ui::ReadLanguageFile(file_).value_or(0), ui::kLocaleChinesePrc);
  EXPECT_EQ(restarts_, 1);
  const auto posted = owner_.Take();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].msg, platform::kMsgClose) << "the running instance closes";
}

TEST_F(LanguageDialogTest, OnAnotherSystemLanguageNothingIsPreselected) {
  ChooseAndConfirm(Language::kOther, -1);
  EXPECT_EQ(preselected_, -1);
  EXPECT_FALSE(fs::exists(file_)) << "OK without a choice only closes";
  EXPECT_EQ(restarts_, 0);
  ChooseAndConfirm(Language::kOther, 0);
  EXPECT_EQ(ui::ReadLanguageFile(file_).value_or(0), ui::kLocaleEnglishUs);
  EXPECT_EQ(restarts_, 1);
}

TEST_F(LanguageDialogTest, AFileThatCannotBeWrittenKeepsTheProgramRunning) {
  // The message box that explains it is answered as soon as it shows.
  QTimer::singleShot(0, [] {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  ChooseAndConfirm(Language::kEnglish, 1, "/proc/self/spherolux/Language.ini");
  EXPECT_EQ(restarts_, 0) << "restarting would bring the same language back";
  EXPECT_TRUE(owner_.Take().empty());
}

// The list reads as a drop-down, not as a text field: its right end shows an arrow (dark
// strokes on the white field).
TEST_F(LanguageDialogTest, TheListShowsADropDownArrow) {
  CDlgSetLanguage dialog(&owner_, file_, Language::kEnglish, [] { return false; });
  dialog.Open();
  QComboBox* list = dialog.list();
  QImage image(list->size(), QImage::Format_RGB32);
  list->render(&image);
  int dark = 0;
  for (int y = 3; y < image.height() - 3; ++y) {
    for (int x = image.width() - 20; x < image.width() - 4; ++x) dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
  }
  EXPECT_GE(dark, 6) << "no arrow at the list's right end";
}

}  // namespace
}  // namespace spherolux::app
