// What the track reader (mp4/reader.h) and the track writer (mp4/writer.h) exchange: result
// codes, the description record of a track, and the record of one sample.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace spherolux::mp4 {

enum class Mp4Status {
  kOk = 0,
  kCannotOpen,      // the file cannot be opened or read
  kNotMp4,          // no movie box with tracks in it
  kCannotCreate,    // an output or side file cannot be created
  kWriteFailed,     // writing failed (disk full, file gone); what was written before stays recoverable
  kBadArgument,     // unknown track, bad setting, a call out of order (a caller's error)
  kBufferTooSmall,  // ReadSample: the sample needs SampleRecord::size bytes; nothing was consumed
  kEndOfTrack,      // ReadSample: no sample left
  kDamaged,         // a sample lies outside the file, or the side file holds no usable header
  kBusy,            // the side file belongs to a writer that is still running
  kFileGone,        // the file was deleted or replaced while it was written
};

const char* StatusText(Mp4Status status);

inline constexpr uint32_t kHandlerVideo = FourCC("vide");
inline constexpr uint32_t kHandlerSound = FourCC("soun");
inline constexpr uint32_t kCodecAvc = FourCC("avc1");
inline constexpr uint32_t kCodecAac = FourCC("mp4a");

// A track as the reader describes it and the writer creates it from. Fields that do not
// apply to a track's kind are 0.
struct TrackDescription {
  uint32_t handler = 0;    // kHandlerVideo, kHandlerSound, or another 'hdlr' handler type
  uint32_t codec = 0;      // four-character code of the sample entry: 'avc1', 'mp4a', ...
  uint32_t timescale = 0;  // ticks per second of the media; the writer picks one when 0
  double duration_ms = 0;  // reader: the media's duration
  uint32_t bit_rate = 0;   // bits per second (average when read)
  uint32_t max_sample_size = 0;
  // Video.
  uint16_t width = 0;
  uint16_t height = 0;
  double frame_rate = 0;  // reader: samples per second of media time
  // Sound.
  uint16_t channels = 0;
  uint16_t sample_bits = 0;
  uint32_t sample_rate = 0;
  uint8_t object_type = 0;  // MPEG-4 objectTypeIndication of an 'mp4a' entry (0x40 AAC)
  // The writer takes the samples and decoder configuration of an 'avc1' track with this set
  // as an Annex B byte stream (start codes, as H.264 encoders emit it) and stores them the
  // way ISO/IEC 14496-15 asks: the parameter sets as an 'avcC' record, each NAL unit behind
  // a 4-byte length.
  bool annex_b = false;
  // Reader: the sample entry (ISO/IEC 14496-12, 8.5.2) as stored, header included. The
  // writer copies it unchanged for codecs it cannot build an entry for itself (anything
  // but 'avc1' and 'mp4a'), so any sound track can be passed through.
  std::vector<uint8_t> sample_entry;
};

// One sample. Times are in milliseconds, kept fractional so that a sound track's times
// survive the trip through milliseconds exactly (1024 samples at 48 kHz are 21.333 ms).
struct SampleRecord {
  uint32_t size = 0;          // bytes of sample data
  double decode_ms = 0;       // decode time; the writer's first sample of a track sets 0
  double composition_ms = 0;  // presentation time
  double duration_ms = 0;     // 0: the writer takes the time to the next sample
  uint32_t reserved1 = 0;
  bool sync = false;  // a sample a decoder can start at (key frame)
  uint32_t reserved2 = 0;
};

// Settings of a track (Mp4Writer::SetTrackSetting).
// 109: the track header's flags (ISO/IEC 14496-12, 8.3.2): 1 enabled, 2 in movie, 4 in
//      preview. Default 3.
// 202: samples per chunk at most; 0 no limit. Default 0. A chunk is a run of samples of one
//      track stored back to back; fewer samples per chunk let a player interleave sooner.
inline constexpr int kTrackSettingFlags = 109;
inline constexpr int kTrackSettingChunkSamples = 202;
// Settings of the file (Mp4Writer::SetFileSetting).
// 203: where finishing puts the movie box: 0 after the media data (default; finishing
//      writes only the movie box), 1 before it ("fast start" for progressive playback;
//      finishing then rewrites the whole file once).
inline constexpr int kFileSettingMovieFirst = 203;

}  // namespace spherolux::mp4
