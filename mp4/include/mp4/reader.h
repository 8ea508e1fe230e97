// Reading the tracks and samples of an MP4 file (ISO/IEC 14496-12 sample tables).
//
//   std::unique_ptr<Mp4Reader> in;
//   if (Mp4Reader::Open(path, &in) != Mp4Status::kOk) ...;
//   for (int t = 0; t < in->track_count(); ++t)
//     if (in->description(t).handler == kHandlerSound) ...;
//   double reached;
//   in->SeekToTime(t, 20000, &reached);         // the sample at or before 20 s
//   SampleRecord rec;
//   while (in->ReadSample(t, buf.data(), buf.size(), &rec) == Mp4Status::kOk) ...;
//
// The movie box is read whole at Open (it holds the sample tables); sample data is read
// from the file on each ReadSample. Tracks whose tables are damaged or inconsistent are
// left out; samples whose data lies outside the file are never read. Times are
// presentation times in milliseconds: the track's edit list (8.6.6) shifts its media time.
//
// One reader per thread; it keeps the file open until destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "mp4/track.h"

namespace spherolux::mp4 {

class Mp4Reader {
 public:
  // kCannotOpen, kNotMp4 (no box structure, or no usable track), or kOk with *out set.
  static Mp4Status Open(const std::string& path, std::unique_ptr<Mp4Reader>* out);
  virtual ~Mp4Reader() = default;

  virtual int track_count() const = 0;
  // The track's description; the decoder configuration is the body of its 'avcC' (H.264),
  // 'hvcC', 'vpcC' or 'av1C' box, or an 'mp4a' entry's AudioSpecificConfig; empty when the
  // entry has none. Track numbers out of range give an empty description.
  virtual const TrackDescription& description(int track) const = 0;
  virtual std::span<const uint8_t> decoder_config(int track) const = 0;
  virtual uint32_t sample_count(int track) const = 0;
  // The presentation times (ms) of the track's samples in decoding order, from the sample
  // tables alone: no sample data is read. Empty for a track number out of range.
  virtual std::vector<double> PresentationTimes(int track) const = 0;

  // Moves the track's read position to its last sample starting at or before `ms` (its
  // first sample when `ms` lies before it) and reports that sample's time in *reached_ms.
  // Past the end: kEndOfTrack, the position at the end.
  virtual Mp4Status SeekToTime(int track, double ms, double* reached_ms) = 0;
  // As SeekToTime, then back to the nearest sample a decoder can start at (a key frame):
  // the last sync sample starting at or before `ms` (the first sample when none does).
  virtual Mp4Status SeekToSyncBefore(int track, double ms, double* reached_ms) = 0;
  // Reads the sample at the track's read position into `buffer` and advances. A buffer
  // smaller than the sample gives kBufferTooSmall with rec->size set to the bytes needed
  // and the position unchanged. kEndOfTrack after the last sample; kCannotOpen when the
  // file cannot be read there.
  virtual Mp4Status ReadSample(int track, uint8_t* buffer, size_t capacity, SampleRecord* rec) = 0;
};

}  // namespace spherolux::mp4
