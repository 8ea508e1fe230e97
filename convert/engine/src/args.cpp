#include "args.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace spherolux::convert {
namespace {

std::optional<double> ParseNumber(const std::string& s) {
  if (s.empty() || s[0] == '-' || s[0] == '+' || std::isspace(static_cast<unsigned char>(s[0]))) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(s.c_str(), &end);
  if (errno != 0 || end != s.c_str() + s.size() || !std::isfinite(v) || v < 0) return std::nullopt;
  return v;
}

std::optional<int64_t> ParseInt(const std::string& s, int64_t max) {
  auto v = ParseNumber(s);
  if (!v || *v != std::floor(*v) || *v > double(max)) return std::nullopt;
  return static_cast<int64_t>(*v);
}

// "4096k", "10M", "800000".
std::optional<int64_t> ParseBitRate(std::string s) {
  double scale = 1;
  if (!s.empty() && (s.back() == 'k' || s.back() == 'K')) {
    scale = 1000;
    s.pop_back();
  } else if (!s.empty() && s.back() == 'M') {
    scale = 1000000;
    s.pop_back();
  }
  auto v = ParseNumber(s);
  if (!v || *v * scale < 1000 || *v * scale > 1e9) return std::nullopt;
  return static_cast<int64_t>(*v * scale);
}

bool OneOf(const std::string& s, std::initializer_list<const char*> list) {
  for (const char* e : list)
    if (s == e) return true;
  return false;
}

}  // namespace

std::optional<double> ParseTime(const std::string& text) {
  double total = 0;
  size_t start = 0;
  int fields = 0;
  while (true) {
    size_t colon = text.find(':', start);
    std::string part = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    auto v = ParseNumber(part);
    if (!v) return std::nullopt;
    if (colon != std::string::npos && *v != std::floor(*v)) return std::nullopt;  // only seconds have fractions
    if (fields > 0 && *v >= 60) return std::nullopt;
    total = total * 60 + *v;
    if (++fields > 3) return std::nullopt;
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return total;
}

std::optional<Job> ParseJob(const std::vector<std::string>& args) {
  if (args.size() < 4 || args[0] != "ffmpeg") return std::nullopt;
  Job job;
  job.output = args.back();
  if (job.output.empty() || job.output[0] == '-') return std::nullopt;
  bool have_input = false, have_format = false, have_codec_options = false;
  bool seen[18] = {};
  auto once = [&](int slot) {
    if (seen[slot]) return false;
    seen[slot] = true;
    return true;
  };
  const size_t end = args.size() - 1;
  for (size_t i = 1; i < end; ++i) {
    const std::string& a = args[i];
    if (a == "-d") {
      if (!once(0)) return std::nullopt;
      job.stitch = true;
      continue;
    }
    if (a == "-y" || a == "-n") {
      if (!once(12)) return std::nullopt;
      (a == "-y" ? job.overwrite : job.unclaimed) = true;
      continue;
    }
    if (a == "-allow_missing") {
      if (!once(13)) return std::nullopt;
      job.allow_missing = true;
      continue;
    }
    if (i + 1 >= end) return std::nullopt;  // every other option takes a value
    const std::string& v = args[++i];
    if (a == "-i") {
      if (have_input || v.empty()) return std::nullopt;
      have_input = true;
      job.input = v;
    } else if (a == "-ss") {
      auto t = ParseTime(v);
      if (!t || !once(1) || have_input) return std::nullopt;  // input seeking: before -i
      job.start = *t;
    } else if (a == "-t") {
      auto t = ParseTime(v);
      if (!t || *t <= 0 || !once(2)) return std::nullopt;
      job.duration = *t;
    } else if (a == "-f") {
      if (v != "concat" || !once(3) || have_input) return std::nullopt;
      have_format = true;
    } else if (a == "-c") {
      if (v != "copy" || !once(4)) return std::nullopt;
      job.copy = true;
    } else if (a == "-c:v") {
      if (!OneOf(v, {"libx264", "libx265"}) || !once(17)) return std::nullopt;
      job.encoder.codec = v;
      have_codec_options = true;
    } else if (a == "-pix_fmt") {
      if (v != "yuv420p" || !once(5)) return std::nullopt;
      job.encoder.pix_fmt = v;
      have_codec_options = true;
    } else if (a == "-b:v") {
      auto r = ParseBitRate(v);
      if (!r || !once(6)) return std::nullopt;
      job.encoder.bit_rate = *r;
      have_codec_options = true;
    } else if (a == "-r") {
      auto r = ParseInt(v, 240);
      if (!r || *r < 1 || !once(7)) return std::nullopt;
      job.encoder.fps = static_cast<int>(*r);
      have_codec_options = true;
    } else if (a == "-profile:v") {
      if (!OneOf(v, {"baseline", "main", "high"}) || !once(8)) return std::nullopt;
      job.encoder.profile = v;
      have_codec_options = true;
    } else if (a == "-preset") {
      if (!OneOf(v, {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow", "slower", "veryslow"}) ||
          !once(9))
        return std::nullopt;
      job.encoder.preset = v;
      have_codec_options = true;
    } else if (a == "-refs") {
      auto r = ParseInt(v, 16);
      if (!r || *r < 1 || !once(10)) return std::nullopt;
      job.encoder.refs = static_cast<int>(*r);
      have_codec_options = true;
    } else if (a == "-progress") {
      // Only a descriptor the caller holds open: "pipe:FD".
      auto fd = v.starts_with("pipe:") ? ParseInt(v.substr(5), 1 << 20) : std::nullopt;
      if (!fd || !once(14)) return std::nullopt;
      job.report_fd = static_cast<int>(*fd);
    } else if (a == "-reframe") {
      if (v.empty() || !once(15)) return std::nullopt;
      job.view_path = v;
    } else if (a == "-s") {
      const size_t x = v.find('x');
      const auto w = x == std::string::npos ? std::nullopt : ParseInt(v.substr(0, x), 8192);
      const auto h = x == std::string::npos ? std::nullopt : ParseInt(v.substr(x + 1), 8192);
      if (!w || !h || *w < 16 || *h < 16 || *w % 2 != 0 || *h % 2 != 0 || !once(16)) return std::nullopt;
      job.view_width = static_cast<int>(*w);
      job.view_height = static_cast<int>(*h);
    } else if (a == "-bf") {
      auto r = ParseInt(v, 16);
      if (!r || !once(11)) return std::nullopt;
      job.encoder.bframes = static_cast<int>(*r);
      have_codec_options = true;
    } else {
      return std::nullopt;
    }
  }
  if (!have_input) return std::nullopt;
  if (job.copy && have_codec_options) return std::nullopt;
  // H.265 is encoded in its Main profile only: 8-bit 4:2:0.
  if (job.encoder.codec == "libx265" && !job.encoder.profile.empty() && job.encoder.profile != "main")
    return std::nullopt;
  // A flat view is rendered and encoded at its size: never copied, and sized only with it.
  if (seen[15] != seen[16] || (seen[15] && job.copy)) return std::nullopt;
  if (have_format) {
    // The merge vector: ffmpeg -f concat -i LIST -c copy OUTPUT, nothing else.
    if (!job.copy || job.stitch || seen[1] || seen[2]) return std::nullopt;
    job.kind = Job::Kind::kMerge;
  }
  return job;
}

}  // namespace spherolux::convert
