// The trim preview's rules: the first frame shown paused once the length is known, the range
// and its labels, and playing into the end of the selection.
#include "dialogs/trim_preview_model.h"

#include <gtest/gtest.h>

namespace spherolux::dialogs {
namespace {

using Step = PreviewStep;
const Step kToggle{Step::kTogglePlay};
const Step kStop{Step::kStop};
const Step kChanged{Step::kRangeChanged};
Step Seek(int v) { return {Step::kSeek, v}; }

TEST(TrimPreviewModelTest, AVideoPausesOnItsFirstFrameOnceItsLengthIsKnown) {
  TrimPreviewModel m;
  EXPECT_EQ(m.Load("/clips/a.mp4", false), PreviewSteps{kToggle});
  EXPECT_EQ(m.media_length_ms(), TrimPreviewModel::kUnknownLengthMs);
  // The first playing event carries the length: pause at once.
  EXPECT_EQ(m.OnPlaying(120000, 100), PreviewSteps{kToggle});
  EXPECT_EQ(m.media_length_ms(), 120000);
  EXPECT_EQ(m.range_high(), 100);
  EXPECT_EQ(m.end_label(), "00:02:00");
  // Later playing events (the user's play) change nothing.
  EXPECT_EQ(m.OnPlaying(120000, 100), PreviewSteps{});
  // Without a length the first event only clears the flag.
  m.Load("/clips/b.mp4", false);
  EXPECT_EQ(m.OnPlaying(0, 100), PreviewSteps{});
  EXPECT_FALSE(m.first_play());
  EXPECT_EQ(m.media_length_ms(), TrimPreviewModel::kUnknownLengthMs);
}

// A queued job shown again once came back with the whole file selected: its own range is
// loaded with it, shown with its times, and its first frame is the range's start.
TEST(TrimPreviewModelTest, AFileLoadedWithItsRangeShowsThatRange) {
  TrimPreviewModel m;
  m.Load("/clips/a.mp4", false);
  EXPECT_EQ(m.Load("/clips/b.mp4", false, 25, 75), (PreviewSteps{kStop, kToggle}));
  EXPECT_EQ(m.range_low(), 25);
  EXPECT_EQ(m.range_high(), 75);
  EXPECT_EQ(m.OnPlaying(120000, 75), (PreviewSteps{kToggle, Seek(25)}));
  EXPECT_EQ(m.start_label(), "00:00:30");
  EXPECT_EQ(m.end_label(), "00:01:30");
}

TEST(TrimPreviewModelTest, ANewFileStopsTheOldOneAndForgetsItsRangeAndLength) {
  TrimPreviewModel m;
  m.Load("/clips/a.mp4", false);
  m.OnPlaying(90000, 100);
  m.OnSlider(0, 30, false);
  m.OnSlider(1, 60, false);
  EXPECT_EQ(m.Load("/clips/b.jpg", true), (PreviewSteps{kStop, kToggle}));
  EXPECT_EQ(m.range_low(), 0);
  EXPECT_EQ(m.range_high(), 100);
  EXPECT_EQ(m.media_length_ms(), TrimPreviewModel::kUnknownLengthMs);
  EXPECT_EQ(m.start_label(), "00:00:00");
  EXPECT_EQ(m.end_label(), "00:00:00");
  EXPECT_TRUE(m.photo());
}

TEST(TrimPreviewModelTest, MovingAThumbSetsTheRangeItsLabelAndTellsTheConverter) {
  TrimPreviewModel m;
  m.Load("/clips/two-minutes.mp4", false);
  m.OnPlaying(120000, 100);
  // The high thumb to 50 of two minutes: 00:01:00, a seek there, and a new output name.
  EXPECT_EQ(m.OnSlider(1, 50, false), (PreviewSteps{Seek(50), kChanged}));
  EXPECT_EQ(m.range_high(), 50);
  EXPECT_EQ(m.end_label(), "00:01:00");
  // While playing, a thumb pauses first; a click between the thumbs only seeks.
  EXPECT_EQ(m.OnSlider(0, 25, true), (PreviewSteps{kToggle, Seek(25), kChanged}));
  EXPECT_EQ(m.start_label(), "00:00:30");
  EXPECT_EQ(m.OnSlider(2, 40, true), PreviewSteps{Seek(40)});
  EXPECT_EQ(m.range_low(), 25);
  EXPECT_EQ(m.range_high(), 50);
}

TEST(TrimPreviewModelTest, LabelsShowHoursMinutesAndSeconds) {
  TrimPreviewModel m;
  m.Load("/clips/long.mp4", false);
  m.OnPlaying(3725000, 100);
  EXPECT_EQ(m.end_label(), "01:02:05");
  EXPECT_EQ(m.TimeAt(0), "00:00:00");
  // 3,725,000 ms at 1 %: 37,250 ms, truncated to whole seconds.
  EXPECT_EQ(m.TimeAt(1), "00:00:37");
}

TEST(TrimPreviewModelTest, PlayingIntoTheEndOfTheRangePausesAndRewinds) {
  TrimPreviewModel m;
  m.Load("/clips/a.mp4", false);
  m.OnPlaying(60000, 100);
  m.OnSlider(0, 10, false);
  m.OnSlider(1, 70, false);
  EXPECT_EQ(m.OnPosition(69, true, false), PreviewSteps{});
  EXPECT_EQ(m.OnPosition(70, true, false), (PreviewSteps{kToggle, Seek(10)}));
  // Paused on the end of the range (the user sought it): the frame stays.
  EXPECT_EQ(m.OnPosition(70, false, true), PreviewSteps{});
  EXPECT_EQ(m.position(), 70);
  // The play button starts again from the beginning of the range.
  EXPECT_EQ(m.OnPlayButton(), (PreviewSteps{Seek(10), kToggle}));
  m.OnSeek(10);
  EXPECT_EQ(m.OnPlayButton(), PreviewSteps{kToggle});
  // Stopped or idle players report nothing worth keeping.
  EXPECT_EQ(m.OnPosition(90, false, false), PreviewSteps{});
  EXPECT_EQ(m.position(), 10);
}

TEST(TrimPreviewModelTest, TheEndOfTheFileStartsAgainAtTheRangeKeptAsShown) {
  TrimPreviewModel m;
  m.Load("/clips/a.mp4", false);
  m.OnPlaying(60000, 100);
  m.OnSlider(0, 20, false);
  m.OnSlider(1, 99, false);
  // The end reached: open again, and pause on range low at the first playing event.
  EXPECT_EQ(m.OnStopped(true), PreviewSteps{kToggle});
  EXPECT_EQ(m.EndMarker(), 99);
  EXPECT_EQ(m.OnPlaying(60000, 99), (PreviewSteps{kToggle, Seek(20)}));
  // The range the slider shows is the range converted.
  EXPECT_EQ(m.range_high(), 99);
  EXPECT_EQ(m.end_label(), "00:00:59");
  // A stop asked for by the window starts nothing.
  EXPECT_EQ(m.OnStopped(false), PreviewSteps{});
  EXPECT_EQ(m.position(), 0);
}

}  // namespace
}  // namespace spherolux::dialogs
