// The three bars, headless: every control posts its message to the owner; what the owner sets
// is shown.
#include "ui/bars.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <set>

#include "platform/messages.h"
#include "testing/message_recorder.h"
#include "ui/skin.h"
#include "ui/slider_ex.h"
#include "ui/strings.h"
#include "ui/tooltip.h"

namespace spherolux::ui {
namespace {

using platform::WParam;
using testing::Message;
using testing::MessageRecorder;
namespace msg = platform;

constexpr unsigned U(int n) { return platform::kWmUser + n; }

TEST(CaptionBarTest, EveryButtonPostsItsMessage) {
  MessageRecorder owner;
  CCaptionDlg caption(&owner);
  const std::vector<std::pair<int, Message>> table = {
      {1033, {U(220), 0, 0}}, {1048, {U(221), 0, 0}}, {1064, {U(219), 0, 0}}, {1065, {U(233), 0, 0}},
      {1066, {U(217), 0, 0}}, {1151, {U(245), 0, 0}}, {1152, {U(260), 0, 6}}, {1153, {U(260), 0, 0}},
      {1154, {U(260), 0, 3}}, {1155, {U(260), 0, 4}}, {1156, {U(260), 0, 5}}, {1157, {U(260), 0, 8}},
  };
  for (const auto& [id, expected] : table) {
    ASSERT_NE(caption.button(id), nullptr) << id;
    caption.button(id)->click();  // hidden buttons post as well
    EXPECT_TRUE(owner.received.empty()) << "bars post, they never call the owner directly";
    EXPECT_EQ(owner.Take(), std::vector<Message>{expected}) << "control " << id;
  }
}

TEST(CaptionBarTest, ButtonsSitOnTheThirtyPixelGridFromTheRight) {
  MessageRecorder owner;
  owner.resize(1700, 600);
  CCaptionDlg caption(&owner);
  owner.show();  // resize events reach visible widgets at once
  caption.resize(1022, 30);
  EXPECT_EQ(caption.button(CCaptionDlg::kClose)->geometry(), QRect(982, 0, 30, 30));
  EXPECT_EQ(caption.button(CCaptionDlg::kMaximise)->x(), 952);
  EXPECT_EQ(caption.button(CCaptionDlg::kMinimise)->x(), 922);
  EXPECT_EQ(caption.button(CCaptionDlg::kMenu)->x(), 892);
  caption.SetViewSet(kPanelSphere | kPanelTile | kPanelPlanet);
  caption.resize(1600, 30);
  EXPECT_EQ(caption.button(CCaptionDlg::kClose)->x(), 1560);
  for (int id : {CCaptionDlg::kPanelToggle, CCaptionDlg::kFlat, CCaptionDlg::kSphere}) {
    QWidget* b = caption.button(id);
    EXPECT_FALSE(b->isHidden()) << id;
    EXPECT_EQ((1600 - 40 - b->x()) % 30, 0) << id;
    EXPECT_LE(1600 - b->x(), 280) << id;
  }
  EXPECT_TRUE(caption.button(CCaptionDlg::kHalfBall)->isHidden());
  EXPECT_TRUE(caption.button(CCaptionDlg::kPalette)->isHidden());
  // The dome views of a single-lens file still fit the grid, up to width - 280.
  caption.SetViewSet(kPanelHalfBall | kPanelInDome | kPanelLayer);
  std::set<int> places;
  for (int id : {CCaptionDlg::kPanelToggle, CCaptionDlg::kFlat, CCaptionDlg::kHalfBall, CCaptionDlg::kInDome,
                 CCaptionDlg::kLayer, CCaptionDlg::kMenu}) {
    QWidget* b = caption.button(id);
    EXPECT_FALSE(b->isHidden()) << id;
    EXPECT_LE(1600 - b->x(), 280) << id;
    EXPECT_TRUE(places.insert(b->x()).second) << "two buttons share a place: " << id;
  }
}

TEST(CaptionBarTest, MaximiseButtonSwitchesImageAndTooltip) {
  MessageRecorder owner;
  CCaptionDlg caption(&owner);
  CButtonEx* max = caption.button(CCaptionDlg::kMaximise);
  caption.SetMaximised(true);
  EXPECT_EQ(max->images().normal, kImgRestore);
  EXPECT_EQ(max->images().hover, kImgHover);
  EXPECT_EQ(max->images().strip, kImgCaptionStrip);
  EXPECT_EQ(max->tooltipText(), LoadString(kStrRestore));
  caption.SetMaximised(false);
  EXPECT_EQ(max->images().normal, kImgMaximise);
  EXPECT_EQ(max->images().hover, kImgHover);
  EXPECT_EQ(max->tooltipText(), LoadString(kStrMaximise));
}

TEST(BottomBarTest, EveryButtonPostsItsMessage) {
  MessageRecorder owner;
  CBOTTOMDLG bottom(&owner);
  bottom.SetMediumOpen(true);
  const std::vector<std::pair<int, std::vector<Message>>> table = {
      {1033, {{U(227), 0, 0}}},
      {1048, {{U(205), 0, 0}}},
      {1067, {{U(238), 1258, 1275}, {U(112), 0, 0}}},
      {1006, {{U(224), 0, 0}}},
      {1007, {{U(248), 0, 0}}},
      {1008, {{U(222), 0, 0}}},
      {1070, {{U(230), 0, 0}}},
      {1071, {{U(231), 0, 0}}},
      {1066, {}},
      {1068, {}},
  };
  for (const auto& [id, expected] : table) {
    ASSERT_NE(bottom.button(id), nullptr) << id;
    bottom.button(id)->click();
    EXPECT_EQ(owner.Take(), expected) << "control " << id;
  }
}

TEST(BottomBarTest, TheVolumeButtonTogglesMute) {
  MessageRecorder owner;
  CBOTTOMDLG bottom(&owner);
  CButtonEx* vol = bottom.button(CBOTTOMDLG::kVolumeButton);
  EXPECT_EQ(vol->images().normal, kImgSoundOn);
  vol->click();
  EXPECT_TRUE(bottom.muted());
  EXPECT_EQ(vol->images().normal, kImgMuted);
  vol->click();
  EXPECT_EQ(vol->images().normal, kImgSoundOn);
  EXPECT_EQ(owner.Take(), (std::vector<Message>{{U(232), 1, 0}, {U(232), 0, 0}}));
}

// Turning the volume up while muted is meant to be heard: the bar unmutes before the volume.
TEST(BottomBarTest, MovingTheVolumeWhileMutedUnmutes) {
  MessageRecorder owner;
  CBOTTOMDLG bottom(&owner);
  bottom.button(CBOTTOMDLG::kVolumeButton)->click();
  ASSERT_TRUE(bottom.muted());
  bottom.send(platform::kWmHScroll, platform::MakeWParam(platform::kSbThumbTrack, 70), CBOTTOMDLG::kVolumeSlider);
  EXPECT_FALSE(bottom.muted());
  EXPECT_EQ(bottom.button(CBOTTOMDLG::kVolumeButton)->images().normal, kImgSoundOn);
  EXPECT_EQ(owner.Take(), (std::vector<Message>{{U(232), 1, 0}, {U(232), 0, 0}, {U(211), 1021, 70}}));
}

// The pointer over the seek bar of a 200-second medium, a quarter along the channel: the
// tooltip names the time there. Without a medium there is no time to name.
TEST(BottomBarTest, HoveringTheSeekBarShowsTheTimeThere) {
  MessageRecorder owner;
  owner.resize(1022, 100);
  CBOTTOMDLG bottom(&owner);
  owner.show();
  CSliderCtrlEx* seek = bottom.seekSlider();
  const QRect channel = seek->ChannelRect();
  const QPointF at(channel.left() + channel.width() / 4.0, channel.center().y());
  const auto hover = [&] {
    QMouseEvent move(QEvent::MouseMove, at, seek->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(seek, &move);
  };
  hover();
  EXPECT_EQ(ShownTooltip(), nullptr);
  bottom.SetMediumOpen(true);
  bottom.SetTotalTime(200'000);
  hover();
  ASSERT_NE(ShownTooltip(), nullptr);
  EXPECT_EQ(static_cast<QLabel*>(ShownTooltip())->text(), "00:00:50");
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(seek, &leave);
  EXPECT_EQ(ShownTooltip(), nullptr);
}

TEST(BottomBarTest, SlidersPostVolumeAndSeekButNotTheVeryEnd) {
  MessageRecorder owner;
  CBOTTOMDLG bottom(&owner);
  EXPECT_EQ(bottom.volumeSlider()->pos(), 50);
  EXPECT_EQ(bottom.seekSlider()->rangeMax(), 100);
  // The sliders report to the bar as any slider does; the bar turns that into its posts.
  bottom.send(platform::kWmHScroll, platform::MakeWParam(platform::kSbThumbTrack, 70), CBOTTOMDLG::kVolumeSlider);
  bottom.send(platform::kWmHScroll, platform::MakeWParam(platform::kSbThumbTrack, 42), CBOTTOMDLG::kSeekSlider);
  bottom.send(platform::kWmHScroll, platform::MakeWParam(platform::kSbThumbPosition, 100), CBOTTOMDLG::kSeekSlider);
  EXPECT_EQ(owner.Take(), (std::vector<Message>{{U(211), 1021, 70}, {U(212), 1020, 42}}));
}

TEST(BottomBarTest, TimesAndStateAreShown) {
  MessageRecorder owner;
  CBOTTOMDLG bottom(&owner);
  EXPECT_EQ(bottom.totalText(), "00:00:00");
  bottom.SetTotalTime(3'725'000);
  bottom.SetTime(360'000'000);
  EXPECT_EQ(bottom.totalText(), "01:02:05");
  EXPECT_EQ(bottom.timeText(), "100:00:00");
  EXPECT_FALSE(bottom.button(CBOTTOMDLG::kStop)->isEnabled()) << "nothing open: stop is off";
  bottom.SetMediumOpen(true);
  EXPECT_TRUE(bottom.button(CBOTTOMDLG::kStop)->isEnabled());
  bottom.SetPlaying(true);
  EXPECT_EQ(bottom.button(CBOTTOMDLG::kPlay)->images().normal, kImgPause);
  bottom.SetPlaying(false);
  EXPECT_EQ(bottom.button(CBOTTOMDLG::kPlay)->images().normal, kImgPlay);
}

// Answers the panel's questions about a file from a table, as the player window would from the
// camera-type query and MediaInfo.
struct TableFacts : MediaFacts {
  int type = 0, width = 0, height = 0;
  bool known = true;
  int CameraType(const std::string&) override { return type; }
  bool FrameSize(const std::string&, bool, int* w, int* h) override {
    *w = width;
    *h = height;
    return known;
  }
};

TEST(FloatPanelTest, EveryButtonPostsItsMessage) {
  MessageRecorder owner;
  TableFacts facts;
  facts.type = 2;
  CFloatDlg panel(&owner, &facts, [] { return int64_t{0}; });
  const std::vector<std::pair<int, Message>> table = {
      {1152, {U(260), 0, 0}}, {1006, {U(260), 0, 1}}, {1007, {U(260), 0, 2}}, {1150, {U(260), 0, 3}},
      {1066, {U(260), 0, 4}}, {1151, {U(260), 0, 5}}, {1048, {U(260), 0, 8}}, {1005, {U(260), 0, 9}},
      {1033, {U(110), 0, 0}}, {1008, {U(111), 0, 0}}, {1149, {U(248), 0, 0}},
  };
  for (const auto& [id, expected] : table) {
    panel.button(id)->click();
    EXPECT_EQ(owner.Take(), std::vector<Message>{expected}) << "control " << id;
  }
}

TEST(FloatPanelTest, TheButtonsSuitTheKindOfFile) {
  MessageRecorder owner;
  TableFacts facts;
  CFloatDlg panel(&owner, &facts);
  const auto shown = [&panel](int id) { return !panel.button(id)->isHidden(); };

  facts.type = 1;  // single-lens camera video: dome views and record
  panel.SetFile("/v/single.mp4");
  for (int id : {CFloatDlg::kHalfBall, CFloatDlg::kInDome, CFloatDlg::kLayer, CFloatDlg::kRecord, CFloatDlg::kSnapshot,
                 CFloatDlg::kDirection, CFloatDlg::kReset}) {
    EXPECT_TRUE(shown(id)) << id;
  }
  for (int id : {CFloatDlg::kSphere, CFloatDlg::kTile, CFloatDlg::kPlanet}) EXPECT_FALSE(shown(id)) << id;

  facts.type = 2;  // dual-lens camera photo: sphere views, no record
  panel.SetFile("/p/dual.JPG");
  for (int id : {CFloatDlg::kSphere, CFloatDlg::kTile, CFloatDlg::kPlanet}) EXPECT_TRUE(shown(id)) << id;
  EXPECT_FALSE(shown(CFloatDlg::kRecord));
  EXPECT_FALSE(shown(CFloatDlg::kHalfBall));

  facts = {};
  facts.width = 4000;
  facts.height = 2000;  // a stitched 2:1 video
  panel.SetFile("/v/pano.mp4");
  EXPECT_TRUE(shown(CFloatDlg::kSphere));
  EXPECT_TRUE(shown(CFloatDlg::kRecord));

  facts.width = 1920;
  facts.height = 1080;  // anything else: nothing
  panel.SetFile("/v/plain.mp4");
  EXPECT_EQ(panel.visibleButtons(), 0u);
  for (int id : {CFloatDlg::kSnapshot, CFloatDlg::kRecord, CFloatDlg::kReset, CFloatDlg::kConverter}) {
    EXPECT_FALSE(shown(id)) << id;
  }
}

TEST(FloatPanelTest, RecordWithinThreeSecondsIsIgnoredAndRecordingBlinks) {
  MessageRecorder owner;
  TableFacts facts;
  facts.type = 2;
  int64_t now = 100'000;
  CFloatDlg panel(&owner, &facts, [&now] { return now; });
  panel.SetFile("/v/dual.mp4");
  CButtonEx* record = panel.button(CFloatDlg::kRecord);
  record->click();
  now += 2'999;
  record->click();  // too soon: still recording
  EXPECT_EQ(owner.Take(), (std::vector<Message>{{U(111), 0, 0}}));
  EXPECT_TRUE(panel.recording());
  EXPECT_TRUE(panel.timerRunning(CFloatDlg::kBlinkTimer));

  EXPECT_EQ(record->images().normal, kImgRecordOn);
  ASSERT_TRUE(testing::PumpUntil([&] { return record->images().normal == kImgRecordDim; }, 2000));
  ASSERT_TRUE(testing::PumpUntil([&] { return record->images().normal == kImgRecordOn; }, 2000));

  now += 1;
  record->click();
  EXPECT_EQ(owner.Take(), (std::vector<Message>{{U(112), 0, 0}}));
  EXPECT_FALSE(panel.timerRunning(CFloatDlg::kBlinkTimer));
  EXPECT_EQ(record->images().normal, kImgRecordIdle);
}

TEST(FloatPanelTest, DisabledRecordingDoesNothing) {
  MessageRecorder owner;
  TableFacts facts;
  facts.type = 2;
  CFloatDlg panel(&owner, &facts);
  panel.SetFile("/v/dual.mp4");
  panel.SetRecordingDisabled(true);
  panel.button(CFloatDlg::kRecord)->click();  // a disabled button cannot be clicked at all
  panel.send(kWmCommand, CFloatDlg::kRecord, 0);
  panel.SetRecording(true);
  EXPECT_TRUE(owner.Take().empty());
  EXPECT_FALSE(panel.recording());
  EXPECT_EQ(panel.button(CFloatDlg::kRecord)->images().normal, kImgRecordDisabled);
}

TEST(BarsTest, PointerEnteringAndLeavingIsReported) {
  MessageRecorder owner;
  TableFacts facts;
  CCaptionDlg caption(&owner);
  CBOTTOMDLG bottom(&owner);
  CFloatDlg panel(&owner, &facts);
  for (QWidget* bar : std::initializer_list<QWidget*>{&caption, &bottom, &panel}) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(bar, &enter);
    QCoreApplication::sendEvent(bar, &leave);
  }
  EXPECT_EQ(owner.Take(),
            (std::vector<Message>{{U(240), 0, 0}, {U(241), 0, 0}, {U(243), 0, 0}, {U(249), 0, 0}, {U(250), 0, 0}}));
}

}  // namespace
}  // namespace spherolux::ui
