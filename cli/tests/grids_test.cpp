// spherolux-cli grids on generated camera photos and videos.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camgen/camgen.h"
#include "testsupport/testsupport.h"

namespace {

namespace camgen = spherolux::camgen;
using camgen::Bytes;

using CliRun = spherolux::testsupport::CommandResult;

CliRun Grids(const std::string& args) {
  return spherolux::testsupport::RunCommand(spherolux::testsupport::BuiltProgram("spherolux-cli") + " grids " + args);
}

bool Has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// The [x, y] pairs of an array member, as text.
std::vector<std::string> Pairs(const std::string& json, const std::string& key) {
  std::vector<std::string> pairs;
  size_t at = json.find("\"" + key + "\":[");
  if (at == std::string::npos) return pairs;
  at += key.size() + 4;
  while (at < json.size() && json[at] == '[') {
    const size_t end = json.find(']', at);
    pairs.push_back(json.substr(at + 1, end - at - 1));
    at = end + 1;
    if (json[at] == ',') ++at;
  }
  return pairs;
}

spherolux::DoubleFisheyeCameraPara DualPara() {
  spherolux::DoubleFisheyeCameraPara p = camgen::ExampleDualPara(2201);
  p.stPoint1 = {480.0f, 480.0f, 470.0f};
  p.stPoint2 = {481.0f, 479.0f, 468.0f};  // in its own half of the frame
  return p;
}

class GridsCommand : public testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) { return scratch_.Write(name, bytes); }
  spherolux::testsupport::TempDir scratch_{"grids-test"};
  const std::string dir_ = scratch_.path();
};

TEST_F(GridsCommand, DualLensPhotoSizedFromItsFrameHeader) {
  const Bytes jpeg = camgen::MakeJpeg(1920, 960);
  ASSERT_FALSE(jpeg.empty());
  const std::string photo =
      Write("dual.jpg", camgen::EmbedInJpeg(jpeg, camgen::MakeBlock(camgen::DualLensRecords(DualPara()))));
  const CliRun r = Grids("'" + photo + "'");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(Has(r.out, "\"result\":0,\"camera_type\":2,\"width\":1920,\"height\":960"));
  const std::vector<std::string> a = Pairs(r.out, "table_a");
  const std::vector<std::string> b = Pairs(r.out, "table_b");
  ASSERT_EQ(a.size(), 52u * 181u);
  ASSERT_EQ(b.size(), 52u * 181u);
  EXPECT_EQ(a.front(), "480,480");  // ring 0 lies on lens 1's axis
  EXPECT_EQ(b.back(), "1441,479");  // the last ring of table B on lens 2's axis
  for (int ring = 0; ring < 52; ++ring) EXPECT_EQ(a[ring * 181], a[ring * 181 + 180]) << ring;
  EXPECT_FALSE(Has(r.out, "refresh"));

  // --size decides the size; a frame that is not 2:1 is refused before the file is read.
  const CliRun wrong = Grids("'" + photo + "' --size 1920x1080");
  EXPECT_EQ(wrong.exit_code, 1);
  EXPECT_TRUE(Has(wrong.out, "\"result\":1014"));
  EXPECT_FALSE(Has(wrong.out, "table_a"));
  const CliRun doubled = Grids("--size 3840x1920 '" + photo + "'");
  EXPECT_EQ(doubled.exit_code, 0);
  EXPECT_EQ(Pairs(doubled.out, "table_a").front(), "960,960");
}

TEST_F(GridsCommand, VideosOfBothKinds) {
  const std::string clip = dir_ + "/clip.mp4";
  ASSERT_TRUE(camgen::MakeMp4Clip(clip, 320, 180, 0.2, false));
  const Bytes mp4 = camgen::ReadFileBytes(clip);
  spherolux::SingleFisheyeCameraPara single = camgen::ExampleSinglePara();  // (960, 540), radius 530
  const std::string s =
      Write("single.mp4", camgen::EmbedInMp4(mp4, camgen::MakeBlock(camgen::SingleLensRecords(single))));
  const CliRun r = Grids("'" + s + "'");
  EXPECT_EQ(r.exit_code, 0);
  // 320 x 180 is 16:9 with s = 180 / 1080: centre (160, 90).
  EXPECT_TRUE(Has(r.out, "\"result\":1,\"camera_type\":1,\"width\":320,\"height\":180"));
  const std::vector<std::string> a = Pairs(r.out, "table_a");
  ASSERT_EQ(a.size(), 49u * 181u);
  EXPECT_EQ(a.front(), "160,90");
  EXPECT_TRUE(Has(r.out, "\"refresh\":true"));
  EXPECT_FALSE(Has(r.out, "table_b"));

  const std::string d =
      Write("dual.mp4", camgen::EmbedInMp4(mp4, camgen::MakeBlock(camgen::DualLensRecords(DualPara()))));
  const CliRun dual = Grids("'" + d + "' --size 640x320");
  EXPECT_EQ(dual.exit_code, 0);
  EXPECT_TRUE(Has(dual.out, "\"result\":0,\"camera_type\":2,\"width\":640,\"height\":320"));
  EXPECT_EQ(Pairs(dual.out, "table_b").size(), 52u * 181u);
  // Without --size the clip's own 320 x 180 is not 2:1.
  EXPECT_TRUE(Has(Grids("'" + d + "'").out, "\"result\":1014"));

  const std::string stitched =
      Write("t1000.mp4", camgen::EmbedInMp4(mp4, camgen::MakeBlock(camgen::DualLensRecords(DualPara(), 1000))));
  const CliRun t = Grids("'" + stitched + "' --size 640x320");
  EXPECT_EQ(t.exit_code, 0);
  EXPECT_TRUE(Has(t.out, "\"result\":1,\"camera_type\":512"));
  EXPECT_FALSE(Has(t.out, "table_a"));

  const CliRun plain = Grids("'" + clip + "' --size 640x320");
  EXPECT_EQ(plain.exit_code, 1);
  EXPECT_TRUE(Has(plain.out, "\"result\":1005"));
}

TEST_F(GridsCommand, UsageAndUnreadableFiles) {
  EXPECT_EQ(Grids("").exit_code, 64);
  EXPECT_EQ(Grids("a.jpg b.jpg").exit_code, 64);
  EXPECT_EQ(Grids("a.jpg --size 0x5").exit_code, 64);
  EXPECT_EQ(Grids("a.jpg --size").exit_code, 64);
  EXPECT_EQ(Grids("a.jpg --bogus").exit_code, 64);
  EXPECT_EQ(Grids("'" + dir_ + "/missing.jpg'").exit_code, 2);
  EXPECT_EQ(Grids("'" + Write("text.mp4", {'x'}) + "'").exit_code, 2);
}

}  // namespace
