// Media files for the player's tests, made by the tests themselves: camera photos and
// videos with calibration blocks (camgen, cjpeg, ffmpeg) in a scratch folder that is removed
// with the object.
#pragma once

#include <string>

namespace spherolux::media::testing {

class TestMedia {
 public:
  TestMedia();
  ~TestMedia();
  TestMedia(const TestMedia&) = delete;
  TestMedia& operator=(const TestMedia&) = delete;

  const std::string& dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // A dual-lens camera photo of width x width/2 and a video of the same picture (with a
  // moving bar at the top, so that frames differ) lasting `seconds` at 30 fps.
  std::string DualPhoto(int width = 1920);
  std::string DualVideo(double seconds = 3.0, int width = 1920);
  // The dual-lens video of the same picture with a new frame only every two seconds, 8 s long
  // (the player then shows a picture as seldom as a decoder far behind a huge video does).
  std::string SlowDualVideo(int width = 1920);
  // A dual-lens camera video in H.265 ('hvc1'), with sound, as current cameras record.
  std::string DualHevcVideo(double seconds, int width);
  std::string SinglePhoto();
  std::string SingleVideo();
  // A dual-lens camera video of the still `picture`, coded as YUV 4:2:0 with the colour
  // matrix `matrix` and the range `range` (ffmpeg's names: "bt709", "smpte170m"; "tv" for
  // studio range, "pc" for full range) and tagged with both.
  std::string TaggedDualVideo(const std::string& picture, const std::string& matrix, const std::string& range);
  // A dual-lens recording whose camera type marks it as stitched by the camera (512).
  std::string CameraStitchedVideo();
  // A 2:1 clip with Spherical Video V1 metadata and no calibration.
  std::string StitchedV1Video();
  // A 2:1 photo another tool tagged as an equirectangular panorama (exiftool, GPano XMP).
  std::string GPanoPhoto();
  // A 2:1 clip without any metadata.
  std::string PlainVideo();
  // A dual-lens camera video whose moov ends in a chain of 10,000 nested udta boxes.
  std::string NestedVideo();
  // A file that is no media at all.
  std::string NotMedia();

 private:
  std::string Video(const std::string& name, const std::string& picture, double seconds);

  std::string dir_;
};

}  // namespace spherolux::media::testing
