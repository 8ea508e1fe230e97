// Why a job cannot start or fails: one table of causes, for the command line and the
// converter and merger windows alike, so that a full disk never reads as damaged data nor a
// refused permission as an unqualified camera. The front ends word them (convert/words.h).
//
// Pure functions; any thread.
#pragma once

#include <string>

namespace spherolux::convert {

enum class Cause {
  kNone,
  kDiskFull,          // the output's disk or the user's quota is full
  kPermissionDenied,  // a file may not be read, or the folder takes no file from this user
  kFileError,         // another failure to create or write the output
  kOutOfMemory,
  kCannotOpenInput,   // missing, or not readable as a photo or video
  kNotAFile,          // a folder, pipe or device given as a file
  kDamagedInput,      // the input's data is damaged or cut short
  kTooLarge,          // the photo is larger than the pipeline stitches
  kOutputExists,      // a file of the output's name exists (replaced only when asked)
  kOutputIsInput,     // the output is one of the inputs
  kWrongExtension,    // a photo's output not named .jpg, or a video's not .mp4
  kNameTooLong,       // the output's file name is longer than the file system takes
  kInputChanged,      // an input changed while the job ran, and the output was not put in place
  kNoCalibration,     // stitching asked for, but the file has no usable calibration
  kUnsupportedMedia,  // a codec, sampling or frame size the job cannot handle
  kEncoderOptions,    // the video encoder refuses the options
  kMergeMismatch,     // the files to merge differ in codec setup, size, time base or audio
  kMergeCodecs,       // the files to merge are encoded with different video codecs
  kMergeList,         // the merge list cannot be read or names no file
  kStopped,
  kOther,
};

// The cause of a result code of the conversion engine (convert/engine.h).
Cause CauseOfEngineResult(int code);
// The cause of a result code of the photo pipeline (photo/stitch_photo.h), codec codes too.
Cause CauseOfPhotoResult(int code);
// The cause, if any, that keeps `path` from being read as an input: missing, not readable,
// or not a regular file (a pipe would block whoever opens it). kNone for a readable file.
Cause CauseOfInputFile(const std::string& path);

}  // namespace spherolux::convert
