// The photo stitching pipeline: one camera JPEG in, one equirectangular panorama JPEG out
// (with the panorama XMP segment), in a single blocking call.
//
//   int rc = StitchPhoto("IMG_0001.jpg", "IMG_0001_spherolux_0.jpg", 0, false, 0);
//   if (rc != kPhotoOk) report PhotoResultMessage(rc)
//
// Steps: the photo's calibration (LoadPhotoCalibration, which also fills the process-wide
// photo store), decoding in 16-row strips, 4:2:2 / 4:4:4 brought to 4:2:0, then a dual-lens
// photo through a StitchContext, a single-lens photo through the single-lens remap, and a
// photo without calibration passed through unchanged; encoding at quality 90, 99 or 100.
//
// The output is written to a temporary file in the output's folder and put in place only on
// success (replacing a file of that name), so a failed run never leaves a partial file under
// the final name nor a temporary beside it. Everything the call allocates is freed on every
// path. Safe to call from one thread at a time per output path.
#pragma once

#include "jpeg/codec.h"

namespace spherolux {

// Result codes besides the codec's own (kJpeg* of jpeg/codec.h, returned unchanged).
inline constexpr int kPhotoOk = 0;
inline constexpr int kPhotoCannotOpen = 1001;   // the source cannot be opened
inline constexpr int kPhotoNoMemory = 1004;     // a buffer or the stitching context cannot be made
inline constexpr int kPhotoBadSampling = 1011;  // 4:4:0, greyscale or other sampling
inline constexpr int kPhotoCannotWrite = 1012;  // the output cannot be created, written or put in place

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
    default:
      return JpegResultMessage(code);
  }
}

// Panorama size for a photo W pixels wide (W rounded up to even): W x W/2 when W is a
// multiple of 4; otherwise (W - 2) x (W - 2)/2, so that both sides of the I420 panorama stay
// even and the picture stays 2:1.
void PanoramaSize(int photo_width, int* width, int* height);

// rotation: 0, 90, 180 or 270; quality_index: 0 low (90), 1 medium (99), other high (100).
int StitchPhoto(const char* source_path, const char* output_path, int rotation, bool nadir_patch, int quality_index);

}  // namespace spherolux
