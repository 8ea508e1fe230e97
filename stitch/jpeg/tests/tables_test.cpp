#include "tables.h"

#include <gtest/gtest.h>

#include "huffman.h"

namespace spherolux::jpeg {
namespace {

// Annex K tables K.1 and K.2, row by row as printed in the standard.
const int kK1[64] = {16, 11,  10,  16, 24, 40, 51, 61, 12,  12,  14,  19,  26, 58, 60, 55,  14,  13,  16,  24, 40, 57,
                     69, 56,  14,  17, 22, 29, 51, 87, 80,  62,  18,  22,  37, 56, 68, 109, 103, 77,  24,  35, 55, 64,
                     81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99};

TEST(QuantTables, Quality50IsAnnexKAndQuality100IsAllOnes) {
  uint16_t t[64];
  ScaleQuantTable(50, false, t);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(t[i], kK1[i]) << i;
  ScaleQuantTable(50, true, t);
  EXPECT_EQ(t[0], 17);
  EXPECT_EQ(t[3], 47);
  EXPECT_EQ(t[63], 99);
  for (bool chroma : {false, true}) {
    ScaleQuantTable(100, chroma, t);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(t[i], 1);
  }
}

TEST(QuantTables, LowQualityScalesAndClamps) {
  uint16_t lum[64], chroma[64];
  // Quality 10: S = 500 for luminance, capped at 240 for chrominance (worked by hand).
  ScaleQuantTable(10, false, lum);
  ScaleQuantTable(10, true, chroma);
  EXPECT_EQ(lum[0], 80);       // (500 * 16 + 50) / 100
  EXPECT_EQ(lum[1], 55);       // (500 * 11 + 50) / 100
  EXPECT_EQ(lum[2], 50);       // 10 -> 50
  EXPECT_EQ(lum[63], 255);     // 99 * 5 = 495, clamped
  EXPECT_EQ(chroma[0], 41);    // (240 * 17 + 50) / 100 = 41.3
  EXPECT_EQ(chroma[63], 238);  // (240 * 99 + 50) / 100 = 238.1
  // Below quality 21 the chrominance table no longer changes.
  uint16_t c5[64], c20[64];
  ScaleQuantTable(5, true, c5);
  ScaleQuantTable(20, true, c20);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(c5[i], chroma[i]);
    EXPECT_EQ(c20[i], chroma[i]);  // S = 250, capped
  }
  uint16_t c21[64];
  ScaleQuantTable(21, true, c21);
  EXPECT_EQ(c21[0], 40);  // S = 5000 / 21 = 238: (238 * 17 + 50) / 100
  // Out-of-range qualities clamp to 1 and 100.
  uint16_t q0[64], q1[64], q200[64];
  ScaleQuantTable(0, false, q0);
  ScaleQuantTable(1, false, q1);
  ScaleQuantTable(200, false, q200);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(q0[i], q1[i]);
    EXPECT_EQ(q1[i], 255);  // S = 5000: every base entry of at least 10 reaches the clamp
    EXPECT_EQ(q200[i], 1);
  }
}

TEST(Huffman, RejectsOversubscribedTables) {
  HuffmanDecodeTable d;
  HuffmanEncodeTable e;
  const uint8_t values[256] = {};
  uint8_t counts[16] = {2};  // two 1-bit codes leave no room for the reserved all-ones code
  EXPECT_FALSE(BuildDecodeTable(counts, values, 2, &d));
  EXPECT_FALSE(BuildEncodeTable(counts, values, 2, &e));
  uint8_t too_many[16] = {};
  too_many[15] = 255;
  too_many[14] = 2;  // 257 values
  EXPECT_FALSE(BuildDecodeTable(too_many, values, 256, &d));
  EXPECT_TRUE(BuildDecodeTable(kAcLuminance.counts, kAcLuminance.values, kAcLuminance.value_count, &d));
  // K.3.2: the luminance AC code for 0/1 is 00, for EOB 1010, for ZRL 11111111001.
  ASSERT_TRUE(BuildEncodeTable(kAcLuminance.counts, kAcLuminance.values, kAcLuminance.value_count, &e));
  EXPECT_EQ(e.size[0x01], 2);
  EXPECT_EQ(e.code[0x01], 0b00);
  EXPECT_EQ(e.size[0x00], 4);
  EXPECT_EQ(e.code[0x00], 0b1010);
  EXPECT_EQ(e.size[0xF0], 11);
  EXPECT_EQ(e.code[0xF0], 0b11111111001);
  EXPECT_EQ(e.size[0xFA], 16);
  EXPECT_EQ(e.code[0xFA], 0xFFFE);
}

}  // namespace
}  // namespace spherolux::jpeg
