// spherolux-cli probe on generated camera files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "calib/panorama_xmp.h"
#include "camgen/camgen.h"
#include "testsupport/testsupport.h"

namespace {

using spherolux::camgen::Bytes;
namespace camgen = spherolux::camgen;

struct ProbeRun {
  int exit_code = -1;
  std::vector<std::string> lines;  // stdout
  std::string err;
};

ProbeRun Probe(const std::vector<std::string>& files) {
  std::string cmd = spherolux::testsupport::BuiltProgram("spherolux-cli") + " probe";
  for (const auto& f : files) cmd += " " + spherolux::testsupport::ShellQuote(f);
  const spherolux::testsupport::CommandResult result = spherolux::testsupport::RunCommand(cmd);
  ProbeRun run;
  run.exit_code = result.exit_code;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) run.lines.push_back(line);
  run.err = result.err;
  return run;
}

bool Has(const std::string& line, const std::string& part) { return line.find(part) != std::string::npos; }

class ProbeCommand : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) { return dir_.Write(name, bytes); }
  spherolux::testsupport::TempDir dir_{"probe-test"};
};

TEST_F(ProbeCommand, ReportsKindTypeClassAndRecord) {
  const Bytes jpeg = camgen::MakeJpeg(64, 32, 80);
  ASSERT_FALSE(jpeg.empty());
  const std::string clip = dir_.Path("base.mp4");
  ASSERT_TRUE(camgen::MakeMp4Clip(clip, 64, 32, 0.2, false));
  const Bytes mp4 = camgen::ReadFileBytes(clip);

  const auto dual = camgen::ExampleDualPara(2201);
  const std::string dual_jpg =
      Write("dual.JPG", camgen::EmbedInJpeg(jpeg, camgen::MakeBlock(camgen::DualLensRecords(dual))));
  const std::string single_mp4 = Write(
      "single.mp4", camgen::EmbedInMp4(mp4, camgen::MakeBlock(camgen::SingleLensRecords(camgen::ExampleSinglePara()))));
  const std::string camera_stitched =
      Write("t1000.mp4", camgen::EmbedInMp4(mp4, camgen::MakeBlock(camgen::DualLensRecords(dual, 1000))));
  const Bytes xmp(spherolux::kPanoramaXmpSegment.begin(), spherolux::kPanoramaXmpSegment.end());
  Bytes pano = {0xFF, 0xD8};
  pano.insert(pano.end(), xmp.begin(), xmp.end());
  pano.insert(pano.end(), jpeg.begin() + 2, jpeg.end());
  const std::string stitched_bmp = Write("pano.bmp", pano);
  const std::string spherical = Write("pano.mp4", camgen::AddSphericalV1Box(mp4, camgen::SphericalV1Xml("true")));
  const std::string plain = Write("plain.jpeg", jpeg);  // not a photo by its name

  const ProbeRun run = Probe({dual_jpg, single_mp4, camera_stitched, stitched_bmp, spherical, plain});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_EQ(run.lines.size(), 6u);

  const std::string& d = run.lines[0];
  EXPECT_TRUE(Has(d, "{\"path\":\"" + dual_jpg +
                         "\",\"kind\":\"photo\",\"camera_type\":2,\"class\":\"dual-lens\","
                         "\"stitched_photo\":0,\"calibration\":{"))
      << d;
  EXPECT_TRUE(Has(d, "\"lModel\":2201")) << d;
  EXPECT_TRUE(Has(d, "\"szLabel\":\"" + std::string(dual.szLabel) + "\"")) << d;
  EXPECT_TRUE(Has(d, "\"stPoint1\":{\"x\":480,\"y\":480,\"radius\":470}")) << d;
  EXPECT_TRUE(Has(d, "\"lPointNum\":2")) << d;
  EXPECT_TRUE(Has(d, "\"mstPf1\":[[470,300,472,480],[1450,300,1448,480],[0,0,0,0],")) << d;
  EXPECT_TRUE(Has(d, "\"mstPf2\":[[")) << d;
  EXPECT_EQ(d.back(), '}');

  const std::string& s = run.lines[1];
  EXPECT_TRUE(Has(s, "\"kind\":\"video\",\"camera_type\":1,\"class\":\"single-lens\",\"spherical_video\":0")) << s;
  EXPECT_TRUE(Has(s, "\"record\":\"SingleFisheyeCameraPara\",\"stPfCenter\":{\"x\":960,\"y\":540},\"radius\":530"))
      << s;

  EXPECT_TRUE(Has(run.lines[2], "\"camera_type\":512,\"class\":\"stitched-by-camera\",\"spherical_video\":0}"))
      << run.lines[2];
  EXPECT_TRUE(Has(run.lines[3], "\"kind\":\"photo\",\"camera_type\":1001,\"class\":\"stitched\",\"stitched_photo\":1}"))
      << run.lines[3];
  EXPECT_TRUE(Has(run.lines[4], "\"camera_type\":1001,\"class\":\"stitched\",\"spherical_video\":1}")) << run.lines[4];
  EXPECT_TRUE(Has(run.lines[5], "\"kind\":\"video\",\"camera_type\":1001,\"class\":\"not-panorama\"")) << run.lines[5];
}

TEST_F(ProbeCommand, UnreadableFilesExitTwoWithAMessage) {
  const std::string empty = Write("empty.jpg", {});
  const std::string missing = dir_.Path("missing.mp4");
  const ProbeRun run = Probe({missing, empty, dir_.path()});
  EXPECT_EQ(run.exit_code, 2);
  ASSERT_EQ(run.lines.size(), 1u);  // the empty file is probed
  EXPECT_TRUE(Has(run.lines[0], "\"camera_type\":1002,\"class\":\"not-panorama\"")) << run.lines[0];
  EXPECT_TRUE(Has(run.err, "cannot read " + missing + ":")) << run.err;
  EXPECT_TRUE(Has(run.err, "cannot read " + dir_.path() + ":")) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2);
}

// File names are bytes: one that is not UTF-8 comes out as \udcXX escapes that give the bytes
// back (read here as a script would, with Python's surrogateescape), while UTF-8 names and
// control characters keep their usual JSON form. The line stays one JSON text.
TEST_F(ProbeCommand, NamesThatAreNotUtf8ComeBackAsTheirBytes) {
  const Bytes jpeg = camgen::MakeJpeg(64, 32, 80);
  const Bytes photo = camgen::EmbedInJpeg(jpeg, camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara())));
  const std::vector<std::string> names = {Write("caf\xe9.JPG", photo), Write("\xe5\x85\xa8\xe6\x99.JPG", photo),
                                          Write("\xed\xa0\x80 \xc0\xaf \xf4\x90\x80\x80.JPG", photo),
                                          Write("全景\t\"q\".JPG", photo)};
  std::string cmd = spherolux::testsupport::BuiltProgram("spherolux-cli") + " probe";
  for (const auto& f : names) cmd += " " + spherolux::testsupport::ShellQuote(f);
  cmd +=
      " | python3 -c 'import json, os, sys\n"
      "for line in sys.stdin.buffer: sys.stdout.buffer.write(os.fsencode(json.loads(line)[\"path\"]) + b\"/\")'";
  const spherolux::testsupport::CommandResult run = spherolux::testsupport::RunCommand(cmd);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  std::string expected;
  for (const auto& f : names) expected += f + "/";
  EXPECT_EQ(run.out, expected) << run.err;
  // The escape is Python's: one \udcXX per byte outside well-formed UTF-8.
  const ProbeRun plain = Probe({names[0]});
  ASSERT_EQ(plain.lines.size(), 1u);
  EXPECT_TRUE(Has(plain.lines[0], "caf\\udce9.JPG\"")) << plain.lines[0];
}

// "--" ends the options of every subcommand: a file whose name starts with "-" can be named.
TEST_F(ProbeCommand, DoubleDashEndsTheOptions) {
  const Bytes jpeg = camgen::MakeJpeg(64, 32, 80);
  Write("-dash.JPG", camgen::EmbedInJpeg(jpeg, camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()))));
  const std::string cli = "cd " + spherolux::testsupport::ShellQuote(dir_.path()) + " && " +
                          spherolux::testsupport::BuiltProgram("spherolux-cli");
  auto run = [&](const std::string& args) { return spherolux::testsupport::RunCommand(cli + args); };

  spherolux::testsupport::CommandResult r = run(" probe -- -dash.JPG");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "{\"path\":\"-dash.JPG\",\"kind\":\"photo\",\"camera_type\":2")) << r.out;
  r = run(" grids --size 64x32 -- -dash.JPG");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "{\"path\":\"-dash.JPG\",\"result\":")) << r.out;
  r = run(" stitch --quality low -- -dash.JPG -out.jpg");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "-out.jpg\n");
  r = run(" convert -- -dash.JPG");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "-dash_spherolux_0.jpg\n");
  // Only the first "--" is taken: a second one is a file (missing here).
  r = run(" probe -- -- -dash.JPG");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_TRUE(Has(r.err, "cannot read --:")) << r.err;
  // The photo is no stitched video: refused by name, not as an option.
  r = run(" merge -- -m.mp4 -dash.JPG");
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_TRUE(Has(r.err, "File Path: -dash.JPG")) << r.err;
  r = run(" recover -- -dash.JPG");
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_TRUE(Has(r.err, "-dash.JPG has no side file")) << r.err;
}

// A pipe in a file's place would block whoever opens it for reading: each command that reads
// a file refuses it first (timeout ends a command that hangs).
TEST_F(ProbeCommand, PipesAreRefusedByEveryReadingCommand) {
  const std::string pipe = dir_.Path("pipe.mp4");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::string cli = "timeout 20 " + spherolux::testsupport::BuiltProgram("spherolux-cli");
  const std::string quoted = spherolux::testsupport::ShellQuote(pipe);
  for (const std::string command : {" probe ", " grids ", " grids --size 64x32 ", " recover "}) {
    const spherolux::testsupport::CommandResult run = spherolux::testsupport::RunCommand(cli + command + quoted);
    EXPECT_EQ(run.exit_code, 2) << command << run.err;
    EXPECT_TRUE(Has(run.err, "not a regular file")) << command << run.err;
  }
}

}  // namespace
