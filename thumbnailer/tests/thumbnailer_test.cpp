// The thumbnailer as a file manager runs it: the Exec line of its .thumbnailer entry, with the
// size, input and output put in, on camgen camera files, panoramas and files that are neither.
// A thumbnail is checked against the full conversion of the same file scaled down by ffmpeg.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/testsupport.h"

namespace fs = std::filesystem;
using spherolux::testsupport::BuiltProgram;
using spherolux::testsupport::CommandResult;
using spherolux::testsupport::RunCommand;
using spherolux::testsupport::ShellQuote;
using spherolux::testsupport::TempDir;

namespace {

class ThumbnailerTest : public ::testing::Test {
 protected:
  // The entry's Exec line with %s, %i and %o replaced, run through the shell with the built
  // programs first on the PATH.
  CommandResult RunEntry(const std::string& input, const std::string& output, int size = 256) {
    std::ifstream entry(std::string(SPHEROLUX_SOURCE_DIR) + "/thumbnailer/data/spherolux.thumbnailer");
    std::string line, exec;
    while (std::getline(entry, line))
      if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
    EXPECT_FALSE(exec.empty());
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"%s", std::to_string(size)},
                                     {"%i", ShellQuote(input)},
                                     {"%o", ShellQuote(output)}}) {
      const auto at = exec.find(key);
      EXPECT_NE(at, std::string::npos) << key;
      if (at != std::string::npos) exec.replace(at, 2, value);
    }
    const std::string bin = fs::path(BuiltProgram("spherolux-thumbnailer")).parent_path();
    return RunCommand("PATH=" + ShellQuote(bin) + ":$PATH " + exec);
  }

  std::string Camgen(const std::string& args) {
    const CommandResult r = RunCommand(BuiltProgram("spherolux-camgen") + " " + args);
    EXPECT_EQ(r.exit_code, 0) << args << r.err;
    return r.out;
  }

  // A picture as RGB bytes through ffmpeg, scaled by area to w x h when asked.
  static std::string Rgb(const std::string& file, int w = 0, int h = 0, const std::string& input_options = "") {
    const std::string scale = w > 0 ? " -vf scale=" + std::to_string(w) + ":" + std::to_string(h) + ":flags=area" : "";
    return RunCommand("ffmpeg -v error " + input_options + " -i " + ShellQuote(file) + scale +
                      " -frames:v 1 -f rawvideo -pix_fmt rgb24 -")
        .out;
  }

  static double Psnr(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
      const double d = static_cast<uint8_t>(a[i]) - static_cast<uint8_t>(b[i]);
      sum += d * d;
    }
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
  }

  TempDir dir_{"thumbnailer"};
};

// Dual- and single-lens photos and videos and a panorama stitched earlier: each thumbnail is
// the stitched panorama, 2:1 at the size asked, close to the whole conversion scaled down and
// far from the raw fisheye picture scaled the same way.
TEST_F(ThumbnailerTest, CameraFilesAndPanoramasGiveTheStitchedPanorama) {
  const std::string cli = BuiltProgram("spherolux-cli");
  struct Case {
    std::string name, camgen, convert;
  };
  const std::vector<Case> cases = {
      {"dual.jpg", "photo %s --type 2 --size 2048x1024", "stitch"},
      {"single.jpg", "photo %s --type 1 --size 1920x1080", "stitch"},
      {"dual.mp4", "video %s --type 2 --size 1280x640 --seconds 1 --no-audio", "convert"},
      {"single.mp4", "video %s --type 1 --size 1280x720 --seconds 1 --no-audio", "convert"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string input = dir_.Path(c.name);
    std::string args = c.camgen;
    args.replace(args.find("%s"), 2, ShellQuote(input));
    Camgen(args);
    const std::string converted = dir_.Path("full-" + c.name);
    ASSERT_EQ(RunCommand(cli + " " + c.convert + " " + ShellQuote(input) + " " + ShellQuote(converted)).exit_code, 0);

    const std::string png = dir_.Path(c.name + ".png");
    const CommandResult r = RunEntry(input, png);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::string thumb = Rgb(png);
    ASSERT_EQ(thumb.size(), 256u * 128 * 3) << "a 256 x 128 RGB PNG";
    // Compared at half the size, where the two ways of scaling alias alike.
    const std::string half = Rgb(png, 128, 64);
    const double stitched = Psnr(half, Rgb(converted, 128, 64)), raw = Psnr(half, Rgb(input, 128, 64));
    std::printf("%s: %.1f dB against the conversion, %.1f dB against the fisheye picture\n", c.name.c_str(), stitched,
                raw);
    // Measured: 19-24 dB against the conversion, 3-10 dB against the fisheye picture (the
    // synthetic pictures' hard edges keep the first low).
    EXPECT_GT(stitched, 17);
    EXPECT_GT(stitched, raw + 9);

    if (c.name == "dual.jpg") {
      // The converter's panorama is itself a panorama: its thumbnail is it, scaled.
      const std::string again = dir_.Path("pano.png");
      ASSERT_EQ(RunEntry(converted, again, 128).exit_code, 0);
      EXPECT_GT(Psnr(Rgb(again), Rgb(converted, 128, 64)), 26);  // measured 29 dB
    }
  }
}

// What is not a camera file or panorama exits non-zero, quickly and without an output, so
// the file manager shows its own: a plain JPEG, a video without calibration, text, a pipe,
// a JPEG declaring 65535 x 65535 pixels, a missing file.
TEST_F(ThumbnailerTest, OtherFilesExitNonZeroAndWriteNothing) {
  ASSERT_EQ(
      RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=512x256 -frames:v 1 " + ShellQuote(dir_.Path("plain.jpg")))
          .exit_code,
      0);
  Camgen("video " + ShellQuote(dir_.Path("plain.mp4")) + " --size 320x160 --seconds 1 --no-block");
  dir_.Write("notes.txt", std::string("just text\n"));
  ASSERT_EQ(mkfifo(dir_.Path("pipe.mp4").c_str(), 0600), 0);
  std::vector<uint8_t> huge = {0xFF, 0xD8, 0xFF, 0xC0, 0, 17,   8, 0xFF, 0xFF, 0xFF, 0xFF,
                               3,    1,    0x22, 0,    2, 0x11, 1, 3,    0x11, 1};
  huge.resize(4096, 0);
  dir_.Write("huge.jpg", huge);
  for (const std::string name : {"plain.jpg", "plain.mp4", "notes.txt", "pipe.mp4", "huge.jpg", "missing.mp4"}) {
    const std::string out = dir_.Path(name + ".png");
    const CommandResult r = RunEntry(dir_.Path(name), out);
    EXPECT_GT(r.exit_code, 0) << name << r.err;
    EXPECT_FALSE(fs::exists(out)) << name;
  }
}

}  // namespace
