// The engine on real media made by ffmpeg: conversion, copy, trimming, merging, stopping,
// metadata and failures, checked with ffprobe and our MP4 reader.
#include "convert/engine.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/bytes.h"
#include "calib/stitch_state.h"
#include "camgen/camgen.h"
#include "mp4/spherical.h"
#include "stitch/stitch_context.h"
#include "testsupport/testsupport.h"

namespace spherolux::convert {
namespace {

namespace fs = std::filesystem;

using testsupport::Shell;

// key=value lines of ffprobe for the first video stream (frames counted by decoding) and
// the container.
std::map<std::string, std::string> Probe(const std::string& path) {
  std::map<std::string, std::string> m;
  std::string text = Shell(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=codec_name,profile,width,height,nb_read_frames:format=duration,nb_streams -of default=nw=1 '" +
      path + "'");
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(pos, nl - pos);
    if (auto eq = line.find('='); eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    pos = nl + 1;
  }
  return m;
}

int RunJob(std::vector<std::string> args, int rotation = 0, int high = 0) {
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  return synth_trans(static_cast<int>(argv.size()), argv.data(), rotation, 0, high);
}

std::vector<std::string> LowVector(const std::string& ss, const std::string& in, const std::string& t,
                                   const std::string& out, bool stitch = false) {
  std::vector<std::string> v = {"ffmpeg"};
  if (stitch) v.push_back("-d");
  for (const char* s : {"-ss"}) v.push_back(s);
  v.insert(v.end(), {ss,   "-i",         in,     "-t",      t,          "-pix_fmt", "yuv420p", "-b:v", "4096k", "-r",
                     "15", "-profile:v", "main", "-preset", "veryfast", "-refs",    "1",       "-bf",  "0",     out});
  return v;
}

std::vector<std::string> MediumVector(const std::string& ss, const std::string& in, const std::string& t,
                                      const std::string& out, bool stitch = false) {
  std::vector<std::string> v = {"ffmpeg"};
  if (stitch) v.push_back("-d");
  v.insert(v.end(), {"-ss", ss, "-i", in, "-t", t, "-pix_fmt", "yuv420p", "-b:v", "10000k", "-profile:v", "main",
                     "-preset", "veryfast", "-refs", "2", "-bf", "1", out});
  return v;
}

// Files in `dir` other than those named.
std::vector<std::string> Leftovers(const fs::path& dir, std::initializer_list<std::string> keep) {
  std::vector<std::string> extra;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    bool kept = false;
    for (const auto& k : keep) kept = kept || k == name;
    if (!kept) extra.push_back(name);
  }
  return extra;
}

std::string V1Text(const std::string& path) {
  mp4::Mp4File file;
  if (mp4::ReadMp4File(path, &file) != mp4::FileStatus::kOk) return {};
  return mp4::SphericalV1Text(&file);
}

class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = new testsupport::TempDir("engine_test_media");
    clip_ = shared_->Path("clip.mp4");
    // 2 s, 25 frames a second, a key frame every second, AAC audio.
    ASSERT_TRUE(camgen::MakeMp4Clip(clip_, 320, 160, 2.0, true));
  }
  static void TearDownTestSuite() { delete shared_; }
  void SetUp() override { setposition_callback(nullptr, nullptr); }
  void TearDown() override { setposition_callback(nullptr, nullptr); }
  std::string Out(const std::string& name) const { return dir_.Path(name); }

  static testsupport::TempDir* shared_;
  static std::string clip_;
  testsupport::TempDir dir_{"engine_test"};
};
testsupport::TempDir* EngineTest::shared_ = nullptr;
std::string EngineTest::clip_;

TEST_F(EngineTest, TranscodeKeepsExactlyTheRange) {
  // Low quality: 15 frames a second from [1 s, 2 s) of a 25 fps clip.
  const std::string low = Out("low.mp4");
  ASSERT_EQ(RunJob(LowVector("00:00:01", clip_, "00:00:01", low)), CONVERT_OK);
  auto p = Probe(low);
  EXPECT_EQ(p["codec_name"], "h264");
  EXPECT_EQ(p["profile"], "Main");
  EXPECT_EQ(p["width"], "320");
  EXPECT_EQ(p["nb_read_frames"], "15");
  EXPECT_EQ(p["nb_streams"], "2");  // audio copied along
  EXPECT_NEAR(std::stod(p["duration"]), 1.0, 0.07);

  // Medium keeps the source rate: frames 25..49 of the clip; B-frames allowed.
  const std::string medium = Out("medium.mp4");
  ASSERT_EQ(RunJob(MediumVector("00:00:01", clip_, "00:00:01", medium)), CONVERT_OK);
  p = Probe(medium);
  EXPECT_EQ(p["nb_read_frames"], "25");
  EXPECT_NEAR(std::stod(p["duration"]), 1.0, 0.07);

  // The first output frame is source frame 25: compare pictures with ffmpeg's own trim.
  // The first output frame is source frame 25 (the one at 1 s): compare it with that frame
  // of the source, after both went through lossy coding, by PSNR.
  const std::string diff =
      Shell("ffmpeg -nostdin -v error -i '" + medium + "' -i '" + clip_ +
            "' -filter_complex \"[0:v]trim=end_frame=1,scale=64:32,format=gray[a];"
            "[1:v]select='eq(n\\,25)',setpts=PTS-STARTPTS,scale=64:32,format=gray[b];[a][b]psnr=f=-\" -f null - 2>&1");
  const auto at = diff.find("psnr_avg:");
  ASSERT_NE(at, std::string::npos) << diff;
  const double psnr = diff.compare(at + 9, 3, "inf") == 0 ? 99 : std::stod(diff.substr(at + 9));
  EXPECT_GT(psnr, 30.0) << diff;  // the wrong frame of testsrc2 gives far less

  // A range given to the millisecond: [0.52 s, 1.12 s) holds frames 13..27 of 25 a second.
  const std::string exact = Out("exact.mp4");
  ASSERT_EQ(RunJob(MediumVector("00:00:00.520", clip_, "00:00:00.600", exact)), CONVERT_OK);
  EXPECT_EQ(Probe(exact)["nb_read_frames"], "15");

  // Nothing but the outputs is left in the folder, and they are not private to their writer.
  EXPECT_TRUE(Leftovers(dir_.path(), {"low.mp4", "medium.mp4", "exact.mp4"}).empty());
  const mode_t mask = umask(022);
  umask(mask);
  EXPECT_EQ(std::filesystem::status(low).permissions(), static_cast<std::filesystem::perms>(0666 & ~mask));
}

TEST_F(EngineTest, CopyModeCopiesThePackets) {
  const std::string out = Out("copy.mp4");
  ASSERT_EQ(RunJob({"ffmpeg", "-ss", "00:00:00", "-i", clip_, "-t", "00:00:01", "-c", "copy", out}), CONVERT_OK);
  auto p = Probe(out);
  EXPECT_EQ(p["nb_read_frames"], "25");
  // The video packets are the source's first 25, byte for byte.
  auto hashes = [](const std::string& path, int n) {
    return Shell("ffmpeg -nostdin -v error -i '" + path + "' -map 0:v -c copy -frames:v " + std::to_string(n) +
                 " -f framemd5 - | grep -v '^#' | awk -F, '{print $6}'");
  };
  const std::string copied = hashes(out, 25);
  EXPECT_FALSE(copied.empty());
  EXPECT_EQ(copied, hashes(clip_, 25));
}

TEST_F(EngineTest, SphericalMetadataIsCarriedThroughCopyAndMerge) {
  // A stitched panorama (V1 box, as other software writes it) copied and merged with itself.
  const std::string pano = Out("pano.mp4");
  camgen::WriteFileBytes(pano, camgen::AddSphericalV1Box(camgen::ReadFileBytes(clip_), camgen::SphericalV1Xml("true")));
  const std::string copy = Out("pano_copy.mp4");
  ASSERT_EQ(RunJob({"ffmpeg", "-ss", "00:00:00", "-i", pano, "-t", "00:00:02", "-c", "copy", copy}), CONVERT_OK);
  EXPECT_NE(V1Text(copy).find("<GSpherical:Spherical>true</GSpherical:Spherical>"), std::string::npos);

  const std::string list = Out("filelist.txt");
  std::ofstream(list) << "file '" << pano << "'\r\nfile '" << copy << "'\r\n";
  const std::string merged = Out("merged.mp4");
  ASSERT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", list, "-c", "copy", merged}), CONVERT_OK);
  auto p = Probe(merged);
  EXPECT_EQ(p["nb_read_frames"], "100");
  EXPECT_NEAR(std::stod(p["duration"]), 4.0, 0.1);
  EXPECT_NE(V1Text(merged).find("<GSpherical:Spherical>true</GSpherical:Spherical>"), std::string::npos);
  // The joined file decodes without errors.
  EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + merged + "' -f null - 2>&1"), "");
}

TEST_F(EngineTest, MergeRefusesMismatchedInputs) {
  const std::string other = Out("other.mp4");
  ASSERT_TRUE(camgen::MakeMp4Clip(other, 352, 176, 1.0, true));
  const std::string silent = Out("silent.mp4");
  ASSERT_TRUE(camgen::MakeMp4Clip(silent, 320, 160, 1.0, false));
  const std::string list = Out("list.txt");
  const std::string merged = Out("merged.mp4");
  for (const std::string& second : {other, silent}) {
    std::ofstream(list) << "file '" << clip_ << "'\nfile '" << second << "'\n";
    EXPECT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", list, "-c", "copy", merged}), CONVERT_ERR_MERGE_MISMATCH);
    EXPECT_FALSE(fs::exists(merged));
  }
  EXPECT_TRUE(Leftovers(dir_.path(), {"other.mp4", "silent.mp4", "list.txt"}).empty());

  // Lists that name nothing usable.
  std::ofstream(list) << "";
  EXPECT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", list, "-c", "copy", merged}), CONVERT_ERR_MERGE_LIST);
  std::ofstream(list) << "file '" << clip_ << "\n";  // quote not closed
  EXPECT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", list, "-c", "copy", merged}), CONVERT_ERR_MERGE_LIST);
  EXPECT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", Out("none.txt"), "-c", "copy", merged}), CONVERT_ERR_MERGE_LIST);
  std::ofstream(list) << "file '" << Out("gone.mp4") << "'\n";
  EXPECT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", list, "-c", "copy", merged}), CONVERT_ERR_OPEN_INPUT);
}

TEST_F(EngineTest, OutputsNeverTakeThePlaceOfFilesTheJobDidNotWrite) {
  const std::string out = Out("taken.mp4");
  std::ofstream(out) << "theirs";
  auto copy = [&](const std::string& in, const std::string& to, bool overwrite = false) {
    std::vector<std::string> v = {"ffmpeg", "-ss", "0", "-i", in, "-t", "1", "-c", "copy", to};
    if (overwrite) v.insert(v.begin() + 1, "-y");
    return RunJob(v);
  };
  // An existing file is kept unless the vector says -y.
  EXPECT_EQ(copy(clip_, out), CONVERT_ERR_OUTPUT_EXISTS);
  EXPECT_EQ(Shell("cat '" + out + "'"), "theirs");
  ASSERT_EQ(copy(clip_, out, true), CONVERT_OK);
  EXPECT_EQ(Probe(out)["nb_read_frames"], "25");

  // The input under another name, even with -y, is never the output.
  const std::string alias = Out("alias.mp4");
  ASSERT_EQ(::link(out.c_str(), alias.c_str()), 0);
  const auto size = fs::file_size(out);
  EXPECT_EQ(copy(out, alias, true), CONVERT_ERR_OUTPUT_IS_INPUT);
  EXPECT_EQ(copy(out, dir_.path() + "/./taken.mp4", true), CONVERT_ERR_OUTPUT_IS_INPUT);
  EXPECT_EQ(copy(out, out, true), CONVERT_ERR_OUTPUT_IS_INPUT);
  EXPECT_EQ(copy(Out("none.mp4"), Out("none.mp4")), CONVERT_ERR_OUTPUT_IS_INPUT);
  EXPECT_EQ(fs::file_size(out), size);
  const std::string list = dir_.Write("list.txt", "file '" + out + "'\n");
  EXPECT_EQ(RunJob({"ffmpeg", "-y", "-f", "concat", "-i", list, "-c", "copy", alias}), CONVERT_ERR_OUTPUT_IS_INPUT);
  EXPECT_EQ(fs::file_size(out), size);

  // Names are file names, never other protocols.
  EXPECT_EQ(copy("cache:" + clip_, Out("c.mp4")), CONVERT_ERR_OPEN_INPUT);
  EXPECT_EQ(copy("http://127.0.0.1:9/clip.mp4", Out("h.mp4")), CONVERT_ERR_OPEN_INPUT);
  // A pipe is refused before it is opened (opening it would wait for a writer).
  const std::string fifo = Out("pipe.mp4");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(copy(fifo, Out("p.mp4")), CONVERT_ERR_NOT_A_FILE);
  std::ofstream(list) << "file '" << fifo << "'\n";
  EXPECT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", list, "-c", "copy", Out("m.mp4")}), CONVERT_ERR_NOT_A_FILE);
  EXPECT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", fifo, "-c", "copy", Out("m.mp4")}), CONVERT_ERR_NOT_A_FILE);
  EXPECT_TRUE(Leftovers(dir_.path(), {"taken.mp4", "alias.mp4", "list.txt", "pipe.mp4"}).empty());
}

TEST_F(EngineTest, AClipOnAMemoryCardIsNeverReplacedByItsOtherSpelling) {
  const testsupport::FatMount card;
  if (!card.missing().empty()) GTEST_SKIP() << card.missing();
  ASSERT_FALSE(card.path().empty());
  const std::string clip = card.path() + "/clip.mp4";
  std::ofstream(clip, std::ios::binary) << std::ifstream(clip_, std::ios::binary).rdbuf();  // FAT takes no chmod
  const auto size = fs::file_size(clip);
  EXPECT_EQ(RunJob({"ffmpeg", "-y", "-ss", "0", "-i", clip, "-t", "1", "-c", "copy", card.path() + "/CLIP.MP4"}),
            CONVERT_ERR_OUTPUT_IS_INPUT);
  const std::string list = dir_.Write("list.txt", "file '" + clip + "'\n");
  EXPECT_EQ(RunJob({"ffmpeg", "-y", "-f", "concat", "-i", list, "-c", "copy", card.path() + "/Clip.mp4"}),
            CONVERT_ERR_OUTPUT_IS_INPUT);
  EXPECT_EQ(fs::file_size(clip), size);
  EXPECT_EQ(Probe(clip)["nb_read_frames"], "50");
  EXPECT_EQ(Leftovers(card.path(), {"clip.mp4"}), std::vector<std::string>{});
}

TEST_F(EngineTest, InputsWithMissingMediaDataFail) {
  // A copy has its movie box first: cut it halfway, and the index still promises 2 s.
  const std::string whole = Out("whole.mp4");
  ASSERT_EQ(RunJob({"ffmpeg", "-ss", "0", "-i", clip_, "-t", "2", "-c", "copy", whole}), CONVERT_OK);
  const std::string cut = Out("cut.mp4");
  fs::copy_file(whole, cut);
  fs::resize_file(cut, fs::file_size(whole) / 2);
  EXPECT_EQ(RunJob(MediumVector("0", cut, "2", Out("a.mp4"))), CONVERT_ERR_DAMAGED_INPUT);
  EXPECT_EQ(RunJob({"ffmpeg", "-ss", "0", "-i", cut, "-t", "2", "-c", "copy", Out("b.mp4")}),
            CONVERT_ERR_DAMAGED_INPUT);
  const std::string list = dir_.Write("list.txt", "file '" + whole + "'\nfile '" + cut + "'\n");
  EXPECT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", list, "-c", "copy", Out("m.mp4")}), CONVERT_ERR_DAMAGED_INPUT);
  // The part before the cut is whole: a range inside it converts.
  EXPECT_EQ(RunJob(MediumVector("0", cut, "0.4", Out("short.mp4"))), CONVERT_OK);
  EXPECT_TRUE(Leftovers(dir_.path(), {"whole.mp4", "cut.mp4", "list.txt", "short.mp4"}).empty());
}

TEST_F(EngineTest, BadInputsGiveCodes) {
  const std::string out = Out("out.mp4");
  EXPECT_EQ(RunJob(LowVector("00:00:00", Out("missing.mp4"), "00:00:01", out)), CONVERT_ERR_OPEN_INPUT);
  const std::string text = Out("text.mp4");
  std::ofstream(text) << "not a video";
  EXPECT_EQ(RunJob(LowVector("00:00:00", text, "00:00:01", out)), CONVERT_ERR_OPEN_INPUT);
  // A start past the end.
  EXPECT_EQ(RunJob(LowVector("00:00:05", clip_, "00:00:01", out)), CONVERT_ERR_RANGE);
  // Stitching a file without calibration.
  EXPECT_EQ(RunJob(LowVector("00:00:00", clip_, "00:00:01", out, true)), CONVERT_ERR_CALIBRATION);
  // The output folder does not exist.
  EXPECT_EQ(RunJob(LowVector("00:00:00", clip_, "00:00:01", Out("no/such/dir.mp4"))), CONVERT_ERR_CREATE_OUTPUT);
  // Unknown vectors and rotations.
  EXPECT_EQ(RunJob({"ffmpeg", "-i", clip_, "-vf", "hflip", out}), CONVERT_ERR_ARGUMENTS);
  EXPECT_EQ(RunJob(LowVector("00:00:00", clip_, "00:00:01", out), 45), CONVERT_ERR_ARGUMENTS);
  EXPECT_EQ(synth_trans(0, nullptr, 0, 0, 0), CONVERT_ERR_ARGUMENTS);
  EXPECT_FALSE(fs::exists(out));

  // Damaged files: cut in the middle, or with bytes overwritten. Any code, no crash, and
  // a success must be a readable file.
  const auto bytes = camgen::ReadFileBytes(clip_);
  const std::string cut = Out("cut.mp4");
  camgen::WriteFileBytes(cut, camgen::Bytes(bytes.begin(), bytes.begin() + bytes.size() / 2));
  const std::string noisy = Out("noisy.mp4");
  auto damaged = bytes;
  for (size_t i = 64; i < damaged.size(); i += 211) damaged[i] ^= 0xa5;
  camgen::WriteFileBytes(noisy, damaged);
  for (const std::string& in : {cut, noisy}) {
    int rc = RunJob(MediumVector("00:00:00", in, "00:00:02", out));
    if (rc == CONVERT_OK) {
      EXPECT_EQ(Probe(out)["codec_name"], "h264") << in;
      fs::remove(out);
    } else {
      EXPECT_LT(rc, 0);
      EXPECT_FALSE(fs::exists(out));
    }
  }
}

TEST_F(EngineTest, AudioThatMp4CannotHoldBecomesAac) {
  // A MOV with PCM audio, as some cameras record it: MP4 cannot carry PCM here.
  const std::string mov = Out("pcm.mov");
  ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x160:rate=25:duration=1 "
                         "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 -c:v libx264 -preset ultrafast "
                         "-c:a pcm_s16le '" +
                         mov + "'")
                            .c_str()),
            0);
  const std::string encoded = Out("encoded.mp4");
  const std::string copied = Out("copied.mp4");
  ASSERT_EQ(RunJob(MediumVector("00:00:00", mov, "00:00:01", encoded)), CONVERT_OK);
  ASSERT_EQ(RunJob({"ffmpeg", "-ss", "00:00:00", "-i", mov, "-t", "00:00:01", "-c", "copy", copied}), CONVERT_OK);
  for (const std::string& out : {encoded, copied}) {
    const std::string audio = Shell(
        "ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,duration "
        "-of default=nw=1 '" +
        out + "'");
    EXPECT_NE(audio.find("codec_name=aac"), std::string::npos) << out << "\n" << audio;
    const auto at = audio.find("duration=");
    ASSERT_NE(at, std::string::npos) << audio;
    EXPECT_NEAR(std::stod(audio.substr(at + 9)), 1.0, 0.1) << out;
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + out + "' -f null - 2>&1"), "") << out;
  }
}

// A camera clip with a calibration block in moov/udta, made from a 1 s ffmpeg clip.
std::string MakeCameraClip(const std::string& path, int width, int height, double seconds, int type) {
  const std::string base = path + ".base.mp4";
  if (!camgen::MakeMp4Clip(base, width, height, seconds, true)) return {};
  std::vector<camgen::Record> records = type == 1 ? camgen::SingleLensRecords(camgen::ExampleSinglePara())
                                                  : camgen::DualLensRecords(camgen::ExampleDualPara(), type);
  camgen::Bytes bytes = camgen::EmbedInMp4(camgen::ReadFileBytes(base), camgen::MakeBlock(records));
  fs::remove(base);
  if (bytes.empty() || !camgen::WriteFileBytes(path, bytes)) return {};
  return path;
}

// Mean luma of rows [top, bottom) of the first frame, scaled to 64 x 32.
double MeanLuma(const std::string& path, int top, int bottom) {
  std::string gray =
      Shell("ffmpeg -nostdin -v error -i '" + path + "' -frames:v 1 -vf scale=64:32 -pix_fmt gray -f rawvideo -");
  if (gray.size() != 64 * 32) return -1;
  double sum = 0;
  for (int y = top; y < bottom; ++y)
    for (int x = 0; x < 64; ++x) sum += static_cast<uint8_t>(gray[y * 64 + x]);
  return sum / (64.0 * (bottom - top));
}

// The PSNR in dB of frame `index` of two videos (RGB, the second scaled to the first's size).
double FramePsnr(const std::string& a, const std::string& b, int index) {
  const std::string select = "select=eq(n\\," + std::to_string(index) + ")";
  const std::string text = Shell("ffmpeg -v info -i '" + a + "' -i '" + b + "' -lavfi '[0]" + select + "[x];[1]" +
                                 select + "[y];[x][y]psnr' -f null - 2>&1 | grep -o 'average:[0-9.inf]*'");
  return text.size() > 8 ? (text.compare(8, 3, "inf") == 0 ? 99 : std::stod(text.substr(8))) : 0;
}

// A flat video along a view path, from a dual-lens clip: the size asked, every frame and the
// sound of the range, no spherical metadata, and each picture the pinhole view of the same
// frame of the panorama conversion (as ffmpeg's v360 flat projection renders it) at the
// path's angles there: turning from the first keyframe and holding the last. A path file
// with a mistake fails the job before anything is written.
TEST_F(EngineTest, AFlatVideoFollowsItsViewPathAtItsSize) {
  const std::string cam = MakeCameraClip(Out("cam.mp4"), 640, 320, 2.0, 2);
  ASSERT_FALSE(cam.empty());
  const std::string pano = Out("pano.mp4"), flat = Out("flat.mp4"), path = Out("path.json");
  ASSERT_EQ(RunJob(MediumVector("00:00:00", cam, "00:00:02", pano, true)), CONVERT_OK);
  std::ofstream(path) << R"({"keyframes": [{"t": 0, "yaw": -60, "pitch": 10, "fov": 90},
                                           {"t": 1.5, "yaw": 60, "pitch": -10, "fov": 90}]})";
  std::vector<std::string> v = MediumVector("00:00:00", cam, "00:00:02", flat, true);
  v.insert(v.end() - 1, {"-reframe", path, "-s", "320x180"});
  ASSERT_EQ(RunJob(v), CONVERT_OK);

  auto p = Probe(flat), whole = Probe(pano);
  EXPECT_EQ(p["width"], "320");
  EXPECT_EQ(p["height"], "180");
  EXPECT_EQ(p["nb_read_frames"], whole["nb_read_frames"]);
  EXPECT_NEAR(std::stod(p["duration"]), std::stod(whole["duration"]), 0.05);
  EXPECT_EQ(p["nb_streams"], "2");
  const std::string bytes = Shell("cat '" + flat + "'");
  EXPECT_EQ(bytes.find("sv3d"), std::string::npos);
  EXPECT_EQ(bytes.find("st3d"), std::string::npos);
  EXPECT_TRUE(V1Text(flat).empty());

  // v360's vertical field of view for a 90-degree horizontal one at 16:9.
  const double v_fov = 2 * std::atan(std::tan(M_PI / 4) * 180 / 320) * 180 / M_PI;
  const auto reference = [&](const std::string& name, int yaw, int pitch) {
    const std::string out = Out(name);
    Shell("ffmpeg -v error -y -i '" + pano + "' -vf v360=e:flat:yaw=" + std::to_string(yaw) +
          ":pitch=" + std::to_string(pitch) + ":h_fov=90:v_fov=" + std::to_string(v_fov) +
          ":w=320:h=180 -c:v libx264 -qp 0 '" + out + "'");
    return out;
  };
  const std::string first = reference("first.mp4", -60, 10), last = reference("last.mp4", 60, -10);
  EXPECT_GT(FramePsnr(flat, first, 0), 30);
  EXPECT_LT(FramePsnr(flat, last, 0), 20) << "the view starts at the first keyframe";
  EXPECT_GT(FramePsnr(flat, last, 49), 30);
  EXPECT_LT(FramePsnr(flat, first, 49), 20);

  std::ofstream(path) << "{\"keyframes\": [{\"t\": 0, \"yaw\": 0}]}";
  const std::string failed = Out("failed.mp4");
  v.back() = failed;
  EXPECT_EQ(RunJob(v), CONVERT_ERR_VIEW_PATH);
  EXPECT_FALSE(fs::exists(failed));
}

TEST_F(EngineTest, SingleLensRecordingIsUnwrappedIntoAPanorama) {
  // 16:9 frames of a single-lens camera: the panorama is as wide as the source and half as
  // high, carries both metadata versions and holds the range at 15 frames a second.
  const std::string cam = MakeCameraClip(Out("single.mp4"), 512, 288, 2.0, 1);
  ASSERT_FALSE(cam.empty());
  const std::string out = Out("single_spherolux_0.mp4");
  ASSERT_EQ(RunJob(LowVector("00:00:01", cam, "00:00:01", out, true)), CONVERT_OK);
  auto p = Probe(out);
  EXPECT_EQ(p["width"], "512");
  EXPECT_EQ(p["height"], "256");
  EXPECT_EQ(p["nb_read_frames"], "15");
  EXPECT_NEAR(std::stod(p["duration"]), 1.0, 0.07);
  EXPECT_EQ(SphericalVideoFlag(out.c_str()), 1);
  mp4::Mp4File file;
  ASSERT_EQ(mp4::ReadMp4File(out, &file), mp4::FileStatus::kOk);
  mp4::SphericalBoxes boxes = mp4::ReadSphericalBoxes(&file);
  EXPECT_TRUE(boxes.v1 && boxes.st3d && boxes.sv3d);
  EXPECT_NE(
      Shell("ffprobe -v error -show_streams -select_streams v:0 '" + out + "'").find("projection=equirectangular"),
      std::string::npos);
  // The lens looks up (rotation 0): it covers the polar angles up to 95 degrees, a little
  // more than the upper half; below that the panorama is black.
  EXPECT_LT(MeanLuma(out, 19, 32), 20.0);
  EXPECT_GT(MeanLuma(out, 2, 14), 40.0);
  // Turned over (rotation 180), the black part is on top.
  const std::string turned = Out("turned.mp4");
  ASSERT_EQ(RunJob(LowVector("00:00:00", cam, "00:00:01", turned, true), 180), CONVERT_OK);
  EXPECT_LT(MeanLuma(turned, 0, 13), 20.0);
  EXPECT_GT(MeanLuma(turned, 18, 30), 40.0);
}

// The sample entry type of the first video track and, for H.265, what its decoder
// configuration record ('hvcC', ISO/IEC 14496-15, 8.3.3) says: the profile, the chroma
// format, the NAL length size and the parameter set arrays that are complete (their type
// with the array_completeness bit set; 'hvc1' requires VPS, SPS and PPS there).
struct SampleEntry {
  std::string type;
  int version = -1, profile = -1, chroma = -1, length_size = -1;
  std::vector<int> complete_arrays;
};

SampleEntry VideoSampleEntry(const std::string& path) {
  SampleEntry e;
  mp4::Mp4File file;
  if (mp4::ReadMp4File(path, &file) != mp4::FileStatus::kOk) return e;
  auto tracks = mp4::TracksWithHandler(&file, FourCC("vide"));
  if (tracks.empty()) return e;
  std::vector<mp4::Box*> entries;
  mp4::FindAll(tracks.front()->children, FourCC("stsd"), &entries);
  if (entries.empty() || entries.front()->children.empty()) return e;
  const mp4::Box& entry = entries.front()->children.front();
  char name[5];
  e.type = std::string(mp4::TypeName(entry.type, name));
  const mp4::Box* hvcc = entry.Find(FourCC("hvcC"));
  if (!hvcc || hvcc->data.size() < 23) return e;
  const std::vector<uint8_t>& d = hvcc->data;
  e.version = d[0];
  e.profile = d[1] & 0x1f;
  e.chroma = d[16] & 3;
  e.length_size = (d[21] & 3) + 1;
  size_t at = 23;
  for (int i = 0; i < d[22] && at + 3 <= d.size(); ++i) {
    if (d[at] & 0x80) e.complete_arrays.push_back(d[at] & 0x3f);
    const int nalus = d[at + 1] << 8 | d[at + 2];
    at += 3;
    for (int n = 0; n < nalus && at + 2 <= d.size(); ++n) at += 2 + size_t(d[at] << 8 | d[at + 1]);
  }
  return e;
}

// H.265 panoramas: HEVC Main in 'hvc1' sample entries with a complete decoder configuration,
// every frame of the range and both versions of the spherical metadata, as the player and
// ffprobe read them. Trims and merges copy them as they are (the sample entry kept, so the
// parameter sets stay out of the samples); they are never merged with H.264.
TEST_F(EngineTest, H265PanoramasKeepTheirSampleEntryAndMetadataThroughCopyAndMerge) {
  const std::string cam = MakeCameraClip(Out("cam.mp4"), 384, 192, 2.0, 2);
  ASSERT_FALSE(cam.empty());
  const auto h265 = [&](const std::string& ss, const std::string& out) {
    std::vector<std::string> v = MediumVector(ss, cam, "00:00:01", out, true);
    v.insert(v.end() - 1, {"-c:v", "libx265"});
    return RunJob(v);
  };
  const std::string first = Out("first.mp4"), second = Out("second.mp4");
  ASSERT_EQ(h265("00:00:00", first), CONVERT_OK);
  ASSERT_EQ(h265("00:00:01", second), CONVERT_OK);
  const std::string copy = Out("copy.mp4"), merged = Out("merged.mp4"), list = Out("list.txt");
  ASSERT_EQ(RunJob({"ffmpeg", "-ss", "0", "-i", first, "-t", "1", "-c", "copy", copy}), CONVERT_OK);
  std::ofstream(list) << "file '" << first << "'\nfile '" << second << "'\n";
  ASSERT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", list, "-c", "copy", merged}), CONVERT_OK);

  for (const auto& [out, frames] : {std::pair{first, "25"}, {copy, "25"}, {merged, "50"}}) {
    SCOPED_TRACE(out);
    auto p = Probe(out);
    EXPECT_EQ(p["codec_name"], "hevc");
    EXPECT_EQ(p["profile"], "Main");
    EXPECT_EQ(p["width"], "384");
    EXPECT_EQ(p["nb_read_frames"], frames);
    const SampleEntry e = VideoSampleEntry(out);
    EXPECT_EQ(e.type, "hvc1");
    EXPECT_EQ(e.version, 1);
    EXPECT_EQ(e.profile, 1);
    EXPECT_EQ(e.chroma, 1);
    EXPECT_EQ(e.length_size, 4);
    for (int type : {32, 33, 34})  // VPS, SPS, PPS
      EXPECT_NE(std::find(e.complete_arrays.begin(), e.complete_arrays.end(), type), e.complete_arrays.end()) << type;
    const std::string stream = Shell("ffprobe -v error -show_streams -select_streams v:0 '" + out + "'");
    EXPECT_NE(stream.find("codec_tag_string=hvc1"), std::string::npos);
    EXPECT_NE(stream.find("side_data_type=Spherical Mapping"), std::string::npos);
    EXPECT_NE(stream.find("projection=equirectangular"), std::string::npos);
    EXPECT_NE(V1Text(out).find("<GSpherical:Spherical>true</GSpherical:Spherical>"), std::string::npos);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + out + "' -f null - 2>&1"), "");
  }

  // An H.264 part: the codecs differ, and the merge says so.
  const std::string avc = Out("avc.mp4"), refused = Out("refused.mp4");
  ASSERT_EQ(RunJob(MediumVector("00:00:01", cam, "00:00:01", avc, true)), CONVERT_OK);
  std::ofstream(list) << "file '" << first << "'\nfile '" << avc << "'\n";
  EXPECT_EQ(RunJob({"ffmpeg", "-f", "concat", "-i", list, "-c", "copy", refused}), CONVERT_ERR_MERGE_CODECS);
  EXPECT_FALSE(fs::exists(refused));
}

// Luma PSNR between two I420 frames of w x h.
double LumaPsnr(const std::string& a, const std::vector<uint8_t>& b, int w, int h) {
  if (a.size() < size_t(w) * h || b.size() < size_t(w) * h) return 0;
  double se = 0;
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    const double d = double(uint8_t(a[i])) - double(b[i]);
    se += d * d;
  }
  if (se == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 / (se / (double(w) * h)));
}

TEST_F(EngineTest, DualLensRecordingIsStitchedIntoAPanorama) {
  // A 2:1 dual-fisheye clip of a camera whose model code sets the generation flag.
  const std::string cam = MakeCameraClip(Out("dual.mp4"), 512, 256, 2.0, 2);
  ASSERT_FALSE(cam.empty());
  const std::string first =
      Shell("ffmpeg -nostdin -v error -i '" + cam + "' -frames:v 1 -f rawvideo -pix_fmt yuv420p -");
  ASSERT_EQ(first.size(), 512u * 256 * 3 / 2);
  const DoubleFisheyeCameraPara para = camgen::ExampleDualPara();
  for (int rotation : {0, 90}) {
    const std::string out = Out("dual_" + std::to_string(rotation) + ".mp4");
    ASSERT_EQ(RunJob(MediumVector("00:00:00", cam, "00:00:01", out, true), rotation), CONVERT_OK) << rotation;
    auto p = Probe(out);
    EXPECT_EQ(p["width"], "512");
    EXPECT_EQ(p["height"], "256");
    EXPECT_EQ(p["nb_read_frames"], "25");
    EXPECT_NEAR(std::stod(p["duration"]), 1.0, 0.07);
    EXPECT_EQ(p["nb_streams"], "2");
    EXPECT_EQ(SphericalVideoFlag(out.c_str()), 1);
    mp4::Mp4File file;
    ASSERT_EQ(mp4::ReadMp4File(out, &file), mp4::FileStatus::kOk);
    mp4::SphericalBoxes boxes = mp4::ReadSphericalBoxes(&file);
    EXPECT_TRUE(boxes.v1 && boxes.st3d && boxes.sv3d);

    // The first frame is the stitching core's panorama of the first source frame, with this
    // rotation and the generation flag of model 2201, up to the encoder's loss.
    StitchContext* ctx =
        CreateStitchContext(&para, 512, 256, 512, 256, kStitchI420, rotation, para.lModel >= 300, false);
    ASSERT_NE(ctx, nullptr);
    std::vector<uint8_t> expected(512 * 256 * 3 / 2);
    StitchImage(ctx, reinterpret_cast<const uint8_t*>(first.data()), expected.data(), 1);
    DestroyStitchContext(ctx);
    const std::string got =
        Shell("ffmpeg -nostdin -v error -i '" + out + "' -frames:v 1 -f rawvideo -pix_fmt yuv420p -");
    EXPECT_GT(LumaPsnr(got, expected, 512, 256), 30.0) << rotation;
    // The source picture itself is far from it.
    EXPECT_LT(LumaPsnr(first, expected, 512, 256), 20.0);
  }
}

// The dual-lens calibration block of model 2201 embedded in a 1 s clip of the scene
// testsrc2 encoded by x264 in `pix_fmt` (and audio, as a camera records it).
std::string MakeDualClipAs(const std::string& path, int width, int height, const std::string& pix_fmt) {
  const std::string base = path + ".base.mp4";
  const std::string cmd = "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=" + std::to_string(width) +
                          "x" + std::to_string(height) +
                          ":rate=25:duration=1 -f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
                          "-map_metadata -1 -c:v libx264 -preset ultrafast -g 25 -pix_fmt " +
                          pix_fmt + " -c:a aac -b:a 64k '" + base + "'";
  if (std::system(cmd.c_str()) != 0) return {};
  camgen::Bytes bytes = camgen::EmbedInMp4(camgen::ReadFileBytes(base),
                                           camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara(), 2)));
  fs::remove(base);
  if (bytes.empty() || !camgen::WriteFileBytes(path, bytes)) return {};
  return path;
}

TEST_F(EngineTest, EveryDecodedFormatIsStitchedFromTheSamePicture) {
  // 4:2:0 frames of 360 columns come out of the decoder with padded rows and are stitched
  // where they lie; full-range 4:2:0, 4:2:2 and an odd-sized 4:4:4 frame are converted to
  // 360 x 180 video-range I420 first. Either way the first output frame is the stitching
  // core's panorama of the first source frame in that form (made here by ffmpeg's own
  // conversion), up to the encoder's loss.
  const int w = 360, h = 180;
  const DoubleFisheyeCameraPara para = camgen::ExampleDualPara();
  StitchContext* ctx = CreateStitchContext(&para, w, h, w, h, kStitchI420, 0, para.lModel >= 300, false);
  ASSERT_NE(ctx, nullptr);
  struct Source {
    const char* pix_fmt;
    int width, height;
  };
  for (const Source& src :
       {Source{"yuv420p", w, h}, Source{"yuvj420p", w, h}, Source{"yuv422p", w, h}, Source{"yuv444p", w + 1, h + 1}}) {
    SCOPED_TRACE(src.pix_fmt);
    const std::string cam = MakeDualClipAs(Out(std::string(src.pix_fmt) + ".mp4"), src.width, src.height, src.pix_fmt);
    ASSERT_FALSE(cam.empty());
    const std::string first =
        Shell("ffmpeg -nostdin -v error -i '" + cam + "' -frames:v 1 -vf scale=" + std::to_string(w) + ":" +
              std::to_string(h) + ":flags=bicubic:out_range=tv -f rawvideo -pix_fmt yuv420p -");
    ASSERT_EQ(first.size(), size_t(w) * h * 3 / 2);
    std::vector<uint8_t> expected(size_t(w) * h * 3 / 2);
    StitchImage(ctx, reinterpret_cast<const uint8_t*>(first.data()), expected.data(), 1);
    const std::string out = Out(std::string(src.pix_fmt) + "_spherolux_0.mp4");
    ASSERT_EQ(RunJob(MediumVector("00:00:00", cam, "00:00:01", out, true)), CONVERT_OK);
    auto p = Probe(out);
    EXPECT_EQ(p["width"], "360");
    EXPECT_EQ(p["height"], "180");
    EXPECT_EQ(p["nb_read_frames"], "25");
    const std::string got =
        Shell("ffmpeg -nostdin -v error -i '" + out + "' -frames:v 1 -f rawvideo -pix_fmt yuv420p -");
    // About 62 dB here; a frame read with the wrong strides or left in full range falls to
    // 11 and 31 dB.
    EXPECT_GT(LumaPsnr(got, expected, w, h), 50.0);
  }
  DestroyStitchContext(ctx);
}

TEST_F(EngineTest, PanoramasWiderThanTheStitcherBoundKeepTheSourceWidth) {
  // 5120 x 2560, five frames: stitched at the stitcher's bound, then scaled up.
  const std::string cam = MakeCameraClip(Out("wide.mp4"), 5120, 2560, 0.2, 2);
  ASSERT_FALSE(cam.empty());
  const std::string out = Out("wide_spherolux_0.mp4");
  ASSERT_EQ(RunJob({"ffmpeg", "-d", "-ss", "00:00:00", "-i", cam, "-t", "00:00:01", "-pix_fmt", "yuv420p", "-b:v",
                    "4096k", "-preset", "ultrafast", out}),
            CONVERT_OK);
  auto p = Probe(out);
  EXPECT_EQ(p["width"], "5120");
  EXPECT_EQ(p["height"], "2560");
  EXPECT_EQ(p["nb_read_frames"], "5");
  EXPECT_EQ(SphericalVideoFlag(out.c_str()), 1);
}

struct ProgressLog {
  std::mutex mu;
  std::vector<float> values;
  std::atomic<float> last{-1};
};

void Record(float p, void* user) {
  auto* log = static_cast<ProgressLog*>(user);
  std::lock_guard<std::mutex> lock(log->mu);
  log->values.push_back(p);
  log->last = p;
}

TEST_F(EngineTest, ProgressRisesToOneHundred) {
  ProgressLog log;
  setposition_callback(Record, &log);
  ASSERT_EQ(RunJob(MediumVector("00:00:00", clip_, "00:00:02", Out("p.mp4"))), CONVERT_OK);
  std::lock_guard<std::mutex> lock(log.mu);
  ASSERT_FALSE(log.values.empty());
  EXPECT_EQ(log.values.back(), 100.0f);
  for (float v : log.values) {
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 100.0f);
  }
}

TEST_F(EngineTest, StopLeavesNoFile) {
  // A stitching job long enough to be caught running: 8 s of a single-lens camera at the
  // encoder's default preset.
  const std::string longer = MakeCameraClip(Out("long.mp4"), 640, 360, 8.0, 1);
  ASSERT_FALSE(longer.empty());
  ProgressLog log;
  setposition_callback(Record, &log);
  const std::string out = Out("stopped.mp4");
  std::atomic<int> rc{1};
  std::thread job([&] {
    rc = RunJob({"ffmpeg", "-d", "-ss", "00:00:00", "-i", longer, "-t", "00:00:08", "-pix_fmt", "yuv420p", "-b:v",
                 "20000k", out},
                0, 1);
  });
  // Wait until frames are being encoded, then stop from this thread.
  while (log.last.load() <= 0 && rc.load() == 1) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  stop_transcoding();
  job.join();
  EXPECT_EQ(rc, CONVERT_ERR_STOPPED);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_TRUE(Leftovers(dir_.path(), {"long.mp4"}).empty());

  // A later job is not affected by the earlier stop.
  log.last = -1;
  const std::string out2 = Out("after.mp4");
  std::thread job2([&] { rc = RunJob(MediumVector("00:00:00", longer, "00:00:08", out2)); });
  while (log.last.load() <= 0 && rc.load() != CONVERT_OK) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  stop_transcoding();
  job2.join();
  EXPECT_EQ(rc, CONVERT_ERR_STOPPED);
  EXPECT_FALSE(fs::exists(out2));
  EXPECT_TRUE(Leftovers(dir_.path(), {"long.mp4"}).empty());
}

TEST_F(EngineTest, AThreadTheSystemRefusesEndsTheJobWithACode) {
  // A child process whose address space has no room for another thread's stack: the job
  // must come back with a result code instead of ending the process.
  const std::string out = Out("refused.mp4");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) + (2u << 20);
    setrlimit(RLIMIT_AS, &limit);
    const int rc = RunJob(MediumVector("00:00:00", clip_, "00:00:01", out));
    _exit(rc == CONVERT_ERR_SYSTEM ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(Leftovers(dir_.path(), {}).empty());
}

TEST(EngineLibrary, ExportsOnlyItsFiveFunctions) {
  // Programs that load the engine link the same libraries; none of their symbols may bind
  // to the engine's copies.
  const std::string symbols =
      testsupport::RunCommand("nm -D --defined-only " + testsupport::BuiltProgram("libconvert.so") +
                              " | awk '{print $3}' | sort")
          .out;
  EXPECT_EQ(symbols, "rescale_csconvert\nsetposition_callback\nstop_transcoding\nsynth_image\nsynth_trans\n");
}

TEST(Rescale, ConvertsBgraToI420) {
  // 4 x 2 pixels: left half pure red, right half pure blue (B, G, R, A bytes), scaled to
  // 2 x 2. BT.601 limited range: red Y 82 U 90 V 240; blue Y 41 U 240 V 110.
  std::vector<uint8_t> src(4 * 2 * 4);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      uint8_t* p = &src[(y * 4 + x) * 4];
      const bool red = x < 2;
      p[0] = red ? 0 : 255;
      p[1] = 0;
      p[2] = red ? 255 : 0;
      p[3] = 255;
    }
  std::vector<uint8_t> dst(2 * 2 + 2, 0);
  ASSERT_EQ(rescale_csconvert(src.data(), dst.data(), 4, 2, 2, 2, 2, 0), CONVERT_OK);
  EXPECT_NEAR(dst[0], 82, 3);
  EXPECT_NEAR(dst[1], 41, 3);
  EXPECT_NEAR(dst[2], 82, 3);
  EXPECT_NEAR(dst[3], 41, 3);
  // A uniform red frame: every chroma sample is red's.
  for (size_t i = 0; i < src.size(); i += 4) {
    src[i] = 0;
    src[i + 2] = 255;
  }
  ASSERT_EQ(rescale_csconvert(src.data(), dst.data(), 4, 2, 2, 2, 2, 0), CONVERT_OK);
  EXPECT_NEAR(dst[3], 82, 3);
  EXPECT_NEAR(dst[4], 90, 3);
  EXPECT_NEAR(dst[5], 240, 3);

  EXPECT_EQ(rescale_csconvert(src.data(), dst.data(), 4, 2, 5, 2, 2, 0), CONVERT_ERR_FORMAT);
  EXPECT_EQ(rescale_csconvert(src.data(), dst.data(), 0, 2, 2, 2, 2, 0), CONVERT_ERR_FORMAT);
  EXPECT_EQ(rescale_csconvert(nullptr, dst.data(), 4, 2, 2, 2, 2, 0), CONVERT_ERR_FORMAT);
  EXPECT_EQ(synth_image(), CONVERT_ERR_UNSUPPORTED);
}

}  // namespace
}  // namespace spherolux::convert
