// The rules of a conversion or merge job as the converter front ends apply them: output
// names, the trimmed range, the engine's argument vectors and the time-left estimate.
//
// Pure functions and a small value class; no I/O except through the callbacks given.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace spherolux::convert {

enum class Quality { kLow = 0, kMedium = 1, kHigh = 2 };

// The video codec of a conversion's output. H.265 takes about half the bit rate of H.264
// for the same picture quality, and is what phones and TVs decode above 4096 pixels wide.
enum class Codec { kH264 = 0, kH265 = 1 };

// The longest file name the file systems take (NAME_MAX), in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// The first free output path for the input file name `name` in `dir` (which ends with a
// separator or is empty): the extension becomes "jpg" (photo) or "mp4" (video), and the
// name gains "_spherolux_N" with the smallest N >= 0 for which `exists` is false.
// "clip.MOV" gives "clip_spherolux_0.mp4". A name longer than kMaxFileNameBytes has its
// stem shortened at a character boundary.
std::string ProposeOutputPath(const std::string& dir, const std::string& name, bool photo,
                              const std::function<bool(const std::string&)>& exists);

// Start and duration in milliseconds for the range [low, high] percent of a medium of
// `media_ms`: truncated products; a duration under one second starts one second earlier
// (never before 0) and lasts one second longer.
struct TrimRange {
  int64_t start_ms = 0;
  int64_t duration_ms = 0;
};
TrimRange RangeFromPercent(int low, int high, int64_t media_ms);

// "HH:MM:SS" of whole seconds (hours may have more digits).
std::string FormatClock(int64_t ms);
// "HH:MM:SS.mmm": the same with the milliseconds, as the engine's -ss and -t take them.
std::string FormatClockMs(int64_t ms);

// The engine call of a video job: argument vector and the High flag. The range goes to the
// engine to the millisecond (FormatClockMs).
struct EngineCall {
  std::vector<std::string> args;
  int high_flag = 0;
};
// What a job does about the output's name. No job ever writes over one of its inputs.
enum class OutputName {
  kClaim,    // a name the program picked: taken at once by an empty file, so that no other
             // job picks it meanwhile; an existing file is never replaced
  kKeep,     // a name the user gave: never replaces a file, and is given only when the job is
             // done (a killed job leaves no empty file under it) ("-n")
  kReplace,  // a name the user allowed to be replaced ("-y")
};
// The output name rule for a name the user gave (`named`) or the program picked.
inline OutputName OutputNameFor(bool named, bool overwrite) {
  return !named ? OutputName::kClaim : overwrite ? OutputName::kReplace : OutputName::kKeep;
}

// copy: the recording was stitched by the camera; it is copied whatever the quality and
// codec. H.265 takes the options of the quality with the encoder named ("-c:v libx265")
// and its own bit rate (H265BitRate).
EngineCall ConversionCall(const std::string& input, const std::string& output, const TrimRange& range, Quality quality,
                          bool copy, OutputName name = OutputName::kClaim, Codec codec = Codec::kH264);
// The engine's "-b:v" value of a quality in H.265: half of H.264's. On camera-like footage
// (soft detail, sensor noise) libx265 at these rates matches libx264 at twice them in SSIM and
// PSNR at every quality; on synthetic test patterns with hard edges it needs nearer 0.9 of
// the H.264 rate.
const char* H265BitRate(Quality quality);
// The engine call of a reframe job: a flat video of width x height following the view path in
// `path_file` (reframe/view_path.h) instead of a panorama, encoded at `quality` (never copied).
// `panorama`: the input is a panorama stitched earlier, whose picture is read as it is;
// `codec` as for ConversionCall.
EngineCall ReframeCall(const std::string& input, const std::string& output, const TrimRange& range, Quality quality,
                       const std::string& path_file, int width, int height, bool panorama,
                       OutputName name = OutputName::kClaim, Codec codec = Codec::kH264);
std::vector<std::string> MergeArgs(const std::string& list_path, const std::string& output,
                                   OutputName name = OutputName::kClaim);

// The concat list: one line "file 'PATH'" per file, in order. A quote inside a path is
// written '\'' so that the list reads back the same path.
std::string MergeListText(const std::vector<std::string>& paths);
// "YYYYMMDDhhmmss_merge.mp4" of the given local time.
std::string MergeOutputName(const std::tm& local);
// The output of a merge at `local` time in `dir` (ending with a separator or empty):
// MergeOutputName, or "YYYYMMDDhhmmss_merge_N.mp4" with the smallest N >= 1 for which
// `exists` is false when a merge of the same second wrote that name already.
std::string MergeOutputPath(const std::string& dir, const std::tm& local,
                            const std::function<bool(const std::string&)>& exists);

// The converter's progress display, refreshed once a second.
class ProgressClock {
 public:
  void Start(uint32_t now_ms);
  // One refresh with the engine's latest progress (percent).
  void Update(float progress, uint32_t now_ms);
  float progress() const { return progress_; }
  int remaining_seconds() const { return remaining_; }

 private:
  uint32_t start_ = 0;
  float progress_ = 0;
  float last_ = 0;
  int remaining_ = 0;
};

}  // namespace spherolux::convert
