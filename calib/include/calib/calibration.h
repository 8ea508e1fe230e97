// Calibration operations on camera files: the camera-type query and the photo
// calibration read.
//
// Paths are UTF-8. Result codes are those of the calibration result table:
//   QueryCameraType: 1, 2, 512 (camera type >= 1000), -1 (decryption failed),
//     1001 (no path / nothing located / no sync word / no memory / empty text / cannot open),
//     1002 (empty file), 1015 (camera-type record missing), or any other recorded type.
//   LoadPhotoCalibration: 1 or 2 (record loaded), -1, 1000, 1007, 1009, 1010.
#pragma once

#include "calib/camera_para.h"
#include "calib/locator.h"

namespace spherolux {

// Camera type values: recorded in the block (1, 2, 1000 and more for a camera that stitches
// its own recordings), and what the camera-type query reports for the last (512).
enum : int {
  kCameraSingleLens = 1,
  kCameraDualLens = 2,
  kCameraStitchingTypes = 1000,
  kCameraStitchedReported = 512,
};

// Calibration result codes.
enum : int {
  kCalibDecryptFailed = -1,
  kCalibNoPath = 1000,
  kCalibCannotOpen = 1001,
  kCalibEmptyFile = 1002,
  kCalibNoUdta = 1003,
  kCalibNoExif = 1004,
  kCalibNoSync = 1005,
  kCalibNoMemory = 1006,
  kCalibEmptyText = 1007,
  kCalibDecrypt = 1008,
  kCalibBadRecord = 1009,
  kCalibNoCameraType = 1010,
  kCalibBadSize = 1014,
  kCalibNoTypeRecord = 1015,
};

// The whole-file fallback of the consumers that have one (ReadBlockFromWholeFile): 0 with the
// block's span (empty when the file holds no sync word), kCalibCannotOpen or kCalibEmptyFile.
int ReadBlockFromWholeFileCode(const char* path, PayloadSpan* span);

// The locator of a photo's calibration block, the one every reader of a photo's calibration
// uses (the camera-type query, the grids, the photo stitcher), so that a photo taken as a
// camera photo is also stitched as one: the Exif segment when the JPEG Exif walk finds it
// holding a sync word, else the block found by scanning the whole file (a comment or another
// segment before the Exif, a damaged or unusual Exif header). Returns 0 with the span (empty
// when the file holds no sync word), kCalibCannotOpen or kCalibEmptyFile.
int LocatePhotoBlock(const char* path, PayloadSpan* span);

// The kind of camera that recorded the file: the MP4 udta walk, then the photo locator
// (LocatePhotoBlock) search for the calibration block. Safe from any thread.
int QueryCameraType(const char* path);

// What the photo calibration read loads.
struct PhotoCalibration {
  int camera_type = 0;  // 1 or 2 when a record was loaded
  SingleFisheyeCameraPara single;
  DoubleFisheyeCameraPara dual;
};

// Reads the calibration of a camera photo (LocatePhotoBlock). On 1 or 2 fills `out`
// (when given) and also updates the process-wide photo store. Thread-safe.
int LoadPhotoCalibration(const char* path, PhotoCalibration* out = nullptr);

// A copy of the process-wide photo store: the last records loaded by LoadPhotoCalibration.
// Thread-safe.
PhotoCalibration PhotoStore();

// Reads the calibration record of any camera file (photo or video) the way QueryCameraType
// locates it, without touching the photo store. Returns what QueryCameraType returns for the
// file. When that is 1 or 2 and the type-7 record has the length of that camera type
// (28 bytes; 1652 or 1656 bytes), `out->camera_type` is set to it and the record is filled;
// otherwise `*out` is reset (camera_type 0). Safe from any thread.
int ReadCameraCalibration(const char* path, PhotoCalibration* out);

}  // namespace spherolux
