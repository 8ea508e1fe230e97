// spherolux-cli convert --part K/N and merge: a video converted in parts and joined again.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "testsupport/testsupport.h"

namespace {

namespace testsupport = spherolux::testsupport;
using testsupport::ShellQuote;

testsupport::CommandResult Cli(const std::string& args) {
  return testsupport::RunCommand(testsupport::BuiltProgram("spherolux-cli") + " " + args);
}

// One ffprobe field of the first stream of a kind ("v" or "a"), frames counted by decoding.
std::string StreamField(const std::string& path, const std::string& kind, const std::string& field) {
  std::string out = testsupport::Shell("ffprobe -v error -count_frames -select_streams " + kind +
                                       ":0 -show_entries stream=" + field + " -of csv=p=0 " + ShellQuote(path));
  while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
  return out;
}

// The audio samples a decoder gets out of the file (one channel, 16 bits).
size_t DecodedSamples(const std::string& path) {
  return testsupport::Shell("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -map 0:a -ac 1 -f s16le -").size() /
         2;
}

// The mean PSNR of the pictures of `a` against those of `b`; -1 when ffmpeg gives none.
double Psnr(const std::string& a, const std::string& b) {
  const std::string log = testsupport::RunCommand("ffmpeg -nostdin -i " + ShellQuote(a) + " -i " + ShellQuote(b) +
                                                  " -lavfi '[0:v][1:v]psnr' -f null -")
                              .err;
  std::smatch m;
  if (std::regex_search(log, m, std::regex(R"(PSNR y:\S+ u:\S+ v:\S+ average:(inf|[0-9.]+))")))
    return m[1] == "inf" ? 1000 : std::stod(m[1]);
  return -1;
}

TEST(CliParts, FourPartsJoinIntoTheWholeConversion) {
  const testsupport::TempDir dir("cli_parts");
  const std::string clip = dir.Path("clip.mp4");
  // 85 frames at 25 per second: the parts hold 21, 21, 21 and 22 of them, and none starts
  // where an audio packet does (1024 samples at 48 kHz).
  ASSERT_EQ(testsupport::RunCommand(testsupport::BuiltProgram("spherolux-camgen") + " video " + ShellQuote(clip) +
                                    " --size 640x320 --seconds 3.4")
                .exit_code,
            0);
  const std::string whole = dir.Path("whole.mp4");
  ASSERT_EQ(Cli("convert " + ShellQuote(clip) + " " + ShellQuote(whole)).exit_code, 0);

  const int expected_frames[4] = {21, 21, 21, 22};
  std::string parts;
  for (int k = 0; k < 4; ++k) {
    const std::string part = dir.Path("part" + std::to_string(k) + ".mp4");
    const auto run = Cli("convert " + ShellQuote(clip) + " --part " + std::to_string(k) + "/4 " + ShellQuote(part));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("\"part\":\"" + std::to_string(k) + "/4\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"frames_converted\":" + std::to_string(expected_frames[k]) + ","), std::string::npos)
        << run.out;
    EXPECT_EQ(StreamField(part, "v", "nb_read_frames"), std::to_string(expected_frames[k]));
    // Every part starts with a key frame the decoder can start at.
    EXPECT_EQ(testsupport::Shell("ffprobe -v error -select_streams v:0 -read_intervals %+#1 -show_entries "
                                 "frame=key_frame,pict_type -of csv=p=0 " +
                                 ShellQuote(part))
                  .substr(0, 3),
              "1,I");
    parts += " " + ShellQuote(part);
  }
  const std::string merged = dir.Path("merged.mp4");
  const auto run = Cli("merge " + ShellQuote(merged) + parts);
  ASSERT_EQ(run.exit_code, 0) << run.err;

  EXPECT_EQ(StreamField(merged, "v", "nb_read_frames"), "85");
  EXPECT_EQ(StreamField(merged, "v", "nb_read_frames"), StreamField(whole, "v", "nb_read_frames"));
  EXPECT_EQ(StreamField(merged, "v", "duration"), StreamField(whole, "v", "duration"));
  EXPECT_EQ(StreamField(merged, "a", "nb_read_frames"), StreamField(whole, "a", "nb_read_frames"));
  EXPECT_EQ(StreamField(merged, "a", "duration"), StreamField(whole, "a", "duration"));
  EXPECT_EQ(DecodedSamples(merged), DecodedSamples(whole));
  EXPECT_GT(DecodedSamples(merged), 3 * 48000u);
  // The audio packets lie where the whole conversion has them: no gap or overlap at a joint.
  const std::string packets = "ffprobe -v error -select_streams a:0 -show_entries packet=pts -of csv=p=0 ";
  EXPECT_EQ(testsupport::Shell(packets + ShellQuote(merged)), testsupport::Shell(packets + ShellQuote(whole)));
  EXPECT_GE(Psnr(merged, whole), 45.0);
}

TEST(CliParts, PartsOfARangeJoinIntoTheRangesConversion) {
  const testsupport::TempDir dir("cli_parts_range");
  const std::string clip = dir.Path("clip.mp4");
  ASSERT_EQ(testsupport::RunCommand(testsupport::BuiltProgram("spherolux-camgen") + " video " + ShellQuote(clip) +
                                    " --size 320x160 --seconds 3.4")
                .exit_code,
            0);
  // 10 to 90 % of 3.4 s: [0.34 s, 3.06 s) holds the 68 frames from 0.36 s to 3.04 s, a range
  // that starts and ends between frames.
  const std::string whole = dir.Path("whole.mp4");
  ASSERT_EQ(Cli("convert --range 10 90 " + ShellQuote(clip) + " " + ShellQuote(whole)).exit_code, 0);
  std::string parts;
  for (int k = 0; k < 3; ++k) {
    const std::string part = dir.Path("part" + std::to_string(k) + ".mp4");
    ASSERT_EQ(
        Cli("convert --range 10 90 --part " + std::to_string(k) + "/3 " + ShellQuote(clip) + " " + ShellQuote(part))
            .exit_code,
        0);
    EXPECT_EQ(StreamField(part, "v", "nb_read_frames"), k == 0 ? "22" : "23");  // floor(68 * k / 3)
    parts += " " + ShellQuote(part);
  }
  const std::string merged = dir.Path("merged.mp4");
  ASSERT_EQ(Cli("merge " + ShellQuote(merged) + parts).exit_code, 0);
  EXPECT_EQ(StreamField(merged, "v", "nb_read_frames"), "68");
  EXPECT_EQ(StreamField(whole, "v", "nb_read_frames"), "68");
  EXPECT_EQ(StreamField(merged, "v", "duration"), StreamField(whole, "v", "duration"));
  EXPECT_EQ(StreamField(merged, "a", "duration"), StreamField(whole, "a", "duration"));
  EXPECT_EQ(DecodedSamples(merged), DecodedSamples(whole));
}

TEST(CliParts, RefusesPartsItCannotMake) {
  const testsupport::TempDir dir("cli_parts_refused");
  const std::string clip = dir.Path("clip.mp4");
  ASSERT_EQ(testsupport::RunCommand(testsupport::BuiltProgram("spherolux-camgen") + " video " + ShellQuote(clip) +
                                    " --size 320x160 --seconds 1 --no-audio")
                .exit_code,
            0);
  const std::string out = dir.Path("out.mp4");
  for (const char* part : {"4/4", "1/0", "-1/4", "1", "a/4", "1/4/2", "/4"})
    EXPECT_EQ(Cli("convert " + ShellQuote(clip) + " --part " + part + " " + ShellQuote(out)).exit_code, 64) << part;
  EXPECT_EQ(
      Cli("convert --output-dir " + ShellQuote(dir.path()) + " --part 0/2 " + ShellQuote(clip) + " " + ShellQuote(clip))
          .exit_code,
      64);
  EXPECT_EQ(Cli("convert " + ShellQuote(clip) + " --part 0/2 --quality low " + ShellQuote(out)).exit_code, 64);
  // 25 frames cannot make 30 parts.
  const auto run = Cli("convert " + ShellQuote(clip) + " --part 0/30 " + ShellQuote(out));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("25 frames, fewer than the 30 parts"), std::string::npos) << run.err;
  EXPECT_FALSE(testsupport::Shell("ls " + ShellQuote(dir.path())).find("out.mp4") != std::string::npos);
}

}  // namespace
