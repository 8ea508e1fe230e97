#include "test_media.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "camgen/camgen.h"

namespace spherolux::media::testing {

namespace {

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string Quote(const std::string& path) { return "'" + path + "'"; }

}  // namespace

TestMedia::TestMedia() : dir_(camgen::MakeTempDir("player-test")) {}

TestMedia::~TestMedia() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string TestMedia::Video(const std::string& name, const std::string& picture, double seconds) {
  // The still picture with a bar sweeping across its top rows, in H.264 at 30 fps.
  const std::string raw = Path(name + ".raw.mp4");
  const std::string cmd = "ffmpeg -nostdin -y -loglevel error -loop 1 -framerate 30 -i " + Quote(picture) +
                          " -f lavfi -i color=c=white:s=64x16:r=30 -f lavfi -i sine=frequency=440:sample_rate=48000"
                          " -filter_complex \"[0][1]overlay=x='mod(t*400,W)':y=0:shortest=0[v]\" -map [v] -map 2:a"
                          " -t " +
                          std::to_string(seconds) + " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac " +
                          Quote(raw);
  EXPECT_TRUE(Run(cmd)) << cmd;
  return raw;
}

std::string TestMedia::DualPhoto(int width) {
  const std::string path = Path("dual-" + std::to_string(width) + ".jpg");
  const camgen::Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()));
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::EmbedInJpeg(camgen::MakeJpeg(width, width / 2), block)));
  return path;
}

std::string TestMedia::DualVideo(double seconds, int width) {
  const std::string picture = Path("dual-picture-" + std::to_string(width) + ".jpg");
  EXPECT_TRUE(camgen::WriteFileBytes(picture, camgen::MakeJpeg(width, width / 2)));
  const std::string raw = Video("dual-" + std::to_string(width), picture, seconds);
  const std::string path = Path("dual-" + std::to_string(width) + ".mp4");
  const camgen::Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()));
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::EmbedInMp4(camgen::ReadFileBytes(raw), block)));
  return path;
}

std::string TestMedia::DualHevcVideo(double seconds, int width) {
  const std::string raw = Path("hevc-" + std::to_string(width) + ".raw.mp4");
  EXPECT_TRUE(camgen::MakeMp4Clip(raw, width, width / 2, seconds, true, true));
  const std::string path = Path("hevc-" + std::to_string(width) + ".mp4");
  const camgen::Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()));
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::EmbedInMp4(camgen::ReadFileBytes(raw), block)));
  return path;
}

std::string TestMedia::SinglePhoto() {
  const std::string path = Path("single.jpg");
  const camgen::Bytes block = camgen::MakeBlock(camgen::SingleLensRecords(camgen::ExampleSinglePara()));
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::EmbedInJpeg(camgen::MakeJpeg(1920, 1080, 90, true), block)));
  return path;
}

std::string TestMedia::SingleVideo() {
  const std::string picture = Path("single-picture.jpg");
  EXPECT_TRUE(camgen::WriteFileBytes(picture, camgen::MakeJpeg(1920, 1080, 90, true)));
  const std::string raw = Video("single", picture, 1.0);
  const std::string path = Path("single.mp4");
  const camgen::Bytes block = camgen::MakeBlock(camgen::SingleLensRecords(camgen::ExampleSinglePara()));
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::EmbedInMp4(camgen::ReadFileBytes(raw), block)));
  return path;
}

std::string TestMedia::TaggedDualVideo(const std::string& picture, const std::string& matrix,
                                       const std::string& range) {
  const std::string name = "tagged-" + matrix + "-" + range;
  const std::string raw = Path(name + ".raw.mp4");
  const std::string cmd = "ffmpeg -nostdin -y -loglevel error -loop 1 -framerate 30 -i " + Quote(picture) +
                          " -t 5 -vf scale=out_color_matrix=" + matrix + ":out_range=" + range +
                          ",format=yuv420p -colorspace " + matrix + " -color_range " + range +
                          " -c:v libx264 -preset ultrafast -crf 4 " + Quote(raw);
  EXPECT_TRUE(Run(cmd)) << cmd;
  const std::string path = Path(name + ".mp4");
  const camgen::Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()));
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::EmbedInMp4(camgen::ReadFileBytes(raw), block)));
  return path;
}

std::string TestMedia::SlowDualVideo(int width) {
  const std::string picture = Path("dual-picture-" + std::to_string(width) + ".jpg");
  EXPECT_TRUE(camgen::WriteFileBytes(picture, camgen::MakeJpeg(width, width / 2)));
  const std::string raw = Path("slow-dual.raw.mp4");
  const std::string cmd = "ffmpeg -nostdin -y -loglevel error -loop 1 -framerate 0.5 -i " + Quote(picture) +
                          " -t 8 -c:v libx264 -preset ultrafast -pix_fmt yuv420p " + Quote(raw);
  EXPECT_TRUE(Run(cmd)) << cmd;
  const std::string path = Path("slow-dual.mp4");
  const camgen::Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()));
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::EmbedInMp4(camgen::ReadFileBytes(raw), block)));
  return path;
}

std::string TestMedia::CameraStitchedVideo() {
  const std::string clip = Path("camera-stitched.raw.mp4");
  EXPECT_TRUE(camgen::MakeMp4Clip(clip, 640, 320, 1.0, false));
  const std::string path = Path("camera-stitched.mp4");
  const camgen::Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara(), 1003));
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::EmbedInMp4(camgen::ReadFileBytes(clip), block)));
  return path;
}

std::string TestMedia::StitchedV1Video() {
  const std::string clip = Path("stitched-v1.raw.mp4");
  EXPECT_TRUE(camgen::MakeMp4Clip(clip, 640, 320, 1.0, false));
  const std::string path = Path("stitched-v1.mp4");
  EXPECT_TRUE(camgen::WriteFileBytes(
      path, camgen::AddSphericalV1Box(camgen::ReadFileBytes(clip), camgen::SphericalV1Xml("true"))));
  return path;
}

std::string TestMedia::GPanoPhoto() {
  const std::string path = Path("gpano.jpg");
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::MakeJpeg(1024, 512)));
  EXPECT_TRUE(Run("exiftool -q -overwrite_original -XMP-GPano:ProjectionType=equirectangular " + Quote(path)));
  return path;
}

std::string TestMedia::PlainVideo() {
  const std::string path = Path("plain.mp4");
  EXPECT_TRUE(camgen::MakeMp4Clip(path, 640, 320, 1.0, false));
  return path;
}

std::string TestMedia::NestedVideo() {
  const std::string path = Path("nested.mp4");
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::AddNestedUdta(camgen::ReadFileBytes(CameraStitchedVideo()), 10000)));
  return path;
}

std::string TestMedia::NotMedia() {
  const std::string path = Path("notes.mp4");
  EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::Bytes(5000, 'n')));
  return path;
}

}  // namespace spherolux::media::testing
