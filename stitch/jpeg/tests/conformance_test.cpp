// Our decoder and encoder against libjpeg-turbo's cjpeg/djpeg and FFmpeg's decoder, run as
// tools on temporary files. A missing tool fails the test.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_util.h"

namespace spherolux::jpegtest {
namespace {

bool HaveTool(const char* name) { return RunCommand(std::string("command -v ") + name + " >/dev/null 2>&1") == 0; }

class Conformance : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HaveTool("cjpeg")) << "cjpeg (libjpeg-turbo-progs) is required";
    ASSERT_TRUE(HaveTool("djpeg")) << "djpeg (libjpeg-turbo-progs) is required";
  }

  // Makes a JPEG with cjpeg from the test picture and checks that our decode, converted to
  // RGB, matches djpeg's own (chroma replicated, as our conversion does).
  void CheckAgainstDjpeg(const std::string& name, int w, int h, const std::string& options, int expect_sampling,
                         int strip = 16) {
    Image src = MakeTestImage(w, h, static_cast<uint32_t>(w * 31 + h));
    const std::string ppm = TempPath(name + ".ppm"), jpg = TempPath(name + ".jpg");
    const std::string ref = TempPath(name + ".ref.pnm");
    ASSERT_TRUE(WritePnm(ppm, src));
    ASSERT_EQ(RunCommand("cjpeg " + options + " -outfile " + jpg + " " + ppm), 0);
    ASSERT_EQ(RunCommand("djpeg -nosmooth -pnm -outfile " + ref + " " + jpg), 0);
    Planes planes;
    ASSERT_EQ(DecodeJpegFile(jpg, &planes, strip), kJpegOk) << options;
    EXPECT_EQ(planes.sampling, expect_sampling) << options;
    EXPECT_EQ(planes.width, w);
    EXPECT_EQ(planes.height, h);
    Image theirs;
    ASSERT_TRUE(ReadPnm(ref, &theirs));
    const Image ours = PlanesToRgb(planes);
    const double psnr = Psnr(ours, theirs);
    EXPECT_GE(psnr, 45.0) << options;
    std::printf("[ decode  ] %-40s %dx%d PSNR vs djpeg %.2f dB\n", options.c_str(), w, h, psnr);
  }
};

TEST_F(Conformance, SequentialSamplingModes) {
  CheckAgainstDjpeg("s420", 128, 96, "-quality 90 -sample 2x2", kJpegSampling420);
  CheckAgainstDjpeg("s422", 128, 96, "-quality 90 -sample 2x1", kJpegSampling422);
  CheckAgainstDjpeg("s440", 128, 96, "-quality 90 -sample 1x2", kJpegSampling440);
  CheckAgainstDjpeg("s444", 128, 96, "-quality 90 -sample 1x1", kJpegSampling444);
  CheckAgainstDjpeg("grey", 128, 96, "-quality 90 -grayscale", kJpegSamplingGrey);
  CheckAgainstDjpeg("s411", 128, 96, "-quality 90 -sample 4x1", kJpegSamplingOther);
  CheckAgainstDjpeg("s2x1c", 128, 96, "-quality 90 -sample 2x1,2x1,2x1", kJpegSampling444);
}

TEST_F(Conformance, OddSizesAndOddStrips) {
  CheckAgainstDjpeg("odd420", 97, 61, "-quality 85", kJpegSampling420, 7);
  CheckAgainstDjpeg("odd422", 33, 17, "-quality 85 -sample 2x1", kJpegSampling422, 5);
  CheckAgainstDjpeg("odd440", 35, 21, "-quality 85 -sample 1x2", kJpegSampling440, 3);
  CheckAgainstDjpeg("tiny", 1, 1, "-quality 85", kJpegSampling420, 1);
  CheckAgainstDjpeg("oddgrey", 23, 9, "-quality 85 -grayscale", kJpegSamplingGrey, 4);
}

TEST_F(Conformance, RestartIntervalsAndOptimisedTables) {
  CheckAgainstDjpeg("rst1", 160, 80, "-quality 90 -restart 1", kJpegSampling420);
  CheckAgainstDjpeg("rst3b", 97, 61, "-quality 90 -restart 3B", kJpegSampling420);
  CheckAgainstDjpeg("rst1bg", 40, 24, "-quality 90 -restart 1B -grayscale", kJpegSamplingGrey);
  CheckAgainstDjpeg("opt", 128, 96, "-quality 75 -optimize", kJpegSampling420);
  CheckAgainstDjpeg("q100", 64, 48, "-quality 100 -sample 1x1", kJpegSampling444);
}

TEST_F(Conformance, Progressive) {
  CheckAgainstDjpeg("p420", 128, 96, "-quality 90 -progressive", kJpegSampling420);
  CheckAgainstDjpeg("p422", 97, 61, "-quality 90 -progressive -sample 2x1", kJpegSampling422, 5);
  CheckAgainstDjpeg("p444", 64, 40, "-quality 95 -progressive -sample 1x1", kJpegSampling444);
  CheckAgainstDjpeg("pgrey", 70, 30, "-quality 90 -progressive -grayscale", kJpegSamplingGrey);
  CheckAgainstDjpeg("prst", 128, 96, "-quality 90 -progressive -restart 2B", kJpegSampling420);
  CheckAgainstDjpeg("pq100", 48, 48, "-quality 100 -progressive", kJpegSampling420);
}

TEST_F(Conformance, ScaledLumaFollowsDjpegScaling) {
  // djpeg reduces inside the inverse DCT and decodes chroma at a finer scale than ours (we
  // deliver each component at its own sampling), so the luma planes are compared: djpeg
  // -grayscale outputs exactly the luma of a colour file.
  Image src = MakeTestImage(128, 96, 5);
  const std::string ppm = TempPath("scale.ppm"), jpg = TempPath("scale.jpg");
  ASSERT_TRUE(WritePnm(ppm, src));
  ASSERT_EQ(RunCommand("cjpeg -quality 90 -outfile " + jpg + " " + ppm), 0);
  for (int scale : {2, 4, 8}) {
    const std::string ref = TempPath("scale" + std::to_string(scale) + ".pgm");
    ASSERT_EQ(RunCommand("djpeg -grayscale -scale 1/" + std::to_string(scale) + " -pnm -outfile " + ref + " " + jpg),
              0);
    Planes planes;
    ASSERT_EQ(DecodeJpegFile(jpg, &planes, 16, scale), kJpegOk);
    ASSERT_EQ(planes.width, 128 / scale);
    ASSERT_EQ(planes.height, 96 / scale);
    EXPECT_EQ(planes.plane_w[1], 64 / scale);  // chroma stays at half the output size
    Image theirs;
    ASSERT_TRUE(ReadPnm(ref, &theirs));
    const double psnr = Psnr(planes.plane[0], theirs.pixels);
    EXPECT_GE(psnr, scale == 8 ? 60.0 : 40.0) << scale;  // at 1/8 both take the DC alone
    std::printf("[ decode  ] scale 1/%d luma PSNR vs djpeg %.2f dB\n", scale, psnr);
  }
}

TEST_F(Conformance, EncodedFilesDecodeWithDjpegAndFfmpegAtTheExpectedQuality) {
  ASSERT_TRUE(HaveTool("ffmpeg")) << "ffmpeg is required";
  const int w = 161, h = 97;  // odd, not a multiple of the MCU
  const Planes src = RgbToI420(MakeTestImage(w, h, 9));
  // Lower bounds per quality for this picture (hard edges, mild noise).
  const struct {
    int quality;
    double min_psnr;
  } cases[] = {{50, 30}, {75, 33}, {90, 37}, {99, 45}, {100, 48}};
  for (const auto& c : cases) {
    const std::string jpg = TempPath("enc" + std::to_string(c.quality) + ".jpg");
    const std::string yuv = TempPath("enc" + std::to_string(c.quality) + ".yuv");
    const std::string ppm = TempPath("enc" + std::to_string(c.quality) + ".ppm");
    ASSERT_EQ(EncodeI420(jpg, src, c.quality), kJpegOk);
    ASSERT_EQ(RunCommand("djpeg -nosmooth -pnm -outfile " + ppm + " " + jpg), 0) << c.quality;
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -loglevel error -y -i " + jpg + " -f rawvideo -pix_fmt yuvj420p " + yuv), 0);
    // FFmpeg's planes against the source planes.
    std::vector<uint8_t> want;
    for (int p = 0; p < 3; ++p) want.insert(want.end(), src.plane[p].begin(), src.plane[p].end());
    const std::vector<uint8_t> got = ReadFile(yuv);
    ASSERT_EQ(got.size(), want.size());
    const double psnr_ffmpeg = Psnr(got, want);
    // Our own decoder, and djpeg's RGB against ours converted the same way.
    Planes ours;
    ASSERT_EQ(DecodeJpegFile(jpg, &ours), kJpegOk);
    Image theirs;
    ASSERT_TRUE(ReadPnm(ppm, &theirs));
    const double psnr_djpeg = Psnr(theirs, PlanesToRgb(ours));
    std::vector<uint8_t> mine;
    for (int p = 0; p < 3; ++p) mine.insert(mine.end(), ours.plane[p].begin(), ours.plane[p].end());
    const double psnr_ours = Psnr(mine, want);
    std::printf("[ encode  ] quality %3d: PSNR vs source YUV: ffmpeg %.2f dB, ours %.2f dB; djpeg vs ours %.2f dB\n",
                c.quality, psnr_ffmpeg, psnr_ours, psnr_djpeg);
    EXPECT_GE(psnr_ffmpeg, c.min_psnr) << c.quality;
    EXPECT_GE(psnr_ours, c.min_psnr) << c.quality;
    EXPECT_GE(psnr_djpeg, 45.0) << c.quality;       // the decoders agree on our file
    EXPECT_GE(Psnr(mine, got), 45.0) << c.quality;  // with FFmpeg as well
  }
}

}  // namespace
}  // namespace spherolux::jpegtest
