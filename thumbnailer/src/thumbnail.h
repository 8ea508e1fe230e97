// Thumbnails of camera files for file managers: a small equirectangular panorama (2:1) of a
// camera photo or video, stitched at the thumbnail's size, or of a panorama stitched
// earlier, written as an RGB PNG.
//
//   Thumbnail t;
//   if (MakeThumbnail("VID_0001.mp4", 256, &t) == ThumbnailResult::kOk) png = EncodePng(t);
//
// Photos (by their first bytes, not their name) go through the photo pipeline's preview
// (DCT-scaled decoding); videos through FFmpeg: the key frame at or before a tenth of the
// duration, scaled down to at most four times the thumbnail's width before it is stitched,
// so that nothing aliases. Anything that is neither a camera file with usable calibration nor a
// stitched panorama is kNotPanorama: a file manager then shows its own thumbnail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace spherolux::thumbnailer {

enum class ThumbnailResult {
  kOk,
  kNotPanorama,    // no calibration and no panorama marks: not ours to draw
  kUnreadable,     // cannot be opened, is no regular file, or is damaged
  kNoVideoModule,  // the video module is missing or broken (said on stderr)
};

// An I420 picture (planes back to back), full range or video (limited) range.
struct Thumbnail {
  std::vector<uint8_t> i420;
  int width = 0;
  int height = 0;
  bool full_range = true;
};

// `size` is the longest side wanted (the freedesktop sizes are 128, 256, 512 and 1024): the
// panorama is `size` wide, rounded down to a multiple of 4, and half as high.
ThumbnailResult MakeThumbnail(const std::string& path, int size, Thumbnail* out);

// The video part of MakeThumbnail. It lives in a module of its own beside the program
// (kVideoModule), loaded only for videos: FFmpeg and the hundred libraries it links would
// otherwise be loaded for every photo too, at several times the cost of the photo's thumbnail.
ThumbnailResult MakeVideoThumbnail(const std::string& path, int size, Thumbnail* out);
inline constexpr char kVideoModule[] = "libspherolux-thumbnail-video.so";
inline constexpr char kVideoEntry[] = "spherolux_video_thumbnail";
using VideoEntry = ThumbnailResult (*)(const std::string& path, int size, Thumbnail* out);

// The thumbnail as an 8-bit RGB PNG (BT.601) in the bytes of a file.
std::vector<uint8_t> EncodePng(const Thumbnail& thumbnail);

}  // namespace spherolux::thumbnailer
