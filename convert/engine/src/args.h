// Parsing of the engine's argument vectors into a job description.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace spherolux::convert {

struct EncoderOptions {
  std::string codec = "libx264";  // "-c:v": libx264 (H.264) or libx265 (H.265)
  std::string pix_fmt = "yuv420p";
  int64_t bit_rate = 0;  // bits per second; 0: encoder default
  int fps = 0;           // 0: keep the source rate
  std::string profile;   // empty: encoder default
  std::string preset;    // empty: encoder default
  int refs = -1;         // -1: encoder default
  int bframes = -1;      // -1: encoder default
};

struct Job {
  enum class Kind { kConvert, kMerge } kind = Kind::kConvert;
  bool stitch = false;         // "-d"
  bool copy = false;           // "-c copy"
  bool overwrite = false;      // "-y": a file of the output's name may be replaced
  bool unclaimed = false;      // "-n": the output's name is not taken before the job is done
  bool allow_missing = false;  // "-allow_missing": frames missing from the input do not fail the job
  int report_fd = -1;          // "-progress pipe:FD": where the frame counts go when the job ends
  double start = 0;            // seconds
  double duration = -1;        // seconds; < 0: to the end
  std::string input;           // the video, or the merge list
  std::string output;
  std::string view_path;  // "-reframe FILE": a flat view following the view path in FILE
  int view_width = 0;     // "-s WxH" (with -reframe): the flat view's size, both even
  int view_height = 0;
  EncoderOptions encoder;
};

// Parses a vector; nullopt when it is not one of the accepted forms.
std::optional<Job> ParseJob(const std::vector<std::string>& args);

// "HH:MM:SS[.fff]", "MM:SS" or plain seconds; nullopt for anything else or negatives.
std::optional<double> ParseTime(const std::string& text);

}  // namespace spherolux::convert
