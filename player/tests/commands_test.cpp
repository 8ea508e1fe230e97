// The commands' text form and the one rule of when each applies, and the core's dispatch
// against a recording engine and host.
#include "player/commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/player_core.h"

namespace spherolux::player {
namespace {

TEST(Commands, TextFormRoundTripsAndRejectsWrongArguments) {
  for (const CommandId id : AllCommands()) {
    Command command{id};
    if (ArgsOf(id) != ArgKind::kNone) command.x = 3;
    if (ArgsOf(id) == ArgKind::kPair) command.y = -2.5f;
    const std::optional<Command> parsed = ParseCommand(FormatCommand(command));
    ASSERT_TRUE(parsed) << FormatCommand(command);
    EXPECT_EQ(*parsed, command) << FormatCommand(command);
  }
  EXPECT_EQ(ParseCommand("turn -5 0"), (Command{CommandId::kTurn, -5, 0}));
  EXPECT_EQ(ParseCommand("  view-mode   4 "), (Command{CommandId::kViewMode, 4}));
  for (const char* wrong :
       {"", "view-mode", "view-mode 1.5", "view-mode x", "turn 5", "quit now", "seek nan", "play", "zoom 1 2"}) {
    EXPECT_FALSE(ParseCommand(wrong)) << wrong;
  }
}

// Mode keys that did not suit the file turned the view black: the modes are the panel's.
TEST(Commands, ViewModesAreThePanelsModesAndTheFlatView) {
  constexpr unsigned kDual = 0b1000111, kSingle = 0b1111000;
  EXPECT_EQ(ViewModesFor(2, 1920, 960, false), kDual);
  EXPECT_EQ(ViewModesFor(0, 3840, 1920, true), kDual);  // a stitched panorama
  EXPECT_EQ(ViewModesFor(1, 1920, 1080, false), kSingle);
  EXPECT_EQ(ViewModesFor(0, 640, 360, false), 0u);

  Situation dual{Shown::kVideo, true, kDual};
  Situation single{Shown::kVideo, true, kSingle};
  for (int mode = 0; mode <= 6; ++mode) {
    const Command command{CommandId::kViewMode, static_cast<float>(mode)};
    EXPECT_EQ(Applies(command, dual), mode <= 2 || mode == 6) << mode;
    EXPECT_EQ(Applies(command, single), mode >= 3) << mode;
  }
  EXPECT_FALSE(Applies({CommandId::kViewMode, 7}, dual));
  EXPECT_FALSE(Applies({CommandId::kViewMode, -1}, dual));
  const Situation nothing;
  EXPECT_TRUE(Applies({CommandId::kViewMode, 4}, nothing)) << "kept for the next file";
  EXPECT_FALSE(Applies({CommandId::kViewMode, 7}, nothing));
}

TEST(Commands, APhotoHasNoPlayAndNothingOpenOnlyTheWindowsCommands) {
  const Situation photo{Shown::kPhoto, false, 0b1000111, true, true};
  for (const char* no : {"play-pause", "stop", "seek 5", "frame-step", "engine-snapshot", "stream-record",
                         "screen-record", "add-keyframe", "reframe"}) {
    EXPECT_FALSE(Applies(*ParseCommand(no), photo)) << no;
  }
  // Reframing is for a video that is shown.
  for (const char* reframe : {"add-keyframe", "reframe"}) {
    EXPECT_TRUE(Applies(*ParseCommand(reframe), Situation{Shown::kVideo, true, 0b111})) << reframe;
    EXPECT_FALSE(Applies(*ParseCommand(reframe), Situation{Shown::kNothing, true})) << reframe;
  }
  for (const char* yes : {"screenshot", "turn 5 0", "zoom 1", "flip", "rotate 1", "reset-view", "converter"}) {
    EXPECT_TRUE(Applies(*ParseCommand(yes), photo)) << yes;
  }
  const Situation ended{Shown::kNothing, true};
  EXPECT_TRUE(Applies({CommandId::kPlayPause}, ended)) << "play opens an ended or refused file again";
  EXPECT_FALSE(Applies({CommandId::kScreenshot}, ended));
  EXPECT_FALSE(Applies({CommandId::kConverter}, ended)) << "no converter plugged in";
  for (const char* always : {"open-file", "full-screen", "quit", "language", "toggle-mute", "volume 50"}) {
    EXPECT_TRUE(Applies(*ParseCommand(always), Situation{})) << always;
  }
  EXPECT_FALSE(Applies({CommandId::kScreenRecord}, Situation{Shown::kVideo, true, 0b111, true, false}));
}

// An engine and a host that note what they were asked.
struct Recorder : Engine, Host {
  int engine_state = kPlaying;
  Situation now{Shown::kVideo, true, 0b1000111, true, true};
  bool full = false;
  std::vector<std::string> calls;

  int state() const override { return engine_state; }
  void Play() override { calls.push_back("play"); }
  void Pause() override { calls.push_back("pause"); }
  void Stop() override { calls.push_back("stop"); }
  int position() const override { return 40; }
  void Seek(float percent) override { calls.push_back("seek " + std::to_string(static_cast<int>(percent))); }
  void FrameStep() override { calls.push_back("frame"); }
  void SetViewMode(int mode) override { calls.push_back("mode " + std::to_string(mode)); }
  void Turn(float x, float y) override {
    calls.push_back("turn " + std::to_string(int(x)) + " " + std::to_string(int(y)));
  }
  void Drag(float, float) override { calls.push_back("drag"); }
  void Fling(float, float) override { calls.push_back("fling"); }
  void Wheel(int delta) override { calls.push_back("wheel " + std::to_string(delta)); }
  void ResetView() override { calls.push_back("reset"); }
  void SetFlip(bool on) override { calls.push_back(on ? "flip on" : "flip off"); }
  void Rotate(int degrees) override { calls.push_back("rotate " + std::to_string(degrees)); }
  void Snapshot() override { calls.push_back("snapshot"); }
  void ToggleStreamRecording() override { calls.push_back("stream"); }
  void SetMute(bool on) override { calls.push_back(on ? "mute on" : "mute off"); }
  void SetVolume(int percent) override { calls.push_back("volume " + std::to_string(percent)); }
  int refusal = 0;
  bool opens = true;
  int Probe(const std::string& path, bool) override {
    calls.push_back("probe " + path);
    return refusal;
  }
  bool Open(const std::string& path, bool photo) override {
    calls.push_back((photo ? "open photo " : "open ") + path);
    return opens;
  }

  Situation situation() const override { return now; }
  void Reopen() override { calls.push_back("reopen"); }
  void FullScreen(bool on) override {
    full = on;
    calls.push_back(on ? "full on" : "full off");
  }
  bool fullScreen() const override { return full; }
  bool shown = false;
  bool showing() const override { return shown; }
  void Close() override { calls.push_back("close"); }
  void Refused(int reason) override { calls.push_back("refused " + std::to_string(reason)); }
  void OpenFailed() override { calls.push_back("open failed"); }
  void Started(bool photo) override {
    shown = true;
    calls.push_back(photo ? "started photo" : "started video");
  }
  void PlaybackChanged(Playback what, int64_t value) override {
    calls.push_back("playback " + std::to_string(static_cast<int>(what)) + " " + std::to_string(value));
  }
};

// Opening replaces what is shown, and the engine's events of what was shown before never reach
// the window once the next file is open: a late end of the last video would stop this one.
TEST(PlayerCore, OpensInPlaceOfWhatIsShownAndDropsEventsOfEarlierOpens) {
  Recorder r;
  PlayerCore core(r, r);
  core.Open("a.mp4", false);
  const uint32_t first = core.open_number();
  core.EngineEvent(first, Playback::kPlaying, 5000);
  core.Open("b.jpg", true);
  core.EngineEvent(first, Playback::kEnded, 0);
  core.EngineEvent(first, Playback::kPosition, 4000);
  r.refusal = 3;
  core.Open("c.mp4", false);
  const uint32_t refused = core.open_number();
  r.refusal = 0;
  r.opens = false;
  core.Open("d.mp4", false);
  core.EngineEvent(refused, Playback::kPaused, 0);
  r.opens = true;
  core.Open("e.mp4", false);
  core.EngineEvent(core.open_number(), Playback::kPaused, 0);
  const std::vector<std::string> expected = {
      "probe a.mp4", "open a.mp4",       "started video", "play",        "playback 0 5000", "close",
      "probe b.jpg", "open photo b.jpg", "started photo", "close",       "probe c.mp4",     "refused 3",
      "close",       "probe d.mp4",      "open d.mp4",    "open failed", "close",           "probe e.mp4",
      "open e.mp4",  "started video",    "play",          "playback 1 0"};
  EXPECT_EQ(r.calls, expected);
}

TEST(PlayerCore, RunsWhatAppliesAndKeepsWhatCommandsToggle) {
  Recorder r;
  PlayerCore core(r, r);
  EXPECT_TRUE(core.Run("play-pause"));
  r.engine_state = Engine::kPaused;
  EXPECT_TRUE(core.Run("play-pause"));
  r.engine_state = Engine::kStopped;
  EXPECT_TRUE(core.Run("play-pause"));
  EXPECT_FALSE(core.Run("view-mode 4")) << "a dome mode on a dual-lens file";
  EXPECT_TRUE(core.Run("view-mode 1"));
  EXPECT_TRUE(core.Run("rotate -1"));
  EXPECT_TRUE(core.Run("rotate -1"));
  EXPECT_TRUE(core.Run("flip"));
  EXPECT_TRUE(core.Run("flip"));
  EXPECT_TRUE(core.Run("seek-by -50"));
  EXPECT_TRUE(core.Run("seek 140"));
  EXPECT_TRUE(core.Run("zoom -2"));
  EXPECT_TRUE(core.Run("toggle-mute"));
  EXPECT_TRUE(core.Run("leave-full-screen"));
  EXPECT_TRUE(core.Run("full-screen"));
  EXPECT_TRUE(core.Run("leave-full-screen"));
  EXPECT_FALSE(core.Run("no-such-command"));
  const std::vector<std::string> expected = {"pause",      "play",    "reopen",   "mode 1",  "rotate 270",
                                             "rotate 180", "flip on", "flip off", "seek 0",  "seek 100",
                                             "wheel 240",  "mute on", "full on",  "full off"};
  EXPECT_EQ(r.calls, expected);

  // A new file starts upright and unflipped.
  core.Opened();
  r.calls.clear();
  core.Run("rotate 1");
  core.Run("flip");
  EXPECT_EQ(r.calls, (std::vector<std::string>{"rotate 90", "flip on"}));
}

}  // namespace
}  // namespace spherolux::player
