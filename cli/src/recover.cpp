// spherolux-cli recover: finishes a screen recording whose writer was killed or lost power.
//   spherolux-cli recover FILE [--side SIDEFILE]
#include <cstdio>
#include <string>
#include <utility>

#include "command.h"
#include "json.h"
#include "mp4/writer.h"

namespace {

int Usage(const char* why) {
  std::fprintf(stderr, "spherolux-cli recover: %s (usage: spherolux-cli recover FILE [--side SIDEFILE])\n", why);
  return cli::kExitUsage;
}

int RunRecover(std::span<char* const> args) {
  using namespace spherolux::mp4;
  std::string file, side;
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (!options_ended && a == "--") {
      options_ended = true;
    } else if (options_ended || a.size() < 2 || a[0] != '-') {
      if (!file.empty()) return Usage("one file at a time");
      file = a;
    } else if (a == "--side") {
      if (++i >= args.size()) return Usage("--side needs a file");
      side = args[i];
    } else {
      return Usage(("unknown option " + a).c_str());
    }
  }
  if (file.empty()) return Usage("no file");
  // Both files are read; neither may be a pipe, which would block whoever opens it. They are
  // looked at before and after the side file is resolved from the recording or back.
  auto unreadable = [](const std::string& path) {
    const std::string why = path.empty() ? std::string() : cli::UnreadableReason(path);
    if (!why.empty()) std::fprintf(stderr, "spherolux-cli recover: cannot read %s: %s\n", path.c_str(), why.c_str());
    return !why.empty();
  };
  if (unreadable(file) || unreadable(side)) return cli::kExitUnreadable;
  // FILE may name the side file itself.
  if (side.empty() && !SideFileTarget(file).empty()) {
    side = file;
    file = SideFileTarget(side);
  }
  if (side.empty()) side = FindSideFile(file);
  if (unreadable(file) || unreadable(side)) return cli::kExitUnreadable;
  if (side.empty())
    std::fprintf(stderr,
                 "spherolux-cli recover: %s has no side file (%s or %s%s beside it); recovering from the index "
                 "copies in its media data\n",
                 file.c_str(), kSideFileName, file.c_str(), kSideFileSuffix);
  RecoveryReport report;
  const Mp4Status status = RecoverMp4(side, file, &report);
  if (status != Mp4Status::kOk) {
    std::fprintf(stderr, "spherolux-cli recover: %s: %s%s; the recording and its side file are unchanged\n",
                 file.c_str(), StatusText(status), status == Mp4Status::kDamaged ? " (nothing to recover)" : "");
    return status == Mp4Status::kCannotOpen ? cli::kExitUnreadable : cli::kExitFailure;
  }
  if (report.replaced) {
    std::fprintf(stderr, "spherolux-cli recover: %s finished: %.3f s, nothing lost\n", file.c_str(), report.seconds);
  } else {
    std::fprintf(stderr,
                 "spherolux-cli recover: %s recovered in part into %s: %.3f s kept; %llu bytes of media data could "
                 "not be placed; the recording and its side file are unchanged\n",
                 file.c_str(), report.output.c_str(), report.seconds,
                 static_cast<unsigned long long>(report.lost_bytes + report.tail_bytes));
  }
  cli::JsonWriter w;
  w.BeginObject();
  w.Key("file");
  w.String(file);
  w.Key("output");
  w.String(report.output);
  w.Key("replaced");
  w.Bool(report.replaced);
  w.Key("samples");
  w.Int(static_cast<int64_t>(report.samples));
  w.Key("video_frames");
  w.Int(static_cast<int64_t>(report.video_frames));
  w.Key("seconds");
  w.Float(static_cast<float>(report.seconds));
  const std::pair<const char*, uint64_t> counts[] = {{"from_media_data", report.from_media_data},
                                                     {"side_file_damaged_bytes", report.side_damaged_bytes},
                                                     {"lost_bytes", report.lost_bytes},
                                                     {"tail_bytes", report.tail_bytes}};
  for (const auto& [key, value] : counts) {
    w.Key(key);
    w.Int(static_cast<int64_t>(value));
  }
  w.EndObject();
  std::puts(w.str().c_str());
  return cli::kExitOk;
}

const cli::Registration kRecover{"recover", "FILE [--side SIDEFILE]",
                                 "Finish a screen recording cut short by a crash or power loss into a playable MP4,\n"
                                 "from the side file the recording left beside it and the index copies in its media\n"
                                 "data (enough without the side file). The recording is never changed: a recovery\n"
                                 "that keeps every frame takes its name, any other is written beside it as\n"
                                 "NAME_recovered.mp4. Prints what was kept and lost.",
                                 RunRecover};

}  // namespace
