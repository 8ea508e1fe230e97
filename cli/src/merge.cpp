// spherolux-cli merge: joins stitched MP4 files by stream copy, as the merger does.
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "convert/client.h"
#include "convert/job.h"
#include "engine_runner.h"
#include "json.h"
#include "ui/strings.h"

namespace {

using namespace spherolux;

int Usage(const char* why) {
  std::fprintf(stderr, "spherolux-cli merge: %s (see spherolux-cli merge --help)\n", why);
  return cli::kExitUsage;
}

int RunMerge(std::span<char* const> args) {
  std::string output, output_dir;
  std::vector<std::string> inputs;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (a == "--output-dir") {
      if (++i >= args.size()) return Usage("--output-dir needs a folder");
      output_dir = args[i];
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else if (output.empty() && output_dir.empty() && inputs.empty()) {
      output = a;
    } else {
      inputs.push_back(a);
    }
  }
  if (!output_dir.empty() && !output.empty()) {
    // With --output-dir every file is an input.
    inputs.insert(inputs.begin(), output);
    output.clear();
  }
  if (inputs.empty()) return Usage("no input files");

  const convert::MergeSelection selection = convert::SelectMergeInputs(inputs);
  for (const auto& in : selection.refused) std::fprintf(stderr, "%s\n", convert::MergeRefusalText(in).c_str());
  const std::vector<std::string>& accepted = selection.accepted;
  if (accepted.empty()) return cli::kExitFailure;

  if (output.empty()) output = convert::DefaultMergeOutputPath(output_dir);

  convert::MergeList list;
  std::string error;
  if (!list.Write(accepted, &error)) {
    std::fprintf(stderr, "spherolux-cli merge: %s\n", error.c_str());
    return cli::kExitFailure;
  }
  convert::EngineCall call;
  call.args = convert::MergeArgs(list.path(), output);
  const cli::EngineRun run = cli::RunEngineJob(call, 0);
  if (!run.loaded) return cli::kExitFailure;
  if (run.stopped && run.result != 0) {
    std::fprintf(stderr, "spherolux-cli merge: stopped\n");
    return 130;
  }
  if (run.result != 0) {
    std::fprintf(stderr, "%s (%d: %s)\n", ui::LoadString(ui::kStrMergeFailed), run.result,
                 convert_result_message(run.result));
    return cli::kExitFailure;
  }
  std::fprintf(stderr, "%s: %s\n", ui::LoadString(ui::kStrMergeSavedIn), output.c_str());
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
    "merge", "OUT IN... | --output-dir DIR IN...",
    "Join stitched MP4 files (spherical-video flag 1) in the given order by stream copy through the\n"
    "conversion engine. With --output-dir the name is YYYYMMDDhhmmss_merge.mp4. Files that are not\n"
    "stitched are refused and left out; files that differ in codec, size, time base or audio fail.",
    RunMerge};

}  // namespace
