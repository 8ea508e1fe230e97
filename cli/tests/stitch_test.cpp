// spherolux-cli stitch on generated camera photos.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "camgen/camgen.h"

namespace {

namespace camgen = spherolux::camgen;
namespace fs = std::filesystem;

struct CliRun {
  int exit_code = -1;
  std::string out;
};

CliRun Stitch(const std::string& args) {
  const std::string cmd = std::string(SPHEROLUX_BINARY_DIR) + "/bin/spherolux-cli stitch " + args + " 2>/dev/null";
  CliRun run;
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return run;
  std::array<char, 4096> buf;
  for (size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;) run.out.append(buf.data(), n);
  const int status = pclose(p);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(CliStitch, NamesOutputsAndReportsFailures) {
  const std::string dir = camgen::MakeTempDir("cli_stitch");
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
  EXPECT_EQ(run.out, out_dir + "/IMG_1_spherolux_0.jpg\n" + out_dir + "/IMG_1_spherolux_1.jpg\n");

  EXPECT_EQ(Stitch("'" + photo + "' --rotation 45").exit_code, 64);
  EXPECT_EQ(Stitch("").exit_code, 64);
}

}  // namespace
