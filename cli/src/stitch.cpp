// spherolux-cli stitch: camera photos to panorama JPEGs through the photo pipeline.
//   spherolux-cli stitch IN.jpg [OUT.jpg] [--rotation 0|90|180|270] [--quality low|medium|high]
//   spherolux-cli stitch --output-dir DIR IN.jpg...
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "command.h"
#include "convert/client.h"
#include "photo/stitch_photo.h"

namespace {

namespace fs = std::filesystem;
using spherolux::convert::DefaultOutputPath;

int Usage(const char* why) {
  std::fprintf(stderr,
               "spherolux-cli stitch: %s (usage: spherolux-cli stitch IN.jpg [OUT.jpg] [--rotation 0|90|180|270] "
               "[--quality low|medium|high], or --output-dir DIR IN.jpg...)\n",
               why);
  return cli::kExitUsage;
}

int RunStitch(std::span<char* const> args) {
  std::vector<std::string> inputs;
  std::string output_dir;
  int rotation = 0, quality = 1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (a == "--rotation") {
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
    } else if (!a.empty() && a[0] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else {
      inputs.push_back(a);
    }
  }
  if (inputs.empty()) return Usage("no photo given");
  std::vector<std::pair<std::string, std::string>> jobs;  // input, output
  if (output_dir.empty()) {
    if (inputs.size() > 2) return Usage("one photo and at most one output name (or use --output-dir)");
    jobs.emplace_back(inputs[0], inputs.size() == 2 ? inputs[1] : DefaultOutputPath(inputs[0], "", true));
  } else {
    std::error_code ec;
    if (!fs::is_directory(output_dir, ec)) return Usage("--output-dir must name an existing folder");
    for (const std::string& in : inputs) jobs.emplace_back(in, std::string());
  }
  int failed = 0;
  for (size_t i = 0; i < jobs.size(); ++i) {
    auto& [in, out] = jobs[i];
    if (out.empty()) out = DefaultOutputPath(in, output_dir, true);
    if (jobs.size() > 1) std::fprintf(stderr, "[%zu/%zu] %s\n", i + 1, jobs.size(), in.c_str());
    const int rc = spherolux::StitchPhoto(in.c_str(), out.c_str(), rotation, false, quality);
    if (rc == spherolux::kPhotoOk) {
      std::printf("%s\n", out.c_str());
      std::fflush(stdout);
    } else {
      std::fprintf(stderr, "spherolux-cli stitch: %s: %s (code %d / 0x%X)\n", in.c_str(),
                   spherolux::PhotoResultMessage(rc), rc, rc);
      ++failed;
    }
  }
  return failed == 0 ? cli::kExitOk : cli::kExitFailure;
}

const cli::Registration kStitch{
    "stitch", "IN.jpg [OUT.jpg] [--rotation 0|90|180|270] [--quality low|medium|high] | --output-dir DIR IN.jpg...",
    "Stitch camera photos into equirectangular panorama JPEGs (quality low 90, medium 99, high 100).\n"
    "Without OUT the name is IN's stem with _spherolux_N.jpg beside it (N the first free number);\n"
    "prints each output path; exit 1 when any photo failed.",
    RunStitch};

}  // namespace
