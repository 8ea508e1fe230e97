#include "parts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "mp4/reader.h"

namespace cli {
namespace {

// The engine counts a frame within this distance of a bound as inside: it rounds
// timestamps to their stream's time base. The split uses the same rule.
constexpr double kTimeEpsilon = 1e-4;

}  // namespace

bool ParsePart(const std::string& text, int* index, int* count) {
  const size_t slash = text.find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == text.size()) return false;
  const std::string k = text.substr(0, slash), n = text.substr(slash + 1);
  if (k.find_first_not_of("0123456789") != std::string::npos ||
      n.find_first_not_of("0123456789") != std::string::npos || k.size() > 6 || n.size() > 6)
    return false;
  const long kv = std::strtol(k.c_str(), nullptr, 10), nv = std::strtol(n.c_str(), nullptr, 10);
  if (nv < 1 || nv > 100000 || kv >= nv) return false;
  *index = static_cast<int>(kv);
  *count = static_cast<int>(nv);
  return true;
}

bool SplitRange(std::vector<double> times, double start, double end, int index, int count, PartSpan* out,
                std::string* why) {
  std::erase_if(times, [&](double t) { return t < start - kTimeEpsilon || t >= end - kTimeEpsilon; });
  std::sort(times.begin(), times.end());
  const auto frames = static_cast<int64_t>(times.size());
  if (frames < count) {
    *why = "the range holds " + std::to_string(frames) + " frames, fewer than the " + std::to_string(count) + " parts";
    return false;
  }
  const int64_t first = index * frames / count, next = (index + 1) * frames / count;
  out->frames = next - first;
  out->start = index == 0 ? start : times[static_cast<size_t>(first)];
  out->end = index + 1 == count ? end : times[static_cast<size_t>(next)];
  return true;
}

bool VideoFrameTimes(const std::string& path, std::vector<double>* times, std::string* why) {
  std::unique_ptr<spherolux::mp4::Mp4Reader> reader;
  if (spherolux::mp4::Mp4Reader::Open(path, &reader) != spherolux::mp4::Mp4Status::kOk) {
    *why = path + ": the frame index cannot be read (parts need an MP4 file)";
    return false;
  }
  for (int t = 0; t < reader->track_count(); ++t) {
    if (reader->description(t).handler != spherolux::mp4::kHandlerVideo) continue;
    times->clear();
    for (double ms : reader->PresentationTimes(t)) times->push_back(ms / 1000);
    return true;
  }
  *why = path + ": no video track in the frame index";
  return false;
}

std::string FormatSeconds(double seconds) {
  char text[40];
  std::snprintf(text, sizeof text, "%.6f", std::max(seconds, 0.0));
  return text;
}

}  // namespace cli
