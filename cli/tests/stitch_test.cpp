// spherolux-cli stitch on generated camera photos.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "camgen/camgen.h"
#include "testsupport/testsupport.h"

namespace {

namespace camgen = spherolux::camgen;
namespace fs = std::filesystem;

using CliRun = spherolux::testsupport::CommandResult;

CliRun Stitch(const std::string& args) {
  return spherolux::testsupport::RunCommand(spherolux::testsupport::BuiltProgram("spherolux-cli") + " stitch " + args);
}

TEST(CliStitch, NamesOutputsAndReportsFailures) {
  const spherolux::testsupport::TempDir scratch("cli_stitch");
  const std::string& dir = scratch.path();
  const camgen::Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()));
  const std::string photo = dir + "/IMG_1.jpg";
  ASSERT_TRUE(camgen::WriteFileBytes(photo, camgen::EmbedInJpeg(camgen::MakeJpeg(512, 256), block)));

  CliRun run = Stitch("'" + photo + "' --quality low");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, dir + "/IMG_1_spherolux_0.jpg\n");
  run = Stitch("'" + photo + "' --rotation 180");  // the first free number
  EXPECT_EQ(run.out, dir + "/IMG_1_spherolux_1.jpg\n");
  EXPECT_TRUE(fs::exists(dir + "/IMG_1_spherolux_1.jpg"));
  run = Stitch("'" + photo + "' '" + dir + "/named.jpg'");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(fs::exists(dir + "/named.jpg"));

  const std::string out_dir = dir + "/out";
  fs::create_directory(out_dir);
  const std::string bad = dir + "/bad.jpg";
  ASSERT_TRUE(camgen::WriteFileBytes(bad, {0xFF, 0xD8, 0xFF}));
  run = Stitch("--output-dir '" + out_dir + "' '" + photo + "' '" + bad + "' '" + photo + "'");
  EXPECT_EQ(run.exit_code, 1);  // one failed, the others were still stitched
  // One JSON result per photo: the refused one at once, then the others as they end.
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3) << run.out;
  EXPECT_NE(run.out.find("{\"input\":\"" + bad + "\",\"result\":-1,\"error\":"), std::string::npos) << run.out;
  const size_t first = run.out.find("\"output\":\"" + out_dir + "/IMG_1_spherolux_0.jpg\",\"result\":0}");
  EXPECT_NE(first, std::string::npos) << run.out;
  EXPECT_GT(run.out.find("\"output\":\"" + out_dir + "/IMG_1_spherolux_1.jpg\",\"result\":0}"), first) << run.out;
  EXPECT_TRUE(fs::exists(out_dir + "/IMG_1_spherolux_1.jpg"));

  EXPECT_EQ(Stitch("'" + photo + "' --rotation 45").exit_code, 64);
  EXPECT_EQ(Stitch("").exit_code, 64);
}

class CliStitchSafety : public ::testing::Test {
 protected:
  void SetUp() override {
    const camgen::Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()));
    ASSERT_TRUE(camgen::WriteFileBytes(photo_, camgen::EmbedInJpeg(camgen::MakeJpeg(1024, 512), block)));
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  const spherolux::testsupport::TempDir scratch_{"cli_stitch_safety"};
  const std::string dir_ = scratch_.path();
  const std::string photo_ = dir_ + "/cam.jpg";
};

TEST_F(CliStitchSafety, NeitherThePhotoNorAnExistingFileIsReplaced) {
  const camgen::Bytes original = camgen::ReadFileBytes(photo_);
  CliRun run = Stitch("'" + photo_ + "' '" + photo_ + "'");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("one of the input files"), std::string::npos) << run.err;
  run = Stitch("'" + photo_ + "' '" + dir_ + "/../" + fs::path(dir_).filename().string() + "/cam.jpg' --overwrite");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(camgen::ReadFileBytes(photo_), original);

  const std::string out = scratch_.Write("out.jpg", std::string("theirs"));
  run = Stitch("'" + photo_ + "' '" + out + "'");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("--overwrite"), std::string::npos) << run.err;
  EXPECT_EQ(camgen::ReadFileBytes(out).size(), 6u);
  run = Stitch("'" + photo_ + "' '" + out + "' --overwrite");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_GT(camgen::ReadFileBytes(out).size(), 6u);

  // A photo's panorama is a JPEG: convert does not write one into an .mp4.
  run = spherolux::testsupport::RunCommand(spherolux::testsupport::BuiltProgram("spherolux-cli") + " convert '" +
                                           photo_ + "' '" + dir_ + "/o.mp4'");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find(".jpg"), std::string::npos) << run.err;
  EXPECT_EQ(Names(), (std::vector<std::string>{"cam.jpg", "out.jpg"}));
}

TEST_F(CliStitchSafety, TwoRunsAtOnceGetTwoNames) {
  const std::string cli = spherolux::testsupport::BuiltProgram("spherolux-cli");
  const std::string one = cli + " stitch --output-dir '" + dir_ + "' '" + photo_ + "'";
  CliRun run = spherolux::testsupport::RunCommand("(" + one + " & " + one + " & wait) 2>&1");
  EXPECT_EQ(Names(), (std::vector<std::string>{"cam.jpg", "cam_spherolux_0.jpg", "cam_spherolux_1.jpg"})) << run.out;
}

TEST_F(CliStitchSafety, DamagedUnqualifiedAndUnreadablePhotosFailWithTheirCause) {
  const camgen::Bytes whole = camgen::ReadFileBytes(photo_);
  const std::string cut = dir_ + "/cut.jpg";
  ASSERT_TRUE(camgen::WriteFileBytes(cut, camgen::Bytes(whole.begin(), whole.begin() + whole.size() / 3)));
  CliRun run = Stitch("'" + cut + "'");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("damaged or cut short"), std::string::npos) << run.err;

  // No calibration (the converter's 481), and a panorama stitched before (482).
  const std::string plain = dir_ + "/plain.jpg";
  ASSERT_TRUE(camgen::WriteFileBytes(plain, camgen::MakeJpeg(512, 256)));
  run = Stitch("'" + plain + "'");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("This file is not captured by a qualified camera!"), std::string::npos) << run.err;
  // A camera photo declaring 65535 x 65535 pixels is refused for its size, with the limit.
  const std::string huge = dir_ + "/huge.jpg";
  ASSERT_TRUE(camgen::WriteFileBytes(huge, camgen::DeclareJpegSize(whole, 65535, 65535)));
  run = Stitch("'" + huge + "'");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("larger than can be stitched (at most 16384 pixels wide"), std::string::npos) << run.err;
  ASSERT_EQ(Stitch("'" + photo_ + "' '" + dir_ + "/pano.jpg'").exit_code, 0);
  run = Stitch("'" + dir_ + "/pano.jpg'");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("This file is already stitched!"), std::string::npos) << run.err;

  // A pipe is refused at once (timeout: a command that opened it would wait for ever).
  const std::string fifo = dir_ + "/pipe.jpg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  run = spherolux::testsupport::RunCommand("timeout 60 " + spherolux::testsupport::BuiltProgram("spherolux-cli") +
                                           " stitch '" + fifo + "'");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
  EXPECT_EQ(Names(), (std::vector<std::string>{"cam.jpg", "cut.jpg", "huge.jpg", "pano.jpg", "pipe.jpg", "plain.jpg"}));
}

TEST_F(CliStitchSafety, LongNamesAndAFullDiskEndWithAMessage) {
  // A stem of 246 bytes: the default name would exceed 255 bytes and is shortened, at a
  // character boundary.
  std::string stem = "x";
  while (stem.size() + 3 <= 246) stem += "\xE5\x9B\xBE";
  const std::string long_photo = dir_ + "/" + stem + ".jpg";
  fs::copy_file(photo_, long_photo);
  CliRun run = Stitch("'" + long_photo + "'");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::string made = fs::path(run.out.substr(0, run.out.size() - 1)).filename().string();
  EXPECT_LE(made.size(), 255u);
  EXPECT_EQ(made.substr(made.size() - 16), "_spherolux_0.jpg");
  EXPECT_EQ(made.substr(0, made.size() - 16), stem.substr(0, made.size() - 16));
  EXPECT_EQ((made.size() - 16 - 1) % 3, 0u) << "a character was split";
  // An explicit name of 255 bytes is written; one of 256 is refused with a message.
  run = Stitch("'" + photo_ + "' '" + dir_ + "/" + std::string(251, 'y') + ".jpg'");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  run = Stitch("'" + photo_ + "' '" + dir_ + "/" + std::string(252, 'z') + ".jpg'");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("longer than 255 bytes"), std::string::npos) << run.err;

  // A disk that fills up says so (a small file system of its own, where one can be mounted).
  const std::string full = dir_ + "/full";
  fs::create_directory(full);
  run = spherolux::testsupport::RunCommand("unshare -rm sh -c 'mount -t tmpfs -o size=64k tmpfs " + full + " && " +
                                           spherolux::testsupport::BuiltProgram("spherolux-cli") +
                                           " stitch --quality high \"$0\" " + full +
                                           "/p.jpg; echo \"exit=$?\"; ls -A " + full + "' '" + photo_ + "' 2>&1");
  if (run.out.find("exit=") == std::string::npos) GTEST_SKIP() << "no file system can be mounted here: " << run.out;
  EXPECT_NE(run.out.find("The disk is full."), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("exit=1\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(run.out.find("exit=1\n") + 7), "") << "files left on the full disk";
}

TEST_F(CliStitchSafety, SignalsLeaveNothingOfThePhotoBehind) {
  // A large photo, so that the signal arrives while it is stitched.
  const camgen::Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()));
  ASSERT_TRUE(camgen::WriteFileBytes(photo_, camgen::EmbedInJpeg(camgen::MakeJpeg(5376, 2688), block)));
  for (const int sig : {SIGINT, SIGTERM}) {
    const std::string cli = spherolux::testsupport::BuiltProgram("spherolux-cli");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      (void)!std::freopen("/dev/null", "w", stdout);
      ::execl(cli.c_str(), cli.c_str(), "stitch", photo_.c_str(), "--quality", "high", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The claimed name appears when the work begins.
    const std::string claimed = dir_ + "/cam_spherolux_0.jpg";
    for (int i = 0; i < 30000 && !fs::exists(claimed); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(pid, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << sig;
    EXPECT_EQ(WEXITSTATUS(status), 128 + sig);
    EXPECT_EQ(Names(), std::vector<std::string>{"cam.jpg"}) << sig;
  }
}

}  // namespace
