// The range slider's rules: where values sit in pixels, which thumb a press takes, and that
// the thumbs never meet.
#include "dialogs/range_slider_model.h"

#include <gtest/gtest.h>

namespace spherolux::dialogs {
namespace {

// The trim preview's slider: 614 pixels long (a 640-pixel preview less 2 x 13), thumbs 13
// wide, range 0-100.
RangeSliderModel PreviewSlider() {
  RangeSliderModel m;
  m.SetRange(0, 100);
  m.SetLength(614);
  m.SetThumbWidth(13);
  m.SetLow(0);
  m.SetHigh(100);
  return m;
}

TEST(RangeSliderModelTest, ValuesAndPixelsMeetAtBothEnds) {
  const RangeSliderModel m = PreviewSlider();
  // The range spans [T, L - T] = [13, 601].
  EXPECT_EQ(m.PixelOf(0), 13);
  EXPECT_EQ(m.PixelOf(100), 601);
  EXPECT_EQ(m.PixelOf(50), 307);  // 588 / 2 + 13 + 0.5, truncated
  EXPECT_EQ(m.ValueAt(13), 0);
  EXPECT_EQ(m.ValueAt(601), 100);
  // Rounded to the nearest value: 5.88 pixels per percent.
  EXPECT_EQ(m.ValueAt(13 + 3), 1);
  EXPECT_EQ(m.ValueAt(13 + 2), 0);
  for (int v = 0; v <= 100; ++v) EXPECT_EQ(m.ValueAt(m.PixelOf(v)), v) << v;
}

TEST(RangeSliderModelTest, APressTakesTheThumbOnItsOwnSide) {
  RangeSliderModel m = PreviewSlider();
  m.SetLow(20);
  m.SetHigh(80);
  const int a = m.PixelOf(20), b = m.PixelOf(80);
  // The low thumb lies left of its pixel, the high thumb right of its pixel.
  m.Press(a - 5);
  EXPECT_TRUE(m.dragging_low());
  m.Release(a - 5);
  m.Press(b + 5);
  EXPECT_TRUE(m.dragging_high());
  m.Release(b + 5);
  // Just beside the thumbs, or on their exact edge, nothing is taken.
  for (int x : {a - 13, a, b, b + 13}) {
    m.Press(x);
    EXPECT_FALSE(m.dragging_low() || m.dragging_high()) << x;
    EXPECT_EQ(m.Release(x), std::nullopt) << x;
  }
}

TEST(RangeSliderModelTest, DraggingKeepsTheGrabOffsetAndReportsEachThumb) {
  RangeSliderModel m = PreviewSlider();
  // Grabbing the low thumb 6 pixels left of its pixel and moving by 10 percent's worth.
  const int a = m.PixelOf(0);
  m.Press(a - 6);
  EXPECT_EQ(m.Move(a - 6 + 59), RangeSliderModel::kLowMoved);
  EXPECT_EQ(m.low(), 10);
  // A move that lands on the same value says nothing; the release always reports.
  EXPECT_EQ(m.Move(a - 6 + 60), std::nullopt);
  EXPECT_EQ(m.Release(a - 6 + 60), RangeSliderModel::kLowMoved);
  EXPECT_FALSE(m.dragging_low());

  const int b = m.PixelOf(100);
  m.Press(b + 4);
  EXPECT_EQ(m.Move(b + 4 - m.PixelOf(100) + m.PixelOf(50)), RangeSliderModel::kHighMoved);
  EXPECT_EQ(m.high(), 50);
  EXPECT_EQ(m.Release(0), RangeSliderModel::kHighMoved);
}

TEST(RangeSliderModelTest, TheThumbsNeverMeet) {
  RangeSliderModel m = PreviewSlider();
  m.SetLow(40);
  m.SetHigh(60);
  m.Press(m.PixelOf(40) - 5);
  m.Move(600);  // far past the high thumb
  EXPECT_EQ(m.low(), 59);
  m.Move(-500);  // and far before the start
  EXPECT_EQ(m.low(), 0);
  m.Release(0);

  m.SetLow(40);
  m.Press(m.PixelOf(60) + 5);
  m.Move(0);
  EXPECT_EQ(m.high(), 41);
  m.Move(5000);
  EXPECT_EQ(m.high(), 100);
  m.Release(5000);
  EXPECT_LT(m.low(), m.high());
}

TEST(RangeSliderModelTest, AClickBetweenTheThumbsIsKeptWithinTheRange) {
  RangeSliderModel m = PreviewSlider();
  m.SetLow(20);
  m.SetHigh(80);
  m.Press(m.PixelOf(50));
  EXPECT_EQ(m.Release(m.PixelOf(50)), RangeSliderModel::kClicked);
  EXPECT_EQ(m.clicked(), 50);
  // Released outside the selection: the click lands on its nearer end.
  m.Press(m.PixelOf(30));
  EXPECT_EQ(m.Release(2), RangeSliderModel::kClicked);
  EXPECT_EQ(m.clicked(), 20);
  m.Press(m.PixelOf(30));
  EXPECT_EQ(m.Release(613), RangeSliderModel::kClicked);
  EXPECT_EQ(m.clicked(), 80);
  // Leaving the slider forgets the press.
  m.Press(m.PixelOf(30));
  m.Leave();
  EXPECT_EQ(m.Release(m.PixelOf(30)), std::nullopt);
}

TEST(RangeSliderModelTest, NormaliseRepairsReversedSettings) {
  RangeSliderModel m;
  m.SetRange(100, 0);
  m.SetLow(90);
  m.SetHigh(-20);
  m.Normalise();
  EXPECT_EQ(m.minimum(), 0);
  EXPECT_EQ(m.maximum(), 100);
  EXPECT_EQ(m.low(), 0);
  EXPECT_EQ(m.high(), 90);
}

}  // namespace
}  // namespace spherolux::dialogs
