// spherolux-cli merge: joins stitched MP4 files by stream copy, as the merger does.
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "convert/client.h"
#include "convert/job.h"
#include "convert/messages.h"
#include "engine_runner.h"
#include "json.h"
#include "ui/strings.h"

namespace {

using namespace spherolux;

int Usage(const char* why) {
  std::fprintf(stderr, "spherolux-cli merge: %s (see spherolux-cli merge --help)\n", why);
  return cli::kExitUsage;
}

int Fail(const std::string& text) {
  std::fprintf(stderr, "spherolux-cli merge: %s\n", text.c_str());
  return cli::kExitFailure;
}

int RunMerge(std::span<char* const> args) {
  std::string output, output_dir;
  std::vector<std::string> inputs;
  bool overwrite = false;
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (!options_ended && a == "--") {
      options_ended = true;
    } else if (options_ended || a.size() < 2 || a[0] != '-') {
      if (output.empty() && output_dir.empty() && inputs.empty())
        output = a;
      else
        inputs.push_back(a);
    } else if (a == "--output-dir") {
      if (++i >= args.size()) return Usage("--output-dir needs a folder");
      output_dir = args[i];
    } else if (a == "--overwrite") {
      overwrite = true;
    } else {
      return Usage(("unknown option " + a).c_str());
    }
  }
  if (!output_dir.empty() && !output.empty()) {
    // With --output-dir every file is an input.
    inputs.insert(inputs.begin(), output);
    output.clear();
  }
  if (inputs.empty()) return Usage("no input files");
  if (!output.empty()) {
    // An existing first file is an input whose OUT was forgotten: it is not overwritten.
    if (const std::string why = cli::OutputRefusal(output, inputs, false, overwrite); !why.empty()) return Fail(why);
  }
  // Files that cannot be read are refused before anything opens them (a pipe would block).
  std::vector<std::string> readable;
  for (const auto& in : inputs) {
    const convert::Cause problem = convert::CauseOfInputFile(in);
    if (problem == convert::Cause::kNone)
      readable.push_back(in);
    else
      std::fprintf(stderr, "%s: %s\n", in.c_str(), convert::CauseText(problem, cli::kLanguage));
  }

  const convert::MergeSelection selection = convert::SelectMergeInputs(readable);
  for (const auto& in : selection.refused)
    std::fprintf(stderr, "%s\n", convert::MergeRefusalText(in, cli::kLanguage).c_str());
  const std::vector<std::string>& accepted = selection.accepted;
  if (accepted.empty()) return cli::kExitFailure;

  convert::MergeList list;
  std::string error;
  if (!list.Write(accepted, &error)) return Fail(error);
  const bool named = !output.empty();
  cli::EngineRun run;
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (!named) output = convert::DefaultMergeOutputPath(output_dir);
    convert::EngineCall call;
    call.args = convert::MergeArgs(list.path(), output, convert::OutputNameFor(named, overwrite));
    run = cli::RunEngineJob(call, 0);
    if (named || run.stopped || run.result != CONVERT_ERR_OUTPUT_EXISTS) break;
  }
  if (!run.loaded) return cli::kExitFailure;
  if (run.stopped && run.result != 0) {
    std::fprintf(stderr, "spherolux-cli merge: stopped\n");
    return cli::SignalExitCode(run.signal);
  }
  if (run.result != 0) {
    std::fprintf(stderr, "%s\n", convert::MergeFailureText(run.result, cli::kLanguage).c_str());
    return cli::kExitFailure;
  }
  std::fprintf(stderr, "%s: %s\n", ui::LoadString(ui::kStrMergeSavedIn, cli::kLanguage), output.c_str());
  cli::JsonWriter w;
  w.BeginObject();
  w.Key("output");
  w.String(output);
  w.Key("inputs");
  w.BeginArray();
  for (const auto& in : accepted) w.String(in);
  w.EndArray();
  w.Key("result");
  w.Int(run.result);
  w.EndObject();
  std::puts(w.str().c_str());
  return cli::kExitOk;
}

const cli::Registration kMerge{
    "merge", "OUT IN... | --output-dir DIR IN... [--overwrite]",
    "Join stitched MP4 files (spherical-video flag 1) in the given order by stream copy through the\n"
    "conversion engine. With --output-dir the name is YYYYMMDDhhmmss_merge.mp4 (or _merge_N.mp4 when\n"
    "taken). An existing OUT is replaced only with --overwrite, never an input. Files that are not\n"
    "stitched are refused and left out; files of different codecs (H.264 and H.265), or that differ\n"
    "in codec setup, size, time base or audio, fail.\n"
    "Ctrl-C or SIGTERM stops (exit 130 or 143) and leaves no file.",
    RunMerge};

}  // namespace
