// spherolux-cli convert: converts one camera recording the way the converter's job does.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "command.h"
#include "convert/client.h"
#include "convert/job.h"
#include "engine_runner.h"
#include "json.h"
#include "probe/probe.h"
#include "ui/strings.h"

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

int RunConvert(std::span<char* const> args) {
  std::string input, output, output_dir;
  int low = 0, high = 100, rotation = 0;
  convert::Quality quality = convert::Quality::kMedium;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (a == "--range") {
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
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else if (input.empty()) {
      input = a;
    } else if (output.empty()) {
      output = a;
    } else {
      return Usage("too many files");
    }
  }
  if (input.empty()) return Usage("no input file");
  if (!output.empty() && !output_dir.empty()) return Usage("give OUT or --output-dir, not both");

  // Photos go through the photo pipeline, as the converter sends them.
  if (MediaKindOfPath(input) == MediaKind::kPhoto) {
    for (const auto& c : cli::Registry()) {
      if (c.name != "stitch") continue;
      const std::string out = output.empty() ? convert::DefaultOutputPath(input, output_dir, true) : output;
      std::string rot = std::to_string(rotation);
      const char* q = quality == convert::Quality::kLow    ? "low"
                      : quality == convert::Quality::kHigh ? "high"
                                                           : "medium";
      std::vector<std::string> owned = {input, out, "--rotation", rot, "--quality", std::string(q)};
      std::vector<char*> stitch_args;
      for (auto& s : owned) stitch_args.push_back(s.data());
      return c.run(std::span<char* const>(stitch_args.data(), stitch_args.size()));
    }
    return cli::kExitFailure;  // not reached: the stitch subcommand is always registered
  }

  // Qualification: a camera recording with usable calibration, or one the camera stitched.
  const convert::InputCheck check = convert::CheckConversionInput(input);
  if (check.verdict != kQualified) {
    std::error_code ec;
    if (!fs::exists(input, ec)) {
      std::fprintf(stderr, "spherolux-cli convert: cannot open %s\n", input.c_str());
      return cli::kExitUnreadable;
    }
    std::fprintf(stderr, "%s\n", ui::LoadString(check.verdict));
    return cli::kExitFailure;
  }
  if (check.length_ms <= 0) {
    std::fprintf(stderr, "spherolux-cli convert: cannot read the length of %s\n", input.c_str());
    return cli::kExitUnreadable;
  }
  const convert::TrimRange range = convert::RangeFromPercent(low, high, check.length_ms);
  if (output.empty()) output = convert::DefaultOutputPath(input, output_dir, false);
  const convert::EngineCall call = convert::ConversionCall(input, output, range, quality, check.copy);
  const cli::EngineRun run = cli::RunEngineJob(call, rotation);
  if (!run.loaded) return cli::kExitFailure;
  // A stopped job leaves nothing of its own behind; a file already at OUT is not its to remove.
  if (run.stopped) {
    std::fprintf(stderr, "spherolux-cli convert: stopped%s\n", run.result == 0 ? " after the job had finished" : "");
    if (run.result != 0) return 130;
  }
  if (run.result == CONVERT_ERR_CREATE_OUTPUT) {
    std::fprintf(stderr, "%s\n", ui::LoadString(ui::kStrCreateOutputFailed));
    return cli::kExitFailure;
  }
  if (run.result != 0) {
    std::fprintf(stderr, "%s(errno=%d): %s\n", ui::LoadString(ui::kStrOpenConverter), run.result,
                 convert_result_message(run.result));
    return cli::kExitFailure;
  }
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
  w.Key("result");
  w.Int(run.result);
  w.EndObject();
  std::puts(w.str().c_str());
  return cli::kExitOk;
}

const cli::Registration kConvert{
    "convert", "IN [OUT] [--range LOW HIGH] [--quality low|medium|high] [--rotation 0|90|180|270] [--output-dir DIR]",
    "Stitch a camera video into an equirectangular MP4 through the conversion engine (libconvert.so):\n"
    "the range in whole percent of the length, quality Medium by default; recordings the camera\n"
    "stitched itself are copied. OUT defaults to NAME_spherolux_N.mp4 in --output-dir or the input's\n"
    "folder. Progress and time left on stderr; Ctrl-C stops and leaves no file. Photos (.jpg, .bmp)\n"
    "go to the stitch subcommand.",
    RunConvert};

}  // namespace
