#include "convert/messages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "convert/engine.h"
#include "photo/stitch_photo.h"

namespace spherolux::convert {

Cause CauseOfEngineResult(int code) {
  switch (code) {
    case CONVERT_OK:
      return Cause::kNone;
    case CONVERT_ERR_OPEN_INPUT:
    case CONVERT_ERR_NO_VIDEO:
      return Cause::kCannotOpenInput;
    case CONVERT_ERR_DECODE:
    case CONVERT_ERR_DAMAGED_INPUT:
    case CONVERT_ERR_MISSING_FRAMES:
      return Cause::kDamagedInput;
    case CONVERT_ERR_ENCODER:
      return Cause::kEncoderOptions;
    case CONVERT_ERR_CALIBRATION:
      return Cause::kNoCalibration;
    case CONVERT_ERR_STITCH:
    case CONVERT_ERR_AUDIO:
    case CONVERT_ERR_CODEC:
    case CONVERT_ERR_FORMAT:
      return Cause::kUnsupportedMedia;
    case CONVERT_ERR_MERGE_MISMATCH:
      return Cause::kMergeMismatch;
    case CONVERT_ERR_MERGE_CODECS:
      return Cause::kMergeCodecs;
    case CONVERT_ERR_MERGE_LIST:
      return Cause::kMergeList;
    case CONVERT_ERR_WRITE:
    case CONVERT_ERR_CREATE_OUTPUT:
      return Cause::kFileError;
    case CONVERT_ERR_STOPPED:
      return Cause::kStopped;
    case CONVERT_ERR_NO_MEMORY:
      return Cause::kOutOfMemory;
    case CONVERT_ERR_OUTPUT_EXISTS:
      return Cause::kOutputExists;
    case CONVERT_ERR_OUTPUT_IS_INPUT:
      return Cause::kOutputIsInput;
    case CONVERT_ERR_DISK_FULL:
      return Cause::kDiskFull;
    case CONVERT_ERR_PERMISSION:
      return Cause::kPermissionDenied;
    case CONVERT_ERR_NOT_A_FILE:
      return Cause::kNotAFile;
    case CONVERT_ERR_INPUT_CHANGED:
      return Cause::kInputChanged;
    default:
      return Cause::kOther;
  }
}

Cause CauseOfPhotoResult(int code) {
  switch (code) {
    case kPhotoOk:
      return Cause::kNone;
    case kPhotoCannotOpen:
      return Cause::kCannotOpenInput;
    case kPhotoNoMemory:
    case kJpegOutOfMemory:
      return Cause::kOutOfMemory;
    case kPhotoBadSampling:
    case kJpegBadState:
      return Cause::kUnsupportedMedia;
    case kPhotoCannotWrite:
      return Cause::kFileError;
    case kPhotoOutputExists:
      return Cause::kOutputExists;
    case kPhotoOutputIsInput:
      return Cause::kOutputIsInput;
    case kPhotoTooLarge:
      return Cause::kTooLarge;
    case kPhotoDamaged:
    case kJpegCorrupt:
    case kJpegNotPresent:
      return Cause::kDamagedInput;
    case kPhotoNotAFile:
      return Cause::kNotAFile;
    case kPhotoDiskFull:
      return Cause::kDiskFull;
    case kPhotoPermission:
      return Cause::kPermissionDenied;
    case kPhotoNoCalibration:
      return Cause::kNoCalibration;
    case kPhotoInputChanged:
      return Cause::kInputChanged;
    default:
      return Cause::kOther;
  }
}

Cause CauseOfInputFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == EACCES ? Cause::kPermissionDenied : Cause::kCannotOpenInput;
  if (!S_ISREG(st.st_mode)) return Cause::kNotAFile;
  return ::access(path.c_str(), R_OK) == 0 ? Cause::kNone : Cause::kPermissionDenied;
}

}  // namespace spherolux::convert
