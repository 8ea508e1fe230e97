#include "calib/camera_para.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace spherolux {
namespace {

// Little-endian bytes of a float, written out by hand so the test does not share the
// codec's byte helpers.
void PutFloat(std::vector<uint8_t>& b, size_t off, float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  for (int i = 0; i < 4; ++i) b[off + i] = uint8_t(u >> (8 * i));
}
void PutInt(std::vector<uint8_t>& b, size_t off, int32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = uint8_t(uint32_t(v) >> (8 * i));
}

TEST(CameraPara, DualRecordFieldsAtTheirOffsets) {
  std::vector<uint8_t> b(1652, 0);
  std::memcpy(b.data(), "LABEL", 6);
  PutFloat(b, 12, 200.5f);
  PutInt(b, 16, 1301);
  PutFloat(b, 20, 480.f);
  PutFloat(b, 24, 481.f);
  PutFloat(b, 28, 470.f);
  PutFloat(b, 32, 1440.f);
  PutFloat(b, 36, 482.f);
  PutFloat(b, 40, 471.f);
  PutFloat(b, 44, 0.99f);
  PutInt(b, 48, 2);
  PutFloat(b, 52 + 16 + 8, 7.25f);        // mstPf1[1].mfP2x
  PutFloat(b, 852 + 49 * 16 + 12, -3.f);  // mstPf2[49].mfP2y
  DoubleFisheyeCameraPara p;
  ASSERT_TRUE(DecodeDoubleFisheyeCameraPara(b.data(), b.size(), &p));
  EXPECT_STREQ(p.szLabel, "LABEL");
  EXPECT_EQ(p.fLensCoef, 200.5f);
  EXPECT_EQ(p.lModel, 1301);
  EXPECT_EQ(p.stPoint1.x, 480.f);
  EXPECT_EQ(p.stPoint1.y, 481.f);
  EXPECT_EQ(p.stPoint1.radius, 470.f);
  EXPECT_EQ(p.stPoint2.x, 1440.f);
  EXPECT_EQ(p.stPoint2.radius, 471.f);
  EXPECT_EQ(p.fRatio, 0.99f);
  EXPECT_EQ(p.lPointNum, 2);
  EXPECT_EQ(p.mstPf1[1].mfP2x, 7.25f);
  EXPECT_EQ(p.mstPf2[49].mfP2y, -3.f);

  uint8_t again[1652];
  EncodeDoubleFisheyeCameraPara(p, again);
  EXPECT_EQ(0, std::memcmp(again, b.data(), 1652));
}

TEST(CameraPara, ShortBuffersAreRefused) {
  std::vector<uint8_t> b(1651, 0);
  DoubleFisheyeCameraPara p;
  EXPECT_FALSE(DecodeDoubleFisheyeCameraPara(b.data(), b.size(), &p));
  SingleFisheyeCameraPara s;
  EXPECT_FALSE(DecodeSingleFisheyeCameraPara(b.data(), 27, &s));
}

TEST(CameraPara, SingleRecordReadsCentreAndRadius) {
  std::vector<uint8_t> b(28, 0xAA);
  PutFloat(b, 16, 960.5f);
  PutFloat(b, 20, 540.25f);
  PutFloat(b, 24, 800.f);
  SingleFisheyeCameraPara s;
  ASSERT_TRUE(DecodeSingleFisheyeCameraPara(b.data(), b.size(), &s));
  EXPECT_EQ(s.stPfCenter.x, 960.5f);
  EXPECT_EQ(s.stPfCenter.y, 540.25f);
  EXPECT_EQ(s.fRadius, 800.f);
}

}  // namespace
}  // namespace spherolux
