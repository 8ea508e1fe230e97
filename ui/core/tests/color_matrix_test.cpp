#include "ui/color_matrix.h"

#include <gtest/gtest.h>

#include <vector>

namespace spherolux::ui {
namespace {

TEST(ColorMatrixTest, StartValuesLeavePixelsUntouched) {
  const ColorMatrix m = MakeSkinColorMatrix({});
  EXPECT_TRUE(m.IsIdentity());
  std::vector<uint32_t> pixels = {0xFF123456, 0x80FEDCBA, 0x00000000, 0xFFFFFFFF};
  const auto before = pixels;
  ApplyColorMatrix(m, pixels.data(), pixels.size());
  EXPECT_EQ(pixels, before);
}

TEST(ColorMatrixTest, ZeroSaturationGivesTheWeightedGrey) {
  // Pure red: every channel becomes 0.3086 * 255 = 78.7 -> 79; alpha passes through.
  uint32_t red = 0x80FF0000;
  ApplyColorMatrix(MakeSkinColorMatrix({0.0f, 0, 0, 0}), &red, 1);
  EXPECT_EQ(red, 0x804F4F4Fu);
  // Pure green: 0.6094 * 255 = 155.4 -> 155.
  uint32_t green = 0xFF00FF00;
  ApplyColorMatrix(MakeSkinColorMatrix({0.0f, 0, 0, 0}), &green, 1);
  EXPECT_EQ(green, 0xFF9B9B9Bu);
}

TEST(ColorMatrixTest, OffsetsAddFullIntensityUnitsAndClamp) {
  uint32_t p = 0xFF102030;
  ApplyColorMatrix(MakeSkinColorMatrix({1.0f, 0.25f, -1.0f, 2.0f}), &p, 1);
  // red 16 + 63.75 -> 80, green clamps at 0, blue clamps at 255.
  EXPECT_EQ(p, 0xFF5000FFu);
}

TEST(ColorMatrixTest, SaturationAboveOneMovesChannelsAwayFromTheLuminance) {
  // r 128, g 96, b 64: luminance 0.3086 * 128 + 0.6094 * 96 + 0.0820 * 64 = 103.25, and with
  // s = 2 each channel becomes 2c - 103.25: 152.75, 88.75, 24.75.
  uint32_t p = 0xFF806040;
  ApplyColorMatrix(MakeSkinColorMatrix({2.0f, 0, 0, 0}), &p, 1);
  EXPECT_EQ(p, 0xFF995919u);
}

}  // namespace
}  // namespace spherolux::ui
