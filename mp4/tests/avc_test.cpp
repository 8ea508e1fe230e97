// H.264 byte stream conversion for MP4 tracks, checked against what ffmpeg's own MP4 muxer
// makes of the same stream.
#include "avc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/bytes.h"
#include "camgen/camgen.h"
#include "mp4/file.h"

namespace spherolux::mp4 {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct TempDir {
  std::string path = camgen::MakeTempDir("avc_test");
  ~TempDir() { fs::remove_all(path); }
};

// An x264 elementary stream of the given profile, and the 'avcC' body ffmpeg stores for it.
void EncodeStream(const std::string& dir, const std::string& profile, Bytes* stream, Bytes* ffmpeg_avcc) {
  const std::string es = dir + "/" + profile + ".h264", mp4 = dir + "/" + profile + ".mp4";
  const std::string cmd =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x160:rate=25 -frames:v 5 "
      "-c:v libx264 -profile:v " +
      profile + " -pix_fmt yuv420p '" + es + "' && ffmpeg -nostdin -v error -y -i '" + es + "' -c copy '" + mp4 + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  *stream = camgen::ReadFileBytes(es);
  Mp4File file;
  ASSERT_EQ(ReadMp4File(mp4, &file), FileStatus::kOk);
  std::vector<Box*> found;
  for (auto& top : file.boxes)
    if (top.box.container) FindAll(top.box.children, TypeCode("avcC"), &found);
  ASSERT_FALSE(found.empty());
  *ffmpeg_avcc = found.front()->data;
}

TEST(AvcConfig, MatchesFfmpegFieldByField) {
  TempDir dir;
  for (const std::string profile : {"baseline", "high"}) {
    SCOPED_TRACE(profile);
    Bytes stream, expected;
    EncodeStream(dir.path, profile, &stream, &expected);
    Bytes avcc;
    ASSERT_TRUE(AvcConfigFromAnnexB(stream, &avcc));
    ASSERT_GE(avcc.size(), 11u);
    EXPECT_EQ(avcc[0], 1);                             // configurationVersion
    EXPECT_EQ(avcc[1], profile == "high" ? 100 : 66);  // AVCProfileIndication
    EXPECT_EQ(avcc[4], 0xff);                          // lengthSizeMinusOne 3
    EXPECT_EQ(avcc[5], 0xe1);                          // one SPS
    const size_t sps_len = LoadBE16(&avcc[6]);
    ASSERT_LT(8 + sps_len, avcc.size());
    EXPECT_EQ(avcc[8] & 0x1f, 7);         // the SPS NAL header
    EXPECT_EQ(avcc[2], avcc[8 + 1 + 1]);  // profile_compatibility from the SPS
    EXPECT_EQ(avcc[3], avcc[8 + 1 + 2]);  // level
    EXPECT_EQ(avcc[8 + sps_len], 1);      // one PPS
    const size_t pps_len = LoadBE16(&avcc[9 + sps_len]);
    EXPECT_EQ(avcc[11 + sps_len] & 0x1f, 8);
    // High profile adds chroma format 4:2:0 and 8-bit depths (ISO/IEC 14496-15 5.3.3.1.2).
    const Bytes tail(avcc.begin() + 11 + sps_len + pps_len, avcc.end());
    EXPECT_EQ(tail, profile == "high" ? Bytes({0xfd, 0xf8, 0xf8, 0}) : Bytes());
    EXPECT_EQ(avcc, expected);
  }
}

TEST(AvcConfig, NeedsBothParameterSets) {
  Bytes avcc;
  const Bytes sps_only = {0, 0, 0, 1, 0x67, 0x42, 0xc0, 0x1e, 0xda};
  EXPECT_FALSE(AvcConfigFromAnnexB(sps_only, &avcc));
  EXPECT_FALSE(AvcConfigFromAnnexB(Bytes{1, 2, 3}, &avcc));
}

TEST(AnnexB, StartCodesBecomeLengths) {
  // A 4-byte start code, a 3-byte one, padding zeros before the next start code, and an
  // escaped 00 00 03 inside a NAL unit that must stay as it is.
  const Bytes stream = {0, 0, 0, 1, 0x09, 0xf0, 0, 0, 1, 0x65, 0x88, 0, 0, 3, 0, 0x10, 0, 0, 0, 0, 1, 0x06, 0x05};
  Bytes out;
  AnnexBToLengthPrefixed(stream, &out);
  const Bytes expected = {0, 0, 0, 2, 0x09, 0xf0, 0, 0, 0, 7, 0x65, 0x88, 0, 0, 3, 0, 0x10, 0, 0, 0, 2, 0x06, 0x05};
  EXPECT_EQ(out, expected);
}

}  // namespace
}  // namespace spherolux::mp4
