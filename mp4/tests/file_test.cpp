// MP4 files made by ffmpeg: read, edit, write, and check the result with ffmpeg itself.
#include "mp4/file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/bytes.h"
#include "camgen/camgen.h"
#include "mp4/spherical.h"
#include "testsupport/testsupport.h"

namespace spherolux::mp4 {
namespace {

namespace fs = std::filesystem;

using testsupport::Shell;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

class Mp4FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mp4_file_test_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    clip_ = (dir_ / "clip.mp4").string();
    // No +faststart: the movie box follows the media data, as most recorders write it.
    const std::string cmd =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x160:rate=25:duration=1 "
        "-f lavfi -i sine=frequency=440:duration=1 -c:v libx264 -preset ultrafast -c:a aac -shortest '" +
        clip_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // MD5 of every decoded frame of every stream: equal only if each sample is still found
  // where the chunk offsets say.
  static std::string DecodedDigest(const std::string& path) {
    return Shell("ffmpeg -nostdin -v error -i '" + path + "' -map 0 -f framemd5 - 2>&1 | grep -v '^#'");
  }

  fs::path dir_;
  std::string clip_;
};

TEST_F(Mp4FileTest, UnchangedFileIsWrittenByteForByte) {
  Mp4File file;
  ASSERT_EQ(ReadMp4File(clip_, &file), FileStatus::kOk);
  ASSERT_NE(file.Find(TypeCode("moov")), nullptr);
  const Box* mdat = file.Find(TypeCode("mdat"));
  ASSERT_NE(mdat, nullptr);
  EXPECT_GT(mdat->source_size, 0u);  // media data stays on disk
  const std::string out = (dir_ / "same.mp4").string();
  ASSERT_EQ(WriteMp4File(file, out), FileStatus::kOk);
  EXPECT_EQ(ReadAll(out), ReadAll(clip_));
}

TEST_F(Mp4FileTest, MovingTheMovieBoxShiftsChunkOffsets) {
  const std::string before = DecodedDigest(clip_);
  ASSERT_FALSE(before.empty());
  Mp4File file;
  ASSERT_EQ(ReadMp4File(clip_, &file), FileStatus::kOk);
  ASSERT_EQ(TracksWithHandler(&file, TypeCode("vide")).size(), 1u);
  ASSERT_EQ(TracksWithHandler(&file, TypeCode("soun")).size(), 1u);
  ASSERT_TRUE(MoveMoovToFront(&file));
  ASSERT_TRUE(PutSphericalBoxes(&file, EquirectangularBoxes("test software")));
  const std::string out = (dir_ / "front.mp4").string();
  ASSERT_EQ(WriteMp4File(file, out), FileStatus::kOk);

  Mp4File again;
  ASSERT_EQ(ReadMp4File(out, &again), FileStatus::kOk);
  size_t moov_index = 99, mdat_index = 99;
  for (size_t i = 0; i < again.boxes.size(); ++i) {
    if (again.boxes[i].box.type == TypeCode("moov")) moov_index = i;
    if (again.boxes[i].box.type == TypeCode("mdat")) mdat_index = i;
  }
  EXPECT_LT(moov_index, mdat_index);
  EXPECT_EQ(DecodedDigest(out), before);

  // The metadata reads back, and ffprobe sees the version 2 projection.
  std::string xml = SphericalV1Text(&again);
  EXPECT_NE(xml.find("<GSpherical:Spherical>true</GSpherical:Spherical>"), std::string::npos);
  EXPECT_NE(xml.find("test software"), std::string::npos);
  SphericalBoxes s = ReadSphericalBoxes(&again);
  EXPECT_TRUE(s.st3d && s.sv3d);
  const std::string probe = Shell("ffprobe -v error -show_streams -select_streams v:0 '" + out + "'");
  EXPECT_NE(probe.find("projection=equirectangular"), std::string::npos) << probe;

  // Replacing keeps one copy of each box.
  ASSERT_TRUE(PutSphericalBoxes(&again, EquirectangularBoxes("other")));
  std::vector<Box*> uuids;
  FindAll(again.boxes[moov_index].box.children, TypeCode("uuid"), &uuids);
  EXPECT_EQ(uuids.size(), 1u);
  EXPECT_NE(SphericalV1Text(&again).find("other"), std::string::npos);
}

TEST_F(Mp4FileTest, DamagedAndForeignFilesGiveStatusCodes) {
  Mp4File file;
  EXPECT_EQ(ReadMp4File((dir_ / "missing.mp4").string(), &file), FileStatus::kCannotOpen);

  const std::string text = (dir_ / "text.mp4").string();
  std::ofstream(text) << "this is not a movie at all, only some text";
  EXPECT_EQ(ReadMp4File(text, &file), FileStatus::kNotMp4);

  // Cut inside the last box: what is there is read, and the status says so.
  std::vector<uint8_t> bytes = ReadAll(clip_);
  const std::string cut = (dir_ / "cut.mp4").string();
  std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size() - 100);
  EXPECT_EQ(ReadMp4File(cut, &file), FileStatus::kTruncated);
  EXPECT_NE(file.Find(TypeCode("ftyp")), nullptr);

  // Random bytes after a valid start never crash the reader.
  std::vector<uint8_t> noisy = bytes;
  for (size_t i = 40; i < noisy.size(); i += 97) noisy[i] ^= 0x5a;
  const std::string noise = (dir_ / "noise.mp4").string();
  std::ofstream(noise, std::ios::binary).write(reinterpret_cast<const char*>(noisy.data()), noisy.size());
  FileStatus st = ReadMp4File(noise, &file);
  EXPECT_NE(st, FileStatus::kCannotOpen);
}

TEST_F(Mp4FileTest, FailedOrCancelledWritesLeaveNoFile) {
  Mp4File file;
  ASSERT_EQ(ReadMp4File(clip_, &file), FileStatus::kOk);
  EXPECT_EQ(WriteMp4File(file, (dir_ / "no" / "such" / "dir.mp4").string()), FileStatus::kCannotCreate);

  const std::string out = (dir_ / "cancelled.mp4").string();
  WriteOptions options;
  options.cancelled = [] { return true; };
  EXPECT_EQ(WriteMp4File(file, out, options), FileStatus::kCancelled);
  EXPECT_FALSE(fs::exists(out));

  // Progress reaches the total.
  uint64_t last_done = 0, last_total = 1;
  WriteOptions counting;
  counting.progress = [&](uint64_t done, uint64_t total) {
    last_done = done;
    last_total = total;
  };
  ASSERT_EQ(WriteMp4File(file, out, counting), FileStatus::kOk);
  EXPECT_EQ(last_done, last_total);
  EXPECT_EQ(last_total, fs::file_size(out));
}

}  // namespace
}  // namespace spherolux::mp4
