// Finishing a recording: the movie box written from the records of its samples.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "side_file.h"

namespace spherolux::mp4 {

inline constexpr uint32_t kMovieTimescale = 1000;
inline constexpr uint64_t kMdatHeaderSize = 16;  // 32-bit size 1, 'mdat', 64-bit size

// What the samples kept of a recording tell of one of its tracks.
struct TrackSummary {
  SideTrack track;
  uint64_t count = 0;
  int64_t first_dts = 0;
  int64_t last_dts = 0;
  int64_t last_delta = 0;     // between the last two samples
  int64_t last_duration = 0;  // the last sample's own duration, 0 unknown
  uint32_t max_size = 0;
  uint64_t bytes = 0;
  bool all_sync = true;
  bool any_cts = false;
  bool negative_cts = false;

  // Time from the first sample's start to the last one's end, in track ticks.
  int64_t MediaDuration() const {
    const int64_t last = last_duration > 0 ? last_duration : (last_delta > 0 ? last_delta : 1);
    return last_dts - first_dts + last;
  }
  uint32_t timescale() const { return track.description.timescale; }
  // Media duration in the movie's time scale, of the part shown from time 0 on.
  uint64_t ShownDuration() const {
    const double ms =
        static_cast<double>(MediaDuration() + std::min<int64_t>(first_dts, 0)) * kMovieTimescale / timescale();
    return ms > 0 ? static_cast<uint64_t>(std::llround(ms)) : 0;
  }
  uint64_t PresentationEnd() const { return ShownDuration() + (first_dts > 0 ? ToMovie(first_dts) : 0); }
  uint64_t ToMovie(int64_t ticks) const {
    return static_cast<uint64_t>(std::llround(static_cast<double>(ticks) * kMovieTimescale / timescale()));
  }
  uint32_t AverageBitRate() const {
    const double seconds = static_cast<double>(MediaDuration()) / timescale();
    return seconds > 0 ? static_cast<uint32_t>(std::min(4e9, static_cast<double>(bytes) * 8 / seconds)) : 0;
  }
};

// The head, the last state of every track, and the samples kept, in file order.
struct SideScan {
  SideHead head;
  std::map<uint32_t, TrackSummary> tracks;
  uint64_t samples = 0;   // samples kept
  uint64_t data_end = 0;  // end of the last kept sample's data

  // Keeps `s` when its track is known, its data lies after the last kept sample's and
  // within `file_size`, and its decode time does not go back; false (nothing changed)
  // otherwise.
  bool Add(const SideSample& s, uint64_t file_size);
};

// Visits the kept samples in file order, once per call.
using SampleVisitor = std::function<void(const std::function<void(const SideSample&)>&)>;

// Writes the 'moov' box for `scan` at scan.data_end of `fd`; *end is where it ends.
bool WriteMovie(int fd, const SideScan& scan, const SampleVisitor& samples, uint64_t* end);

// Rewrites the finished file at `path` with 'moov' before 'mdat', through a temporary file
// that replaces it only when complete.
Mp4Status MoveMovieFirst(const std::string& path);

// Completes an MP4 file laid out by the writer (mp4/writer.h) from the records `side`
// yields: samples whose data is not wholly in the file, and every record after the first
// such sample, are left out. The 'mdat' size is set, the file is cut after the last kept
// sample and 'moov' is written there (or, with the head's movie-first setting, the file is
// rewritten with 'moov' before 'mdat'). `mp4_fd` is the open file (read-write), or -1 to
// open `mp4_path`, or the path in the side file's head when that is empty.
Mp4Status FinishFromSide(SideFileReader& side, int mp4_fd, const std::string& mp4_path, uint64_t* samples_kept);

}  // namespace spherolux::mp4
