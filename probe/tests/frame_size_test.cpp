#include <gtest/gtest.h>

#include <string>

#include "camgen/camgen.h"
#include "probe/probe.h"
#include "testsupport/testsupport.h"

namespace spherolux {
namespace {

using camgen::Bytes;

class JpegFrameSizeTest : public testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(camgen::WriteFileBytes(path, bytes));
    return path;
  }
  testsupport::TempDir scratch_{"frame-size"};
  const std::string dir_ = scratch_.path();
};

TEST_F(JpegFrameSizeTest, JpegSizeFromTheFrameHeader) {
  // An Exif segment with a calibration block and a JFIF segment precede the frame header.
  const Bytes jpeg = camgen::MakeJpeg(96, 40);
  ASSERT_FALSE(jpeg.empty());
  const Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()));
  const std::string path = Write("a.jpg", camgen::EmbedInJpeg(jpeg, block, camgen::JpegPlacement::kAfterJfif));
  int w = 0;
  int h = 0;
  ASSERT_TRUE(JpegFrameSize(path.c_str(), &w, &h));
  EXPECT_EQ(w, 96);
  EXPECT_EQ(h, 40);

  // A hand-made progressive frame header (SOF2) after fill bytes.
  const Bytes sof2 = {0xFF, 0xD8, 0xFF, 0xFF, 0xC2, 0x00, 0x0B, 0x08, 0x03, 0x20, 0x07, 0x80, 0x01, 0x01, 0x11, 0x00};
  ASSERT_TRUE(JpegFrameSize(Write("b.jpg", sof2).c_str(), &w, &h));
  EXPECT_EQ(w, 1920);
  EXPECT_EQ(h, 800);
}

TEST_F(JpegFrameSizeTest, JpegRefusals) {
  int w = 7;
  int h = 7;
  EXPECT_FALSE(JpegFrameSize((dir_ + "/missing.jpg").c_str(), &w, &h));
  EXPECT_FALSE(JpegFrameSize(Write("empty.jpg", {}).c_str(), &w, &h));
  EXPECT_FALSE(JpegFrameSize(Write("text.jpg", {'h', 'e', 'l', 'l', 'o'}).c_str(), &w, &h));
  // A DHT segment (C4) is no frame header; the scan starts before any frame header.
  EXPECT_FALSE(
      JpegFrameSize(Write("dht.jpg", {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x02, 0xFF, 0xDA, 0x00, 0x02}).c_str(), &w, &h));
  // Truncated inside the frame header; a zero height.
  EXPECT_FALSE(JpegFrameSize(Write("cut.jpg", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x03}).c_str(), &w, &h));
  EXPECT_FALSE(JpegFrameSize(
      Write("zero.jpg", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x00, 0x07, 0x80, 0x01, 0x01, 0x11, 0x00})
          .c_str(),
      &w, &h));
  EXPECT_EQ(w, 7);
  EXPECT_EQ(h, 7);
}

}  // namespace
}  // namespace spherolux
