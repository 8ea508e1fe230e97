#include "probe/extract.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/bytes.h"
#include "calib/calibration.h"
#include "camgen/camgen.h"
#include "stitch/sphere_grid.h"
#include "testsupport/testsupport.h"

namespace spherolux {
namespace {

using camgen::Bytes;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Small camera files: a tiny JPEG or a bare MP4 box tree carrying a calibration block.
class ExtractTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { jpeg_ = new Bytes(camgen::MakeJpeg(64, 32)); }
  static void TearDownTestSuite() { delete jpeg_; }
  void SetUp() override { ASSERT_FALSE(jpeg_->empty()); }

  std::string Write(const std::string& name, const Bytes& bytes) { return scratch_.Write(name, bytes); }
  std::string Photo(const std::string& name, const std::vector<camgen::Record>& records,
                    const camgen::BlockFaults& faults = {}) {
    return Write(name, camgen::EmbedInJpeg(*jpeg_, camgen::MakeBlock(records, faults)));
  }
  std::string Video(const std::string& name, const Bytes& udta_body) {
    const Bytes ftyp = camgen::Box("ftyp", Text(std::string("isom\0\0\0\0isom", 12)));
    return Write(name, camgen::Concat({ftyp, camgen::Box("moov", camgen::Concat({camgen::Box("mvhd", Bytes(100)),
                                                                                 camgen::Box("udta", udta_body)}))}));
  }

  static Bytes* jpeg_;
  testsupport::TempDir scratch_{"extract"};
  const std::string dir_ = scratch_.path();
};
Bytes* ExtractTest::jpeg_ = nullptr;

struct Grids {
  std::vector<float> a = std::vector<float>(kGridFloats, -3.0f);
  std::vector<float> b = std::vector<float>(kGridFloats, -3.0f);
  bool untouched() const {
    for (size_t i = 0; i < kGridFloats; ++i) {
      if (a[i] != -3.0f || b[i] != -3.0f) return false;
    }
    return true;
  }
};

Grids Direct(const DoubleFisheyeCameraPara& para, int w, int h) {
  Grids g;
  BuildSphereGrids(para, w, h, kGridColumns, kGridRings, para.lModel >= 300, g.a.data(), g.b.data());
  return g;
}

TEST_F(ExtractTest, DualLensPhotoAndVideoBuildTheRecordsGrids) {
  const DoubleFisheyeCameraPara para = camgen::ExampleDualPara(401);
  const Grids expected = Direct(para, 1920, 960);
  const std::string photo = Photo("dual.jpg", camgen::DualLensRecords(para));
  Grids g;
  EXPECT_EQ(LoadSphereGrids(WalkJpegExif, photo.c_str(), 1920, 960, g.a.data(), g.b.data()), 0);
  EXPECT_EQ(g.a, expected.a);
  EXPECT_EQ(g.b, expected.b);

  // A 1656-byte record extracts exactly as a 1652-byte one; so does a video.
  const std::string longer = Photo("long.jpg", camgen::DualLensRecords(para, 2, kDoubleFisheyeParaSizeLong));
  Grids l;
  EXPECT_EQ(LoadSphereGrids(WalkJpegExif, longer.c_str(), 1920, 960, l.a.data(), l.b.data()), 0);
  EXPECT_EQ(l.a, expected.a);
  const std::string video = Video("dual.mp4", camgen::MakeBlock(camgen::DualLensRecords(para)));
  Grids v;
  EXPECT_EQ(LoadSphereGrids(WalkMp4Udta, video.c_str(), 1920, 960, v.a.data(), v.b.data()), 0);
  EXPECT_EQ(v.b, expected.b);

  // Without arrays the record is still checked, and nothing is built.
  EXPECT_EQ(LoadSphereGrids(WalkJpegExif, photo.c_str(), 1920, 960, nullptr, nullptr), 0);
  Grids none;
  EXPECT_EQ(LoadSphereGrids(WalkJpegExif, photo.c_str(), 1920, 960, none.a.data(), nullptr), 0);
  EXPECT_TRUE(none.untouched());
}

TEST_F(ExtractTest, DualLensSizeCheckComesBeforeTheFile) {
  Grids g;
  EXPECT_EQ(LoadSphereGrids(WalkMp4Udta, (dir_ + "/missing.mp4").c_str(), 1920, 1080, g.a.data(), g.b.data()),
            kCalibBadSize);
  EXPECT_EQ(LoadSphereGrids(WalkMp4Udta, nullptr, 1920, 1080, g.a.data(), g.b.data()), kCalibBadSize);
  EXPECT_EQ(LoadSphereGrids(WalkMp4Udta, nullptr, 2000000000, 1000000000, g.a.data(), g.b.data()), kCalibNoPath);
  EXPECT_EQ(LoadSphereGrids(WalkMp4Udta, nullptr, -2, -1, g.a.data(), g.b.data()), kCalibNoPath);
  EXPECT_TRUE(g.untouched());
}

TEST_F(ExtractTest, StitchedCameraReturnsOneAndLeavesTheGrids) {
  const std::string photo = Photo("stitched.jpg", camgen::DualLensRecords(camgen::ExampleDualPara(), 1000));
  Grids g;
  EXPECT_EQ(LoadSphereGrids(WalkJpegExif, photo.c_str(), 1920, 960, g.a.data(), g.b.data()), 1);
  EXPECT_TRUE(g.untouched());
}

TEST_F(ExtractTest, DualLensFailureCodes) {
  const DoubleFisheyeCameraPara para = camgen::ExampleDualPara();
  const auto records = camgen::DualLensRecords(para);
  auto load = [](ContainerWalker walker, const std::string& path) {
    Grids g;
    const int rc = LoadSphereGrids(walker, path.c_str(), 1920, 960, g.a.data(), g.b.data());
    EXPECT_TRUE(rc == 0 || g.untouched()) << path;
    return rc;
  };
  EXPECT_EQ(load(WalkJpegExif, dir_ + "/missing.jpg"), kCalibCannotOpen);
  EXPECT_EQ(load(WalkJpegExif, Write("empty.jpg", {})), kCalibEmptyFile);
  // A photo whose block is not in an Exif segment is found by the whole-file read.
  Bytes loose = *jpeg_;
  const Bytes block = camgen::MakeBlock(records);
  loose.insert(loose.end(), block.begin(), block.end());
  EXPECT_EQ(load(WalkJpegExif, Write("loose.jpg", loose)), 0);
  EXPECT_EQ(load(WalkJpegExif, Write("plain.jpg", *jpeg_)), kCalibNoSync);
  EXPECT_EQ(load(WalkMp4Udta, Video("nothing.mp4", {})), kCalibNoUdta);
  EXPECT_EQ(load(WalkMp4Udta, Write("notmp4.mp4", Text("not a movie at all"))), kCalibNoUdta);
  EXPECT_EQ(load(WalkMp4Udta, Video("nosync.mp4", Text("udta without a block"))), kCalibNoSync);
  Bytes empty_text = Text("ARVELOINSTRUMENT");
  empty_text.insert(empty_text.end(), {0, 0, 0, 0, '!', '!'});
  EXPECT_EQ(load(WalkMp4Udta, Video("emptytext.mp4", empty_text)), kCalibEmptyText);
  camgen::BlockFaults cut;
  cut.drop_cipher_bytes = 5;
  EXPECT_EQ(load(WalkJpegExif, Photo("cut.jpg", records, cut)), kCalibDecrypt);
  camgen::BlockFaults pad;
  pad.padding = 17;
  EXPECT_EQ(load(WalkJpegExif, Photo("pad.jpg", records, pad)), kCalibDecrypt);
  EXPECT_EQ(load(WalkJpegExif, Photo("notype.jpg", {records[0], records[2]})), kCalibNoCameraType);
  EXPECT_EQ(load(WalkJpegExif, Photo("nolens.jpg", {records[0], records[1]})), kCalibBadRecord);
  camgen::Record short_lens = records[2];
  short_lens.value.resize(1651);
  EXPECT_EQ(load(WalkJpegExif, Photo("short.jpg", {records[0], records[1], short_lens})), kCalibBadRecord);
  EXPECT_EQ(load(WalkJpegExif, Photo("single.jpg", camgen::SingleLensRecords(camgen::ExampleSinglePara()))),
            kCalibBadRecord);
  EXPECT_EQ(LoadSphereGrids(WalkJpegExif, nullptr, 1920, 960, nullptr, nullptr), kCalibNoPath);
  EXPECT_EQ(load(nullptr, Photo("nowalker.jpg", records)), kCalibNoUdta);
}

SingleFisheyeCameraPara SinglePara(float x, float y, float r) {
  SingleFisheyeCameraPara p;
  p.stPfCenter.x = x;
  p.stPfCenter.y = y;
  p.fRadius = r;
  return p;
}

TEST_F(ExtractTest, SingleLensRefreshDecision) {
  const std::string a = Photo("a.jpg", camgen::SingleLensRecords(SinglePara(901.0f, 533.0f, 511.0f)));
  const std::string b = Photo("b.jpg", camgen::SingleLensRecords(SinglePara(902.0f, 533.0f, 511.0f)));
  std::vector<float> grid(kGridFloats, -3.0f);
  EXPECT_EQ(LoadSingleLensGrid(WalkJpegExif, a.c_str(), 1920, 1080, grid.data()), 1);
  EXPECT_EQ(LoadSingleLensGrid(WalkJpegExif, a.c_str(), 1920, 1080, grid.data()), 0);
  const SingleLensCircle current = CurrentSingleLensCircle();
  EXPECT_EQ(current.x, 901);
  EXPECT_EQ(current.y, 533);
  EXPECT_FLOAT_EQ(current.radius, 501.0f);
  std::vector<float> expected(kGridFloats, -3.0f);
  BuildSingleLensGrid(1920, 1080, 180, 48, 901.0f, 533.0f, 192.0f, 501.0f, expected.data());
  EXPECT_EQ(grid, expected);
  // A different circle in between: both later calls refresh.
  EXPECT_EQ(LoadSingleLensGrid(WalkJpegExif, b.c_str(), 1920, 1080, grid.data()), 1);
  EXPECT_EQ(LoadSingleLensGrid(WalkJpegExif, a.c_str(), 1920, 1080, grid.data()), 1);
  // The same file at another frame size is another circle.
  EXPECT_EQ(LoadSingleLensGrid(WalkJpegExif, a.c_str(), 1440, 1080, grid.data()), 1);
  // A video with the same record as the last photo: photos and videos share the state.
  const std::string v =
      Video("a.mp4", camgen::MakeBlock(camgen::SingleLensRecords(SinglePara(901.0f, 533.0f, 511.0f))));
  EXPECT_EQ(LoadSingleLensGrid(WalkMp4Udta, v.c_str(), 1440, 1080, grid.data()), 0);
}

TEST_F(ExtractTest, SingleLensFailureCodes) {
  const auto records = camgen::SingleLensRecords(camgen::ExampleSinglePara());
  std::vector<float> grid(kGridFloats, -3.0f);
  auto load = [&](ContainerWalker walker, const std::string& path) {
    return LoadSingleLensGrid(walker, path.c_str(), 1920, 1080, grid.data());
  };
  EXPECT_EQ(LoadSingleLensGrid(WalkJpegExif, nullptr, 1920, 1080, grid.data()), kCalibNoPath);
  EXPECT_EQ(load(WalkJpegExif, Write("plain.jpg", *jpeg_)), kCalibNoExif);
  EXPECT_EQ(load(WalkJpegExif, dir_ + "/missing.jpg"), kCalibNoExif);
  EXPECT_EQ(load(WalkMp4Udta, dir_ + "/missing.mp4"), kCalibNoUdta);
  EXPECT_EQ(load(WalkMp4Udta, Video("nosync.mp4", Text("no block here"))), kCalibNoSync);
  camgen::BlockFaults cut;
  cut.drop_cipher_bytes = 3;
  EXPECT_EQ(load(WalkJpegExif, Photo("cut.jpg", records, cut)), kCalibDecrypt);
  camgen::Record long_lens = records[2];
  long_lens.value.resize(29);
  EXPECT_EQ(load(WalkJpegExif, Photo("long.jpg", {records[0], records[1], long_lens})), kCalibBadRecord);
  EXPECT_EQ(load(WalkJpegExif, Photo("dual.jpg", camgen::DualLensRecords(camgen::ExampleDualPara()))), kCalibBadRecord);
  for (float v : grid) ASSERT_EQ(v, -3.0f);

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int rc = load(WalkJpegExif, Photo("notype.jpg", {records[0], records[2]}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "could not find camera type\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // stdout is the CLI's JSON channel
  EXPECT_EQ(rc, kCalibNoCameraType);

  // A block outside any Exif segment is found as in a dual-lens photo (the photo locator, as
  // the stitcher reads it).
  Bytes loose = *jpeg_;
  const Bytes block = camgen::MakeBlock(records);
  loose.insert(loose.end(), block.begin(), block.end());
  const int found = load(WalkJpegExif, Write("loose.jpg", loose));
  EXPECT_TRUE(found == 0 || found == 1) << found;
}

TEST_F(ExtractTest, SingleLensStateIsSharedSafelyBetweenThreads) {
  const std::string a = Photo("ta.jpg", camgen::SingleLensRecords(SinglePara(700.0f, 500.0f, 400.0f)));
  const std::string b = Photo("tb.jpg", camgen::SingleLensRecords(SinglePara(710.0f, 505.0f, 420.0f)));
  std::vector<std::thread> threads;
  std::vector<int> bad(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::vector<float> grid(kGridFloats);
      for (int i = 0; i < 10; ++i) {
        const int rc = LoadSingleLensGrid(WalkJpegExif, (t % 2 ? a : b).c_str(), 1920, 1080, grid.data());
        if (rc != 0 && rc != 1) ++bad[t];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int n : bad) EXPECT_EQ(n, 0);
  const SingleLensCircle c = CurrentSingleLensCircle();
  EXPECT_TRUE((c.x == 700 && c.y == 500) || (c.x == 710 && c.y == 505));
}

}  // namespace
}  // namespace spherolux
