#include "calib/calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "test_files.h"

namespace spherolux {
namespace {

using camgen::JpegPlacement;
using camgen::Mp4Placement;
using testing::Bytes;
using testing::Cat;
using testing::ScratchDir;
using testing::Text;

const Bytes kSync = Text("ARVELOINSTRUMENT");

class CalibrationFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_FALSE(testing::BaseJpeg().empty());
    ASSERT_FALSE(testing::BaseMp4().empty());
  }
  std::string Photo(const std::string& name, const Bytes& block,
                    JpegPlacement place = JpegPlacement::kAfterJfif) const {
    return dir_.Write(name, camgen::EmbedInJpeg(testing::BaseJpeg(), block, place));
  }
  std::string Video(const std::string& name, const Bytes& block, Mp4Placement place = Mp4Placement::kMoovUdta) const {
    return dir_.Write(name, camgen::EmbedInMp4(testing::BaseMp4(), block, place));
  }
  std::string PhotoWith(const std::string& name, const std::vector<camgen::Record>& records,
                        const camgen::BlockFaults& faults = {}) const {
    return Photo(name, camgen::MakeBlock(records, faults));
  }

  ScratchDir dir_;
};

TEST_F(CalibrationFiles, QueryCameraTypeOfCameraFiles) {
  EXPECT_EQ(QueryCameraType(Photo("dual.jpg", testing::DualBlock()).c_str()), 2);
  EXPECT_EQ(QueryCameraType(Photo("soi.jpg", testing::DualBlock(), JpegPlacement::kAfterSoi).c_str()), 2);
  EXPECT_EQ(QueryCameraType(Photo("single.jpg", testing::SingleBlock()).c_str()), 1);
  EXPECT_EQ(QueryCameraType(Photo("stitched.jpg", testing::DualBlock(1000)).c_str()), 512);
  EXPECT_EQ(QueryCameraType(Photo("stitched2.jpg", testing::DualBlock(4096)).c_str()), 512);
  EXPECT_EQ(QueryCameraType(Photo("other.jpg", testing::DualBlock(999)).c_str()), 999);
  EXPECT_EQ(QueryCameraType(Photo("zero.jpg", testing::DualBlock(0)).c_str()), 0);
  for (Mp4Placement place :
       {Mp4Placement::kMoovUdta, Mp4Placement::kTrakUdta, Mp4Placement::kTopLevelUdta, Mp4Placement::kTopLevelUdat}) {
    EXPECT_EQ(QueryCameraType(Video("clip.mp4", testing::DualBlock(), place).c_str()), 2) << int(place);
  }
  EXPECT_EQ(QueryCameraType(Video("single.mp4", testing::SingleBlock()).c_str()), 1);
  const Bytes large = camgen::UseLargeMdat(camgen::EmbedInMp4(testing::BaseMp4(), testing::DualBlock(1000)));
  EXPECT_EQ(QueryCameraType(dir_.Write("large.mp4", large).c_str()), 512);
}

TEST_F(CalibrationFiles, QueryCameraTypeFallsBackToTheWholeFile) {
  // An XMP APP1 before the Exif segment hides it from the Exif walk.
  const Bytes exif_first = camgen::EmbedInJpeg(testing::BaseJpeg(), testing::DualBlock(), JpegPlacement::kAfterSoi);
  const Bytes xmp = testing::Segment(0xE1, Text(std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 34)));
  const Bytes hidden =
      Cat({Bytes(exif_first.begin(), exif_first.begin() + 2), xmp, Bytes(exif_first.begin() + 2, exif_first.end())});
  EXPECT_EQ(QueryCameraType(dir_.Write("xmp-first.jpg", hidden).c_str()), 2);
  // A file of no known structure.
  EXPECT_EQ(QueryCameraType(dir_.Write("raw.bin", Cat({Text("junk"), testing::SingleBlock()})).c_str()), 1);
}

TEST_F(CalibrationFiles, QueryCameraTypeFailureCodes) {
  EXPECT_EQ(QueryCameraType(nullptr), kCalibCannotOpen);
  EXPECT_EQ(QueryCameraType(dir_.Path("missing.jpg").c_str()), kCalibCannotOpen);
  EXPECT_EQ(QueryCameraType(dir_.Write("empty.jpg", {}).c_str()), kCalibEmptyFile);
  EXPECT_EQ(QueryCameraType(dir_.Write("plain.jpg", testing::BaseJpeg()).c_str()), kCalibCannotOpen);
  EXPECT_EQ(QueryCameraType(dir_.Write("plain.mp4", testing::BaseMp4()).c_str()), kCalibCannotOpen);
  // The sync word followed by no text.
  EXPECT_EQ(QueryCameraType(Photo("notext.jpg", Cat({kSync, Text("1234=")})).c_str()), kCalibCannotOpen);
  EXPECT_EQ(QueryCameraType(Photo("shorttext.jpg", kSync).c_str()), kCalibCannotOpen);
  // A udta without the block is final: the block later in the file is not searched for.
  const Bytes udta_without = camgen::EmbedInMp4(testing::BaseMp4(), Text("no block here"));
  EXPECT_EQ(QueryCameraType(dir_.Write("udta.mp4", Cat({udta_without, testing::DualBlock()})).c_str()),
            kCalibCannotOpen);

  EXPECT_EQ(QueryCameraType(Photo("pad0.jpg", testing::DualBlock(2, 1652, {.padding = 0})).c_str()),
            kCalibDecryptFailed);
  EXPECT_EQ(QueryCameraType(Video("pad17.mp4", testing::DualBlock(2, 1652, {.padding = 17})).c_str()),
            kCalibDecryptFailed);
  EXPECT_EQ(QueryCameraType(Photo("cut.jpg", testing::DualBlock(2, 1652, {.drop_cipher_bytes = 4})).c_str()),
            kCalibDecryptFailed);
  EXPECT_EQ(QueryCameraType(Photo("declared.jpg", testing::DualBlock(2, 1652, {.declared_length_delta = 16})).c_str()),
            kCalibNoTypeRecord);
  EXPECT_EQ(QueryCameraType(PhotoWith("no5.jpg", {{3, Text("guid")}, {7, Bytes(28)}}).c_str()), kCalibNoTypeRecord);
  // A camera-type record too short to hold the value counts as missing.
  EXPECT_EQ(QueryCameraType(PhotoWith("short5.jpg", {{5, Bytes{2, 0}}}).c_str()), kCalibNoTypeRecord);
}

TEST_F(CalibrationFiles, LoadPhotoCalibrationLoadsBothRecordKinds) {
  PhotoCalibration got;
  ASSERT_EQ(LoadPhotoCalibration(Photo("dual.jpg", testing::DualBlock()).c_str(), &got), 2);
  const auto dual = camgen::ExampleDualPara();
  EXPECT_EQ(got.camera_type, 2);
  EXPECT_EQ(got.dual.lModel, dual.lModel);
  EXPECT_EQ(got.dual.stPoint1.radius, dual.stPoint1.radius);
  EXPECT_EQ(got.dual.mstPf2[1].mfP1x, dual.mstPf2[1].mfP1x);
  EXPECT_STREQ(got.dual.szLabel, dual.szLabel);

  // A 1656-byte record loads exactly as the 1652-byte one.
  PhotoCalibration longer;
  ASSERT_EQ(LoadPhotoCalibration(Photo("dual1656.jpg", testing::DualBlock(2, 1656)).c_str(), &longer), 2);
  EXPECT_EQ(0, std::memcmp(&longer.dual, &got.dual, sizeof got.dual));

  ASSERT_EQ(LoadPhotoCalibration(Photo("single.jpg", testing::SingleBlock()).c_str(), &got), 1);
  const auto single = camgen::ExampleSinglePara();
  EXPECT_EQ(got.camera_type, 1);
  EXPECT_EQ(got.single.stPfCenter.x, single.stPfCenter.x);
  EXPECT_EQ(got.single.stPfCenter.y, single.stPfCenter.y);
  EXPECT_EQ(got.single.fRadius, single.fRadius);

  // The store keeps the last record of each kind.
  const PhotoCalibration store = PhotoStore();
  EXPECT_EQ(store.camera_type, 1);
  EXPECT_EQ(store.single.fRadius, single.fRadius);
  EXPECT_EQ(store.dual.lModel, dual.lModel);
}

TEST_F(CalibrationFiles, LoadPhotoCalibrationFailureCodes) {
  const auto dual = camgen::ExampleDualPara();
  const auto single = camgen::ExampleSinglePara();
  auto without = [](std::vector<camgen::Record> records, uint16_t type) {
    std::erase_if(records, [&](const camgen::Record& r) { return r.type == type; });
    return records;
  };
  struct Case {
    const char* what;
    std::string path;
    int code;
  } cases[] = {
      {"no path", "", kCalibNoPath},
      {"missing file", dir_.Path("missing.jpg"), kCalibNoPath},
      {"photo without block", dir_.Write("plain.jpg", testing::BaseJpeg()), kCalibNoPath},
      {"empty text", Photo("notext.jpg", Cat({kSync, Text("1234")})), kCalibNoPath},
      {"bad padding", Photo("pad.jpg", testing::DualBlock(2, 1652, {.padding = 0})), kCalibDecryptFailed},
      {"no camera type", PhotoWith("no5.jpg", without(camgen::DualLensRecords(dual), 5)), kCalibBadRecord},
      {"camera type 3", Photo("t3.jpg", testing::DualBlock(3)), kCalibBadRecord},
      {"camera type 1000", Photo("t1000.jpg", testing::DualBlock(1000)), kCalibBadRecord},
      {"type 3 and no uuid", PhotoWith("t3nouuid.jpg", without(camgen::DualLensRecords(dual, 3), 3)), kCalibBadRecord},
      {"no uuid", PhotoWith("nouuid.jpg", without(camgen::DualLensRecords(dual), 3)), kCalibNoCameraType},
      {"uuid of 37 bytes", PhotoWith("uuid37.jpg", camgen::DualLensRecords(dual, 2, 1652, std::string(37, 'u'))),
       kCalibNoCameraType},
      {"no lens record", PhotoWith("no7.jpg", without(camgen::DualLensRecords(dual), 7)), kCalibEmptyText},
      {"dual with a 28-byte record", PhotoWith("d28.jpg", camgen::SingleLensRecords(single, 2)), kCalibEmptyText},
      {"single with a 1652-byte record", PhotoWith("s1652.jpg", camgen::DualLensRecords(dual, 1)), kCalibEmptyText},
  };
  const PhotoCalibration before = PhotoStore();
  for (const Case& c : cases) {
    PhotoCalibration out;
    out.camera_type = 77;
    EXPECT_EQ(LoadPhotoCalibration(c.path.empty() ? nullptr : c.path.c_str(), &out), c.code) << c.what;
    EXPECT_EQ(out.camera_type, 77) << c.what << ": output written on failure";
  }
  EXPECT_EQ(PhotoStore().camera_type, before.camera_type);

  // A uuid of exactly 36 bytes is accepted.
  EXPECT_EQ(LoadPhotoCalibration(
                PhotoWith("uuid36.jpg", camgen::DualLensRecords(dual, 2, 1652, std::string(36, 'u'))).c_str()),
            2);
}

// Whatever hides the Exif segment from the Exif walk, the stitcher's read finds the block the
// camera-type query (and so the converter's qualification) finds: a photo taken as a camera
// photo is stitched as one, never passed through as if it had no calibration.
TEST_F(CalibrationFiles, LoadPhotoCalibrationFindsTheBlockTheCameraTypeQueryFinds) {
  const Bytes photo = camgen::EmbedInJpeg(testing::BaseJpeg(), testing::DualBlock(), JpegPlacement::kAfterSoi);
  const Bytes soi(photo.begin(), photo.begin() + 2), rest(photo.begin() + 2, photo.end());
  Bytes altered = photo;
  const auto exif = std::search(altered.begin(), altered.end(), std::begin("Exif"), std::end("Exif") - 1);
  ASSERT_NE(exif, altered.end());
  std::copy_n("EXIF", 4, exif);
  const struct {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"comment before the Exif", Cat({soi, testing::Segment(0xFE, Text("made by hand")), rest})},
      {"APP1 of length 2 before the Exif", Cat({soi, testing::Segment(0xE1, {}), rest})},
      {"APP1 of length 3 before the Exif", Cat({soi, testing::Segment(0xE1, {0}), rest})},
      {"altered Exif signature", altered},
      {"no segment around the block", Cat({soi, testing::DualBlock()})},
  };
  const auto dual = camgen::ExampleDualPara();
  for (const auto& c : cases) {
    const std::string path = dir_.Write("hidden.jpg", c.bytes);
    EXPECT_EQ(QueryCameraType(path.c_str()), 2) << c.what;
    PhotoCalibration got;
    EXPECT_EQ(LoadPhotoCalibration(path.c_str(), &got), 2) << c.what;
    EXPECT_EQ(got.dual.lModel, dual.lModel) << c.what;
    EXPECT_EQ(got.dual.stPoint2.x, dual.stPoint2.x) << c.what;
  }
}

TEST_F(CalibrationFiles, ReadCameraCalibrationOfVideos) {
  PhotoCalibration got;
  EXPECT_EQ(
      ReadCameraCalibration(Video("dual.mp4", testing::DualBlock(2, 1656), Mp4Placement::kTrakUdta).c_str(), &got), 2);
  EXPECT_EQ(got.camera_type, 2);
  EXPECT_EQ(got.dual.lModel, camgen::ExampleDualPara().lModel);
  EXPECT_EQ(ReadCameraCalibration(Video("single.mp4", testing::SingleBlock()).c_str(), &got), 1);
  EXPECT_EQ(got.camera_type, 1);
  EXPECT_EQ(got.single.stPfCenter.y, camgen::ExampleSinglePara().stPfCenter.y);
  // Stitched by the camera, or a lens record of the wrong size: the code, and no record.
  EXPECT_EQ(ReadCameraCalibration(Video("t1000.mp4", testing::DualBlock(1000)).c_str(), &got), 512);
  EXPECT_EQ(got.camera_type, 0);
  EXPECT_EQ(ReadCameraCalibration(Video("mismatch.mp4", testing::SingleBlock(2)).c_str(), &got), 2);
  EXPECT_EQ(got.camera_type, 0);
  EXPECT_EQ(ReadCameraCalibration(dir_.Path("missing.mp4").c_str(), &got), kCalibCannotOpen);
}

// The photo store is shared by every thread that loads a photo: concurrent loads and
// reads must each see whole records (run under ThreadSanitizer or ASan for full effect).
TEST_F(CalibrationFiles, PhotoStoreIsSafeFromTwoThreads) {
  const std::string dual_path = Photo("dual.jpg", testing::DualBlock());
  const std::string single_path = Photo("single.jpg", testing::SingleBlock());
  const auto dual = camgen::ExampleDualPara();
  const auto single = camgen::ExampleSinglePara();
  std::atomic<int> bad{0};
  auto loader = [&](const std::string& path, int type) {
    for (int i = 0; i < 150; ++i) {
      PhotoCalibration out;
      if (LoadPhotoCalibration(path.c_str(), &out) != type || out.camera_type != type) ++bad;
      if (type == 2 && out.dual.lModel != dual.lModel) ++bad;
      if (type == 1 && out.single.fRadius != single.fRadius) ++bad;
      const PhotoCalibration store = PhotoStore();
      if (store.camera_type != 1 && store.camera_type != 2) ++bad;
    }
  };
  std::thread a(loader, dual_path, 2);
  std::thread b(loader, single_path, 1);
  a.join();
  b.join();
  EXPECT_EQ(bad.load(), 0);
  const PhotoCalibration store = PhotoStore();
  EXPECT_EQ(store.dual.lModel, dual.lModel);
  EXPECT_EQ(store.single.stPfCenter.x, single.stPfCenter.x);
}

}  // namespace
}  // namespace spherolux
