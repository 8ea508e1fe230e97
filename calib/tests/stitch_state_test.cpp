#include "calib/stitch_state.h"

#include <gtest/gtest.h>

#include <string>

#include "calib/panorama_xmp.h"
#include "test_files.h"
#include "walkers.h"

namespace spherolux {
namespace {

using testing::Bytes;
using testing::Cat;
using testing::ScratchDir;
using testing::Segment;
using testing::Text;

const Bytes kSoi = {0xFF, 0xD8};

Bytes Xmp(const std::string& packet) {
  return Segment(0xE1, Cat({Text(std::string("http://ns.adobe.com/xap/1.0/\0", 29)), Text(packet)}));
}

// SOI, the given segments, then the rest of the base photo (its JFIF APP0 and image).
Bytes PhotoWith(std::initializer_list<Bytes> segments) {
  const Bytes& base = testing::BaseJpeg();
  Bytes out = kSoi;
  for (const Bytes& s : segments) out.insert(out.end(), s.begin(), s.end());
  out.insert(out.end(), base.begin() + 2, base.end());
  return out;
}

class StitchedPhoto : public ::testing::Test {
 protected:
  int Test(const Bytes& file) { return IsStitchedPhoto(dir_.Write("photo.jpg", file).c_str()); }
  ScratchDir dir_;
};

TEST_F(StitchedPhoto, OurPanoramaSegmentIsRecognised) {
  ASSERT_FALSE(testing::BaseJpeg().empty());
  const Bytes ours(kPanoramaXmpSegment.begin(), kPanoramaXmpSegment.end());
  EXPECT_EQ(Test(PhotoWith({ours})), 1);
  // After the JFIF APP0, where the encoder writes it.
  const Bytes& base = testing::BaseJpeg();
  const size_t app0_end = 4 + (size_t(base[4]) << 8 | base[5]);
  EXPECT_EQ(Test(Cat({Bytes(base.begin(), base.begin() + ptrdiff_t(app0_end)), ours,
                      Bytes(base.begin() + ptrdiff_t(app0_end), base.end())})),
            1);
  EXPECT_EQ(Test(base), 0);
}

TEST_F(StitchedPhoto, ValueFormsAndFirstOccurrence) {
  const std::string maker = " GPano:StitchingSoftware=\"Arvelo Instrument\"";
  EXPECT_EQ(Test(PhotoWith({Xmp("<GPano:UsePanoramaViewer>TRUE</GPano:UsePanoramaViewer>" + maker)})), 1);
  EXPECT_EQ(Test(PhotoWith({Xmp("GPano:UsePanoramaViewer=\"tRuE\"" + maker)})), 1);
  EXPECT_EQ(Test(PhotoWith({Xmp("GPano:UsePanoramaViewer='true'" + maker)})), 1);
  EXPECT_EQ(Test(PhotoWith({Xmp("GPano:UsePanoramaViewer=\"False\" GPano:UsePanoramaViewer=\"True\"" + maker)})), 0);
  EXPECT_EQ(Test(PhotoWith({Xmp("GPano:UsePanoramaViewer = \"True\"" + maker)})), 0);
  // Another stitcher's panorama: no maker string.
  EXPECT_EQ(Test(PhotoWith({Xmp("GPano:UsePanoramaViewer=\"True\" GPano:StitchingSoftware=\"Other\"")})), 0);
  // The maker string alone.
  EXPECT_EQ(Test(PhotoWith({Xmp(maker)})), 0);
  // The name at the very end of the segment, with no room for a value.
  EXPECT_EQ(Test(PhotoWith({Xmp(maker + "GPano:UsePanoramaViewer=\"tr")})), 0);
}

TEST_F(StitchedPhoto, OnlyTheFirstTwentySegmentsAreRead) {
  const Bytes ours(kPanoramaXmpSegment.begin(), kPanoramaXmpSegment.end());
  const Bytes comment = Segment(0xFE, Text("comment"));
  Bytes nineteen = kSoi;
  for (int i = 0; i < 19; ++i) nineteen = Cat({nineteen, comment});
  EXPECT_EQ(Test(Cat({nineteen, ours})), 1);           // the 20th segment
  EXPECT_EQ(Test(Cat({nineteen, comment, ours})), 0);  // the 21st
  const Bytes exif = Segment(0xE1, Text(std::string("Exif\0\0II*\0", 10)));
  EXPECT_EQ(Test(PhotoWith({exif, exif, ours})), 1);  // Exif APP1 segments are skipped
  // The first non-Exif APP1 decides, even when a later one would pass.
  EXPECT_EQ(Test(PhotoWith({Xmp("<x/>"), ours})), 0);
  // A short APP1 cannot start with "Exif" and is the one examined.
  EXPECT_EQ(Test(PhotoWith({Segment(0xE1, Text("Ex")), ours})), 0);
}

TEST_F(StitchedPhoto, FillBytesBeforeMarkers) {
  const Bytes ours(kPanoramaXmpSegment.begin(), kPanoramaXmpSegment.end());
  const Bytes body(ours.begin() + 1, ours.end());  // without the first 0xFF
  EXPECT_EQ(Test(Cat({kSoi, Bytes(6, 0xFF), body})), 1);
  EXPECT_EQ(Test(Cat({kSoi, Bytes(7, 0xFF), body})), 0);
}

TEST_F(StitchedPhoto, BrokenFilesAnswerZero) {
  const Bytes ours(kPanoramaXmpSegment.begin(), kPanoramaXmpSegment.end());
  EXPECT_EQ(Test(Cat({kSoi, Bytes(ours.begin(), ours.end() - 1)})), 0);  // cut short
  EXPECT_EQ(Test(Cat({kSoi, Bytes{0xFF, 0xE2, 0, 1}, ours})), 0);        // length below 2
  EXPECT_EQ(Test(Cat({Bytes{0xFF, 0xD9}, ours})), 0);                    // no SOI
  EXPECT_EQ(Test({}), 0);
  EXPECT_EQ(IsStitchedPhoto(dir_.Path("missing.jpg").c_str()), 0);
  EXPECT_EQ(IsStitchedPhoto(nullptr), 0);
}

class SphericalVideo : public ::testing::Test {
 protected:
  int Flag(const Bytes& file) { return SphericalVideoFlag(dir_.Write("clip.mp4", file).c_str()); }
  ScratchDir dir_;
};

TEST_F(SphericalVideo, FlagFromTheV1Box) {
  const Bytes& mp4 = testing::BaseMp4();
  ASSERT_FALSE(mp4.empty());
  EXPECT_EQ(Flag(camgen::AddSphericalV1Box(mp4, camgen::SphericalV1Xml("true"))), 1);
  EXPECT_EQ(Flag(camgen::AddSphericalV1Box(mp4, camgen::SphericalV1Xml("TRUE"))), 1);
  EXPECT_EQ(Flag(camgen::AddSphericalV1Box(mp4, camgen::SphericalV1Xml("false"))), 0);
  EXPECT_EQ(Flag(camgen::AddSphericalV1Box(mp4, camgen::SphericalV1Xml("truely"))), 0);
  EXPECT_EQ(Flag(camgen::AddSphericalV1Box(mp4, camgen::SphericalV1Xml("true", false))), 0);
  Bytes other(16, 0x42);
  EXPECT_EQ(Flag(camgen::AddSphericalV1Box(mp4, camgen::SphericalV1Xml("true"), other)), 0);
  EXPECT_EQ(Flag(mp4), 0);
  EXPECT_EQ(SphericalVideoFlag(dir_.Path("missing.mp4").c_str()), 0);
}

int Body(const std::string& xml) {
  const Bytes b = Text(xml);
  return calib_internal::SphericalBodyIsTrue(b);
}

TEST(SphericalBody, OnlyADirectChildOfTheRootCounts) {
  EXPECT_EQ(Body("<r><GSpherical:Spherical>True</GSpherical:Spherical></r>"), 1);
  EXPECT_EQ(Body("<r><x><GSpherical:Spherical>true</GSpherical:Spherical></x></r>"), 0);
  EXPECT_EQ(Body("<r><Spherical>true</Spherical></r>"), 0);
  EXPECT_EQ(Body("<r><GSpherical:Spherical/></r>"), 0);
  EXPECT_EQ(Body(""), 0);
  EXPECT_EQ(Body("plain text"), 0);
}

TEST(SphericalBody, DeepNestingIsRefusedWithoutParsing) {
  std::string deep = "<r><GSpherical:Spherical>true</GSpherical:Spherical>";
  for (int i = 0; i < 200000; ++i) deep += "<a>";
  EXPECT_EQ(Body(deep), 0);
  // Many siblings are not nesting.
  std::string wide = "<r><GSpherical:Spherical>true</GSpherical:Spherical>";
  for (int i = 0; i < 1000; ++i) wide += "<a/><b></b>";
  EXPECT_EQ(Body(wide + "</r>"), 1);
}

}  // namespace
}  // namespace spherolux
