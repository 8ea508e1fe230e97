#include "ui/settings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace spherolux::ui {
namespace {

namespace fs = std::filesystem;

// A private home and config folder for one test, removed afterwards.
class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ui-settings-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    env_.home = root_ + "/home";
    env_.config_home = root_ + "/config";
    fs::create_directories(env_.home);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static std::vector<uint8_t> Bytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void Put(const std::string& file, const std::vector<uint8_t>& bytes) {
    fs::create_directories(fs::path(file).parent_path());
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }

  std::string root_;
  Environment env_;
};

TEST_F(SettingsTest, FilesLiveInTheXdgConfigFolder) {
  EXPECT_EQ(SettingsFilePath(env_), root_ + "/config/spherolux/spheroluxplayer.ini");
  EXPECT_EQ(LanguageFilePath(env_), root_ + "/config/spherolux/Language.ini");
  Environment no_xdg = env_;
  no_xdg.config_home.clear();
  EXPECT_EQ(ConfigDir(no_xdg), root_ + "/home/.config/spherolux");
  no_xdg.config_home = "relative/dir";  // ignored, as the XDG rules say
  EXPECT_EQ(ConfigDir(no_xdg), root_ + "/home/.config/spherolux");
  EXPECT_EQ(DefaultOutputDir(env_), root_ + "/home/Videos/SPHEROLUX Video Converter/");
}

TEST_F(SettingsTest, TheFileIsRawUtf16WithoutBomOrTerminator) {
  const std::string path = "/tmp/Out é/全景/";
  ASSERT_TRUE(SaveOutputDir(env_, path));
  const std::vector<uint8_t> expected = {'/', 0, 't', 0, 'm',  0, 'p', 0, '/',  0,    'O',  0,    'u', 0,
                                         't', 0, ' ', 0, 0xE9, 0, '/', 0, 0x68, 0x51, 0x6F, 0x66, '/', 0};
  EXPECT_EQ(Bytes(SettingsFilePath(env_)), expected);
  const OutputDir loaded = LoadOutputDir(env_);
  EXPECT_EQ(loaded.path, path);
  EXPECT_FALSE(loaded.usable) << "the stored folder does not exist";
}

TEST_F(SettingsTest, AnEightyByteFileIsAFortyCharacterPath) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 40; ++i) bytes.insert(bytes.end(), {static_cast<uint8_t>('a' + i % 26), 0});
  Put(SettingsFilePath(env_), bytes);
  const auto text = ReadSettingsFile(SettingsFilePath(env_));
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(text->size(), 40u);
  EXPECT_EQ(text->substr(0, 3), "abc");
}

TEST_F(SettingsTest, APathLongerThan255CharactersSurvivesSaveAndLoad) {
  // A 256-unit reader would cut this path (and read past its buffer without a terminator).
  std::string path = root_ + "/";
  while (path.size() < 300) path += "deep-folder-名字/";
  ASSERT_TRUE(SaveOutputDir(env_, path));
  EXPECT_EQ(LoadOutputDir(env_).path, path);
}

TEST_F(SettingsTest, AZeroUnitEndsTheTextAndAnOddByteIsIgnored) {
  Put(SettingsFilePath(env_), {'/', 0, 'a', 0, 0, 0, 'b', 0, 'c'});
  EXPECT_EQ(ReadSettingsFile(SettingsFilePath(env_)).value(), "/a");
  Put(SettingsFilePath(env_), {'/', 0, 'x', 0, 'y'});
  EXPECT_EQ(ReadSettingsFile(SettingsFilePath(env_)).value(), "/x");
}

TEST_F(SettingsTest, AMissingFileGivesTheDefaultFolderCreated) {
  EXPECT_FALSE(ReadSettingsFile(SettingsFilePath(env_)).has_value());
  const OutputDir loaded = LoadOutputDir(env_);
  EXPECT_EQ(loaded.path, DefaultOutputDir(env_));
  EXPECT_TRUE(loaded.usable);
  EXPECT_TRUE(fs::is_directory(loaded.path));
  EXPECT_FALSE(fs::exists(SettingsFilePath(env_))) << "loading must not write the settings file";
}

// The converter's folder: a stored folder that is gone gives way to the default one, and a
// stored default folder that was deleted is made again (both once left the converter
// without a folder, writing into the working directory).
TEST_F(SettingsTest, JobsFallBackToTheDefaultFolderWhenTheStoredOneIsGone) {
  const std::string gone = root_ + "/unplugged/";
  ASSERT_TRUE(SaveOutputDir(env_, gone));
  std::string missing;
  OutputDir dir = LoadJobOutputDir(env_, &missing);
  EXPECT_EQ(missing, gone);
  EXPECT_EQ(dir.path, root_ + "/home/Videos/SPHEROLUX Video Converter/");
  EXPECT_TRUE(dir.usable);
  EXPECT_TRUE(fs::is_directory(dir.path));

  const std::string stored_default = root_ + "/home/Videos/SPHEROLUX Video Converter";
  ASSERT_TRUE(SaveOutputDir(env_, stored_default));
  fs::remove_all(root_ + "/home/Videos");
  missing.clear();
  dir = LoadJobOutputDir(env_, &missing);
  EXPECT_EQ(missing, "") << "nothing to tell: the same folder is made again";
  EXPECT_TRUE(dir.usable);
  EXPECT_TRUE(fs::is_directory(stored_default));
  EXPECT_EQ(ReadSettingsFile(SettingsFilePath(env_)), stored_default) << "loading writes nothing";
}

TEST_F(SettingsTest, AnUnwritableFolderFailsToSave) {
  // Nobody, root included, may create folders in /proc.
  env_.config_home = "/proc/self/spherolux-settings-test";
  EXPECT_FALSE(SaveOutputDir(env_, "/new/"));
  EXPECT_FALSE(WriteLanguageFile(LanguageFilePath(env_), kLocaleChinesePrc));
  // A regular file where the folder should be.
  env_.config_home = root_ + "/config";
  Put(root_ + "/config/spherolux", {'x'});
  EXPECT_FALSE(SaveOutputDir(env_, "/new/"));
}

TEST_F(SettingsTest, AFailedReplaceKeepsTheOldContentAndLeavesNoTemporaryFile) {
  // The rename over the target fails when the target is a folder that is not empty.
  fs::create_directories(SettingsFilePath(env_) + "/inside");
  EXPECT_FALSE(SaveOutputDir(env_, "/new/"));
  EXPECT_TRUE(fs::is_directory(SettingsFilePath(env_) + "/inside"));
  EXPECT_EQ(std::distance(fs::directory_iterator(ConfigDir(env_)), fs::directory_iterator()), 1)
      << "the temporary file must be removed";
}

TEST_F(SettingsTest, AnEmptyOutputDirIsNotWritten) {
  EXPECT_TRUE(SaveOutputDir(env_, ""));
  EXPECT_FALSE(fs::exists(SettingsFilePath(env_)));
}

TEST_F(SettingsTest, LanguageFileHoldsFourLittleEndianBytes) {
  ASSERT_TRUE(WriteLanguageFile(LanguageFilePath(env_), kLocaleChinesePrc));
  EXPECT_EQ(Bytes(LanguageFilePath(env_)), (std::vector<uint8_t>{0x04, 0x08, 0, 0}));
  EXPECT_EQ(ReadLanguageFile(LanguageFilePath(env_)).value(), 2052u);
  Put(LanguageFilePath(env_), {0x09, 0x04});
  EXPECT_FALSE(ReadLanguageFile(LanguageFilePath(env_)).has_value()) << "a short file names no language";
}

// Settings files that are no regular files, or larger than their format holds, are ignored as
// if missing: a pipe held the start-up for good, a link to /dev/zero read until memory ran
// out, and a file of a gigabyte was read whole.
TEST_F(SettingsTest, OnlyRegularFilesOfTheFormatsSizeAreRead) {
  const std::string settings = SettingsFilePath(env_);
  const std::string language = LanguageFilePath(env_);
  fs::create_directories(ConfigDir(env_));
  ASSERT_EQ(mkfifo(settings.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(language.c_str(), 0600), 0);
  // A reader that waits for a writer is let go after ten seconds, so that the test ends.
  std::atomic<bool> done{false};
  std::atomic<bool> waited{false};
  std::thread release([&] {
    for (int i = 0; i < 1000 && !done.load(); ++i) usleep(10000);
    while (!done.load()) {
      for (const std::string& fifo : {settings, language}) {
        const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
          waited.store(true);
          close(fd);
        }
      }
      usleep(10000);
    }
  });
  EXPECT_EQ(LoadOutputDir(env_).path, DefaultOutputDir(env_));
  EXPECT_EQ(StartupLanguage(env_), Language::kEnglish);
  done.store(true);
  release.join();
  EXPECT_FALSE(waited.load()) << "a pipe was opened for reading and waited for a writer";

  fs::remove(settings);
  fs::remove(language);
  fs::create_symlink("/dev/zero", settings);
  fs::create_symlink("/dev/zero", language);
  EXPECT_FALSE(ReadSettingsFile(settings).has_value());
  EXPECT_FALSE(ReadLanguageFile(language).has_value());

  fs::remove(settings);
  fs::remove(language);
  std::vector<uint8_t> too_long;
  while (too_long.size() <= kMaxSettingsFileBytes) too_long.insert(too_long.end(), {'a', 0});
  Put(settings, too_long);
  Put(language, {0x04, 0x08, 0, 0, 0});
  EXPECT_FALSE(ReadSettingsFile(settings).has_value());
  EXPECT_FALSE(ReadLanguageFile(language).has_value());
  // What fits is read whole.
  too_long.resize(kMaxSettingsFileBytes);
  Put(settings, too_long);
  EXPECT_EQ(ReadSettingsFile(settings).value_or("").size(), kMaxSettingsFileBytes / 2);
}

TEST_F(SettingsTest, StartupLanguageFollowsTheFileThenTheLocale) {
  env_.lang = "zh_CN.UTF-8";
  EXPECT_EQ(StartupLanguage(env_), Language::kChinese);
  env_.lc_messages = "en_GB.UTF-8";  // LC_MESSAGES wins over LANG
  EXPECT_EQ(StartupLanguage(env_), Language::kEnglish);
  env_.lc_all = "zh_TW";  // LC_ALL wins over both
  EXPECT_EQ(StartupLanguage(env_), Language::kChinese);
  env_.lc_all = "de_DE.UTF-8";
  EXPECT_EQ(StartupLanguage(env_), Language::kOther);
  env_.lc_all = "C.UTF-8";
  EXPECT_EQ(StartupLanguage(env_), Language::kEnglish);

  ASSERT_TRUE(WriteLanguageFile(LanguageFilePath(env_), kLocaleChinesePrc));
  EXPECT_EQ(StartupLanguage(env_), Language::kChinese) << "the user's choice beats the locale";
  ASSERT_TRUE(WriteLanguageFile(LanguageFilePath(env_), kLocaleEnglishUs));
  env_.lc_all = "zh_CN.UTF-8";
  EXPECT_EQ(StartupLanguage(env_), Language::kEnglish);
  ASSERT_TRUE(WriteLanguageFile(LanguageFilePath(env_), 1031));  // not a language we have
  EXPECT_EQ(StartupLanguage(env_), Language::kChinese);
}

TEST(Utf16Test, ConversionRoundTripsAndReplacesInvalidBytes) {
  const std::string text = "a\xC3\xA9\xE5\x85\xA8\xF0\x9F\x8E\xA5";  // a é 全 🎥
  const std::u16string units = Utf8ToUtf16(text);
  EXPECT_EQ(units, (std::u16string{u'a', 0xE9, 0x5168, 0xD83C, 0xDFA5}));
  EXPECT_EQ(Utf16ToUtf8(units), text);
  EXPECT_EQ(Utf8ToUtf16("\xFF"), std::u16string(1, 0xFFFD));
  EXPECT_EQ(Utf8ToUtf16("\xC3"), std::u16string(1, 0xFFFD)) << "a cut sequence must not read past the end";
  EXPECT_EQ(Utf8ToUtf16("\xE0\x80\x80"), u"\uFFFD") << "an overlong form is no character";
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, 0xD800)), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace spherolux::ui
