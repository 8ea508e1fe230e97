// The front ends' side of the conversion engine: loading libconvert.so, the converter's
// check of its input, choosing where a job's output goes, and the merger's check of its
// inputs and its private list file.
//
// Every function is synchronous and safe from any thread; nothing throws. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "convert/engine.h"
#include "convert/messages.h"
#include "probe/probe.h"

namespace spherolux::convert {

// The engine's five functions, resolved by name. All are set, or the load failed.
struct EngineApi {
  int (*synth_trans)(int, const char* const*, int, int, int) = nullptr;
  int (*stop_transcoding)() = nullptr;
  int (*setposition_callback)(convert_position_callback, void*) = nullptr;
  int (*rescale_csconvert)(const uint8_t*, uint8_t*, int, int, int, int, int, int) = nullptr;
  int (*synth_image)() = nullptr;
  void* handle = nullptr;  // kept loaded for the life of the process
};

inline constexpr const char* kEngineFileName = "libconvert.so";

// Loads kEngineFileName from `dir` (the program's folder: ProgramDir() of base/system.h).
// False with a message in *error when the file cannot be loaded or lacks a function.
bool LoadEngine(const std::string& dir, EngineApi* api, std::string* error);

// The converter's check of an input before a job starts: the file probed with its frame
// size from MediaInfo, as the converter's window measures it, and judged by
// QualifyForConversion (probe/probe.h). MediaInfo's length comes along for the trim range.
struct InputCheck {
  Cause problem = Cause::kNone;           // set when the file cannot be read at all (verdict kNotQualified)
  Qualification verdict = kNotQualified;  // kQualified, or the string id of the refusal
  // With kNotQualified, what keeps the file out when it is not the camera: a video whose
  // movie box is cut or missing (a recording cut short, as a dead battery leaves it) is
  // kDamagedInput, a photo beyond the photo pipeline's limits kTooLarge.
  Cause refusal = Cause::kNone;
  MediaKind kind = MediaKind::kVideo;  // by the file's name
  bool copy = false;                   // recorded already stitched by the camera: copied whatever the quality
  int width = 0;                       // the frame size, 0 x 0 when MediaInfo does not know it
  int height = 0;
  int64_t length_ms = -1;  // the media length, -1 when unknown (always for a photo)
};
// A file that is missing, unreadable or not a regular file is not probed at all (a pipe
// would block): `problem` says why.
InputCheck CheckConversionInput(const std::string& path);

// Whether a job may write `output`: never one of `inputs` (compared as files: device and
// inode, not names), never over an existing file unless `overwrite`, and named for its
// kind (".jpg" for a stitched photo, ".mp4" for a video, in any case) with a file name the
// file system takes (kMaxFileNameBytes). kNone when it may.
Cause CheckOutput(const std::string& output, const std::vector<std::string>& inputs, bool photo, bool overwrite);

// The output of a job on `input` when the user named none: the first free
// "NAME_spherolux_N.jpg" (photo) or ".mp4" (video) in `output_dir`, or beside the input when
// `output_dir` is empty (ProposeOutputPath of convert/job.h). The name is free when chosen;
// the engine and the photo pipeline claim it when the job starts, and answer "exists"
// (CONVERT_ERR_OUTPUT_EXISTS, kPhotoOutputExists) if another run took it meanwhile: then
// choose again.
std::string DefaultOutputPath(const std::string& input, const std::string& output_dir, bool photo);

// Runs one job on its output: `attempt(output)` on `named` when the user named the output;
// else on the first free name for `input` in `output_dir` (DefaultOutputPath), and again
// on the next free name for as long as `attempt` answers `taken` (the engine's
// CONVERT_ERR_OUTPUT_EXISTS, the photo pipeline's kPhotoOutputExists: another run took the
// name meanwhile), up to 100 times. Returns attempt's last answer; *output gets the name
// it was given last.
int RunOnFreeName(const std::string& named, const std::string& input, const std::string& output_dir, bool photo,
                  int taken, const std::function<int(const std::string& output)>& attempt, std::string* output);

// The output of a merge: "YYYYMMDDhhmmss_merge.mp4" of the local time in `output_dir`
// (the current folder when empty); a second merge within the same second gets the next free
// "YYYYMMDDhhmmss_merge_N.mp4" (MergeOutputPath of convert/job.h).
std::string DefaultMergeOutputPath(const std::string& output_dir);

// The merger takes only stitched videos (spherical-video flag 1), in the order given, as
// absolute paths (the engine reads list entries relative to the list's folder); the others
// are refused one by one.
struct MergeSelection {
  std::vector<std::string> accepted;
  std::vector<std::string> refused;
};
MergeSelection SelectMergeInputs(const std::vector<std::string>& paths);

// The concat list of a merge, in an unnamed file of the temporary folder: nothing in the
// shared folder can be planted or raced by another user or another run, and nothing is left
// there, with the full paths of the user's files, when the process is killed. The list is
// named to the engine as /proc/self/fd/N, so it serves the engine of this process only. A
// name the list format cannot carry (one holding a line feed) is opened here and listed as
// /proc/self/fd/M of that file. The descriptors are closed when the object goes.
class MergeList {
 public:
  MergeList() = default;
  ~MergeList();
  MergeList(const MergeList&) = delete;
  MergeList& operator=(const MergeList&) = delete;

  // Writes the list of `paths` (MergeListText of convert/job.h). False with a message in
  // *error when the file cannot be written or a listed file opened.
  bool Write(const std::vector<std::string>& paths, std::string* error);
  const std::string& path() const { return path_; }

 private:
  void Close();
  std::vector<int> fds_;  // the list's own descriptor first, then the files listed by descriptor
  std::string path_;
};

}  // namespace spherolux::convert
