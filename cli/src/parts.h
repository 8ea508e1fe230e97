// One video converted in N parts, each on a machine of its own, then joined by merge.
//
// The parts split a range at frame boundaries: of the F frames whose presentation time lies
// in [start, end), part K (0 <= K < N) holds frames [floor(K*F/N), floor((K+1)*F/N)) in
// presentation order. Part 0 starts where the range starts and the last part ends where it
// ends; every other bound is the presentation time of the part's first frame. Each part is
// an ordinary conversion of its own span: it starts with a key frame, with the encoder
// settings of the whole, and keeps the audio packets that start within its span, so that
// the parts' audio neither overlaps nor leaves gaps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

struct PartSpan {
  double start = 0;    // seconds of the input's timeline
  double end = 0;      // seconds; the part holds frames presented in [start, end)
  int64_t frames = 0;  // frames of the input in the part
};

// Parses "K/N" with 0 <= K < N <= 100000.
bool ParsePart(const std::string& text, int* index, int* count);

// Part `index` of `count` of the frames at `times` (seconds, any order) that lie in
// [start, end). False with *why set when the range holds fewer frames than there are parts.
bool SplitRange(std::vector<double> times, double start, double end, int index, int count, PartSpan* out,
                std::string* why);

// The presentation times in seconds of the frames of the first video track of an MP4 file,
// read from its index. False with *why set when there is none.
bool VideoFrameTimes(const std::string& path, std::vector<double>* times, std::string* why);

// Seconds as the engine's -ss and -t take them, to the microsecond.
std::string FormatSeconds(double seconds);

}  // namespace cli
