#include "record_test_util.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "camgen/camgen.h"
#include "testsupport/testsupport.h"

namespace spherolux::record {

TempDir::TempDir() : path(camgen::MakeTempDir("record_test")) {}
TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

bool MakeClip(const std::string& path, double seconds, int fps, bool audio) {
  std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x160:rate=" + std::to_string(fps) +
                    ":duration=" + std::to_string(seconds);
  if (audio) cmd += " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=" + std::to_string(seconds);
  cmd += " -c:v libx264 -preset ultrafast -pix_fmt yuv420p";
  if (audio) cmd += " -c:a aac -b:a 64k";
  cmd += " '" + path + "'";
  return std::system(cmd.c_str()) == 0;
}

std::vector<ReadSample> ReadTrack(mp4::Mp4Reader& reader, int track) {
  std::vector<ReadSample> out;
  std::vector<uint8_t> buf(1 << 16);
  for (;;) {
    mp4::SampleRecord rec;
    const mp4::Mp4Status s = reader.ReadSample(track, buf.data(), buf.size(), &rec);
    if (s == mp4::Mp4Status::kBufferTooSmall) {
      buf.resize(rec.size);
      continue;
    }
    if (s != mp4::Mp4Status::kOk) break;
    out.push_back({std::vector<uint8_t>(buf.begin(), buf.begin() + rec.size), rec});
  }
  return out;
}

int FindTrack(const mp4::Mp4Reader& reader, uint32_t handler) {
  for (int t = 0; t < reader.track_count(); ++t)
    if (reader.description(t).handler == handler) return t;
  return -1;
}

std::string ProbeStreams(const std::string& path) {
  return testsupport::Shell("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 '" + path + "'");
}

int DecodedVideoFrames(const std::string& path, bool* errors) {
  const std::string out = testsupport::Shell("ffmpeg -nostdin -v error -i '" + path + "' -map 0:v -f framemd5 - 2>&1");
  int frames = 0;
  *errors = false;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    if (line.rfind("0,", 0) == 0)
      ++frames;
    else if (!line.empty() && line[0] != '#')
      *errors = true;
    start = end + 1;
  }
  return frames;
}

std::vector<uint8_t> DecodeFrameRgb(const std::string& path, int index, int* width, int* height) {
  const std::string size = testsupport::Shell(
      "ffprobe -v error -select_streams v:0 -show_entries "
      "stream=width,height -of csv=p=0:s=x '" +
      path + "'");
  if (std::sscanf(size.c_str(), "%dx%d", width, height) != 2) return {};
  const std::string raw = testsupport::Shell("ffmpeg -nostdin -v error -i '" + path + "' -vf 'select=eq(n\\," +
                                             std::to_string(index) + ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
  return std::vector<uint8_t>(raw.begin(), raw.end());
}

}  // namespace spherolux::record
