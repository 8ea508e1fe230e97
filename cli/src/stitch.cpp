// spherolux-cli stitch: camera photos to panorama JPEGs through the photo pipeline.
//   spherolux-cli stitch IN.jpg [OUT.jpg] [--rotation 0|90|180|270] [--quality low|medium|high] [--overwrite]
//   spherolux-cli stitch --output-dir DIR IN.jpg...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "command.h"
#include "convert/client.h"
#include "convert/messages.h"
#include "engine_runner.h"
#include "json.h"
#include "photo/stitch_photo.h"

namespace {

namespace fs = std::filesystem;
using namespace spherolux;

int Usage(const char* why) {
  std::fprintf(stderr,
               "spherolux-cli stitch: %s (usage: spherolux-cli stitch IN.jpg [OUT.jpg] [--rotation 0|90|180|270] "
               "[--quality low|medium|high] [--overwrite], or --output-dir DIR IN.jpg...)\n",
               why);
  return cli::kExitUsage;
}

// One photo, qualified as the converter qualifies it, as a job to `out` (or to the first
// free name when `out` is empty); false with *exit_code set when it cannot start. When it
// ends it prints the output path (`json`: a JSON result, a failed photo's too), or why it
// failed.
bool StitchItem(const std::string& in, const std::string& out, const std::string& output_dir, int rotation, int quality,
                bool overwrite, bool json, cli::QueueItem* item, int* exit_code) {
  auto fail = [=](const std::string& why, int code = cli::kExitFailure) {
    std::fprintf(stderr, "spherolux-cli stitch: %s: %s\n", in.c_str(), why.c_str());
    if (json) {
      cli::JsonWriter w;
      w.BeginObject();
      w.Key("input");
      w.String(in);
      w.Key("result");
      w.Int(code == cli::kExitOk ? 0 : -1);
      w.Key("error");
      w.String(why);
      w.EndObject();
      std::puts(w.str().c_str());
    }
    *exit_code = code;
    return false;
  };
  const convert::InputCheck check = convert::CheckConversionInput(in);
  if (check.problem != convert::Cause::kNone)
    return fail(convert::CauseText(check.problem, cli::kLanguage), cli::kExitUnreadable);
  if (check.verdict != kQualified) return fail(convert::RefusalText(check, cli::kLanguage));
  if (!out.empty()) {
    if (const std::string why = cli::OutputRefusal(out, {in}, true, overwrite); !why.empty()) return fail(why);
  }
  item->job.kind = convert::ServiceJob::Kind::kPhoto;
  item->job.input = in;
  item->job.output = out;
  item->job.output_dir = output_dir;
  item->job.rotation = rotation;
  item->job.quality = quality;
  item->job.overwrite = overwrite;
  item->ended = [=](const convert::ServiceResult& r) {
    if (r.stopped) {
      *exit_code = cli::kExitFailure;
      return;
    }
    if (r.result != kPhotoOk) {
      fail(convert::PhotoFailureText(r.result, cli::kLanguage));
      return;
    }
    if (!json) {
      std::printf("%s\n", r.output.c_str());
      return;
    }
    cli::JsonWriter w;
    w.BeginObject();
    w.Key("input");
    w.String(in);
    w.Key("output");
    w.String(r.output);
    w.Key("result");
    w.Int(0);
    w.EndObject();
    std::puts(w.str().c_str());
  };
  return true;
}

int RunStitch(std::span<char* const> args) {
  std::vector<std::string> inputs;
  std::string output_dir;
  int rotation = 0, quality = 1;
  bool overwrite = false;
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (!options_ended && a == "--") {
      options_ended = true;
    } else if (options_ended || a.empty() || a[0] != '-') {
      inputs.push_back(a);
    } else if (a == "--rotation") {
      if (++i >= args.size()) return Usage("--rotation needs 0, 90, 180 or 270");
      const std::string r = args[i];
      if (r != "0" && r != "90" && r != "180" && r != "270") return Usage("--rotation needs 0, 90, 180 or 270");
      rotation = std::atoi(r.c_str());
    } else if (a == "--quality") {
      if (++i >= args.size()) return Usage("--quality needs low, medium or high");
      const std::string q = args[i];
      if (q == "low") {
        quality = 0;
      } else if (q == "medium") {
        quality = 1;
      } else if (q == "high") {
        quality = 2;
      } else {
        return Usage("--quality needs low, medium or high");
      }
    } else if (a == "--output-dir") {
      if (++i >= args.size()) return Usage("--output-dir needs a folder");
      output_dir = args[i];
    } else if (a == "--overwrite") {
      overwrite = true;
    } else {
      return Usage(("unknown option " + a).c_str());
    }
  }
  if (inputs.empty()) return Usage("no photo given");
  std::vector<std::pair<std::string, std::string>> jobs;  // input, output (empty: the first free name)
  if (output_dir.empty()) {
    if (inputs.size() > 2) return Usage("one photo and at most one output name (or use --output-dir)");
    jobs.emplace_back(inputs[0], inputs.size() == 2 ? inputs[1] : std::string());
  } else {
    std::error_code ec;
    if (!fs::is_directory(output_dir, ec)) return Usage("--output-dir must name an existing folder");
    for (const std::string& in : inputs) jobs.emplace_back(in, std::string());
  }
  // Ctrl-C or SIGTERM while a photo is stitched: its temporary and claimed name go.
  std::vector<int> codes(jobs.size(), cli::kExitOk);
  std::vector<cli::QueueItem> items;
  const bool json = jobs.size() > 1;
  for (size_t i = 0; i < jobs.size(); ++i) {
    cli::QueueItem item;
    item.label = cli::QueueLabel(i, jobs.size(), jobs[i].first);
    if (StitchItem(jobs[i].first, jobs[i].second, output_dir, rotation, quality, overwrite, json, &item, &codes[i]))
      items.push_back(std::move(item));
  }
  if (!items.empty()) {
    const cli::QueueRun run = cli::RunQueue(std::move(items));
    if (!run.loaded) return cli::kExitFailure;
    if (run.stopped) return cli::SignalExitCode(run.signal);
  }
  if (jobs.size() == 1) return codes[0];
  for (int code : codes)
    if (code != cli::kExitOk) return cli::kExitFailure;
  return cli::kExitOk;
}

const cli::Registration kStitch{
    "stitch",
    "IN.jpg [OUT.jpg] [--rotation 0|90|180|270] [--quality low|medium|high] [--overwrite] | --output-dir DIR "
    "IN.jpg...",
    "Stitch camera photos into equirectangular panorama JPEGs (quality low 90, medium 99, high 100).\n"
    "Photos are qualified as the converter qualifies them: one without usable calibration or one\n"
    "already stitched is refused. Without OUT the name is IN's stem with _spherolux_N.jpg beside it\n"
    "(N the first free number, taken at once); an existing OUT is replaced only with --overwrite,\n"
    "never the photo itself. Prints the output path; with several photos (--output-dir) they run one\n"
    "after another with one progress line each on stderr and one JSON result each on stdout (a\n"
    "failed photo's with its error). Exit 1 when any photo failed, 130 or 143 when stopped by\n"
    "Ctrl-C or SIGTERM (nothing of the photo being stitched is left, no other starts).",
    RunStitch};

}  // namespace
