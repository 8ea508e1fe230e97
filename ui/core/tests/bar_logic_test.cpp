#include "ui/bar_logic.h"

#include <gtest/gtest.h>

namespace spherolux::ui {
namespace {

// Channel 10..210 (width 200) over the range 0..100.
TEST(SliderPositionTest, EndsOfTheChannelGiveTheEndsOfTheRange) {
  EXPECT_EQ(SliderPositionAt(10, 10, 200, 0, 100), 0);
  EXPECT_EQ(SliderPositionAt(210, 10, 200, 0, 100), 100);
  // The middle: f = 0.5 gives trunc(0 + 50.5 + 0.5 - 0.5) = 50.
  EXPECT_EQ(SliderPositionAt(110, 10, 200, 0, 100), 50);
  // A range that does not start at 0.
  EXPECT_EQ(SliderPositionAt(10, 10, 200, 20, 30), 20);
  EXPECT_EQ(SliderPositionAt(210, 10, 200, 20, 30), 30);
}

TEST(SliderPositionTest, ClicksPastTheChannelClampToTheRange) {
  EXPECT_EQ(SliderPositionAt(0, 10, 200, 0, 100), 0);
  EXPECT_EQ(SliderPositionAt(-500, 10, 200, 0, 100), 0);
  EXPECT_EQ(SliderPositionAt(260, 10, 200, 0, 100), 100);
  EXPECT_EQ(SliderPositionAt(5000, 10, 200, 0, 100), 100);
  EXPECT_EQ(SliderPositionAt(50, 10, 0, 0, 100), 0) << "a channel without width must not divide by zero";
}

TEST(SliderPositionTest, EveryPositionIsReachableAcrossTheChannel) {
  // Each of the 101 positions owns a band of about 2 pixels of a 200-pixel channel.
  int previous = -1;
  int distinct = 0;
  for (int x = 10; x <= 210; ++x) {
    const int p = SliderPositionAt(x, 10, 200, 0, 100);
    EXPECT_GE(p, previous);
    if (p != previous) ++distinct;
    previous = p;
  }
  EXPECT_EQ(distinct, 101);
}

TEST(FormatTimeTest, FieldsHaveTwoDigitsAndHoursDoNotWrap) {
  EXPECT_EQ(FormatTime(0), "00:00:00");
  EXPECT_EQ(FormatTime(3'725'000), "01:02:05");
  EXPECT_EQ(FormatTime(3'599'999), "00:59:59");
  EXPECT_EQ(FormatTime(360'000'000), "100:00:00");
  EXPECT_EQ(FormatTime(-1), "00:00:00") << "the engine reports -1 before it knows the time";
}

TEST(FileNameTest, TheNameFollowsTheLastSeparator) {
  EXPECT_EQ(FileNameOf("/home/u/clip.mp4"), "clip.mp4");
  EXPECT_EQ(FileNameOf("/films/a\\b.mp4"), "a\\b.mp4");
  EXPECT_EQ(FileNameOf("clip.mp4"), "clip.mp4");
}

TEST(PanelButtonsTest, EachKindOfFileGetsItsViewModes) {
  const unsigned common = kPanelSnapshot | kPanelDirection | kPanelReset;
  const unsigned sphere_set = kPanelSphere | kPanelTile | kPanelPlanet;
  const unsigned dome_set = kPanelHalfBall | kPanelInDome | kPanelLayer;
  // Single-lens camera: the dome views; record only for a video.
  EXPECT_EQ(PanelButtonsFor(1, 1920, 1080, false), common | dome_set | kPanelRecord);
  EXPECT_EQ(PanelButtonsFor(1, 1920, 1080, true), common | dome_set);
  // Dual-lens camera, whatever its size.
  EXPECT_EQ(PanelButtonsFor(2, 3840, 1920, false), common | sphere_set | kPanelRecord);
  EXPECT_EQ(PanelButtonsFor(2, 1000, 1000, true), common | sphere_set);
  // A stitched 2:1 file of no camera, and one stitched by the camera.
  EXPECT_EQ(PanelButtonsFor(0, 4096, 2048, true), common | sphere_set);
  EXPECT_EQ(PanelButtonsFor(512, 3840, 1920, false), common | sphere_set | kPanelRecord);
  // Anything else: an empty panel, also when MediaInfo reported no size.
  EXPECT_EQ(PanelButtonsFor(0, 1920, 1080, false), 0u);
  EXPECT_EQ(PanelButtonsFor(0, 0, 0, false), 0u);
}

TEST(RecordButtonTest, ASecondPressWithinThreeSecondsKeepsRecording) {
  RecordButtonRule rule;
  EXPECT_EQ(rule.Press(10'000), RecordButtonRule::Action::kStart);
  EXPECT_EQ(rule.Press(11'000), RecordButtonRule::Action::kNone);
  EXPECT_EQ(rule.Press(12'999), RecordButtonRule::Action::kNone);
  EXPECT_TRUE(rule.recording());
  EXPECT_EQ(rule.Press(13'000), RecordButtonRule::Action::kStop);
  EXPECT_FALSE(rule.recording());
  EXPECT_EQ(rule.Press(13'001), RecordButtonRule::Action::kStart) << "a new recording may start at once";
}

TEST(RecordButtonTest, StartsFromElsewhereCountTowardsTheThreeSeconds) {
  RecordButtonRule rule;
  rule.SetRecording(true, 50'000);  // started by the keyboard
  EXPECT_EQ(rule.Press(51'000), RecordButtonRule::Action::kNone);
  rule.SetRecording(false, 52'000);  // stopped by the end of the medium
  EXPECT_EQ(rule.Press(52'500), RecordButtonRule::Action::kStart);
}

TEST(RecordButtonTest, ADisabledButtonDoesNothing) {
  RecordButtonRule rule;
  rule.SetDisabled(true);
  EXPECT_EQ(rule.Press(1'000), RecordButtonRule::Action::kNone);
  rule.SetRecording(true, 1'000);
  EXPECT_FALSE(rule.recording());
}

TEST(RotationTest, QuarterTurnsWrapAround) {
  EXPECT_EQ(RotatedQuarter(0, true), 270);
  EXPECT_EQ(RotatedQuarter(270, false), 0);
  EXPECT_EQ(RotatedQuarter(90, true), 0);
  int r = 0;
  for (int i = 0; i < 4; ++i) r = RotatedQuarter(r, false);
  EXPECT_EQ(r, 0) << "four turns right come back";
}

TEST(CaptionGridTest, SystemButtonsSitThirtyPixelsApartFromTheRight) {
  EXPECT_EQ(CaptionSlotX(1022, 0), 982);  // close
  EXPECT_EQ(CaptionSlotX(1022, 1), 952);  // maximise
  EXPECT_EQ(CaptionSlotX(1022, 2), 922);  // minimise
  EXPECT_EQ(CaptionSlotX(1022, 8), 1022 - 280);
}

}  // namespace
}  // namespace spherolux::ui
