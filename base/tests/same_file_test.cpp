// Names that reach one file: on a FAT memory card mounted through FUSE, where every spelling
// of a name has an inode number of its own, and in Unicode's canonical caseless match.
#include "base/same_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/output_file.h"
#include "testsupport/testsupport.h"

namespace spherolux {
namespace {

namespace fs = std::filesystem;

TEST(SameFile, CaselessNameMatchesCaseAndCanonicalEquivalents) {
  // "Café" with a composed é (U+00E9) and with e + combining acute (U+0301).
  EXPECT_EQ(CaselessName("CAFE\xCC\x81.JPG"), CaselessName("caf\xC3\xA9.jpg"));
  EXPECT_EQ(CaselessName("\xC3\x89t\xC3\xA9.mp4"), CaselessName("\xC3\xA9T\xC3\x89.MP4"));  // Été, éTÉ
  EXPECT_EQ(CaselessName("\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x99\xCE\x91"),                       // ΣΟΦΙΑ
            CaselessName("\xCF\x83\xCE\xBF\xCF\x86\xCE\xB9\xCE\xB1"));                      // σοφια
  EXPECT_NE(CaselessName("cafe.jpg"), CaselessName("caf\xC3\xA9.jpg"));
  EXPECT_NE(CaselessName("IMG_1.jpg"), CaselessName("IMG_l.jpg"));
  // Not UTF-8: ASCII letters fold, other bytes stay apart.
  EXPECT_EQ(CaselessName("A\xFF.JPG"), CaselessName("a\xFF.jpg"));
  EXPECT_NE(CaselessName("a\xFE.jpg"), CaselessName("a\xFF.jpg"));
}

TEST(SameFile, OnAMemoryCardOtherSpellingsAreOneFileWhereCaseCountsTwo) {
  // Where case counts, "PH.JPG" beside "ph.jpg" is a file of its own.
  const testsupport::TempDir dir("same-file");
  std::ofstream(dir.Path("ph.jpg")) << "one";
  std::ofstream(dir.Path("PH.JPG")) << "two";
  struct stat a, b;
  ASSERT_EQ(::stat(dir.Path("ph.jpg").c_str(), &a), 0);
  ASSERT_EQ(::stat(dir.Path("PH.JPG").c_str(), &b), 0);
  if (a.st_ino != b.st_ino) {
    EXPECT_FALSE(IsSameFileAsAny(dir.Path("PH.JPG"), {dir.Path("ph.jpg")}));
  }

  // On FAT it is the photo itself, under an inode number of its own.
  const testsupport::FatMount card;
  if (!card.missing().empty()) GTEST_SKIP() << card.missing();
  ASSERT_FALSE(card.path().empty());
  const std::string& m = card.path();
  std::ofstream(m + "/ph.jpg") << "photo";
  std::ofstream(m + "/other.jpg") << "photo";
  fs::create_directory(m + "/DCIM");
  std::ofstream(m + "/DCIM/clip.mp4") << "video";

  EXPECT_TRUE(IsSameFileAsAny(m + "/PH.JPG", {m + "/ph.jpg"}));
  EXPECT_TRUE(IsSameFileAsAny(m + "/Ph.jpg", {m + "/other.jpg", m + "/pH.JPG"}));
  EXPECT_TRUE(IsSameFileAsAny(m + "/dcim/CLIP.MP4", {m + "/DCIM/clip.mp4"}));
  EXPECT_TRUE(IsSameFileAsAny(m + "/dcim/../PH.jpg", {m + "/ph.jpg"}));
  EXPECT_FALSE(IsSameFileAsAny(m + "/OTHER.JPG", {m + "/ph.jpg"}));
  EXPECT_FALSE(IsSameFileAsAny(m + "/PH2.JPG", {m + "/ph.jpg"}));

  // Replacing the other spelling would replace the photo: refused, and the photo stays.
  OutputOptions options;
  options.overwrite = true;
  options.inputs = {m + "/ph.jpg"};
  OutputFile out;
  EXPECT_EQ(out.Create(m + "/PH.JPG", options), OutputStatus::kIsInput);
  std::ifstream in(m + "/ph.jpg");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "photo");
}

}  // namespace
}  // namespace spherolux
