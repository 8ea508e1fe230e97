// spherolux-cli merge: joins stitched MP4 files by stream copy, as the merger does.
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "calib/stitch_state.h"
#include "command.h"
#include "convert/client.h"
#include "convert/job.h"
#include "engine_runner.h"
#include "json.h"

namespace {

namespace fs = std::filesystem;
using namespace spherolux;

int Usage(const char* why) {
  std::fprintf(stderr, "spherolux-cli merge: %s (see spherolux-cli merge --help)\n", why);
  return cli::kExitUsage;
}

// A private folder for the list file: a fixed name in the shared temporary folder could be
// planted or raced by another user or another run.
struct ListFolder {
  std::string path;
  ListFolder() {
    std::string pattern = (fs::temp_directory_path() / "spherolux-merge-XXXXXX").string();
    if (mkdtemp(pattern.data())) path = pattern;
  }
  ~ListFolder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

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

  // Only stitched videos are accepted; the others are refused one by one.
  std::vector<std::string> accepted;
  for (const auto& in : inputs) {
    if (SphericalVideoFlag(in.c_str()) == 1) {
      // The list names files relative to its own folder: give it absolute paths.
      std::error_code ec;
      fs::path abs = fs::absolute(in, ec);
      accepted.push_back(ec ? in : abs.lexically_normal().string());
    } else {
      std::fprintf(stderr, "%s\n%s: %s\n", "This file is not yet stitched, please stitch firstly!", "File Path",
                   in.c_str());
    }
  }
  if (accepted.empty()) return cli::kExitFailure;

  if (output.empty()) {
    std::string dir = output_dir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    output = dir + convert::MergeOutputName(local);
  }

  ListFolder folder;
  if (folder.path.empty()) {
    std::fprintf(stderr, "spherolux-cli merge: cannot create a temporary folder\n");
    return cli::kExitFailure;
  }
  const std::string list = folder.path + "/filelist.txt";
  {
    std::ofstream f(list, std::ios::binary);
    f << convert::MergeListText(accepted);
    if (!f) {
      std::fprintf(stderr, "spherolux-cli merge: cannot write %s\n", list.c_str());
      return cli::kExitFailure;
    }
  }
  const cli::EngineRun run = cli::RunEngineJob(convert::MergeArgs(list, output), 0, 0, true);
  if (!run.loaded) return cli::kExitFailure;
  if (run.stopped && run.result != 0) {
    std::fprintf(stderr, "spherolux-cli merge: stopped\n");
    return 130;
  }
  if (run.result != 0) {
    std::fprintf(stderr, "Merge file failed! (%d: %s)\n", run.result, convert_result_message(run.result));
    return cli::kExitFailure;
  }
  std::fprintf(stderr, "Merge file saved in: %s\n", output.c_str());
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
