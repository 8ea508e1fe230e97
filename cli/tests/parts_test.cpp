// spherolux-cli convert --part K/N and merge: a video converted in parts and joined again.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
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

// The times of the audio packets, each from the previous one's.
std::vector<long long> AudioPacketSteps(const std::string& path) {
  std::istringstream in(testsupport::Shell(
      "ffprobe -v error -select_streams a:0 -show_entries packet=pts -of csv=p=0 " + ShellQuote(path)));
  std::vector<long long> steps;
  long long last = 0, pts = 0;
  for (bool first = true; in >> pts; first = false, last = pts)
    if (!first) steps.push_back(pts - last);
  return steps;
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

// A camera clip made by camgen in `dir`, with `options` ("--size WxH --seconds S ...").
std::string MakeClip(const testsupport::TempDir& dir, const std::string& options) {
  const std::string clip = dir.Path("clip.mp4");
  EXPECT_EQ(testsupport::RunCommand(testsupport::BuiltProgram("spherolux-camgen") + " video " + ShellQuote(clip) + " " +
                                    options)
                .exit_code,
            0);
  return clip;
}

// Converts `clip` whole and in parts with the same `options`, checks the frames each part
// holds, joins the parts and checks that the joined file is what the whole conversion made:
// frames, duration, audio. Returns the paths of the whole and the joined file.
std::pair<std::string, std::string> WholeAndJoined(const testsupport::TempDir& dir, const std::string& clip,
                                                   const std::string& options, const std::vector<int>& part_frames) {
  const std::string whole = dir.Path("whole.mp4"), merged = dir.Path("merged.mp4");
  EXPECT_EQ(Cli("convert " + options + " " + ShellQuote(clip) + " " + ShellQuote(whole)).exit_code, 0);
  const std::string n = std::to_string(part_frames.size());
  std::string parts;
  for (size_t k = 0; k < part_frames.size(); ++k) {
    const std::string part = dir.Path("part" + std::to_string(k) + ".mp4"), id = std::to_string(k) + "/" + n;
    const auto run = Cli("convert " + options + " --part " + id + " " + ShellQuote(clip) + " " + ShellQuote(part));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_NE(run.out.find("\"part\":\"" + id + "\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"frames_converted\":" + std::to_string(part_frames[k]) + ","), std::string::npos)
        << run.out;
    EXPECT_EQ(StreamField(part, "v", "nb_read_frames"), std::to_string(part_frames[k]));
    // Every part starts with a key frame a decoder can start at.
    EXPECT_EQ(testsupport::Shell("ffprobe -v error -select_streams v:0 -read_intervals %+#1 -show_entries "
                                 "frame=key_frame,pict_type -of csv=p=0 " +
                                 ShellQuote(part))
                  .substr(0, 3),
              "1,I");
    parts += " " + ShellQuote(part);
  }
  const auto run = Cli("merge " + ShellQuote(merged) + parts);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(StreamField(merged, "v", "nb_read_frames"), StreamField(whole, "v", "nb_read_frames"));
  EXPECT_EQ(StreamField(merged, "v", "duration"), StreamField(whole, "v", "duration"));
  EXPECT_EQ(StreamField(merged, "a", "nb_read_frames"), StreamField(whole, "a", "nb_read_frames"));
  EXPECT_EQ(StreamField(merged, "a", "duration"), StreamField(whole, "a", "duration"));
  EXPECT_EQ(DecodedSamples(merged), DecodedSamples(whole));
  // The audio packets lie as the whole conversion has them: no gap or overlap at a joint.
  // (Merge starts the joined file at 0, where a range's conversion may start a millisecond
  // later.)
  EXPECT_EQ(AudioPacketSteps(merged), AudioPacketSteps(whole));
  return {whole, merged};
}

TEST(CliParts, FourPartsJoinIntoTheWholeConversion) {
  const testsupport::TempDir dir("cli_parts");
  // 85 frames at 25 per second: part K starts at frame floor(85 * K / 4), so the parts hold
  // 21, 21, 21 and 22 frames, and none starts where an audio packet does (1024 samples at
  // 48 kHz).
  const auto [whole, merged] = WholeAndJoined(dir, MakeClip(dir, "--size 640x320 --seconds 3.4"), "", {21, 21, 21, 22});
  EXPECT_EQ(StreamField(merged, "v", "nb_read_frames"), "85");
  EXPECT_GT(DecodedSamples(merged), 3 * 48000u);
  EXPECT_GE(Psnr(merged, whole), 45.0);
}

TEST(CliParts, PartsOfARangeJoinIntoTheRangesConversion) {
  const testsupport::TempDir dir("cli_parts_range");
  // 10 to 90 % of 3.4 s: [0.34 s, 3.06 s) holds the 68 frames from 0.36 s to 3.04 s, a range
  // that starts and ends between frames; floor(68 * K / 3) gives 22, 23 and 23.
  const auto [whole, merged] =
      WholeAndJoined(dir, MakeClip(dir, "--size 320x160 --seconds 3.4"), "--range 10 90", {22, 23, 23});
  EXPECT_EQ(StreamField(merged, "v", "nb_read_frames"), "68");
}

TEST(CliParts, RefusesPartsItCannotMake) {
  const testsupport::TempDir dir("cli_parts_refused");
  const std::string clip = MakeClip(dir, "--size 320x160 --seconds 1 --no-audio");
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
