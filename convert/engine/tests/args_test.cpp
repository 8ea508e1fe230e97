#include "args.h"

#include <gtest/gtest.h>

namespace spherolux::convert {
namespace {

using V = std::vector<std::string>;

const V kHead = {"ffmpeg", "-d", "-ss", "00:00:09", "-i", "/in/clip.mp4", "-t", "00:00:01"};

V With(V tail) {
  V v = kHead;
  v.insert(v.end(), tail.begin(), tail.end());
  return v;
}

TEST(ParseJob, AcceptsTheConverterVectors) {
  // Copy mode: 11 entries.
  auto copy = ParseJob(With({"-c", "copy", "/out/a.mp4"}));
  ASSERT_TRUE(copy);
  EXPECT_TRUE(copy->copy && copy->stitch);
  EXPECT_EQ(copy->start, 9);
  EXPECT_EQ(copy->duration, 1);
  EXPECT_EQ(copy->input, "/in/clip.mp4");
  EXPECT_EQ(copy->output, "/out/a.mp4");

  // Low: 23 entries.
  auto low = ParseJob(With({"-pix_fmt", "yuv420p", "-b:v", "4096k", "-r", "15", "-profile:v", "main", "-preset",
                            "veryfast", "-refs", "1", "-bf", "0", "/out/a.mp4"}));
  ASSERT_TRUE(low);
  EXPECT_FALSE(low->copy);
  EXPECT_EQ(low->encoder.bit_rate, 4096000);
  EXPECT_EQ(low->encoder.fps, 15);
  EXPECT_EQ(low->encoder.profile, "main");
  EXPECT_EQ(low->encoder.preset, "veryfast");
  EXPECT_EQ(low->encoder.refs, 1);
  EXPECT_EQ(low->encoder.bframes, 0);

  // Medium: 21 entries, no frame rate.
  auto medium = ParseJob(With({"-pix_fmt", "yuv420p", "-b:v", "10000k", "-profile:v", "main", "-preset", "veryfast",
                               "-refs", "2", "-bf", "1", "/out/a.mp4"}));
  ASSERT_TRUE(medium);
  EXPECT_EQ(medium->encoder.bit_rate, 10000000);
  EXPECT_EQ(medium->encoder.fps, 0);
  EXPECT_EQ(medium->encoder.bframes, 1);

  // High: 13 entries, encoder defaults besides the rate.
  auto high = ParseJob(With({"-pix_fmt", "yuv420p", "-b:v", "20000k", "/out/a.mp4"}));
  ASSERT_TRUE(high);
  EXPECT_EQ(high->encoder.bit_rate, 20000000);
  EXPECT_TRUE(high->encoder.preset.empty());
  EXPECT_EQ(high->encoder.refs, -1);
  EXPECT_EQ(high->encoder.codec, "libx264");  // H.264 unless asked otherwise

  // H.265: the same options with the encoder named.
  auto hevc = ParseJob(With({"-c:v", "libx265", "-pix_fmt", "yuv420p", "-b:v", "5000k", "-profile:v", "main", "-preset",
                             "veryfast", "-refs", "2", "-bf", "1", "/out/a.mp4"}));
  ASSERT_TRUE(hevc);
  EXPECT_EQ(hevc->encoder.codec, "libx265");
  EXPECT_EQ(hevc->encoder.bit_rate, 5000000);
}

TEST(ParseJob, AcceptsTheMergeVector) {
  auto merge = ParseJob({"ffmpeg", "-f", "concat", "-i", "/tmp/filelist.txt", "-c", "copy", "/out/m.mp4"});
  ASSERT_TRUE(merge);
  EXPECT_EQ(merge->kind, Job::Kind::kMerge);
  EXPECT_EQ(merge->input, "/tmp/filelist.txt");
}

TEST(ParseJob, RefusesOtherVectors) {
  const V refused[] = {
      {},
      {"ffmpeg"},
      {"avconv", "-i", "a.mp4", "b.mp4"},
      {"ffmpeg", "-i", "a.mp4"},                                      // no output
      {"ffmpeg", "-d", "-ss", "00:00:01", "-t", "1", "b.mp4"},        // no input
      With({"-vf", "v360", "/out/a.mp4"}),                            // unknown option
      With({"-c", "libx265", "/out/a.mp4"}),                          // only copy
      With({"-c", "copy", "-b:v", "4096k", "/out/a.mp4"}),            // copy with encoder options
      With({"-c", "copy", "-c:v", "libx265", "/out/a.mp4"}),          // copy with an encoder
      With({"-c:v", "libvpx", "/out/a.mp4"}),                         // unknown encoder
      With({"-c:v", "libx265", "-profile:v", "high", "/out/a.mp4"}),  // not an H.265 profile
      With({"-pix_fmt", "yuv444p", "/out/a.mp4"}),                    // only 4:2:0
      With({"-b:v", "fast", "/out/a.mp4"}),                           // not a rate
      With({"-r", "0", "/out/a.mp4"}),                                // no frame rate
      With({"-refs", "-1", "/out/a.mp4"}),                            // negative
      With({"-preset", "ludicrous", "/out/a.mp4"}),                   // unknown preset
      With({"-b:v", "4096k", "-b:v", "4096k", "/out/a.mp4"}),         // repeated option
      With({"-pix_fmt"}),                                             // value missing
      {"ffmpeg", "-ss", "1", "-i", "a.mp4", "-t", "0", "b.mp4"},      // empty duration
      {"ffmpeg", "-i", "a.mp4", "-ss", "1", "b.mp4"},                 // start after the input
      {"ffmpeg", "-ss", "1:75:00", "-i", "a.mp4", "b.mp4"},           // minutes out of range
      {"ffmpeg", "-f", "concat", "-i", "l.txt", "m.mp4"},             // merge without copy
      {"ffmpeg", "-f", "mov", "-i", "l.txt", "-c", "copy", "m.mp4"},
      {"ffmpeg", "-d", "-f", "concat", "-i", "l.txt", "-c", "copy", "m.mp4"},
  };
  for (const auto& v : refused) {
    std::string joined;
    for (const auto& s : v) joined += s + " ";
    EXPECT_FALSE(ParseJob(v)) << joined;
  }
}

TEST(ParseTime, ReadsClockAndSeconds) {
  EXPECT_EQ(ParseTime("00:00:09"), 9.0);
  EXPECT_EQ(ParseTime("01:02:05"), 3725.0);
  EXPECT_EQ(ParseTime("100:00:00"), 360000.0);
  EXPECT_EQ(ParseTime("02:30"), 150.0);
  EXPECT_EQ(ParseTime("1.5"), 1.5);
  EXPECT_EQ(ParseTime("00:00:01.250"), 1.25);
  EXPECT_FALSE(ParseTime(""));
  EXPECT_FALSE(ParseTime("-1"));
  EXPECT_FALSE(ParseTime("00:00:60"));
  EXPECT_FALSE(ParseTime("1:2:3:4"));
  EXPECT_FALSE(ParseTime("00:0a:00"));
  EXPECT_FALSE(ParseTime("00::01"));
}

}  // namespace
}  // namespace spherolux::convert
