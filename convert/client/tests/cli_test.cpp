// spherolux-cli convert and merge, run as a user runs them, on generated camera files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "calib/stitch_state.h"
#include "camgen/camgen.h"
#include "testsupport/testsupport.h"

namespace {

namespace fs = std::filesystem;
namespace testsupport = spherolux::testsupport;

const std::string kBin = std::string(SPHEROLUX_BINARY_DIR) + "/bin/";

// stdout and stderr together in `out`.
testsupport::CommandResult Cli(const std::string& args) {
  return testsupport::RunCommand(testsupport::BuiltProgram("spherolux-cli") + " " + args + " 2>&1");
}

using testsupport::Shell;

double Duration(const std::string& path) {
  std::string s = Shell("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'");
  return s.empty() ? -1 : std::stod(s);
}

class CliTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, const std::string& options) {
    const std::string path = dir_ + "/" + name;
    EXPECT_EQ(std::system((kBin + "spherolux-camgen video '" + path + "' " + options).c_str()), 0);
    return path;
  }
  testsupport::TempDir scratch_{"cli_convert_test"};
  const std::string dir_ = scratch_.path();
};

TEST_F(CliTest, CameraStitchedRecordingsAreCopiedAndMerged) {
  const std::string cam = Make("VID_0001.MP4", "--type 1000 --size 512x256 --seconds 2");
  // 0..50 % of 2 s: one second from the start, copied whatever the quality.
  testsupport::CommandResult r = Cli("convert '" + cam + "' --range 0 50 --quality high");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::string out = dir_ + "/VID_0001_spherolux_0.mp4";
  ASSERT_TRUE(fs::exists(out)) << r.out;
  EXPECT_NE(r.out.find("\"copy\":true"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"duration\":\"00:00:01.000\""), std::string::npos) << r.out;
  EXPECT_NEAR(Duration(out), 1.0, 0.1);
  // The copy says it is a panorama, so the merger takes it.
  EXPECT_EQ(spherolux::SphericalVideoFlag(out.c_str()), 1);

  // The next conversion takes the next free name.
  r = Cli("convert '" + cam + "' --output-dir '" + dir_ + "'");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::string out1 = dir_ + "/VID_0001_spherolux_1.mp4";
  EXPECT_NEAR(Duration(out1), 2.0, 0.1);

  // Merge: the unstitched camera file is refused by name, the others are joined.
  const std::string merged = dir_ + "/merged.mp4";
  r = Cli("merge '" + merged + "' '" + out + "' '" + cam + "' '" + out1 + "'");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("This file is not yet stitched, please stitch firstly!\nFile Path: " + cam), std::string::npos)
      << r.out;
  EXPECT_NEAR(Duration(merged), 3.0, 0.15);
  EXPECT_EQ(spherolux::SphericalVideoFlag(merged.c_str()), 1);

  // With --output-dir the name is the local time's.
  r = Cli("merge --output-dir '" + dir_ + "' '" + out + "'");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  bool found = false;
  for (const auto& e : fs::directory_iterator(dir_)) {
    const std::string name = e.path().filename().string();
    if (name.size() == 24 && name.substr(14) == "_merge.mp4") found = true;
  }
  EXPECT_TRUE(found);
}

TEST_F(CliTest, UnqualifiedFilesAreRefusedWithTheirMessages) {
  const std::string plain = Make("plain.mp4", "--no-block --size 320x160 --seconds 1");
  testsupport::CommandResult r = Cli("convert '" + plain + "'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("This file is not captured by a qualified camera!"), std::string::npos) << r.out;

  // A camera recording whose movie box was cut off (a dead battery): damaged, not foreign.
  const std::string cam = Make("cam.mp4", "--size 320x160 --seconds 1");
  const spherolux::camgen::Bytes whole = spherolux::camgen::ReadFileBytes(cam);
  const std::string cut = dir_ + "/cut.mp4";
  ASSERT_TRUE(spherolux::camgen::WriteFileBytes(cut, {whole.begin(), whole.end() - 64}));
  r = Cli("convert '" + cut + "'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("The input file is damaged or cut short."), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("qualified camera"), std::string::npos) << r.out;

  const std::string pano = Make("pano.mp4", "--no-block --spherical --size 320x160 --seconds 1");
  r = Cli("convert '" + pano + "'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("This file is already stitched!"), std::string::npos) << r.out;

  // Nothing to merge when every file is refused.
  r = Cli("merge '" + dir_ + "/m.mp4' '" + plain + "'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_FALSE(fs::exists(dir_ + "/m.mp4"));

  // Bad command lines.
  EXPECT_EQ(Cli("convert '" + plain + "' --range 60 40").exit_code, 64);
  EXPECT_EQ(Cli("convert '" + plain + "' --rotation 45").exit_code, 64);
  EXPECT_EQ(Cli("convert '" + plain + "' --quality best").exit_code, 64);
  EXPECT_EQ(Cli("convert '" + plain + "' --codec vp9").exit_code, 64);
  EXPECT_EQ(Cli("convert '" + plain + "' --codec").exit_code, 64);
  EXPECT_EQ(Cli("merge").exit_code, 64);
  // Only the inputs are left.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 4);
}

// --codec h265 reaches the engine: H.265 panoramas, which merge with each other; a merge with
// an H.264 one fails and says why. (The engine's tests check the files themselves.)
TEST_F(CliTest, H265PanoramasConvertAndMergeOnlyWithTheirCodec) {
  const std::string cam = Make("VID_0002.MP4", "--size 384x192 --seconds 2");
  const std::string first = dir_ + "/first.mp4", second = dir_ + "/second.mp4", avc = dir_ + "/avc.mp4";
  for (const auto& [out, options] : {std::pair{first, "--codec h265 --range 0 50"},
                                     {second, "--range 50 100 --codec h265"},
                                     {avc, "--range 50 100"}}) {
    const testsupport::CommandResult r = Cli("convert '" + cam + "' '" + out + "' " + options);
    ASSERT_EQ(r.exit_code, 0) << r.out;
  }
  const std::string merged = dir_ + "/merged.mp4", mixed = dir_ + "/mixed.mp4";
  testsupport::CommandResult r = Cli("merge '" + merged + "' '" + first + "' '" + second + "'");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const auto codec = [](const std::string& path) {
    return Shell("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,codec_tag_string -of csv=p=0 '" +
                 path + "' | head -1 | cut -d, -f1-2");
  };
  EXPECT_EQ(codec(first), "hevc,hvc1\n");
  EXPECT_EQ(codec(merged), "hevc,hvc1\n");
  EXPECT_NEAR(Duration(merged), 2.0, 0.1);
  EXPECT_EQ(codec(avc), "h264,avc1\n");

  r = Cli("merge '" + mixed + "' '" + first + "' '" + avc + "'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("encoded with different video codecs (H.264 and H.265)"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(mixed));
}

// Runs spherolux-cli with `args`, sends `sig` once the progress bar shows work done, and
// returns the exit code (-1 when it did not exit normally).
int Interrupt(const std::vector<std::string>& args, int sig) {
  const testsupport::TempDir logs("cli_signal");
  const std::string log = logs.Path("stderr.log");
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    (void)!std::freopen(log.c_str(), "w", stderr);
    const std::string cli = kBin + "spherolux-cli";
    std::vector<char*> argv = {const_cast<char*>(cli.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(cli.c_str(), argv.data());
    _exit(127);
  }
  for (int i = 0; i < 600; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::string text = Shell("cat '" + log + "'");
    const auto at = text.rfind("Progress:");
    if (at != std::string::npos && text.compare(at, 13, "Progress:0.00") != 0) break;
  }
  kill(pid, sig);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(CliTest, SignalsStopTheConversionAndTouchNothingElse) {
  // A single-lens recording long enough to be caught while it converts.
  const std::string cam = Make("long.mp4", "--type 1 --size 640x360 --seconds 20");
  const std::string out = scratch_.Write("x.mp4", std::string("data"));
  // An existing OUT is refused at once, and so is the input as its own output.
  testsupport::CommandResult r = Cli("convert '" + cam + "' '" + out + "'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Give --overwrite to replace it."), std::string::npos) << r.out;
  r = Cli("convert '" + cam + "' '" + dir_ + "/./long.mp4' --overwrite");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("one of the input files"), std::string::npos) << r.out;

  // Allowed to replace OUT, a job stopped by Ctrl-C leaves it as it was...
  EXPECT_EQ(Interrupt({"convert", cam, out, "--quality", "high", "--overwrite"}, SIGINT), 130);
  // ...and one stopped by SIGTERM leaves no trace of the name it had taken.
  EXPECT_EQ(Interrupt({"convert", cam, "--output-dir", dir_, "--quality", "high"}, SIGTERM), 143);
  // Killed outright, a run leaves no file under a name the user gave.
  EXPECT_EQ(Interrupt({"convert", cam, dir_ + "/killed.mp4", "--quality", "high"}, SIGKILL), -1);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"long.mp4", "x.mp4"}));
  EXPECT_EQ(Shell("cat '" + out + "'"), "data");
}

TEST_F(CliTest, OutputsAreNeverInputsAndNamesAreNeverShared) {
  const std::string cam = Make("cam.mp4", "--type 1000 --size 320x160 --seconds 1");
  // merge with OUT forgotten: the camera original is not turned into a copy.
  testsupport::CommandResult r = Cli("convert '" + cam + "' '" + dir_ + "/pano.mp4'");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const auto size = fs::file_size(cam);
  r = Cli("merge '" + cam + "' '" + dir_ + "/pano.mp4'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("--overwrite"), std::string::npos) << r.out;
  r = Cli("merge '" + dir_ + "/pano.mp4' '" + dir_ + "/pano.mp4' --overwrite");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(fs::file_size(cam), size);

  // Two conversions at once choose two names.
  const std::string one = kBin + "spherolux-cli convert '" + cam + "' --output-dir '" + dir_ + "'";
  Shell("(" + one + " & " + one + " & wait) >/dev/null 2>&1");
  EXPECT_TRUE(fs::exists(dir_ + "/cam_spherolux_0.mp4"));
  EXPECT_TRUE(fs::exists(dir_ + "/cam_spherolux_1.mp4"));

  // Names are files, not FFmpeg URLs; a pipe is refused before it is opened.
  r = Cli("convert 'cache:" + cam + "' '" + dir_ + "/c.mp4'");
  EXPECT_EQ(r.exit_code, 2);
  const std::string fifo = dir_ + "/pipe.mp4";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  r = Cli("convert '" + fifo + "'");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.out.find("not a regular file"), std::string::npos) << r.out;
  r = Cli("merge --output-dir '" + dir_ + "' '" + fifo + "'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("not a regular file"), std::string::npos) << r.out;

  // An input name of 250 bytes: the default output name is shortened to fit.
  const std::string long_name = dir_ + "/" + std::string(246, 'x') + ".mp4";
  fs::copy_file(cam, long_name);
  r = Cli("convert '" + long_name + "'");
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(fs::exists(dir_ + "/" + std::string(239, 'x') + "_spherolux_0.mp4")) << r.out;
}

// The frames_converted of a JSON result, -1 when it has none.
long FramesConverted(const std::string& out) {
  const std::string key = "\"frames_converted\":";
  const auto at = out.find(key);
  return at == std::string::npos ? -1 : std::stol(out.substr(at + key.size()));
}

// Recordings whose index promises frames their media data does not hold: cut short at 97 %
// with the index first, and three chunk offsets of the video pointing at the wrong bytes.
// Each fails with its cause instead of a shorter file reported as done, unless
// --allow-missing asks for what is there; the JSON result counts the frames either way.
TEST_F(CliTest, FramesMissingFromTheRangeFailUnlessAllowed) {
  namespace camgen = spherolux::camgen;
  const std::string cam = Make("cam.mp4", "--size 320x160 --seconds 4 --faststart");
  const camgen::Bytes whole = camgen::ReadFileBytes(cam);
  testsupport::CommandResult r = Cli("convert '" + cam + "' '" + dir_ + "/whole.mp4' --quality low");
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("\"frames_expected\":100,\"frames_converted\":100"), std::string::npos) << r.out;

  const std::string cut = dir_ + "/cut.mp4";
  ASSERT_TRUE(camgen::WriteFileBytes(cut, {whole.begin(), whole.begin() + whole.size() * 97 / 100}));
  camgen::Bytes moved = whole;
  const std::string stco = "stco";
  const auto box = std::search(moved.begin(), moved.end(), stco.begin(), stco.end());
  ASSERT_NE(box, moved.end());
  const size_t count_at = size_t(box - moved.begin()) + 8;  // after the type, version and flags
  ASSERT_GE(moved[count_at + 3], 4);
  for (size_t k = 1; k <= 3; ++k) std::fill_n(moved.begin() + count_at + 4 * (k + 1), 4, 0);
  const std::string wrong = dir_ + "/wrong.mp4";
  ASSERT_TRUE(camgen::WriteFileBytes(wrong, moved));

  for (const std::string& damaged : {cut, wrong}) {
    const std::string out = damaged + ".out.mp4";
    r = Cli("convert '" + damaged + "' '" + out + "' --quality low");
    EXPECT_EQ(r.exit_code, 1) << damaged << r.out;
    EXPECT_NE(r.out.find("The input file is damaged or cut short."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("of 100 frames of the range could be converted"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(out)) << damaged;

    r = Cli("convert '" + damaged + "' '" + out + "' --quality low --allow-missing");
    EXPECT_EQ(r.exit_code, 0) << damaged << r.out;
    EXPECT_TRUE(fs::exists(out)) << damaged;
    EXPECT_NE(r.out.find("\"frames_expected\":100"), std::string::npos) << r.out;
    const long converted = FramesConverted(r.out);
    EXPECT_GT(converted, 50) << r.out;
    EXPECT_LT(converted, 99) << r.out;
    EXPECT_NE(r.out.find("warning: " + std::to_string(100 - converted) + " frames of the range are missing"),
              std::string::npos)
        << r.out;
  }
}

// File names are bytes. One that is not UTF-8 (Latin-1 "café") is measured by MediaInfo and
// converted, and the JSON gives its bytes back to a script (Python's surrogateescape); one
// with a line feed, which a concat list cannot carry, is merged. The merge names nothing in
// the temporary folder.
TEST_F(CliTest, NamesOfAnyBytesConvertAndMerge) {
  using testsupport::ShellQuote;
  const std::string cam = Make("caf\xe9.mp4", "--type 1000 --size 320x160 --seconds 1");
  const std::string cli = kBin + "spherolux-cli ";
  const std::string read_json =
      " | python3 -c 'import json, os, sys; d = json.load(sys.stdin); "
      "sys.stdout.buffer.write(os.fsencode(d[\"input\"]) + b\"|\" + os.fsencode(d[\"output\"]))'";
  testsupport::CommandResult r = testsupport::RunCommand(cli + "convert " + ShellQuote(cam) + read_json);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string out = dir_ + "/caf\xe9_spherolux_0.mp4";
  EXPECT_EQ(r.out, cam + "|" + out) << r.err;
  ASSERT_NEAR(Duration(out), 1.0, 0.1) << r.err;

  const std::string lines = dir_ + "/two\nlines.mp4";
  fs::rename(out, lines);
  const testsupport::TempDir tmp("cli_merge_tmp");
  const std::string merged = dir_ + "/merged.mp4";
  r = testsupport::RunCommand("TMPDIR=" + ShellQuote(tmp.path()) + " " + cli + "merge " + ShellQuote(merged) + " " +
                              ShellQuote(lines) + " " + ShellQuote(lines));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NEAR(Duration(merged), 2.0, 0.15) << r.err;
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

// A merge killed outright leaves none of the user's paths in the temporary folder: the folder
// is watched while a long merge runs, and the merge is killed the moment anything appears in
// it.
TEST_F(CliTest, AKilledMergeLeavesNothingInTheTemporaryFolder) {
  const std::string cam = Make("cam.mp4", "--type 1000 --size 320x160 --seconds 1");
  const std::string pano = dir_ + "/pano.mp4";
  ASSERT_EQ(Cli("convert '" + cam + "' '" + pano + "'").exit_code, 0);
  const testsupport::TempDir tmp("cli_merge_tmp");
  const std::string cli = kBin + "spherolux-cli", merged = dir_ + "/merged.mp4";
  std::vector<const char*> argv = {cli.c_str(), "merge", merged.c_str()};
  for (int i = 0; i < 40; ++i) argv.push_back(pano.c_str());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("TMPDIR", tmp.path().c_str(), 1);
    (void)!std::freopen("/dev/null", "w", stderr);
    (void)!std::freopen("/dev/null", "w", stdout);
    execv(cli.c_str(), const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  int status = 0;
  bool killed = false;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (!fs::is_empty(tmp.path())) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      killed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  EXPECT_FALSE(killed);
  EXPECT_TRUE(fs::is_empty(tmp.path()));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NEAR(Duration(merged), 40.0, 0.5);
}

TEST_F(CliTest, OnAMemoryCardTheInputsOtherSpellingIsNeverReplaced) {
  const testsupport::FatMount card;
  if (!card.missing().empty()) GTEST_SKIP() << card.missing();
  ASSERT_FALSE(card.path().empty());
  const std::string m = card.path();
  ASSERT_EQ(std::system(
                (kBin + "spherolux-camgen video '" + m + "/clip.mp4' --type 1000 --size 320x160 --seconds 1").c_str()),
            0);
  ASSERT_EQ(std::system((kBin + "spherolux-camgen photo '" + m + "/ph.jpg' --type 2 --size 512x256").c_str()), 0);
  const std::string video = Shell("md5sum < '" + m + "/clip.mp4'"), photo = Shell("md5sum < '" + m + "/ph.jpg'");

  // Each output names an input in another case (merge takes OUT first).
  const auto at = [&](const std::string& name) { return " '" + m + "/" + name + "'"; };
  for (const std::string& args : {"convert" + at("clip.mp4") + at("CLIP.MP4"), "stitch" + at("ph.jpg") + at("PH.JPG"),
                                  "merge" + at("Clip.mp4") + at("clip.mp4")}) {
    const testsupport::CommandResult r = Cli(args + " --overwrite");
    EXPECT_EQ(r.exit_code, 1) << args;
    EXPECT_NE(r.out.find("one of the input files"), std::string::npos) << r.out;
  }

  EXPECT_EQ(Shell("md5sum < '" + m + "/clip.mp4'"), video);
  EXPECT_EQ(Shell("md5sum < '" + m + "/ph.jpg'"), photo);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(m)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"clip.mp4", "ph.jpg"}));
}

TEST_F(CliTest, PhotosGoThroughThePhotoPipeline) {
  const std::string photo = dir_ + "/IMG_0002.JPG";
  ASSERT_EQ(std::system((kBin + "spherolux-camgen photo '" + photo + "' --type 2 --size 512x256").c_str()), 0);
  testsupport::CommandResult r = Cli("convert '" + photo + "' --quality low");
  const std::string out = dir_ + "/IMG_0002_spherolux_0.jpg";
  ASSERT_EQ(r.exit_code, 0) << r.out;
  ASSERT_TRUE(fs::exists(out)) << r.out;
  EXPECT_EQ(spherolux::IsStitchedPhoto(out.c_str()), 1);
}

TEST_F(CliTest, AQueueConvertsFileAfterFileAndCtrlCStopsTheRunningOneAndTheRest) {
  const std::string clip = Make("A.mp4", "--type 1 --size 640x360 --seconds 1");
  const std::string refused = scratch_.Write("B.mp4", std::string("data"));
  const std::string photo = dir_ + "/C.jpg";
  ASSERT_EQ(std::system((kBin + "spherolux-camgen photo '" + photo + "' --type 2 --size 512x256").c_str()), 0);
  const std::string out = dir_ + "/out";
  fs::create_directory(out);
  testsupport::CommandResult r =
      testsupport::RunCommand(testsupport::BuiltProgram("spherolux-cli") + " convert '" + clip + "' '" + refused +
                              "' '" + photo + "' --output-dir '" + out + "' --quality low");
  EXPECT_EQ(r.exit_code, 1) << r.err;
  // One JSON result per file, the refused one's with its error; one progress line per file.
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
  EXPECT_NE(r.out.find("{\"input\":\"" + refused + "\",\"output\":\"\",\"result\":-1,\"error\":"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"output\":\"" + out + "/A_spherolux_0.mp4\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"output\":\"" + out + "/C_spherolux_0.jpg\",\"result\":0}"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("[1/3] " + clip + " [####################] Progress:100%"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[3/3] " + photo + " \n"), std::string::npos) << r.err;
  EXPECT_NEAR(Duration(out + "/A_spherolux_0.mp4"), 1.0, 0.1);
  EXPECT_EQ(spherolux::IsStitchedPhoto((out + "/C_spherolux_0.jpg").c_str()), 1);

  // Ctrl-C while the first of two long clips converts: nothing of it, and the second never starts.
  const std::string long_clip = Make("long.mp4", "--type 1 --size 640x360 --seconds 20");
  const std::string stopped = dir_ + "/stopped";
  fs::create_directory(stopped);
  EXPECT_EQ(Interrupt({"convert", long_clip, long_clip, "--output-dir", stopped, "--quality", "high"}, SIGINT), 130);
  EXPECT_TRUE(fs::is_empty(stopped));
}

// reframe cuts a flat video out of a camera clip and out of the panorama converted from it,
// at the size asked and as long as the range; a path with a mistake is named with its line
// before any job starts, and a photo is refused.
TEST_F(CliTest, ReframeWritesAFlatVideoAndNamesTheLineOfAMistake) {
  const std::string cam = Make("cam.mp4", "--size 640x320 --seconds 2");
  const std::string path = dir_ + "/path.json", pano = dir_ + "/pano.mp4";
  std::ofstream(path) << "{\"keyframes\": [\n  {\"t\": 0, \"yaw\": -40, \"pitch\": 5},\n"
                         "  {\"t\": 1.5, \"yaw\": 40, \"pitch\": 0, \"fov\": 70}\n]}\n";
  ASSERT_EQ(Cli("convert '" + cam + "' '" + pano + "' --quality low").exit_code, 0);
  for (const std::string& input : {cam, pano}) {
    const std::string out = input + ".flat.mp4";
    const testsupport::CommandResult r =
        Cli("reframe '" + input + "' '" + out + "' --path '" + path + "' --size 320x180 --quality low");
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(Shell("ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 '" + out + "'"),
              "320,180\n");
    EXPECT_NEAR(Duration(out), 2.0, 0.1);
  }
  ASSERT_EQ(std::system((kBin + "spherolux-camgen photo '" + dir_ + "/ph.jpg' --size 512x256").c_str()), 0);
  const testsupport::CommandResult photo = Cli("reframe '" + dir_ + "/ph.jpg' --path '" + path + "'");
  EXPECT_EQ(photo.exit_code, 64);
  EXPECT_NE(photo.out.find("spherolux-cli reframe: "), std::string::npos) << photo.out;
  std::ofstream(path)
      << "{\"keyframes\": [\n  {\"t\": 0, \"yaw\": 0, \"pitch\": 0},\n  {\"t\": 0, \"yaw\": 9, \"pitch\": 0}\n]}\n";
  testsupport::CommandResult r = Cli("reframe '" + cam + "' --path '" + path + "'");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("line 3: \"t\" must be later than the keyframe before"), std::string::npos) << r.out;
}

}  // namespace
