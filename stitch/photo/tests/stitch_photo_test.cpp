// The photo pipeline end to end on camera photos made by camgen, checked with djpeg, our
// decoder and the calibration reader.
#include "photo/stitch_photo.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "calib/calibration.h"
#include "calib/panorama_xmp.h"
#include "calib/stitch_state.h"
#include "camgen/camgen.h"
#include "jpeg/codec.h"
#include "testsupport/jpeg_planes.h"
#include "testsupport/testsupport.h"

namespace spherolux {
namespace {

namespace fs = std::filesystem;

class StitchPhotoTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  std::string Write(const std::string& name, const camgen::Bytes& bytes) const { return dir_.Write(name, bytes); }
  std::string DualPhoto(int w, int h, const std::string& sampling = "2x2") const {
    const camgen::Bytes block = camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()));
    return Write("dual.jpg", camgen::EmbedInJpeg(camgen::MakeJpeg(w, h, 90, false, sampling), block));
  }
  // Files in the folder besides `keep`: no temporary file may stay behind.
  int OtherFiles(const std::vector<std::string>& keep) const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir_.path()))
      if (std::find(keep.begin(), keep.end(), e.path().string()) == keep.end()) ++n;
    return n;
  }
  testsupport::TempDir dir_{"photo"};
};

TEST_F(StitchPhotoTest, DualLensPhotoBecomesAPanoramaOthersRecognise) {
  const std::string src = DualPhoto(1024, 512);
  const std::string out = Path("pano.jpg");
  ASSERT_EQ(StitchPhoto(src.c_str(), out.c_str(), 0, false, 0), kPhotoOk);
  EXPECT_EQ(OtherFiles({src, out}), 0);
  // The panorama gets the permissions of any new file, not those of a private temporary.
  const mode_t mask = umask(022);
  umask(mask);
  EXPECT_EQ(std::filesystem::status(out).permissions(), static_cast<std::filesystem::perms>(0666 & ~mask));
  ASSERT_EQ(std::system(("djpeg -outfile /dev/null '" + out + "'").c_str()), 0);
  testsupport::Planes d;
  ASSERT_EQ(testsupport::DecodeJpegFile(out, &d, 0), kJpegOk);
  EXPECT_EQ(d.width, 1024);
  EXPECT_EQ(d.height, 512);
  EXPECT_EQ(d.sampling, kJpegSampling420);
  const camgen::Bytes bytes = camgen::ReadFileBytes(out);
  ASSERT_GT(bytes.size(), 20 + kPanoramaXmpSegment.size());
  EXPECT_EQ(bytes[3], 0xE0);  // JFIF, no camera Exif
  EXPECT_TRUE(std::equal(kPanoramaXmpSegment.begin(), kPanoramaXmpSegment.end(), bytes.begin() + 20));
  // exiftool reads the XMP as an equirectangular panorama.
  std::FILE* p = popen(("exiftool -s3 -XMP-GPano:ProjectionType '" + out + "'").c_str(), "r");
  ASSERT_NE(p, nullptr);
  char text[64] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, p);
  EXPECT_EQ(pclose(p), 0) << "exiftool is required";
  EXPECT_EQ(std::string(text, n), "equirectangular\n");
  // The stitched photo carries no calibration any more.
  EXPECT_NE(LoadPhotoCalibration(out.c_str()), kCameraDualLens);
  // The picture is not empty: the lens circles land on the panorama.
  uint64_t sum = 0;
  for (uint8_t v : d.plane[0]) sum += v;
  EXPECT_GT(sum / d.plane[0].size(), 10u);
}

TEST_F(StitchPhotoTest, PanoramasWiderThan5000ColumnsAreStitchedAtTheirSize) {
  // Camera photos are 5376 pixels wide; anything above 5000 columns must still stitch.
  const std::string src = DualPhoto(5008, 2504);
  const std::string out = Path("wide.jpg");
  ASSERT_EQ(StitchPhoto(src.c_str(), out.c_str(), 0, false, 0), kPhotoOk);
  testsupport::Planes d;
  ASSERT_EQ(testsupport::DecodeJpegFile(out, &d, 0), kJpegOk);
  EXPECT_EQ(d.width, 5008);
  EXPECT_EQ(d.height, 2504);
  uint64_t sum = 0;
  for (uint8_t v : d.plane[0]) sum += v;
  EXPECT_GT(sum / d.plane[0].size(), 10u);
  // The right-hand columns are filled too.
  uint64_t right = 0;
  for (int y = 0; y < d.height; ++y) right += d.plane[0][static_cast<size_t>(y) * d.width + d.width - 1];
  EXPECT_GT(right / static_cast<uint64_t>(d.height), 0u);
}

// Kept maps serve the next photo only when it has the same calibration, size, rotation and
// nadir patch: every panorama of a run with kept maps is the one a fresh run gives, whatever
// came before it.
TEST_F(StitchPhotoTest, KeptMapsServeOnlyPhotosTheyWereBuiltFor) {
  const camgen::Bytes picture = camgen::MakeJpeg(768, 384, 90, false);
  DoubleFisheyeCameraPara other = camgen::ExampleDualPara();
  other.stPoint1.x += 6;  // another camera's lens 1, a little to the right
  const std::string a = Write(
      "a.jpg", camgen::EmbedInJpeg(picture, camgen::MakeBlock(camgen::DualLensRecords(camgen::ExampleDualPara()))));
  const std::string b = Write("b.jpg", camgen::EmbedInJpeg(picture, camgen::MakeBlock(camgen::DualLensRecords(other))));
  struct Run {
    const std::string* photo;
    int rotation;
    bool patch;
  };
  const Run runs[] = {{&a, 0, false}, {&a, 0, false}, {&b, 0, false}, {&a, 90, false}, {&a, 0, true}, {&a, 0, false}};
  std::vector<camgen::Bytes> fresh;
  for (const Run& r : runs) {
    const std::string out = dir_.Path("fresh.jpg");
    ASSERT_EQ(StitchPhoto(r.photo->c_str(), out.c_str(), r.rotation, r.patch, 0, {true, false}), kPhotoOk);
    fresh.push_back(camgen::ReadFileBytes(out));
  }
  EXPECT_NE(fresh[0], fresh[2]) << "the two calibrations stitch alike: the test proves nothing";
  KeepStitchingMaps(true);
  for (size_t i = 0; i < std::size(runs); ++i) {
    const std::string out = dir_.Path("kept.jpg");
    ASSERT_EQ(StitchPhoto(runs[i].photo->c_str(), out.c_str(), runs[i].rotation, runs[i].patch, 0, {true, false}),
              kPhotoOk);
    EXPECT_TRUE(camgen::ReadFileBytes(out) == fresh[i]) << "run " << i;
  }
  KeepStitchingMaps(false);
}

TEST_F(StitchPhotoTest, QualityIndexChoosesTheTables) {
  const std::string src = DualPhoto(512, 256);
  // Luminance DQT entry 0 (base 16): quality 90 gives (20 * 16 + 50) / 100 = 3, 99 gives 1,
  // 100 gives 1; the largest entry (base 121) is (20 * 121 + 50) / 100 = 24, then 2 and 1.
  const int first[3] = {3, 1, 1}, largest[3] = {24, 2, 1};
  for (int index = 0; index < 3; ++index) {
    const std::string out = Path("q" + std::to_string(index) + ".jpg");
    ASSERT_EQ(StitchPhoto(src.c_str(), out.c_str(), 0, false, index), kPhotoOk);
    const camgen::Bytes b = camgen::ReadFileBytes(out);
    const size_t dqt = 20 + kPanoramaXmpSegment.size();
    ASSERT_EQ(b[dqt + 1], 0xDB);
    const uint8_t* table = &b[dqt + 5];
    EXPECT_EQ(table[0], first[index]) << index;
    EXPECT_EQ(*std::max_element(table, table + 64), largest[index]) << index;
  }
}

TEST_F(StitchPhotoTest, SingleLensAndCameraStitchedPhotos) {
  const camgen::Bytes single_block = camgen::MakeBlock(camgen::SingleLensRecords(camgen::ExampleSinglePara()));
  const std::string single =
      Write("single.jpg", camgen::EmbedInJpeg(camgen::MakeJpeg(640, 360, 90, true), single_block));
  const std::string out = Path("single_pano.jpg");
  ASSERT_EQ(StitchPhoto(single.c_str(), out.c_str(), 0, false, 0), kPhotoOk);
  testsupport::Planes d;
  ASSERT_EQ(testsupport::DecodeJpegFile(out, &d, 0), kJpegOk);
  EXPECT_EQ(d.width, 640);
  EXPECT_EQ(d.height, 320);

  // A photo the camera stitched itself is re-encoded unchanged.
  const camgen::Bytes stitched_block = camgen::MakeBlock({camgen::CameraTypeRecord(2001)});
  const std::string plain = Write("plain.jpg", camgen::EmbedInJpeg(camgen::MakeJpeg(256, 128, 95), stitched_block));
  const std::string copy = Path("plain_pano.jpg");
  ASSERT_EQ(StitchPhoto(plain.c_str(), copy.c_str(), 0, false, 2), kPhotoOk);
  testsupport::Planes a, b;
  ASSERT_EQ(testsupport::DecodeJpegFile(plain, &a, 0), kJpegOk);
  ASSERT_EQ(testsupport::DecodeJpegFile(copy, &b, 0), kJpegOk);
  ASSERT_EQ(a.plane[0].size(), b.plane[0].size());
  int worst = 0;
  for (size_t i = 0; i < a.plane[0].size(); ++i)
    worst = std::max(worst, std::abs(int(a.plane[0][i]) - int(b.plane[0][i])));
  EXPECT_LE(worst, 2);  // quality 100, one more DCT round trip
}

// A fisheye picture must never come out marked as a panorama: a photo without calibration
// is refused and leaves nothing, and a camera photo whose Exif segment is hidden from the
// Exif walk (here by a comment before it) is stitched exactly as the same photo without it.
TEST_F(StitchPhotoTest, NoPhotoIsPassedOffAsStitched) {
  const std::string plain = Write("plain.jpg", camgen::MakeJpeg(256, 128, 95));
  EXPECT_EQ(StitchPhoto(plain.c_str(), Path("plain_pano.jpg").c_str(), 0, false, 0), kPhotoNoCalibration);
  EXPECT_EQ(OtherFiles({plain}), 0);

  const std::string src = DualPhoto(512, 256);
  const camgen::Bytes whole = camgen::ReadFileBytes(src);
  const camgen::Bytes comment = {0xFF, 0xFE, 0x00, 0x06, 'n', 'o', 't', 'e'};
  camgen::Bytes commented =
      camgen::Concat({{whole.begin(), whole.begin() + 2}, comment, {whole.begin() + 2, whole.end()}});
  const std::string hidden = Write("commented.jpg", commented);
  ASSERT_EQ(StitchPhoto(src.c_str(), Path("normal_pano.jpg").c_str(), 0, false, 0), kPhotoOk);
  ASSERT_EQ(StitchPhoto(hidden.c_str(), Path("commented_pano.jpg").c_str(), 0, false, 0), kPhotoOk);
  EXPECT_EQ(camgen::ReadFileBytes(Path("commented_pano.jpg")), camgen::ReadFileBytes(Path("normal_pano.jpg")));
}

TEST_F(StitchPhotoTest, OtherSamplingsAndOddWidths) {
  for (const char* sampling : {"2x1", "1x1"}) {
    const std::string src = DualPhoto(512, 256, sampling);
    const std::string out = Path(std::string("s") + sampling + ".jpg");
    EXPECT_EQ(StitchPhoto(src.c_str(), out.c_str(), 90, false, 0), kPhotoOk) << sampling;
    testsupport::Planes d;
    EXPECT_EQ(testsupport::DecodeJpegFile(out, &d, 0), kJpegOk);
    EXPECT_EQ(d.width, 512);
  }
  // A width that is not a multiple of 4 (W/2 odd) gives a 2:1 panorama two pixels narrower.
  int pw = 0, ph = 0;
  PanoramaSize(1022, &pw, &ph);
  EXPECT_EQ(pw, 1020);
  EXPECT_EQ(ph, 510);
  PanoramaSize(1021, &pw, &ph);  // rounded up to 1022 first
  EXPECT_EQ(pw, 1020);
  PanoramaSize(1024, &pw, &ph);
  EXPECT_EQ(pw, 1024);
  EXPECT_EQ(ph, 512);
  const camgen::Bytes stitched_block = camgen::MakeBlock({camgen::CameraTypeRecord(2001)});
  for (const bool calibrated : {true, false}) {
    const std::string src = calibrated
                                ? DualPhoto(1022, 511)
                                : Write("odd.jpg", camgen::EmbedInJpeg(camgen::MakeJpeg(1022, 511), stitched_block));
    const std::string out = Path(calibrated ? "odd_dual.jpg" : "odd_plain.jpg");
    ASSERT_EQ(StitchPhoto(src.c_str(), out.c_str(), 0, false, 0), kPhotoOk) << calibrated;
    ASSERT_EQ(std::system(("djpeg -outfile /dev/null '" + out + "'").c_str()), 0);
    testsupport::Planes d;
    ASSERT_EQ(testsupport::DecodeJpegFile(out, &d, 0), kJpegOk);
    EXPECT_EQ(d.width, 1020);
    EXPECT_EQ(d.height, 510);
  }
}

TEST_F(StitchPhotoTest, FailuresLeaveNoOutput) {
  const std::string out = Path("never.jpg");
  EXPECT_EQ(StitchPhoto(Path("missing.jpg").c_str(), out.c_str(), 0, false, 0), kPhotoCannotOpen);
  const std::string grey = Write("grey.jpg", camgen::MakeJpeg(256, 128, 90, false, "1x1"));
  // A greyscale JPEG: cjpeg -grayscale on the same picture.
  const std::string grey_path = Path("grey_only.jpg");
  ASSERT_EQ(std::system(("djpeg -pnm '" + grey + "' | cjpeg -grayscale -outfile '" + grey_path + "'").c_str()), 0);
  EXPECT_EQ(StitchPhoto(grey_path.c_str(), out.c_str(), 0, false, 0), kPhotoBadSampling);
  const std::string broken = Write("broken.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0x00});
  EXPECT_EQ(StitchPhoto(broken.c_str(), out.c_str(), 0, false, 0), kJpegCorrupt);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(OtherFiles({grey, grey_path, broken}), 0);
}

TEST_F(StitchPhotoTest, FileErrorsAreReportedAsFileErrors) {
  const std::string src = DualPhoto(512, 256);
  // The output folder does not exist: nothing can be created there.
  EXPECT_EQ(StitchPhoto(src.c_str(), Path("no/such/dir/x.jpg").c_str(), 0, false, 0), kPhotoCannotWrite);
  // A folder has the output's name: it is neither claimed nor replaced.
  fs::create_directory(Path("taken.jpg"));
  EXPECT_EQ(StitchPhoto(src.c_str(), Path("taken.jpg").c_str(), 0, false, 0), kPhotoOutputExists);
  EXPECT_EQ(StitchPhoto(src.c_str(), Path("taken.jpg").c_str(), 0, false, 0, {.overwrite = true}), kPhotoCannotWrite);
  EXPECT_TRUE(fs::is_directory(Path("taken.jpg")));
  // Writing stops part way, as on a full disk (here a file size limit): the encoder's
  // failed write is the output's fault, not corrupt JPEG data.
  struct FileSizeLimit {
    rlimit old{};
    sighandler_t old_handler = ::signal(SIGXFSZ, SIG_IGN);
    FileSizeLimit() {
      ::getrlimit(RLIMIT_FSIZE, &old);
      rlimit small = old;
      small.rlim_cur = 4096;
      ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
      ::setrlimit(RLIMIT_FSIZE, &old);
      ::signal(SIGXFSZ, old_handler);
    }
  };
  {
    FileSizeLimit limit;
    EXPECT_EQ(StitchPhoto(src.c_str(), Path("full.jpg").c_str(), 0, false, 2), kPhotoCannotWrite);
  }
  EXPECT_FALSE(fs::exists(Path("full.jpg")));
  EXPECT_EQ(OtherFiles({src, Path("taken.jpg")}), 0);
}

TEST_F(StitchPhotoTest, NeverTouchesTheSourceOrAnExistingFile) {
  const std::string src = DualPhoto(512, 256);
  const camgen::Bytes original = camgen::ReadFileBytes(src);
  EXPECT_EQ(StitchPhoto(src.c_str(), src.c_str(), 0, false, 0), kPhotoOutputIsInput);
  EXPECT_EQ(StitchPhoto(src.c_str(), (dir_.path() + "/./dual.jpg").c_str(), 0, false, 0, {.overwrite = true}),
            kPhotoOutputIsInput);
  EXPECT_EQ(camgen::ReadFileBytes(src), original);

  const std::string out = Write("theirs.jpg", camgen::Bytes{'t', 'h', 'e', 'i', 'r', 's'});
  EXPECT_EQ(StitchPhoto(src.c_str(), out.c_str(), 0, false, 0), kPhotoOutputExists);
  EXPECT_EQ(camgen::ReadFileBytes(out).size(), 6u);
  EXPECT_EQ(StitchPhoto(src.c_str(), out.c_str(), 0, false, 0, {.overwrite = true}), kPhotoOk);
  EXPECT_EQ(IsStitchedPhoto(out.c_str()), 1);

  // A pipe is refused without being opened (opening it would wait for a writer).
  const std::string fifo = Path("pipe.jpg");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(StitchPhoto(fifo.c_str(), Path("p.jpg").c_str(), 0, false, 0), kPhotoNotAFile);
  EXPECT_EQ(StitchPhoto(dir_.path().c_str(), Path("d.jpg").c_str(), 0, false, 0), kPhotoNotAFile);
  EXPECT_EQ(OtherFiles({src, out, fifo}), 0);
}

TEST_F(StitchPhotoTest, DamagedOrOversizedPhotosFailBeforeTheyCostMemory) {
  const std::string src = DualPhoto(1024, 512);
  const camgen::Bytes whole = camgen::ReadFileBytes(src);
  // Cut short: the rows past the cut would be flat colour.
  const std::string cut = Write("cut.jpg", camgen::Bytes(whole.begin(), whole.begin() + whole.size() * 2 / 5));
  EXPECT_EQ(StitchPhoto(cut.c_str(), Path("cut_pano.jpg").c_str(), 0, false, 0), kPhotoDamaged);
  // Sizes beyond what can be stitched are refused from the header alone...
  const std::string huge = Write("huge.jpg", camgen::DeclareJpegSize(whole, 65535, 65535));
  const std::string wide = Write("wide.jpg", camgen::DeclareJpegSize(whole, 16386, 8193));
  EXPECT_EQ(StitchPhoto(huge.c_str(), Path("huge_pano.jpg").c_str(), 0, false, 0), kPhotoTooLarge);
  EXPECT_EQ(StitchPhoto(wide.c_str(), Path("wide_pano.jpg").c_str(), 0, false, 0), kPhotoTooLarge);
  // ...and a size within the limits that the file is far too small to hold, as damaged.
  const std::string hollow = Write("hollow.jpg", camgen::DeclareJpegSize(whole, 16000, 8000));
  struct rusage before {};
  ::getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(StitchPhoto(hollow.c_str(), Path("hollow_pano.jpg").c_str(), 0, false, 0), kPhotoDamaged);
  struct rusage after {};
  ::getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 100 * 1024) << "kB of peak memory grown for a refused photo";
  EXPECT_EQ(OtherFiles({src, cut, huge, wide, hollow}), 0);
}

}  // namespace
}  // namespace spherolux
