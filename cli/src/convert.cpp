// spherolux-cli convert: converts one camera recording the way the converter's job does.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "command.h"
#include "convert/client.h"
#include "convert/job.h"
#include "convert/messages.h"
#include "engine_runner.h"
#include "json.h"
#include "probe/probe.h"

namespace {

namespace fs = std::filesystem;
using namespace spherolux;

bool ParseInt(const char* s, int lo, int hi, int* out) {
  char* end = nullptr;
  long v = std::strtol(s, &end, 10);
  if (!*s || *end || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

int Usage(const char* why) {
  std::fprintf(stderr, "spherolux-cli convert: %s (see spherolux-cli convert --help)\n", why);
  return cli::kExitUsage;
}

int Fail(const std::string& text, int code = cli::kExitFailure) {
  std::fprintf(stderr, "spherolux-cli convert: %s\n", text.c_str());
  return code;
}

// The frame counts the engine writes, when the job ends, to a descriptor of ours
// ("-progress pipe:FD").
class FrameReport {
 public:
  FrameReport() : fd_(memfd_create("spherolux-frames", MFD_CLOEXEC)) {}
  ~FrameReport() {
    if (fd_ >= 0) close(fd_);
  }
  FrameReport(const FrameReport&) = delete;
  FrameReport& operator=(const FrameReport&) = delete;

  // Asks the engine for the counts (when the descriptor could be made).
  void AddTo(convert::EngineCall* call) const {
    if (fd_ >= 0) call->args.insert(call->args.begin() + 1, {"-progress", "pipe:" + std::to_string(fd_)});
  }
  // False when the engine wrote none (it never read the input, or the index is unknown).
  bool Read(long long* expected, long long* converted) const {
    char text[128] = {};
    if (fd_ < 0 || pread(fd_, text, sizeof text - 1, 0) <= 0) return false;
    return std::sscanf(text, "frames_expected=%lld\nframes_converted=%lld", expected, converted) == 2 && *expected >= 0;
  }

 private:
  int fd_;
};

// Photos go through the stitch subcommand, as the converter sends them to the photo pipeline.
int ConvertPhoto(const std::string& input, const std::string& output, const std::string& output_dir, int rotation,
                 convert::Quality quality, bool overwrite) {
  const char* q = quality == convert::Quality::kLow ? "low" : quality == convert::Quality::kHigh ? "high" : "medium";
  std::vector<std::string> owned = {"--rotation", std::to_string(rotation), "--quality", q};
  if (!output_dir.empty()) owned.insert(owned.end(), {"--output-dir", output_dir});
  if (overwrite) owned.push_back("--overwrite");
  owned.insert(owned.end(), {"--", input});
  if (!output.empty()) owned.push_back(output);
  std::vector<char*> args;
  for (auto& s : owned) args.push_back(s.data());
  for (const auto& c : cli::Registry())
    if (c.name == "stitch") return c.run(std::span<char* const>(args.data(), args.size()));
  return cli::kExitFailure;  // not reached: the stitch subcommand is always registered
}

int RunConvert(std::span<char* const> args) {
  std::string input, output, output_dir;
  int low = 0, high = 100, rotation = 0;
  bool overwrite = false, allow_missing = false;
  convert::Quality quality = convert::Quality::kMedium;
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (!options_ended && a == "--") {
      options_ended = true;
    } else if (options_ended || a.size() < 2 || a[0] != '-') {
      if (input.empty())
        input = a;
      else if (output.empty())
        output = a;
      else
        return Usage("too many files");
    } else if (a == "--range") {
      if (i + 2 >= args.size() || !ParseInt(args[i + 1], 0, 100, &low) || !ParseInt(args[i + 2], 0, 100, &high) ||
          low >= high)
        return Usage("--range needs LOW < HIGH, whole percent from 0 to 100");
      i += 2;
    } else if (a == "--quality") {
      if (++i >= args.size()) return Usage("--quality needs low, medium or high");
      const std::string q = args[i];
      if (q == "low")
        quality = convert::Quality::kLow;
      else if (q == "medium")
        quality = convert::Quality::kMedium;
      else if (q == "high")
        quality = convert::Quality::kHigh;
      else
        return Usage("--quality needs low, medium or high");
    } else if (a == "--rotation") {
      if (++i >= args.size() || !ParseInt(args[i], 0, 270, &rotation) || rotation % 90 != 0)
        return Usage("--rotation needs 0, 90, 180 or 270");
    } else if (a == "--output-dir") {
      if (++i >= args.size()) return Usage("--output-dir needs a folder");
      output_dir = args[i];
    } else if (a == "--overwrite") {
      overwrite = true;
    } else if (a == "--allow-missing") {
      allow_missing = true;
    } else {
      return Usage(("unknown option " + a).c_str());
    }
  }
  if (input.empty()) return Usage("no input file");
  if (!output.empty() && !output_dir.empty()) return Usage("give OUT or --output-dir, not both");
  std::error_code ec;
  if (!output_dir.empty() && !fs::is_directory(output_dir, ec))
    return Usage("--output-dir must name an existing folder");

  if (MediaKindOfPath(input) == MediaKind::kPhoto)
    return ConvertPhoto(input, output, output_dir, rotation, quality, overwrite);

  // Qualification: a camera recording with usable calibration, or one the camera stitched.
  const convert::InputCheck check = convert::CheckConversionInput(input);
  if (check.problem != convert::Cause::kNone)
    return Fail(input + ": " + convert::CauseText(check.problem), cli::kExitUnreadable);
  if (check.verdict != kQualified) return Fail(convert::RefusalText(check));
  if (check.length_ms <= 0) return Fail("cannot read the length of " + input, cli::kExitUnreadable);
  const bool named = !output.empty();
  if (named) {
    if (const std::string why = cli::OutputRefusal(output, {input}, false, overwrite); !why.empty()) return Fail(why);
  }
  const convert::TrimRange range = convert::RangeFromPercent(low, high, check.length_ms);
  cli::EngineRun run;
  // Only a job that has read the input reports its frames: a refused name does not.
  const FrameReport report;
  // A name the program picked may be claimed by another run before this one starts: the
  // engine then refuses it untouched, and the next free name is tried.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (!named) output = convert::DefaultOutputPath(input, output_dir, false);
    convert::EngineCall call =
        convert::ConversionCall(input, output, range, quality, check.copy, convert::OutputNameFor(named, overwrite));
    report.AddTo(&call);
    if (allow_missing) call.args.insert(call.args.begin() + 1, "-allow_missing");
    run = cli::RunEngineJob(call, rotation);
    if (named || run.stopped || run.result != CONVERT_ERR_OUTPUT_EXISTS) break;
  }
  long long expected = -1, converted = -1;
  const bool counted = report.Read(&expected, &converted);
  // What a damaged input still holds.
  const std::string frames =
      std::to_string(converted) + " of " + std::to_string(expected) + " frames of the range could be converted";
  if (!run.loaded) return cli::kExitFailure;
  // A stopped job leaves nothing of its own behind, and touches nothing else.
  if (run.stopped && run.result != 0) {
    std::fprintf(stderr, "spherolux-cli convert: stopped\n");
    return cli::SignalExitCode(run.signal);
  }
  if (run.result != 0) {
    std::fprintf(stderr, "%s\n", convert::VideoFailureText(run.result).c_str());
    if (counted && expected - converted > 1)
      std::fprintf(stderr, "spherolux-cli convert: %s; --allow-missing converts what is there\n", frames.c_str());
    return cli::kExitFailure;
  }
  if (counted && expected - converted > 1)
    std::fprintf(stderr, "spherolux-cli convert: warning: %lld frames of the range are missing from the input; %s\n",
                 expected - converted, frames.c_str());
  if (run.stopped) std::fprintf(stderr, "spherolux-cli convert: stopped after the job had finished\n");
  cli::JsonWriter w;
  w.BeginObject();
  w.Key("input");
  w.String(input);
  w.Key("output");
  w.String(output);
  w.Key("start");
  w.String(convert::FormatClockMs(range.start_ms));
  w.Key("duration");
  w.String(convert::FormatClockMs(range.duration_ms));
  w.Key("copy");
  w.Bool(check.copy);
  if (counted) {
    w.Key("frames_expected");
    w.Int(expected);
    w.Key("frames_converted");
    w.Int(converted);
  }
  w.Key("result");
  w.Int(run.result);
  w.EndObject();
  std::puts(w.str().c_str());
  return cli::kExitOk;
}

const cli::Registration kConvert{
    "convert",
    "IN [OUT] [--range LOW HIGH] [--quality low|medium|high] [--rotation 0|90|180|270] [--output-dir DIR] "
    "[--overwrite] [--allow-missing]",
    "Stitch a camera video into an equirectangular MP4 through the conversion engine (libconvert.so):\n"
    "the range in whole percent of the length, quality Medium by default; recordings the camera\n"
    "stitched itself are copied. OUT defaults to NAME_spherolux_N.mp4 in --output-dir or the input's\n"
    "folder (a free name, taken at once); an existing OUT is replaced only with --overwrite, and\n"
    "never an input. Progress and time left on stderr; Ctrl-C or SIGTERM stops (exit 130 or 143)\n"
    "and leaves no file. Photos (.jpg, .bmp) go to the stitch subcommand.\n"
    "A damaged input fails: one whose media data ends before the range does, or of whose frames\n"
    "in the range (by its index) more than one is missing or cannot be decoded. --allow-missing\n"
    "converts what is there and warns how many frames are missing. The JSON result gives\n"
    "frames_expected (the range's frames by the index) and frames_converted.",
    RunConvert};

}  // namespace
