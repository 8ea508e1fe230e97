// MediaInfo binding against the real library, on files made by the tests.
#include "media/media_info.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "camgen/camgen.h"

namespace spherolux::media {
namespace {

namespace fs = std::filesystem;

class MediaInfoFiles : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = camgen::MakeTempDir("media-info"); }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};

TEST_F(MediaInfoFiles, ReadsFrameSizeAndLengthOfAVideo) {
  const std::string clip = Path("clip.mp4");
  ASSERT_TRUE(camgen::MakeMp4Clip(clip, 320, 160, 1.5, true));
  const MediaFacts facts = ReadMediaFacts(clip, false);
  EXPECT_EQ(facts.width, 320);
  EXPECT_EQ(facts.height, 160);
  // The clip lasts 1.5 s; audio priming may add a few milliseconds.
  EXPECT_NEAR(static_cast<double>(facts.duration_ms), 1500.0, 60.0);
  EXPECT_EQ(MediaDurationMs(clip), facts.duration_ms);
  EXPECT_GE(MediaInfoBindCount(), 1);
}

TEST_F(MediaInfoFiles, ReadsFrameSizeOfAPhotoAsAnImageStream) {
  const std::string photo = Path("photo.jpg");
  ASSERT_TRUE(camgen::WriteFileBytes(photo, camgen::MakeJpeg(256, 128)));
  int w = 0;
  int h = 0;
  EXPECT_TRUE(MediaFrameSize(photo, true, &w, &h));
  EXPECT_EQ(w, 256);
  EXPECT_EQ(h, 128);
  // A photo has no video stream.
  EXPECT_FALSE(MediaFrameSize(photo, false, &w, &h));
  EXPECT_EQ(w, 0);
}

// MediaInfo opens files through the C library's multibyte conversion: without a UTF-8
// LC_CTYPE such a path is not found, and a name that is not UTF-8 at all (Latin-1 "café",
// a cut sequence) cannot pass through it.
TEST_F(MediaInfoFiles, OpensPathsOutsideAscii) {
  const std::string clip = Path("Straße 全景 ø.mp4");
  ASSERT_TRUE(camgen::MakeMp4Clip(clip, 192, 96, 0.5, false));
  for (const std::string& name : {clip, Path("caf\xe9.mp4"), Path("\xe5\x85 cut.mp4")}) {
    if (name != clip) fs::copy_file(clip, name);
    const MediaFacts facts = ReadMediaFacts(name, false);
    EXPECT_EQ(facts.width, 192) << name;
    EXPECT_EQ(facts.height, 96) << name;
    EXPECT_GT(facts.duration_ms, 0) << name;
    EXPECT_EQ(MediaDurationMs(name), facts.duration_ms) << name;
  }
}

TEST_F(MediaInfoFiles, AnswersNothingForMissingFilesAndNonMedia) {
  const std::string text = Path("notes.mp4");
  ASSERT_TRUE(camgen::WriteFileBytes(text, camgen::Bytes(4000, 'x')));
  for (const std::string& path : {text, Path("missing.mp4"), std::string()}) {
    const MediaFacts facts = ReadMediaFacts(path, false);
    EXPECT_EQ(facts.width, 0) << path;
    EXPECT_EQ(facts.height, 0) << path;
    EXPECT_EQ(facts.duration_ms, -1) << path;
    EXPECT_EQ(MediaInfoGet(path, StreamKind::kVideo, "Width"), "") << path;
  }
}

// A library without MediaInfo's names is refused whole and nothing stays bound. CTest runs
// each test in a process of its own, where nothing was bound before.
TEST(MediaInfoBinding, RefusesALibraryThatLacksANameThenBindsTheRealOne) {
  if (MediaInfoBindCount() == 0) {
    EXPECT_EQ(BindMediaInfo("libzen.so.0"), -1);
    EXPECT_EQ(BindMediaInfo("libspherolux-no-such-library.so"), -1);
    EXPECT_EQ(MediaInfoBindCount(), 0);
  }
  const int before = MediaInfoBindCount();
  EXPECT_EQ(BindMediaInfo(), 1);
  EXPECT_EQ(BindMediaInfo(), 1);
  EXPECT_EQ(MediaInfoBindCount(), before + 2);
}

}  // namespace
}  // namespace spherolux::media
