// spherolux-cli convert: converts camera recordings the way the converter's jobs do.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
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
#include "parts.h"
#include "probe/probe.h"
#include "reframe/view_path.h"

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

int Usage(const char* command, const char* why) {
  std::fprintf(stderr, "spherolux-cli %s: %s (see spherolux-cli %s --help)\n", command, why, command);
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

// The options every file of a run shares.
struct ConvertOptions {
  int low = 0, high = 100, rotation = 0;
  bool overwrite = false, allow_missing = false;
  convert::Quality quality = convert::Quality::kMedium;
  convert::Codec codec = convert::Codec::kH264;
  std::string output_dir;
  bool queue = false;  // several files: a failed one gets its JSON result too
  // reframe: a flat video along the view path in this file, at this size.
  std::string view_path;
  int view_width = 1920, view_height = 1080;
  // --part K/N: the part of the range this run converts (parts == 0: the whole range).
  int part = 0, parts = 0;
};

// What one file's job ended with; kExitOk when it succeeded.
struct FileEnd {
  int exit_code = cli::kExitOk;
};

void PrintResult(const std::string& input, const std::string& output, const convert::TrimRange* range, bool copy,
                 const FrameReport* report, int result, const std::string& error, const std::string& part = "") {
  long long expected = -1, converted = -1;
  const bool counted = report != nullptr && report->Read(&expected, &converted);
  cli::JsonWriter w;
  w.BeginObject();
  w.Key("input");
  w.String(input);
  w.Key("output");
  w.String(output);
  if (range != nullptr) {
    w.Key("start");
    w.String(convert::FormatClockMs(range->start_ms));
    w.Key("duration");
    w.String(convert::FormatClockMs(range->duration_ms));
    w.Key("copy");
    w.Bool(copy);
  }
  if (!part.empty()) {
    w.Key("part");
    w.String(part);
  }
  if (counted) {
    w.Key("frames_expected");
    w.Int(expected);
    w.Key("frames_converted");
    w.Int(converted);
  }
  w.Key("result");
  w.Int(result);
  if (!error.empty()) {
    w.Key("error");
    w.String(error);
  }
  w.EndObject();
  std::puts(w.str().c_str());
}

// One file's failure before its job could start: the message, and its JSON result in a queue.
int FailFile(const ConvertOptions& o, const std::string& input, const std::string& why, int code, int result) {
  Fail(why, code);
  if (o.queue) PrintResult(input, "", nullptr, false, nullptr, result, why);
  return code;
}

// The job of one video, or its failure (*exit_code set) when it cannot start.
bool VideoItem(const ConvertOptions& o, const std::string& input, const std::string& named, cli::QueueItem* item,
               FileEnd* end) {
  // Qualification: a camera recording with usable calibration, or one the camera stitched.
  const convert::InputCheck check = convert::CheckConversionInput(input);
  if (check.problem != convert::Cause::kNone) {
    end->exit_code =
        FailFile(o, input, input + ": " + convert::CauseText(check.problem, cli::kLanguage), cli::kExitUnreadable, -1);
    return false;
  }
  // A flat view is also cut out of a panorama stitched earlier, straight from its picture.
  const bool reframe = !o.view_path.empty();
  const bool panorama = reframe && check.verdict != kQualified && StitchedTest(input.c_str(), MediaKind::kVideo) == 1;
  if (check.verdict != kQualified && !panorama) {
    end->exit_code = FailFile(o, input, convert::RefusalText(check, cli::kLanguage), cli::kExitFailure, -1);
    return false;
  }
  if (check.length_ms <= 0) {
    end->exit_code = FailFile(o, input, "cannot read the length of " + input, cli::kExitUnreadable, -1);
    return false;
  }
  if (!named.empty()) {
    if (const std::string why = cli::OutputRefusal(named, {input}, false, o.overwrite); !why.empty()) {
      end->exit_code = FailFile(o, input, why, cli::kExitFailure, -1);
      return false;
    }
  }
  convert::TrimRange range = convert::RangeFromPercent(o.low, o.high, check.length_ms);
  cli::PartSpan span;
  std::string part;
  if (o.parts > 0) {
    part = std::to_string(o.part) + "/" + std::to_string(o.parts);
    std::string why;
    std::vector<double> times;
    if (check.copy) {
      why = input + ": the recording is copied, not encoded, and is not split into parts";
    } else if (cli::VideoFrameTimes(input, &times, &why)) {
      cli::SplitRange(std::move(times), double(range.start_ms) / 1000,
                      double(range.start_ms + range.duration_ms) / 1000, o.part, o.parts, &span, &why);
    }
    if (!why.empty()) {
      end->exit_code = FailFile(o, input, why, cli::kExitFailure, -1);
      return false;
    }
    // What the JSON result shows; the engine gets the bounds to the microsecond.
    range = {std::llround(span.start * 1000), std::llround((span.end - span.start) * 1000)};
  }
  // Only a job that has read the input reports its frames: a refused name does not.
  auto report = std::make_shared<const FrameReport>();
  item->job.input = input;
  item->job.output = named;
  item->job.output_dir = o.output_dir;
  item->job.rotation = o.rotation;
  item->job.call = [=](const std::string& output) {
    const convert::OutputName name = convert::OutputNameFor(!named.empty(), o.overwrite);
    convert::EngineCall call =
        reframe ? convert::ReframeCall(input, output, range, o.quality, o.view_path, o.view_width, o.view_height,
                                       panorama, name, o.codec)
                : convert::ConversionCall(input, output, range, o.quality, check.copy, name, o.codec);
    if (o.parts > 0) {
      *(std::find(call.args.begin(), call.args.end(), "-ss") + 1) = cli::FormatSeconds(span.start);
      *(std::find(call.args.begin(), call.args.end(), "-t") + 1) = cli::FormatSeconds(span.end - span.start);
    }
    report->AddTo(&call);
    if (o.allow_missing) call.args.insert(call.args.begin() + 1, "-allow_missing");
    return call;
  };
  item->ended = [=](const convert::ServiceResult& r) {
    long long expected = -1, converted = -1;
    const bool counted = report->Read(&expected, &converted);
    // What a damaged input still holds.
    const std::string frames =
        std::to_string(converted) + " of " + std::to_string(expected) + " frames of the range could be converted";
    // A stopped job leaves nothing of its own behind, and touches nothing else.
    if (r.stopped) {
      end->exit_code = cli::kExitFailure;
      return;
    }
    if (r.result != 0) {
      const std::string text = convert::VideoFailureText(r.result, cli::kLanguage);
      std::fprintf(stderr, "%s\n", text.c_str());
      if (counted && expected - converted > 1)
        std::fprintf(stderr, "spherolux-cli convert: %s; --allow-missing converts what is there\n", frames.c_str());
      if (o.queue) PrintResult(input, r.output, &range, check.copy, report.get(), r.result, text);
      end->exit_code = cli::kExitFailure;
      return;
    }
    if (counted && expected - converted > 1)
      std::fprintf(stderr, "spherolux-cli convert: warning: %lld frames of the range are missing from the input; %s\n",
                   expected - converted, frames.c_str());
    // A part that does not hold its frames would join into a wrong whole: it is not kept.
    if (o.parts > 0 && !o.allow_missing && (!counted || converted != span.frames)) {
      std::error_code ignored;
      fs::remove(r.output, ignored);
      Fail("part " + part + " holds " + std::to_string(converted) + " frames instead of " +
           std::to_string(span.frames) + "; the frame index of " + input + " does not match its frames");
      end->exit_code = cli::kExitFailure;
      return;
    }
    PrintResult(input, r.output, &range, check.copy, report.get(), r.result, "", part);
  };
  return true;
}

// The job of one photo in a queue, qualified as the stitch subcommand qualifies it.
bool PhotoItem(const ConvertOptions& o, const std::string& input, cli::QueueItem* item, FileEnd* end) {
  const convert::InputCheck check = convert::CheckConversionInput(input);
  if (check.problem != convert::Cause::kNone || check.verdict != kQualified) {
    const bool unreadable = check.problem != convert::Cause::kNone;
    end->exit_code = FailFile(o, input, input + ": " + convert::RefusalText(check, cli::kLanguage),
                              unreadable ? cli::kExitUnreadable : cli::kExitFailure, -1);
    return false;
  }
  item->job.kind = convert::ServiceJob::Kind::kPhoto;
  item->job.input = input;
  item->job.output_dir = o.output_dir;
  item->job.rotation = o.rotation;
  item->job.quality = static_cast<int>(o.quality);
  item->ended = [=](const convert::ServiceResult& r) {
    const std::string text = r.result != 0 ? convert::PhotoFailureText(r.result, cli::kLanguage) : std::string();
    if (r.stopped) {
      end->exit_code = cli::kExitFailure;
      return;
    }
    if (!text.empty()) {
      std::fprintf(stderr, "spherolux-cli convert: %s: %s\n", input.c_str(), text.c_str());
      end->exit_code = cli::kExitFailure;
    }
    PrintResult(input, r.output, nullptr, false, nullptr, r.result, text);
  };
  return true;
}

// convert, or with `reframe` the reframe subcommand.
int RunJobs(std::span<char* const> args, bool reframe) {
  const char* command = reframe ? "reframe" : "convert";
  std::vector<std::string> files;
  ConvertOptions o;
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string a = args[i];
    if (!options_ended && a == "--") {
      options_ended = true;
    } else if (options_ended || a.size() < 2 || a[0] != '-') {
      files.push_back(a);
    } else if (a == "--range") {
      if (i + 2 >= args.size() || !ParseInt(args[i + 1], 0, 100, &o.low) || !ParseInt(args[i + 2], 0, 100, &o.high) ||
          o.low >= o.high)
        return Usage(command, "--range needs LOW < HIGH, whole percent from 0 to 100");
      i += 2;
    } else if (a == "--quality") {
      if (++i >= args.size()) return Usage(command, "--quality needs low, medium or high");
      const std::string q = args[i];
      if (q == "low")
        o.quality = convert::Quality::kLow;
      else if (q == "medium")
        o.quality = convert::Quality::kMedium;
      else if (q == "high")
        o.quality = convert::Quality::kHigh;
      else
        return Usage(command, "--quality needs low, medium or high");
    } else if (a == "--codec") {
      const std::string c = ++i < args.size() ? args[i] : "";
      if (c != "h264" && c != "h265") return Usage(command, "--codec needs h264 or h265");
      o.codec = c == "h265" ? convert::Codec::kH265 : convert::Codec::kH264;
    } else if (a == "--rotation") {
      if (++i >= args.size() || !ParseInt(args[i], 0, 270, &o.rotation) || o.rotation % 90 != 0)
        return Usage(command, "--rotation needs 0, 90, 180 or 270");
    } else if (a == "--output-dir") {
      if (++i >= args.size()) return Usage(command, "--output-dir needs a folder");
      o.output_dir = args[i];
    } else if (a == "--overwrite") {
      o.overwrite = true;
    } else if (a == "--allow-missing") {
      o.allow_missing = true;
    } else if (!reframe && a == "--part") {
      if (++i >= args.size() || !cli::ParsePart(args[i], &o.part, &o.parts))
        return Usage(command, "--part needs K/N, a whole K from 0 to N - 1");
    } else if (reframe && a == "--path") {
      if (++i >= args.size()) return Usage(command, "--path needs a view path file");
      o.view_path = args[i];
    } else if (reframe && a == "--size") {
      if (++i >= args.size() || std::sscanf(args[i], "%dx%d", &o.view_width, &o.view_height) != 2 ||
          o.view_width < 16 || o.view_height < 16 || o.view_width > 8192 || o.view_height > 8192 ||
          o.view_width % 2 != 0 || o.view_height % 2 != 0)
        return Usage(command, "--size needs WxH, both even, from 16 to 8192");
    } else {
      return Usage(command, ("unknown option " + a).c_str());
    }
  }
  if (files.empty()) return Usage(command, "no input file");
  // IN [OUT], or with --output-dir any number of inputs.
  std::string output;
  if (o.output_dir.empty()) {
    if (files.size() > 2) return Usage(command, "several inputs need --output-dir");
    if (files.size() == 2) output = files[1];
    files.resize(1);
  }
  std::error_code ec;
  if (!o.output_dir.empty() && !fs::is_directory(o.output_dir, ec))
    return Usage(command, "--output-dir must name an existing folder");

  if (reframe) {
    if (o.view_path.empty()) return Usage(command, "reframe needs --path FILE");
    // The path's mistakes are said here, with their line, before any job starts.
    std::string error;
    reframe::ViewPath path;
    if (!reframe::ViewPath::ReadFile(o.view_path, &path, &error)) return Fail(o.view_path + ": " + error);
    for (const std::string& file : files)
      if (MediaKindOfPath(file) == MediaKind::kPhoto) return Usage(command, "reframe takes videos, not photos");
  }
  const std::string& input = files.front();
  if (o.parts > 0) {
    if (files.size() > 1) return Usage(command, "--part takes one input");
    if (MediaKindOfPath(input) == MediaKind::kPhoto) return Usage(command, "--part takes a video, not a photo");
    // A fixed output frame rate picks frames by their time from the start of each part.
    if (o.quality == convert::Quality::kLow) return Usage(command, "--part needs --quality medium or high");
  }
  if (files.size() == 1 && MediaKindOfPath(input) == MediaKind::kPhoto)
    return ConvertPhoto(input, output, o.output_dir, o.rotation, o.quality, o.overwrite);

  o.queue = files.size() > 1;
  // The ends are written by the jobs' callbacks, which all return before RunQueue does.
  std::vector<FileEnd> ends(files.size());
  std::vector<cli::QueueItem> items;
  for (size_t i = 0; i < files.size(); ++i) {
    cli::QueueItem item;
    const bool ready = MediaKindOfPath(files[i]) == MediaKind::kPhoto ? PhotoItem(o, files[i], &item, &ends[i])
                                                                      : VideoItem(o, files[i], output, &item, &ends[i]);
    item.label = cli::QueueLabel(i, files.size(), files[i]);
    if (ready) items.push_back(std::move(item));
  }
  cli::QueueRun run;
  if (!items.empty()) {
    run = cli::RunQueue(std::move(items));
    if (!run.loaded) return cli::kExitFailure;
  }
  if (run.stopped) {
    // A single job the stop reached only after it had finished keeps its file.
    if (!o.queue && ends[0].exit_code == cli::kExitOk) {
      std::fprintf(stderr, "spherolux-cli convert: stopped after the job had finished\n");
      return cli::kExitOk;
    }
    std::fprintf(stderr, "spherolux-cli convert: stopped\n");
    return cli::SignalExitCode(run.signal);
  }
  if (!o.queue) return ends[0].exit_code;
  for (const FileEnd& end : ends)
    if (end.exit_code != cli::kExitOk) return cli::kExitFailure;
  return cli::kExitOk;
}

int RunConvert(std::span<char* const> args) { return RunJobs(args, false); }
int RunReframe(std::span<char* const> args) { return RunJobs(args, true); }

const cli::Registration kConvert{
    "convert",
    "IN [OUT] | --output-dir DIR IN... [--range LOW HIGH] [--quality low|medium|high] [--codec h264|h265] "
    "[--rotation 0|90|180|270] [--overwrite] [--allow-missing] [--part K/N]",
    "Stitch a camera video into an equirectangular MP4 through the conversion engine (libconvert.so):\n"
    "the range in whole percent of the length, quality Medium by default, H.264 unless --codec h265\n"
    "asks for H.265 (about half the size for the same picture; what phones and TVs decode above\n"
    "4096 pixels wide); recordings the camera stitched itself are copied. OUT defaults to\n"
    "NAME_spherolux_N.mp4 in --output-dir or the input's folder (a free name, taken at once); an\n"
    "existing OUT is replaced only with --overwrite, and never an input. Progress and time left on\n"
    "stderr; Ctrl-C or SIGTERM stops (exit 130 or 143) and leaves no file. Photos (.jpg, .bmp) go\n"
    "to the stitch subcommand.\n"
    "A damaged input fails: one whose media data ends before the range does, or of whose frames\n"
    "in the range (by its index) more than one is missing or cannot be decoded. --allow-missing\n"
    "converts what is there and warns how many frames are missing. The JSON result gives\n"
    "frames_expected (the range's frames by the index) and frames_converted.\n"
    "With --output-dir any number of videos and photos run one after another in the given order:\n"
    "one progress line per file on stderr, one JSON result per file on stdout (a failed file's\n"
    "with its error), exit 1 when any failed; Ctrl-C stops the running one, leaves nothing of it\n"
    "and starts no other.\n"
    "--part K/N converts part K (from 0) of N of one video, for machines that share the work: of\n"
    "the range's F frames, part K holds frames floor(K*F/N) to floor((K+1)*F/N) - 1, starts with a\n"
    "key frame and keeps the audio that starts in its span; merge OUT PART0 ... PARTN-1 joins the\n"
    "parts into the file the whole conversion would have made (Medium or High quality; recordings\n"
    "the camera stitched are not split).",
    RunConvert};

const cli::Registration kReframe{
    "reframe",
    "IN [OUT] --path PATH.json [--size WxH] | --output-dir DIR IN... [--range LOW HIGH] [--quality low|medium|high] "
    "[--codec h264|h265] [--overwrite] [--allow-missing]",
    "Cut a flat video (1920x1080 unless --size says otherwise; both sides even) out of a camera\n"
    "video or a panorama stitched earlier, the view following the path in PATH.json: keyframes\n"
    "{\"keyframes\": [{\"t\": 0, \"yaw\": 30, \"pitch\": 10, \"roll\": 0, \"fov\": 90}, ...]} with t in\n"
    "seconds from the start of the range, yaw to the right, pitch up, roll clockwise, fov the\n"
    "horizontal field of view, all in degrees; the view moves smoothly between them and holds\n"
    "outside them. A mistake in the file is named with its line. Range, quality, codec, names,\n"
    "progress, the queue and stopping as for convert; the output carries no spherical metadata.",
    RunReframe};

}  // namespace
