// Writing an MP4 file sample by sample, safe against a crash at any moment.
//
//   std::unique_ptr<Mp4Writer> out;
//   Mp4Writer::Create("rec.mp4", "headerinfo.dat", &out);
//   int video;
//   out->AddTrack(description, &video);
//   out->SetHandlerName(video, "Core Media");
//   out->SetDecoderConfig(video, sps_pps);
//   out->WriteSample(video, data, record);      // as often as needed
//   out->Finish();                              // the file is complete, the side file gone
//
// Layout. The file is 'ftyp', one 'mdat' with a 64-bit size (so media data may pass 4 GiB;
// chunk offsets become 'co64' when they do), then 'moov' (ISO/IEC 14496-12, 8.1-8.7). Sample
// data goes straight to the file; nothing of the sample tables is kept in memory. Each
// sample's place, size, times and sync flag are appended to the side file instead, together
// with every track's description, handler name, settings and decoder configuration. Both
// files are written through to the operating system after every sample and synchronised to
// the disk every few seconds, so a killed process loses nothing written, and a power loss at
// most the last seconds.
//
// Every second the writer also lays a copy of the head, every track's state and the records
// of the samples since the last copy into the media data, after the last sample (an index
// copy: bytes inside 'mdat' that no sample table points at, so players never see them).
//
// Finishing reads the side file back and writes the movie box from it, table by table, then
// removes the side file. A recording whose writer never finished (killed, power lost) is
// recovered by RecoverMp4 from its side file and the index copies together, so that a side
// file cut short, damaged or lost costs at most the last second.
//
// Side file: records of [u32 length][u32 kind][payload][u32 CRC-32 of kind and payload], all
// big-endian. The first record ('head') names the MP4 file (absolute path), where its 'mdat'
// starts and the file settings; 'trak' records hold a track's full state (re-sent whenever
// it changes; the last one counts); 'smpl' records one sample each (track, file offset,
// size, decode time and duration in the track's ticks, composition offset, sync flag).
// Readers step over bytes that are no intact record (cut short, failing the CRC) to the
// next intact one. Index copies are runs of the same records.
//
// One writer per thread. A writer holds an exclusive lock on its side file while it lives.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "mp4/track.h"

namespace spherolux::mp4 {

class Mp4Writer {
 public:
  // Creates (truncates) `path` and the side file `side_path`. kBusy when another live
  // writer holds that side file; kCannotCreate when either file cannot be made (neither is
  // left behind).
  static Mp4Status Create(const std::string& path, const std::string& side_path, std::unique_ptr<Mp4Writer>* out);
  // Without Finish the files stay as they are: RecoverMp4 completes them later.
  virtual ~Mp4Writer() = default;

  // A new track from a description (handler and codec needed; for 'avc1' also width and
  // height, for 'mp4a' channels and sample rate). Its number goes to *track (0, 1, ...).
  // The time scale is the description's, else 90000 for video and the sample rate for
  // sound, else 1000.
  virtual Mp4Status AddTrack(const TrackDescription& description, int* track) = 0;
  // The name in the track's 'hdlr' box (at most 255 bytes kept).
  virtual Mp4Status SetHandlerName(int track, std::string_view name) = 0;
  // 'avc1': an 'avcC' record, or for an Annex B track the bytes holding its SPS and PPS
  // NAL units with their start codes, turned into an 'avcC' record (ISO/IEC 14496-15,
  // 5.3.3.1). 'mp4a': the AudioSpecificConfig placed in the 'esds' box. Setting the same
  // bytes again is a no-op; other bytes after the track's first sample are kBadArgument.
  virtual Mp4Status SetDecoderConfig(int track, std::span<const uint8_t> config) = 0;
  // kTrackSettingFlags, kTrackSettingChunkSamples (track.h); kBadArgument for others.
  virtual Mp4Status SetTrackSetting(int track, int setting, int64_t value) = 0;
  // kFileSettingMovieFirst.
  virtual Mp4Status SetFileSetting(int setting, int64_t value) = 0;

  // Appends one sample of `data` (record.size is ignored: the span's size counts). An
  // Annex B 'avc1' track's data is stored with lengths instead of start codes. Decode times
  // must not go backwards within a track (kBadArgument). On kWriteFailed the sample is not
  // part of the file and later samples may still succeed.
  virtual Mp4Status WriteSample(int track, std::span<const uint8_t> data, const SampleRecord& record) = 0;

  // Writes the movie box, closes the file and deletes the side file. On failure the side
  // file is kept so that RecoverMp4 can try again; kFileGone when the path no longer names
  // the file written. Later calls return the first result.
  virtual Mp4Status Finish() = 0;
};

// What a recovery kept of a recording, and what it could not.
struct RecoveryReport {
  std::string output;            // the file written (empty when none was)
  bool replaced = false;         // it took the recording's own name; the side file is gone
  uint64_t samples = 0;          // samples kept, all tracks
  uint64_t video_frames = 0;     // of them, pictures
  double seconds = 0;            // the recovered file's duration
  uint64_t from_media_data = 0;  // samples known only from the index copies
  uint64_t side_damaged_bytes = 0;
  uint64_t lost_bytes = 0;  // media data before the last kept sample that no sample keeps
  uint64_t tail_bytes = 0;  // media data after it (a sample being written, or what the
                            // records of the last second did not describe)
};

struct RecoveryOptions {
  bool only_if_whole = false;  // write nothing unless the result can replace the recording
};

// Makes a playable MP4 of an unfinished recording from its side file `side_path` (empty
// when it is lost) and the index copies in its media data, and never changes the recording
// itself. The recording is `mp4_path`, or the file the side file names when that is empty
// (a moved recording needs its path). The finished file is written beside the recording
// and checked by reading it back; when it holds every sample the recording holds (nothing
// lost but a sample cut short at its end) it takes the recording's name and the side file
// is deleted; otherwise it becomes "NAME_recovered.mp4" (or "NAME_recovered_N.mp4") and both
// files stay as they were. With options.only_if_whole, such a partial recovery writes
// nothing and answers kDamaged. *report, when given, says what was kept and lost.
// kCannotOpen: a file cannot be opened; kBusy: its writer still runs; kDamaged: no 'mdat'
// where the records say, or not one sample to keep; kCannotCreate or kWriteFailed: the new
// file could not be written (nothing changed).
Mp4Status RecoverMp4(const std::string& side_path, const std::string& mp4_path = {}, RecoveryReport* report = nullptr,
                     const RecoveryOptions& options = {});

// The MP4 file a side file belongs to (from its header), or empty.
std::string SideFileTarget(const std::string& side_path);

// The usual name of a side file: kSideFileName in the recording's folder, or, when another
// recording there holds that one, the recording's own name followed by kSideFileSuffix.
inline constexpr const char* kSideFileName = "headerinfo.dat";
inline constexpr const char* kSideFileSuffix = ".headerinfo.dat";
// The side file of `mp4_path` under either usual name (one whose head names that file), or
// empty when it has none.
std::string FindSideFile(const std::string& mp4_path);

}  // namespace spherolux::mp4
