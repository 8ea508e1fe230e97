// The photo stitching pipeline: one camera JPEG in, one equirectangular panorama JPEG out
// (with the panorama XMP segment), in a single blocking call.
//
//   int rc = StitchPhoto("IMG_0001.jpg", "IMG_0001_spherolux_0.jpg", 0, false, 0);
//   if (rc != kPhotoOk) report PhotoResultMessage(rc)
//
// Steps: the photo's calibration (LoadPhotoCalibration, which also fills the process-wide
// photo store), decoding in 16-row strips, 4:2:2 / 4:4:4 brought to 4:2:0, then a dual-lens
// photo through a StitchContext, a single-lens photo through the single-lens remap, and a
// photo the camera stitched itself passed through unchanged; encoding at quality 90, 99 or
// 100. Any other photo is refused (kPhotoNoCalibration) once its header is read: its
// fisheye picture is never written out marked as a panorama.
//
// Checks before anything is allocated: the source must be a regular file (a pipe or device
// is refused, never opened), the output must not be the source under any name, and the
// declared picture must be one the pipeline can stitch (kMaxPhotoWidth, kMaxPhotoPixels) and
// the file large enough to hold it. A photo whose image data is damaged or cut short fails
// (kPhotoDamaged) instead of giving a panorama of partly flat colour.
//
// The output is written to a temporary file in the output's folder and put in place only on
// success, so a failed run never leaves a partial file under the final name nor a temporary
// beside it. A file of the output's name is replaced only when the options say so; without
// that the name is claimed at the start (base/output_file.h), so that no other run picks it.
// Everything the call allocates is freed on every path. Safe to call from one thread at a
// time per output path.
#pragma once

#include <cstdint>
#include <vector>

#include "jpeg/codec.h"

namespace spherolux {

// Result codes besides the codec's own (kJpeg* of jpeg/codec.h, returned unchanged).
inline constexpr int kPhotoOk = 0;
inline constexpr int kPhotoCannotOpen = 1001;     // the source cannot be opened
inline constexpr int kPhotoNoMemory = 1004;       // a buffer or the stitching context cannot be made
inline constexpr int kPhotoBadSampling = 1011;    // 4:4:0, greyscale or other sampling
inline constexpr int kPhotoCannotWrite = 1012;    // the output cannot be created, written or put in place
inline constexpr int kPhotoOutputExists = 1013;   // a file of the output's name exists (not replaced)
inline constexpr int kPhotoOutputIsInput = 1014;  // the output is the source photo itself
inline constexpr int kPhotoTooLarge = 1015;       // the declared picture is larger than the pipeline stitches
inline constexpr int kPhotoDamaged = 1016;        // the image data is damaged or cut short
inline constexpr int kPhotoNotAFile = 1017;       // the source is a folder, pipe or device
inline constexpr int kPhotoDiskFull = 1018;       // the output's disk (or quota) is full
inline constexpr int kPhotoPermission = 1019;     // the source may not be read or the output folder written
inline constexpr int kPhotoNoCalibration = 1020;  // neither lens calibration nor stitched by the camera
inline constexpr int kPhotoInputChanged = 1021;   // the source changed while it was stitched (nothing written)

// The largest photo the pipeline takes: the panorama is as wide as the photo, and the
// stitcher's maps are bounded by its width limit (kMaxStitchWidth of stitch/stitch_context.h).
// The pixel cap keeps the working buffers of one photo within about 2 GB.
inline constexpr int kMaxPhotoWidth = 16384;
inline constexpr int kMaxPhotoHeight = 16384;
inline constexpr int64_t kMaxPhotoPixels = int64_t{16384} * 8192;

// Whether a photo of width x height is within those limits.
constexpr bool WithinPhotoLimits(int64_t width, int64_t height) {
  return width <= kMaxPhotoWidth && height <= kMaxPhotoHeight && width * height <= kMaxPhotoPixels;
}

// The text of any code StitchPhoto returns, the codec's included.
constexpr const char* PhotoResultMessage(int code) {
  switch (code) {
    case kPhotoOk:
      return "done";
    case kPhotoCannotOpen:
      return "the photo cannot be opened";
    case kPhotoNoMemory:
      return "out of memory, or no stitching context for this size";
    case kPhotoBadSampling:
      return "unsupported JPEG sampling (greyscale, 4:4:0 or other)";
    case kPhotoCannotWrite:
      return "the output file cannot be created or written";
    case kPhotoOutputExists:
      return "a file of the output's name exists already; it was not replaced";
    case kPhotoOutputIsInput:
      return "the output file is the photo itself";
    case kPhotoTooLarge:
      return "the photo is larger than can be stitched (at most 16384 pixels wide and 134 million pixels)";
    case kPhotoDamaged:
      return "the photo's image data is damaged or cut short";
    case kPhotoNotAFile:
      return "the photo is not a regular file";
    case kPhotoDiskFull:
      return "the disk is full";
    case kPhotoPermission:
      return "permission denied";
    case kPhotoNoCalibration:
      return "the photo carries no usable camera calibration";
    case kPhotoInputChanged:
      return "the photo changed while it was stitched; no output was written";
    default:
      return JpegResultMessage(code);
  }
}

// Panorama size for a photo W pixels wide (W rounded up to even): W x W/2 when W is a
// multiple of 4; otherwise (W - 2) x (W - 2)/2, so that both sides of the I420 panorama stay
// even and the picture stays 2:1.
void PanoramaSize(int photo_width, int* width, int* height);

// Without overwrite an existing file is never replaced. A name the program picked is taken
// at once by an empty file (claim), so that no other run picks it meanwhile; a name the user
// gave (claim false) is given only when the panorama is done, so that a killed run leaves
// no empty file under it.
struct PhotoOutputOptions {
  bool overwrite = false;  // replace a file of the output's name (never the source itself)
  bool claim = true;
};

// rotation: 0, 90, 180 or 270; quality_index: 0 low (90), 1 medium (99), other high (100).
int StitchPhoto(const char* source_path, const char* output_path, int rotation, bool nadir_patch, int quality_index,
                const PhotoOutputOptions& options = {});

// Keeps the stitching maps of the last dual-lens photo for the next one of the same
// calibration, size, rotation and nadir patch, so that a batch of photos from one camera
// builds them once (building them is most of a photo's work). They take about 16 bytes per
// panorama pixel (230 MB for 5376 x 2688): off by default, and turning it off frees what is
// kept. Thread-safe; photos stitched at once on several threads share the maps.
void KeepStitchingMaps(bool keep);

// A panorama in memory: I420 planes back to back (Y, then U and V of width/2 x height/2),
// full-range BT.601 like the JPEG it came from.
struct PanoramaImage {
  std::vector<uint8_t> bytes;
  int width = 0;
  int height = 0;
};

// A small panorama of a photo, for thumbnails: `width` pixels wide (rounded down to a
// multiple of 4) and half as high, rotation 0, no nadir patch. The photo is decoded at the
// smallest DCT scale (1/8, 1/4, 1/2 or whole) that still gives at least `width` columns and
// stitched at that size, so a 5376 x 2688 photo costs a sixty-fourth of its pixels. A photo
// the camera stitched, or one the caller knows to be a panorama stitched earlier
// (`stitched`: its calibration is not read), is scaled down instead. The same checks and
// codes as StitchPhoto (a photo without calibration is kPhotoNoCalibration); nothing is
// written. `width` outside 4..kMaxPhotoWidth is kPhotoCannotOpen.
int StitchPhotoPreview(const char* source_path, int width, bool stitched, PanoramaImage* out);

}  // namespace spherolux
