// Helpers shared by the recorder's tests: source clips, and what ffprobe, ffmpeg and our
// reader find in a recording.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mp4/reader.h"

namespace spherolux::record {

// A folder under $TMPDIR removed with everything in it when the object goes.
struct TempDir {
  TempDir();
  ~TempDir();
  std::string path;
};

// A clip of `seconds` at `fps` frames per second, 320 x 160, H.264 with AAC sound or without.
bool MakeClip(const std::string& path, double seconds, int fps, bool audio);

// One sample read back, with its record.
struct ReadSample {
  std::vector<uint8_t> data;
  mp4::SampleRecord rec;
};
std::vector<ReadSample> ReadTrack(mp4::Mp4Reader& reader, int track);
int FindTrack(const mp4::Mp4Reader& reader, uint32_t handler);

// "codec_name,width,height" per stream, one line each, as ffprobe reports them.
std::string ProbeStreams(const std::string& path);
// Frames ffmpeg decodes from the video, and whether it reported any error doing so.
int DecodedVideoFrames(const std::string& path, bool* errors);
// Frame `index` of the video decoded to packed RGB 24.
std::vector<uint8_t> DecodeFrameRgb(const std::string& path, int index, int* width, int* height);

}  // namespace spherolux::record
