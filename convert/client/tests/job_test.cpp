#include "convert/job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "convert/words.h"

namespace spherolux::convert {
namespace {

TEST(OutputNaming, PicksTheFirstFreeIndexAndTheRightExtension) {
  std::set<std::string> files = {"/out/VID_0001_spherolux_0.mp4"};
  auto exists = [&](const std::string& p) { return files.count(p) > 0; };
  EXPECT_EQ(ProposeOutputPath("/out/", "VID_0001.MP4", false, exists), "/out/VID_0001_spherolux_1.mp4");
  files.insert("/out/VID_0001_spherolux_1.mp4");
  EXPECT_EQ(ProposeOutputPath("/out/", "VID_0001.MP4", false, exists), "/out/VID_0001_spherolux_2.mp4");
  EXPECT_EQ(ProposeOutputPath("/out/", "clip.MOV", false, exists), "/out/clip_spherolux_0.mp4");
  EXPECT_EQ(ProposeOutputPath("/out/", "IMG_0002.JPG", true, exists), "/out/IMG_0002_spherolux_0.jpg");
  // The extension's letters elsewhere in the name stay as they are.
  EXPECT_EQ(ProposeOutputPath("", "MOVIE.MOV", false, exists), "MOVIE_spherolux_0.mp4");
  EXPECT_EQ(ProposeOutputPath("", "a.mp4.mp4", false, exists), "a.mp4_spherolux_0.mp4");
  EXPECT_EQ(ProposeOutputPath("d/", "noext", false, exists), "d/noext_spherolux_0.mp4");

  // A name past 255 bytes loses the end of its stem, never half a character.
  std::string stem = "ab";
  while (stem.size() < 250) stem += "\xC3\xA9";  // é
  const std::string name = ProposeOutputPath("/out/", stem + ".mp4", false, exists).substr(5);
  EXPECT_EQ(name.size(), 255u - 1);  // 239 bytes of stem would split an é: 238 are kept
  EXPECT_EQ(name.substr(238), "_spherolux_0.mp4");
  EXPECT_EQ(name.substr(0, 238), stem.substr(0, 238));
}

TEST(TrimRanges, FollowThePercentAndShortRangeRules) {
  // 50 s, range 20..21: 10,000 + 500 ms becomes 9,000 + 1,500 ms.
  TrimRange r = RangeFromPercent(20, 21, 50000);
  EXPECT_EQ(r.start_ms, 9000);
  EXPECT_EQ(r.duration_ms, 1500);
  EXPECT_EQ(FormatClockMs(r.start_ms), "00:00:09.000");
  EXPECT_EQ(FormatClockMs(r.duration_ms), "00:00:01.500");
  // Full range of 90 s.
  r = RangeFromPercent(0, 100, 90000);
  EXPECT_EQ(FormatClock(r.start_ms), "00:00:00");
  EXPECT_EQ(FormatClock(r.duration_ms), "00:01:30");
  // A short range at the very start cannot begin before 0.
  r = RangeFromPercent(0, 1, 20000);
  EXPECT_EQ(r.start_ms, 0);
  EXPECT_EQ(r.duration_ms, 1200);
  // Truncation: 33 % of 1,001 ms is 330.33 ms.
  r = RangeFromPercent(33, 99, 10010);
  EXPECT_EQ(r.start_ms, 3303);
  EXPECT_EQ(r.duration_ms, 6606);
  // Ten hours: the products pass 32 bits without harm.
  r = RangeFromPercent(50, 100, 36000000);
  EXPECT_EQ(r.start_ms, 18000000);
  EXPECT_EQ(FormatClock(r.duration_ms), "05:00:00");
  EXPECT_EQ(FormatClock(3725000), "01:02:05");
  EXPECT_EQ(FormatClockMs(3725042), "01:02:05.042");
  EXPECT_EQ(FormatClock(360000000), "100:00:00");
}

TEST(EngineVectors, HaveTheEntriesOfEachQuality) {
  TrimRange r{9000, 1500};
  const std::vector<std::string> head = {"ffmpeg", "-d",        "-ss", "00:00:09.000",
                                         "-i",     "/in/a.mp4", "-t",  "00:00:01.500"};
  struct Case {
    Quality q;
    bool copy;
    size_t count;
    int high;
    std::vector<std::string> codec;
  } cases[] = {
      {Quality::kHigh, true, 11, 0, {"-c", "copy"}},
      {Quality::kLow,
       false,
       23,
       0,
       {"-pix_fmt", "yuv420p", "-b:v", "4096k", "-r", "15", "-profile:v", "main", "-preset", "veryfast", "-refs", "1",
        "-bf", "0"}},
      {Quality::kMedium,
       false,
       21,
       0,
       {"-pix_fmt", "yuv420p", "-b:v", "10000k", "-profile:v", "main", "-preset", "veryfast", "-refs", "2", "-bf",
        "1"}},
      {Quality::kHigh, false, 13, 1, {"-pix_fmt", "yuv420p", "-b:v", "20000k"}},
  };
  for (const auto& c : cases) {
    EngineCall call = ConversionCall("/in/a.mp4", "/out/a_spherolux_0.mp4", r, c.q, c.copy);
    ASSERT_EQ(call.args.size(), c.count);
    EXPECT_EQ(call.high_flag, c.high);
    std::vector<std::string> expected = head;
    expected.insert(expected.end(), c.codec.begin(), c.codec.end());
    expected.push_back("/out/a_spherolux_0.mp4");
    EXPECT_EQ(call.args, expected);
  }
  // H.265: the same options after the encoder's name, at rates of its own, each lower than
  // H.264's for the quality and rising with it; a copy stays a copy.
  int64_t last_rate = 0;
  for (const auto& c : cases) {
    EngineCall call = ConversionCall("/in/a.mp4", "/out/a.mp4", r, c.q, c.copy, OutputName::kClaim, Codec::kH265);
    EngineCall avc = ConversionCall("/in/a.mp4", "/out/a.mp4", r, c.q, c.copy);
    if (c.copy) {
      EXPECT_EQ(call.args, avc.args);
      continue;
    }
    ASSERT_EQ(call.args.size(), c.count + 2);
    EXPECT_EQ(call.high_flag, c.high);
    EXPECT_EQ(std::vector<std::string>(call.args.begin() + 8, call.args.begin() + 10),
              (std::vector<std::string>{"-c:v", "libx265"}));
    std::vector<std::string> rest(call.args.begin() + 10, call.args.end());
    std::vector<std::string> avc_rest(avc.args.begin() + 8, avc.args.end());
    const int64_t hevc_rate = std::stoll(rest[3]), avc_rate = std::stoll(avc_rest[3]);
    EXPECT_LT(hevc_rate, avc_rate);
    EXPECT_GT(hevc_rate, last_rate);
    last_rate = hevc_rate;
    rest[3] = avc_rest[3];
    EXPECT_EQ(rest, avc_rest);
  }
  EXPECT_EQ(
      MergeArgs("/tmp/x/filelist.txt", "/out/m.mp4"),
      (std::vector<std::string>{"ffmpeg", "-f", "concat", "-i", "/tmp/x/filelist.txt", "-c", "copy", "/out/m.mp4"}));
}

// A reframe job renders a flat view, even from a clip the camera stitched (which a conversion
// copies), and reads a stitched panorama's picture as it is (no two-lens input).
TEST(ConversionCall, AReframeCallRendersTheViewPathAndNeverCopies) {
  const TrimRange r{2000, 5000};
  const EngineCall lenses = ReframeCall("/in/a.mp4", "/out/a_spherolux_0.mp4", r, Quality::kMedium, "/p/path.json",
                                        1080, 1920, false, OutputName::kKeep);
  const std::vector<std::string> tail = {"-reframe", "/p/path.json", "-s", "1080x1920", "/out/a_spherolux_0.mp4"};
  ASSERT_GE(lenses.args.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(lenses.args.end() - static_cast<std::ptrdiff_t>(tail.size()), lenses.args.end()),
            tail);
  EXPECT_EQ(std::count(lenses.args.begin(), lenses.args.end(), "-d"), 1);
  EXPECT_EQ(std::count(lenses.args.begin(), lenses.args.end(), "-n"), 1) << "a name the user gave was replaced";
  EXPECT_EQ(std::count(lenses.args.begin(), lenses.args.end(), "copy"), 0);
  EXPECT_EQ(std::count(lenses.args.begin(), lenses.args.end(), "10000k"), 1) << "not at the quality asked for";
  const EngineCall panorama =
      ReframeCall("/in/a.mp4", "/out/a.mp4", r, Quality::kLow, "/p/path.json", 1920, 1080, true, OutputName::kClaim);
  EXPECT_EQ(std::count(panorama.args.begin(), panorama.args.end(), "-d"), 0);
  EXPECT_EQ(std::count(panorama.args.begin(), panorama.args.end(), "1920x1080"), 1);
}

TEST(MergeFiles, ListAndNameFollowTheirFormats) {
  EXPECT_EQ(MergeListText({"/v/a.mp4"}), "file '/v/a.mp4'\n");
  EXPECT_EQ(MergeListText({"/v/a.mp4", "/v/it's.mp4"}), "file '/v/a.mp4'\nfile '/v/it'\\''s.mp4'\n");
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 14;
  t.tm_min = 26;
  t.tm_sec = 7;
  EXPECT_EQ(MergeOutputName(t), "20240305142607_merge.mp4");
  // A second merge within the same second must not replace the first one's file.
  std::set<std::string> files;
  auto exists = [&](const std::string& p) { return files.count(p) > 0; };
  EXPECT_EQ(MergeOutputPath("/out/", t, exists), "/out/20240305142607_merge.mp4");
  files.insert("/out/20240305142607_merge.mp4");
  EXPECT_EQ(MergeOutputPath("/out/", t, exists), "/out/20240305142607_merge_1.mp4");
  files.insert("/out/20240305142607_merge_1.mp4");
  EXPECT_EQ(MergeOutputPath("/out/", t, exists), "/out/20240305142607_merge_2.mp4");
}

TEST(ProgressClock, EstimatesTimeLeftOncePerSecond) {
  constexpr ui::Language kEnglish = ui::Language::kEnglish;
  ProgressClock c;
  c.Start(1000);
  c.Update(25.0f, 11000);  // 10 s for 25 %: 40 s in all, 30 left
  EXPECT_EQ(c.remaining_seconds(), 30);
  EXPECT_EQ(TimeLeftText(c.remaining_seconds(), kEnglish), "Time Left:00:00:30");
  c.Update(25.5f, 12000);  // same whole percent: count down
  EXPECT_EQ(c.remaining_seconds(), 29);
  c.Update(26.0f, 13000);  // 12 s for 26 %: trunc(46.15) = 46 in all, 34 left
  EXPECT_EQ(c.remaining_seconds(), 34);
  c.Update(37.25f, 14000);
  EXPECT_EQ(ProgressText(c.progress(), kEnglish), "Progress:37.25% ");
  c.Update(100.0f, 15000);
  EXPECT_EQ(c.remaining_seconds(), 0);
  EXPECT_EQ(ProgressText(c.progress(), kEnglish), "Progress:100% ");
  // An estimate below the elapsed time keeps the last value.
  c.Start(0);
  c.Update(50.0f, 0);
  EXPECT_EQ(c.remaining_seconds(), 0);
  c.Update(0.0f, 5000);
  EXPECT_EQ(c.remaining_seconds(), 0);
  EXPECT_EQ(TimeLeftText(c.remaining_seconds(), kEnglish), "Time Left:00:00:00");
}

}  // namespace
}  // namespace spherolux::convert
