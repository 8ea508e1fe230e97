#include "ui/strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace spherolux::ui {
namespace {

// The ids the dialogs of the program look up, with their English texts.
const std::pair<int, const char*> kFixedTexts[] = {
    {104, "Confirm"},
    {106, "Please select language:"},
    {201, "Converter"},
    {202, "Merger"},
    {203, "Upload To"},
    {300, "Open Converter"},
    {301, "Open File"},
    {302, "Failed to create output file."},
    {304, "Finish"},
    {305, "Do you want to open the output directory?"},
    {465, "Open"},
    {466, "Start"},
    {467, "Stop"},
    {468, "Open Dir"},
    {469, "Browse"},
    {470, "Merge"},
    {471, "Please select the rotation:"},
    {472, "Video Quality:"},
    {473, "Output Path:"},
    {474, "Output Name:"},
    {475, "Low"},
    {476, "Medium"},
    {477, "High"},
    {478, "Progress"},
    {479, "Time Left"},
    {480, "The driver of Video Card does not support OpenGL2.0. Do you want to play as non-panoramic video?"},
    {481, "This file is not captured by a qualified camera!"},
    {482, "This file is already stitched!"},
    {483, "OpenGL2.0 is required. Please upgrade the driver of video card!"},
    {484, "Do you want to cancel the stitching?"},
    {485, "Image stitching done"},
    {486, "Image stitching failed"},
    {487, "Output Path does not exist!"},
    {488, "Screenshot saved in"},
    {489, "Please select Files!"},
    {491, "Out of memory!"},
    {493, "Merge file saved in"},
    {494, "Merge file failed!"},
    {495, "This file is not yet stitched, please stitch firstly!"},
    {496, "File Path"},
    {497, "Add"},
    {498, "Delete"},
    {499, "Index"},
    {500, "Input Files"},
    {501, "Screen record saved in"},
    {502, "Select Output Directory"},
};

bool HasNonAscii(const char* text) {
  return std::any_of(text, text + std::char_traits<char>::length(text), [](char c) { return (c & 0x80) != 0; });
}

int CountConversions(const std::string& text) {
  int n = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '%') {
      if (text[i + 1] != '%') ++n;
      ++i;
    }
  }
  return n;
}

TEST(StringTableTest, FixedIdsCarryTheirEnglishTexts) {
  for (const auto& [id, english] : kFixedTexts) {
    EXPECT_STREQ(LoadString(id, Language::kEnglish), english) << "id " << id;
  }
}

TEST(StringTableTest, EveryTextExistsInBothLanguagesWithTheSameFormat) {
  const std::vector<int> ids = AllStringIds();
  ASSERT_TRUE(std::is_sorted(ids.begin(), ids.end())) << "the lookup relies on the table being sorted";
  ASSERT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "an id appears twice";
  for (int id : ids) {
    const char* en = LoadString(id, Language::kEnglish);
    const char* zh = LoadString(id, Language::kChinese);
    EXPECT_GT(std::char_traits<char>::length(en), 0u) << id;
    EXPECT_TRUE(HasNonAscii(zh)) << "id " << id << " has no Chinese text: " << zh;
    // A message box formats both with the same arguments.
    EXPECT_EQ(CountConversions(en), CountConversions(zh)) << id;
  }
  EXPECT_GE(ids.size(), std::size(kFixedTexts));
}

TEST(StringTableTest, TextsFollowTheUiLanguage) {
  const Language saved = UiLanguage();
  SetUiLanguage(Language::kChinese);
  EXPECT_STREQ(LoadString(kStrFinish), "完成");
  SetUiLanguage(Language::kOther);
  EXPECT_STREQ(LoadString(kStrFinish), "Finish") << "other languages read English";
  SetUiLanguage(Language::kEnglish);
  EXPECT_STREQ(LoadString(kStrFinish), "Finish");
  EXPECT_STREQ(LoadString(490), "") << "an id without text is empty, not a crash";
  EXPECT_STREQ(LoadString(-1), "");
  SetUiLanguage(saved);
}

// Chinese texts read as a native reader expects: full-width punctuation (a label built in code
// ends in "：" as well), and one word for each thing across the program.
TEST(StringTableTest, ChineseTextsUseFullWidthPunctuationAndOneWordPerThing) {
  for (const int id : AllStringIds()) {
    const std::string text = LoadString(id, Language::kChinese);
    EXPECT_EQ(text.find_first_of(":!?,;()"), std::string::npos) << "id " << id << ": " << text;
    for (const char* avoided : {"打开目录", "输出路径", "输出目录", "合并器", "合并文件已保存", "快照", "录制画面"}) {
      EXPECT_EQ(text.find(avoided), std::string::npos) << "id " << id << ": " << text;
    }
  }
  EXPECT_STREQ(LoadString(kStrQualityMedium, Language::kChinese), "中等");
  EXPECT_STREQ(LoadString(kStrMergeSavedIn, Language::kChinese), "合并后的视频已保存至");
  const Language saved = UiLanguage();
  SetUiLanguage(Language::kChinese);
  EXPECT_EQ(std::string(LoadString(kStrProgress)) + LabelColon(":"), "进度：");
  SetUiLanguage(Language::kEnglish);
  EXPECT_EQ(std::string(LoadString(kStrProgress)) + LabelColon(":"), "Progress:");
  SetUiLanguage(saved);
}

}  // namespace
}  // namespace spherolux::ui
