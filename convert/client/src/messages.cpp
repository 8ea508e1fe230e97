#include "convert/messages.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "convert/engine.h"
#include "photo/stitch_photo.h"
#include "ui/strings.h"

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

const char* CauseText(Cause cause) {
  switch (cause) {
    case Cause::kNone:
      return "";
    case Cause::kDiskFull:
      return "The disk is full.";
    case Cause::kPermissionDenied:
      return "Permission denied.";
    case Cause::kFileError:
      return "The output file cannot be created or written.";
    case Cause::kOutOfMemory:
      return "Out of memory.";
    case Cause::kCannotOpenInput:
      return "The input file cannot be opened.";
    case Cause::kNotAFile:
      return "The input is not a regular file.";
    case Cause::kDamagedInput:
      return "The input file is damaged or cut short.";
    case Cause::kTooLarge:
      return "The photo is larger than can be stitched (at most 16384 pixels wide and 134 million pixels).";
    case Cause::kOutputExists:
      return "A file of the output's name exists already; it was not replaced.";
    case Cause::kOutputIsInput:
      return "The output file is one of the input files.";
    case Cause::kWrongExtension:
      return "The output's name does not fit its kind: a stitched photo is a .jpg file, a video an .mp4 file.";
    case Cause::kNameTooLong:
      return "The output's file name is longer than 255 bytes.";
    case Cause::kNoCalibration:
      return "The input carries no usable camera calibration.";
    case Cause::kUnsupportedMedia:
      return "The input's format, codec or frame size is not supported.";
    case Cause::kEncoderOptions:
      return "The H.264 encoder refuses the options.";
    case Cause::kMergeMismatch:
      return "The files to merge differ in codec, frame size, time base or audio parameters.";
    case Cause::kMergeList:
      return "The list of files to merge cannot be read.";
    case Cause::kStopped:
      return "The job was stopped.";
    case Cause::kOther:
      break;
  }
  return "The job failed.";
}

std::string VideoFailureText(int engine_code) {
  std::string text;
  if (engine_code == CONVERT_ERR_CREATE_OUTPUT) {
    text = ui::LoadString(ui::kStrCreateOutputFailed);
  } else {
    char head[160];
    std::snprintf(head, sizeof head, "%s(errno=%d):", ui::LoadString(ui::kStrOpenConverter), engine_code);
    text = head;
  }
  return text + " " + CauseText(CauseOfEngineResult(engine_code));
}

std::string PhotoFailureText(int photo_code) {
  return std::string(ui::LoadString(ui::kStrImageStitchingFailed)) + ": " + CauseText(CauseOfPhotoResult(photo_code));
}

std::string MergeFailureText(int engine_code) {
  return std::string(ui::LoadString(ui::kStrMergeFailed)) + " " + CauseText(CauseOfEngineResult(engine_code));
}

}  // namespace spherolux::convert
