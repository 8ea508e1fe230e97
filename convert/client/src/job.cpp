#include "convert/job.h"

#include <algorithm>
#include <cstdio>

namespace spherolux::convert {

std::string ProposeOutputPath(const std::string& dir, const std::string& name, bool photo,
                              const std::function<bool(const std::string&)>& exists) {
  // Only the extension itself is replaced: the stem keeps any text that equals it
  // ("MOVIE.MOV" stays "MOVIE_spherolux_0.mp4").
  const char* ext = photo ? "jpg" : "mp4";
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  for (int n = 0;; ++n) {
    const std::string suffix = "_spherolux_" + std::to_string(n) + "." + ext;
    // A name the file system would refuse keeps as much of the stem as fits, cut before a
    // UTF-8 continuation byte so that no character is split.
    size_t keep = stem.size();
    if (keep + suffix.size() > kMaxFileNameBytes) {
      keep = kMaxFileNameBytes - suffix.size();
      while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) --keep;
    }
    std::string candidate = dir + stem.substr(0, keep) + suffix;
    if (!exists(candidate) || n == 1000000) return candidate;
  }
}

TrimRange RangeFromPercent(int low, int high, int64_t media_ms) {
  // 64-bit products: a medium of more than 21,474,836 ms would overflow 32 bits.
  TrimRange r;
  r.start_ms = int64_t{low} * media_ms / 100;
  r.duration_ms = int64_t{high - low} * media_ms / 100;
  if (r.duration_ms < 1000) {
    r.start_ms = std::max<int64_t>(r.start_ms - 1000, 0);
    r.duration_ms += 1000;
  }
  return r;
}

std::string FormatClock(int64_t ms) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60));
  return buf;
}

namespace {

// The engine's option for the output name rule, right after "ffmpeg".
void AddOutputNameOption(OutputName name, std::vector<std::string>* args) {
  if (name != OutputName::kClaim) args->insert(args->begin() + 1, name == OutputName::kReplace ? "-y" : "-n");
}

}  // namespace

std::string FormatClockMs(int64_t ms) {
  char buf[24];
  std::snprintf(buf, sizeof buf, ".%03lld", static_cast<long long>(ms % 1000));
  return FormatClock(ms) + buf;
}

const char* H265BitRate(Quality quality) {
  switch (quality) {
    case Quality::kLow:
      return "2048k";
    case Quality::kMedium:
      return "5000k";
    default:
      return "10000k";
  }
}

EngineCall ConversionCall(const std::string& input, const std::string& output, const TrimRange& range, Quality quality,
                          bool copy, OutputName name, Codec codec) {
  EngineCall call;
  call.args = {"ffmpeg", "-d",  "-ss", FormatClockMs(range.start_ms),
               "-i",     input, "-t",  FormatClockMs(range.duration_ms)};
  auto add = [&](std::initializer_list<const char*> list) {
    for (const char* s : list) call.args.emplace_back(s);
  };
  const bool hevc = codec == Codec::kH265 && !copy;
  if (hevc) add({"-c:v", "libx265"});
  // The bit rate of the quality in the chosen codec.
  const auto rate = [&](const char* h264) { return hevc ? H265BitRate(quality) : h264; };
  if (copy) {
    add({"-c", "copy"});
  } else if (quality == Quality::kLow) {
    add({"-pix_fmt", "yuv420p", "-b:v", rate("4096k"), "-r", "15", "-profile:v", "main", "-preset", "veryfast", "-refs",
         "1", "-bf", "0"});
  } else if (quality == Quality::kMedium) {
    add({"-pix_fmt", "yuv420p", "-b:v", rate("10000k"), "-profile:v", "main", "-preset", "veryfast", "-refs", "2",
         "-bf", "1"});
  } else {
    add({"-pix_fmt", "yuv420p", "-b:v", rate("20000k")});
    call.high_flag = 1;
  }
  call.args.push_back(output);
  AddOutputNameOption(name, &call.args);
  return call;
}

EngineCall ReframeCall(const std::string& input, const std::string& output, const TrimRange& range, Quality quality,
                       const std::string& path_file, int width, int height, bool panorama, OutputName name,
                       Codec codec) {
  EngineCall call = ConversionCall(input, output, range, quality, false, name, codec);
  const auto at = std::find(call.args.begin(), call.args.end(), output);
  call.args.insert(at, {"-reframe", path_file, "-s", std::to_string(width) + "x" + std::to_string(height)});
  if (panorama) call.args.erase(std::find(call.args.begin(), call.args.end(), "-d"));
  return call;
}

std::vector<std::string> MergeArgs(const std::string& list_path, const std::string& output, OutputName name) {
  std::vector<std::string> args = {"ffmpeg", "-f", "concat", "-i", list_path, "-c", "copy", output};
  AddOutputNameOption(name, &args);
  return args;
}

std::string MergeListText(const std::vector<std::string>& paths) {
  std::string text;
  for (const auto& p : paths) {
    text += "file '";
    for (char c : p) {
      if (c == '\'')
        text += "'\\''";
      else
        text += c;
    }
    text += "'\n";
  }
  return text;
}

std::string MergeOutputName(const std::tm& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d%02d%02d%02d%02d%02d_merge.mp4", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

std::string MergeOutputPath(const std::string& dir, const std::tm& local,
                            const std::function<bool(const std::string&)>& exists) {
  // The engine replaces an existing output: a second merge within the same second must not
  // take the first one's file.
  const std::string name = MergeOutputName(local);
  std::string candidate = dir + name;
  const std::string stem = name.substr(0, name.size() - 4);
  for (int n = 1; exists(candidate) && n <= 1000000; ++n) candidate = dir + stem + "_" + std::to_string(n) + ".mp4";
  return candidate;
}

void ProgressClock::Start(uint32_t now_ms) {
  start_ = now_ms;
  progress_ = last_ = 0;
  remaining_ = 0;
}

void ProgressClock::Update(float progress, uint32_t now_ms) {
  progress_ = progress;
  if (progress > 0 && (int(last_) != int(progress) || remaining_ == 0)) {
    const int64_t elapsed = int64_t(uint32_t(now_ms - start_) / 1000);
    const int64_t total = int64_t(double(elapsed) * 100 / progress);
    if (total > elapsed) remaining_ = int(total - elapsed);
  } else if (remaining_ > 0) {
    --remaining_;
  }
  last_ = progress;
  if (progress == 100 || progress == 0) remaining_ = 0;
}

}  // namespace spherolux::convert
