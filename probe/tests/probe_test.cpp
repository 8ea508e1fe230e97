#include "probe/probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calib/calibration.h"
#include "calib/panorama_xmp.h"
#include "camgen/camgen.h"
#include "probe/extract.h"
#include "testsupport/testsupport.h"

namespace spherolux {
namespace {

using camgen::Bytes;

TEST(StitchClassification, TableOfClasses) {
  EXPECT_EQ(ClassifyStitchState(2, 0), StitchClass::kDualLens);
  EXPECT_EQ(ClassifyStitchState(1, 1), StitchClass::kSingleLens);
  EXPECT_EQ(ClassifyStitchState(512, 0), StitchClass::kStitchedByCamera);
  for (int other : {-1, 0, 3, 999, 1001, 1002, 1015}) {
    EXPECT_EQ(ClassifyStitchState(other, 1), StitchClass::kStitched) << other;
    EXPECT_EQ(ClassifyStitchState(other, 0), StitchClass::kNotPanorama) << other;
  }
  const int ok = 0;
  const int changed = 1;
  const int bad_size = 1014;
  const int no_path = 1000;
  const int bad_record = 1009;
  EXPECT_EQ(ClassifyStitchState(2, 0, &ok), StitchClass::kDualLens);
  EXPECT_EQ(ClassifyStitchState(1, 0, &changed), StitchClass::kSingleLens);
  EXPECT_EQ(ClassifyStitchState(2, 0, &bad_size), StitchClass::kUnusableCalibration);
  EXPECT_EQ(ClassifyStitchState(1, 1, &no_path), StitchClass::kUnusableCalibration);
  // Only the lens cameras' extraction counts.
  EXPECT_EQ(ClassifyStitchState(3, 1, &bad_record), StitchClass::kStitched);
  EXPECT_EQ(ClassifyStitchState(512, 0, &bad_record), StitchClass::kStitchedByCamera);
  EXPECT_EQ(StitchClassName(StitchClass::kStitchedByCamera), "stitched-by-camera");
  EXPECT_EQ(StitchClassName(StitchClass::kNotPanorama), "not-panorama");
}

TEST(StitchClassification, KindByName) {
  for (const char* photo : {"a.jpg", "B.JPG", "c.Bmp", "/x/y.jPg", ".jpg"}) {
    EXPECT_EQ(MediaKindOfPath(photo), MediaKind::kPhoto) << photo;
  }
  for (const char* video : {"a.jpeg", "b.mp4", "jpg", "c.jpg.mov", "", "d.png"}) {
    EXPECT_EQ(MediaKindOfPath(video), MediaKind::kVideo) << video;
  }
}

// Camera photos and panoramas of every class, probed as the player and the converter do.
class ProbeFileTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { jpeg_ = new Bytes(camgen::MakeJpeg(64, 32)); }
  static void TearDownTestSuite() { delete jpeg_; }
  void SetUp() override { ASSERT_FALSE(jpeg_->empty()); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_ + "/" + name;
    EXPECT_TRUE(camgen::WriteFileBytes(path, bytes));
    return path;
  }
  std::string Photo(const std::string& name, const std::vector<camgen::Record>& records) {
    return Write(name, camgen::EmbedInJpeg(*jpeg_, camgen::MakeBlock(records)));
  }
  // The base photo with our panorama segment after its SOI.
  std::string Panorama(const std::string& name) {
    Bytes bytes = *jpeg_;
    bytes.insert(bytes.begin() + 2, kPanoramaXmpSegment.begin(), kPanoramaXmpSegment.end());
    return Write(name, bytes);
  }

  static Bytes* jpeg_;
  testsupport::TempDir scratch_{"probe"};
  const std::string dir_ = scratch_.path();
};
Bytes* ProbeFileTest::jpeg_ = nullptr;

TEST_F(ProbeFileTest, DualLensPhotoGetsTheExtractionsGridsAndQualifies) {
  const DoubleFisheyeCameraPara para = camgen::ExampleDualPara(401);
  const std::string path = Photo("dual.jpg", camgen::DualLensRecords(para));
  std::vector<float> a(kGridFloats);
  std::vector<float> b(kGridFloats);
  ASSERT_EQ(LoadSphereGrids(WalkJpegExif, path.c_str(), 1920, 960, a.data(), b.data()), 0);

  const FrameSize frame{1920, 960};
  ViewGrids grids;
  const FileProbe probe = ProbeFile(path.c_str(), MediaKind::kPhoto, &frame, &grids);
  EXPECT_EQ(probe.camera_type, kCameraDualLens);
  EXPECT_EQ(probe.cls, StitchClass::kDualLens);
  EXPECT_EQ(probe.view_mode, 2);
  EXPECT_TRUE(probe.extracted);
  EXPECT_EQ(probe.extraction, 0);
  EXPECT_TRUE(probe.grids_built);
  EXPECT_EQ(grids.table_a, a);
  EXPECT_EQ(grids.table_b, b);
  EXPECT_TRUE(ShownByPlayer(probe));
  EXPECT_EQ(QualifyForConversion(probe), kQualified);

  // Not 2:1: the same file has unusable calibration, and the grids keep what they held.
  const FrameSize wide{1920, 1080};
  const FileProbe refused = ProbeFile(path.c_str(), MediaKind::kPhoto, &wide, &grids);
  EXPECT_EQ(refused.extraction, kCalibBadSize);
  EXPECT_EQ(refused.cls, StitchClass::kUnusableCalibration);
  EXPECT_FALSE(refused.grids_built);
  EXPECT_EQ(grids.table_a, a);
  EXPECT_FALSE(ShownByPlayer(refused));
  EXPECT_EQ(QualifyForConversion(refused), kNotQualified);

  // Without a frame size nothing is extracted and the camera type alone decides.
  const FileProbe by_type = ProbeFile(path.c_str(), MediaKind::kPhoto, nullptr, nullptr);
  EXPECT_FALSE(by_type.extracted);
  EXPECT_EQ(by_type.cls, StitchClass::kDualLens);
}

TEST_F(ProbeFileTest, SingleLensPhotoOpensInModeThreeAndReportsTheRefresh) {
  const std::string path = Photo("single.jpg", camgen::SingleLensRecords(camgen::ExampleSinglePara()));
  const FrameSize frame{1920, 1080};
  ViewGrids grids;
  ProbeFile(path.c_str(), MediaKind::kPhoto, &frame, &grids);
  const FileProbe again = ProbeFile(path.c_str(), MediaKind::kPhoto, &frame, &grids);
  EXPECT_EQ(again.cls, StitchClass::kSingleLens);
  EXPECT_EQ(again.view_mode, 3);
  EXPECT_EQ(again.extraction, 0);  // the same circle as the probe before
  EXPECT_FALSE(again.refresh);
  EXPECT_TRUE(again.grids_built);
  EXPECT_EQ(QualifyForConversion(again), kQualified);
  const FrameSize other{1440, 1080};
  EXPECT_TRUE(ProbeFile(path.c_str(), MediaKind::kPhoto, &other, &grids).refresh);
}

TEST_F(ProbeFileTest, PanoramasAndOtherFiles) {
  const FrameSize frame{64, 32};
  // Stitched by the camera: shown and converted by copying, whatever its calibration says.
  const std::string by_camera = Photo("camera.jpg", camgen::DualLensRecords(camgen::ExampleDualPara(), 1000));
  const FileProbe camera = ProbeFile(by_camera.c_str(), MediaKind::kPhoto, &frame, nullptr);
  EXPECT_EQ(camera.camera_type, kCameraStitchedReported);
  EXPECT_EQ(camera.extraction, 1);
  EXPECT_EQ(camera.cls, StitchClass::kStitchedByCamera);
  EXPECT_TRUE(ShownByPlayer(camera));
  EXPECT_EQ(QualifyForConversion(camera), kQualified);

  // Stitched by us: the player shows it, the converter refuses it as already stitched.
  const FileProbe ours = ProbeFile(Panorama("pano.jpg").c_str(), MediaKind::kPhoto, &frame, nullptr);
  EXPECT_EQ(ours.stitched_test, 1);
  EXPECT_EQ(ours.cls, StitchClass::kStitched);
  EXPECT_TRUE(ShownByPlayer(ours));
  EXPECT_EQ(QualifyForConversion(ours), kAlreadyStitched);

  // Neither: refused by both.
  const FileProbe plain = ProbeFile(Write("plain.jpg", *jpeg_).c_str(), MediaKind::kPhoto, &frame, nullptr);
  EXPECT_EQ(plain.cls, StitchClass::kNotPanorama);
  EXPECT_FALSE(ShownByPlayer(plain));
  EXPECT_EQ(QualifyForConversion(plain), kNotQualified);

  // A file that cannot be opened is no panorama either.
  const FileProbe missing = ProbeFile((dir_ + "/missing.mp4").c_str(), MediaKind::kVideo, &frame, nullptr);
  EXPECT_EQ(missing.cls, StitchClass::kNotPanorama);
  EXPECT_EQ(QualifyForConversion(missing), kNotQualified);
}

}  // namespace
}  // namespace spherolux
