#include "calib/panorama_xmp.h"

#include <gtest/gtest.h>

#include <string>

namespace spherolux {
namespace {

TEST(PanoramaXmp, SegmentLayout) {
  const auto& s = kPanoramaXmpSegment;
  ASSERT_EQ(s.size(), 664u);
  EXPECT_EQ(s[0], 0xFF);
  EXPECT_EQ(s[1], 0xE1);
  EXPECT_EQ((s[2] << 8) | s[3], 662);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[4])), "http://ns.adobe.com/xap/1.0/");
  EXPECT_EQ(s[32], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&s[33]), 630), std::string(kPanoramaXmpText));
  EXPECT_EQ(s[663], 0);
}

TEST(PanoramaXmp, TextStatesTheFixedPanorama) {
  std::string t(kPanoramaXmpText);
  EXPECT_EQ(t.size(), 630u);
  EXPECT_EQ(t.back(), '\n');
  EXPECT_NE(t.find("GPano:UsePanoramaViewer=\"True\""), std::string::npos);
  EXPECT_NE(t.find("GPano:FullPanoWidthPixels=\"5376\""), std::string::npos);
  EXPECT_NE(t.find("GPano:StitchingSoftware=\"Arvelo Instrument\""), std::string::npos);
  EXPECT_NE(t.find(std::string(kMakerString)), std::string::npos);
  EXPECT_EQ(t.find("  "), std::string::npos);  // no indentation
}

}  // namespace
}  // namespace spherolux
