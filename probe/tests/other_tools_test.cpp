// Panoramas tagged by other tools: a photo whose XMP GPano:ProjectionType is
// "equirectangular" (written here by exiftool) and a video with a Spherical Video V2 box tree
// (built here byte by byte) are stitched panoramas, while this system's own marks keep their
// own tests unchanged.
#include <gtest/gtest.h>

#include <string>

#include "calib/stitch_state.h"
#include "camgen/camgen.h"
#include "mp4/box.h"
#include "mp4/file.h"
#include "mp4/spherical.h"
#include "probe/probe.h"
#include "testsupport/testsupport.h"

namespace spherolux {
namespace {

using camgen::Bytes;

class OtherToolsTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // A photo tagged by exiftool with the given GPano projection type.
  std::string TaggedPhoto(const std::string& name, const std::string& projection) {
    const std::string path = Path(name);
    EXPECT_TRUE(camgen::WriteFileBytes(path, camgen::MakeJpeg(256, 128)));
    const std::string cmd =
        "exiftool -q -overwrite_original -XMP-GPano:UsePanoramaViewer=True "
        "-XMP-GPano:ProjectionType=" +
        projection + " '" + path + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return path;
  }

  // A clip whose video sample entry carries st3d and an sv3d with the given projection box.
  std::string V2Video(const std::string& name, const char (&projection)[5], const Bytes& projection_body) {
    const std::string raw = Path(name + ".raw.mp4");
    EXPECT_TRUE(camgen::MakeMp4Clip(raw, 128, 64, 0.2, false));
    auto full_box = [](const char(&type)[5], const Bytes& data) {
      return camgen::Box(type, camgen::Concat({Bytes{0, 0, 0, 0}, data}));  // version 0, flags 0
    };
    const Bytes st3d = full_box("st3d", Bytes{0});                      // monoscopic
    const Bytes svhd = full_box("svhd", Bytes{'h', 'a', 'n', 'd', 0});  // metadata source
    const Bytes prhd = full_box("prhd", Bytes(12, 0));                  // yaw, pitch, roll 0
    const Bytes proj = camgen::Box("proj", camgen::Concat({prhd, full_box(projection, projection_body)}));
    const Bytes sv3d = camgen::Box("sv3d", camgen::Concat({svhd, proj}));

    mp4::Mp4File file;
    EXPECT_EQ(mp4::ReadMp4File(raw, &file), mp4::FileStatus::kOk);
    mp4::SphericalBoxes boxes;
    for (const Bytes* bytes : {&st3d, &sv3d}) {
      std::vector<mp4::Box> parsed;
      EXPECT_EQ(mp4::ParseBoxes(*bytes, &parsed), mp4::ParseStatus::kOk);
      (bytes == &st3d ? boxes.st3d : boxes.sv3d) = parsed.at(0);
    }
    EXPECT_TRUE(mp4::PutSphericalBoxes(&file, boxes));
    const std::string path = Path(name + ".mp4");
    EXPECT_EQ(mp4::WriteMp4File(file, path), mp4::FileStatus::kOk);
    return path;
  }

  static FileProbe Probe(const std::string& path, MediaKind kind) {
    return ProbeFile(path.c_str(), kind, nullptr, nullptr);
  }

  testsupport::TempDir scratch_{"probe-tags"};
  const std::string dir_ = scratch_.path();
};

TEST_F(OtherToolsTest, GPanoEquirectangularPhotoIsStitched) {
  const std::string photo = TaggedPhoto("equirect.jpg", "equirectangular");
  EXPECT_EQ(IsEquirectangularXmpPhoto(photo.c_str()), 1);
  EXPECT_EQ(IsStitchedPhoto(photo.c_str()), 0);  // not this system's own mark
  const FileProbe probe = Probe(photo, MediaKind::kPhoto);
  EXPECT_EQ(probe.cls, StitchClass::kStitched);
  EXPECT_TRUE(ShownByPlayer(probe));
  EXPECT_EQ(QualifyForConversion(probe), kAlreadyStitched);

  // Another projection is no equirectangular panorama.
  const std::string cylinder = TaggedPhoto("cylinder.jpg", "cylindrical");
  EXPECT_EQ(IsEquirectangularXmpPhoto(cylinder.c_str()), 0);
  EXPECT_EQ(Probe(cylinder, MediaKind::kPhoto).cls, StitchClass::kNotPanorama);
}

// The attribute form, with spaces and single quotes, and a value in capitals; a name or value
// that only begins like the right one does not count.
TEST_F(OtherToolsTest, GPanoAttributeFormsInAnXmpSegment) {
  auto photo_with_xmp = [&](const std::string& name, const std::string& xmp) {
    const Bytes jpeg = camgen::MakeJpeg(64, 32);
    std::string body = std::string("http://ns.adobe.com/xap/1.0/") + '\0' + xmp;
    const Bytes header = {0xFF, 0xE1, uint8_t((body.size() + 2) >> 8), uint8_t(body.size() + 2)};
    // SOI, then the XMP segment, then the rest of the photo.
    const Bytes file = camgen::Concat({Bytes(jpeg.begin(), jpeg.begin() + 2), header, Bytes(body.begin(), body.end()),
                                       Bytes(jpeg.begin() + 2, jpeg.end())});
    const std::string path = Path(name);
    EXPECT_TRUE(camgen::WriteFileBytes(path, file));
    return IsEquirectangularXmpPhoto(path.c_str());
  };
  EXPECT_EQ(photo_with_xmp("a.jpg", "<rdf:Description GPano:ProjectionType = 'EQUIRECTANGULAR'/>"), 1);
  EXPECT_EQ(photo_with_xmp("b.jpg", "<x GPano:ProjectionTypeX=\"equirectangular\"/>"), 0);
  EXPECT_EQ(photo_with_xmp("c.jpg", "<x GPano:ProjectionType=\"equirectangularish\"/>"), 0);
  EXPECT_EQ(photo_with_xmp("d.jpg", "<x GPano:ProjectionType=\"equirectangular"), 0);  // cut off
}

TEST_F(OtherToolsTest, SphericalV2EquirectangularVideoIsStitched) {
  const std::string clip = V2Video("equi", "equi", Bytes(16, 0));
  EXPECT_EQ(IsEquirectangularV2Video(clip.c_str()), 1);
  EXPECT_EQ(SphericalVideoFlag(clip.c_str()), 0);  // no V1 box
  const FileProbe probe = Probe(clip, MediaKind::kVideo);
  EXPECT_EQ(probe.cls, StitchClass::kStitched);
  EXPECT_TRUE(ShownByPlayer(probe));
  EXPECT_EQ(QualifyForConversion(probe), kAlreadyStitched);

  // A cube map is another projection.
  const std::string cube = V2Video("cube", "cbmp", Bytes(8, 0));
  EXPECT_EQ(IsEquirectangularV2Video(cube.c_str()), 0);
  EXPECT_EQ(Probe(cube, MediaKind::kVideo).cls, StitchClass::kNotPanorama);
  // Files that are no MP4 at all.
  EXPECT_EQ(IsEquirectangularV2Video(Path("missing.mp4").c_str()), 0);
  const std::string text = Path("text.mp4");
  ASSERT_TRUE(camgen::WriteFileBytes(text, Bytes(100, 'x')));
  EXPECT_EQ(IsEquirectangularV2Video(text.c_str()), 0);
}

}  // namespace
}  // namespace spherolux
