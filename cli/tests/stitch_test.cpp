// spherolux-cli stitch on generated camera photos.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
  EXPECT_EQ(run.out, out_dir + "/IMG_1_spherolux_0.jpg\n" + out_dir + "/IMG_1_spherolux_1.jpg\n");

  EXPECT_EQ(Stitch("'" + photo + "' --rotation 45").exit_code, 64);
  EXPECT_EQ(Stitch("").exit_code, 64);
}

}  // namespace
