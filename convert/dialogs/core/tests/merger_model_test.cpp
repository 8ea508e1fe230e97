// The merger's list: stitched videos only, in the order added, renumbered after deletes.
#include "dialogs/merger_model.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "camera_files.h"
#include "testsupport/testsupport.h"

namespace spherolux::dialogs {
namespace {

namespace fs = std::filesystem;

class MergerModelTest : public ::testing::Test {
 protected:
  std::string Video(const std::string& name, const std::string& args) {
    return testing::Camgen("video", dir_.Path(name), args);
  }
  testsupport::TempDir dir_{"merger-model"};
};

TEST_F(MergerModelTest, UnstitchedFilesAreRefusedByPathAndTheOthersKeptInOrder) {
  const std::string a = Video("a.mp4", "--no-block --spherical --size 320x160 --seconds 1 --no-audio");
  const std::string camera = Video("camera.mp4", "--size 320x160 --seconds 1 --no-audio");
  const std::string b = Video("b.mp4", "--no-block --spherical --size 320x160 --seconds 1 --no-audio");
  MergerModel m;
  EXPECT_FALSE(m.can_start());
  const std::vector<std::string> refusals = m.Add({a, camera, b});
  ASSERT_EQ(refusals.size(), 1u);
  EXPECT_EQ(refusals[0], "This file is not yet stitched, please stitch firstly!\nFile Path: " + camera);
  EXPECT_EQ(m.files(), (std::vector<std::string>{a, b}));
  EXPECT_TRUE(m.can_start());
}

TEST_F(MergerModelTest, DeletingRowsTwoAndThreeOfFiveKeepsTheOthersInOrder) {
  const std::string first = Video("1.mp4", "--no-block --spherical --size 320x160 --seconds 1 --no-audio");
  std::vector<std::string> files = {first};
  for (int i = 2; i <= 5; ++i) {
    files.push_back(dir_.Path(std::to_string(i) + ".mp4"));
    fs::copy_file(first, files.back());
  }
  MergerModel m;
  EXPECT_TRUE(m.Add(files).empty());
  EXPECT_FALSE(m.Delete({})) << "nothing selected";
  EXPECT_TRUE(m.Delete({2, 1}));
  EXPECT_EQ(m.files(), (std::vector<std::string>{files[0], files[3], files[4]}));
  EXPECT_TRUE(m.Delete({0, 1, 2}));
  EXPECT_FALSE(m.can_start());
}

TEST(MergerModelTextTest, IndexAndResultTexts) {
  EXPECT_EQ(MergerModel::IndexText(0), "001");
  EXPECT_EQ(MergerModel::IndexText(41), "042");
  EXPECT_EQ(MergerModel::ResultText(-3, "/o/x.mp4"), "Merge file failed!");
  EXPECT_EQ(MergerModel::ResultText(0, "/o/x.mp4"), "Merge file saved in: /o/x.mp4");
}

}  // namespace
}  // namespace spherolux::dialogs
