// Tracks read and written sample by sample: our reader against ffprobe, our writer's files
// decoded by ffmpeg frame for frame, and recordings finished after their writer was killed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/bytes.h"
#include "camgen/camgen.h"
#include "movie.h"
#include "mp4/file.h"
#include "mp4/reader.h"
#include "mp4/writer.h"
#include "side_file.h"
#include "testsupport/testsupport.h"

namespace spherolux::mp4 {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct Sample {
  Bytes data;
  SampleRecord rec;
};

std::vector<Sample> ReadAll(Mp4Reader& reader, int track) {
  std::vector<Sample> out;
  Bytes buf(16);
  for (;;) {
    SampleRecord rec;
    const Mp4Status s = reader.ReadSample(track, buf.data(), buf.size(), &rec);
    if (s == Mp4Status::kBufferTooSmall) {
      buf.resize(rec.size);
      continue;
    }
    if (s != Mp4Status::kOk) break;
    out.push_back({Bytes(buf.begin(), buf.begin() + rec.size), rec});
  }
  return out;
}

int TrackOf(const Mp4Reader& reader, uint32_t handler) {
  for (int t = 0; t < reader.track_count(); ++t)
    if (reader.description(t).handler == handler) return t;
  return -1;
}

// What an H.264 encoder emits: start codes instead of the 4-byte lengths of an MP4 sample.
Bytes ToAnnexB(const Bytes& sample) {
  Bytes out;
  for (size_t i = 0; i + 4 <= sample.size();) {
    const size_t n = LoadBE32(&sample[i]);
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), sample.begin() + i + 4, sample.begin() + i + 4 + n);
    i += 4 + n;
  }
  return out;
}

// The SPS and PPS of an 'avcC' record, each behind a start code.
Bytes ParameterSetsAnnexB(std::span<const uint8_t> avcc) {
  Bytes out;
  size_t i = 5;
  for (int kind = 0; kind < 2; ++kind) {
    const int count = avcc[i++] & (kind == 0 ? 0x1f : 0xff);
    for (int k = 0; k < count; ++k) {
      const size_t n = LoadBE16(&avcc[i]);
      out.insert(out.end(), {0, 0, 0, 1});
      out.insert(out.end(), avcc.begin() + i + 2, avcc.begin() + i + 2 + n);
      i += 2 + n;
    }
  }
  return out;
}

// Stream number, size and MD5 of every decoded frame (of one stream when `stream` >= 0), in
// order; timestamps left out since time bases differ between muxers. Errors become lines
// starting with '?'.
std::string DecodedFrames(const std::string& path, int stream = -1) {
  const std::string out =
      testsupport::Shell("ffmpeg -nostdin -v error -i '" + path + "' -map 0 -f framemd5 - 2>&1 | grep -v '^#'");
  std::istringstream lines(out);
  std::string result;
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string x; std::getline(fields >> std::ws, x, ',');) f.push_back(x);
    if (f.size() != 6)
      result += "?" + line + "\n";
    else if (stream < 0 || f[0] == std::to_string(stream))
      result += f[0] + "," + f[4] + "," + f[5] + "\n";
  }
  return result;
}

size_t Count(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

class TrackIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = camgen::MakeTempDir("track_io_test");
    source_ = dir_ + "/source.mp4";
    ASSERT_TRUE(camgen::MakeMp4Clip(source_, 320, 160, 2.0, true));
    ASSERT_EQ(Mp4Reader::Open(source_, &reader_), Mp4Status::kOk);
    video_ = TrackOf(*reader_, kHandlerVideo);
    audio_ = TrackOf(*reader_, kHandlerSound);
    ASSERT_GE(video_, 0);
    ASSERT_GE(audio_, 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A video track as a screen recorder adds it: H.264 given as Annex B.
  int AddAnnexBVideo(Mp4Writer& w) {
    TrackDescription d = reader_->description(video_);
    d.annex_b = true;
    d.timescale = 0;
    int track = -1;
    EXPECT_EQ(w.AddTrack(d, &track), Mp4Status::kOk);
    EXPECT_EQ(w.SetDecoderConfig(track, ParameterSetsAnnexB(reader_->decoder_config(video_))), Mp4Status::kOk);
    return track;
  }

  std::string dir_, source_;
  std::unique_ptr<Mp4Reader> reader_;
  int video_ = -1, audio_ = -1;
};

TEST_F(TrackIoTest, ReaderAgreesWithFfprobe) {
  // ffprobe's packets in file order per stream: presentation time, size, key flag (its first
  // flag letter; the others say what its demuxer discards).
  const std::string probe = testsupport::Shell(
      "ffprobe -v error -show_entries packet=stream_index,pts_time,size,flags "
      "-of csv=p=0 '" +
      source_ + "'");
  std::string ours_v, ours_a, theirs_v, theirs_a;
  std::istringstream lines(probe);
  for (std::string line; std::getline(lines, line);) {
    const size_t flags = line.find(',', line.find(',', 2) + 1);
    if (flags != std::string::npos && flags + 1 < line.size())
      (line[0] == '0' ? theirs_v : theirs_a) += line.substr(2, flags) + "\n";
  }
  for (int track : {video_, audio_}) {
    for (const Sample& s : ReadAll(*reader_, track)) {
      char line[96];
      std::snprintf(line, sizeof line, "%.6f,%u,%c\n", s.rec.composition_ms / 1000, s.rec.size, s.rec.sync ? 'K' : '_');
      (track == video_ ? ours_v : ours_a) += line;
    }
  }
  EXPECT_EQ(ours_v, theirs_v);
  EXPECT_EQ(ours_a, theirs_a);
  EXPECT_EQ(reader_->description(video_).codec, kCodecAvc);
  EXPECT_EQ(reader_->description(video_).width, 320);
  EXPECT_EQ(reader_->description(video_).height, 160);
  EXPECT_NEAR(reader_->description(video_).frame_rate, 25, 0.01);
  EXPECT_EQ(reader_->description(audio_).sample_rate, 48000u);
  EXPECT_EQ(reader_->description(audio_).object_type, 0x40);
  // AudioSpecificConfig of AAC LC (object type 2), 48 kHz (index 3), one channel.
  const Bytes asc(reader_->decoder_config(audio_).begin(), reader_->decoder_config(audio_).end());
  ASSERT_GE(asc.size(), 2u);
  EXPECT_EQ(Bytes(asc.begin(), asc.begin() + 2), Bytes({0x11, 0x88}));
}

TEST_F(TrackIoTest, SeekReportsTheSampleReachedAndSmallBuffersAskForMore) {
  double reached = 0;
  ASSERT_EQ(reader_->SeekToTime(audio_, 1000, &reached), Mp4Status::kOk);
  EXPECT_LE(reached, 1000);
  EXPECT_GT(reached, 1000 - 1024 * 1000.0 / 48000);
  uint8_t tiny[4];
  SampleRecord rec;
  ASSERT_EQ(reader_->ReadSample(audio_, tiny, sizeof tiny, &rec), Mp4Status::kBufferTooSmall);
  Bytes buf(rec.size);
  ASSERT_EQ(reader_->ReadSample(audio_, buf.data(), buf.size(), &rec), Mp4Status::kOk);
  EXPECT_DOUBLE_EQ(rec.decode_ms, reached);  // the position did not move on the short read
  EXPECT_EQ(reader_->SeekToTime(audio_, 60000, &reached), Mp4Status::kEndOfTrack);
  EXPECT_EQ(reader_->ReadSample(audio_, buf.data(), buf.size(), &rec), Mp4Status::kEndOfTrack);
  // The source has a key frame every second (25 frames): a seek to a key frame lands on the
  // one before, from within a second, from after the end and from before the first.
  for (const auto& [ms, key] : {std::pair{1900.0, 1000.0}, {999.0, 0.0}, {1000.0, 1000.0}, {60000.0, 1000.0}}) {
    ASSERT_EQ(reader_->SeekToSyncBefore(video_, ms, &reached), Mp4Status::kOk) << ms;
    EXPECT_DOUBLE_EQ(reached, key) << ms;
    buf.resize(reader_->description(video_).max_sample_size);
    ASSERT_EQ(reader_->ReadSample(video_, buf.data(), buf.size(), &rec), Mp4Status::kOk);
    EXPECT_TRUE(rec.sync) << ms;
    EXPECT_DOUBLE_EQ(rec.decode_ms, key) << ms;
  }
}

TEST_F(TrackIoTest, WrittenFileDecodesFrameForFrameLikeItsSource) {
  const std::string out = dir_ + "/out.mp4", side = dir_ + "/headerinfo.dat";
  std::unique_ptr<Mp4Writer> w;
  ASSERT_EQ(Mp4Writer::Create(out, side, &w), Mp4Status::kOk);
  const int v = AddAnnexBVideo(*w);
  ASSERT_EQ(w->SetHandlerName(v, "Core Media"), Mp4Status::kOk);
  int a = -1;
  ASSERT_EQ(w->AddTrack(reader_->description(audio_), &a), Mp4Status::kOk);
  ASSERT_EQ(w->SetHandlerName(a, "SoundHandler"), Mp4Status::kOk);
  ASSERT_EQ(w->SetDecoderConfig(a, reader_->decoder_config(audio_)), Mp4Status::kOk);

  // Interleaved by time, as a recording arrives; the video with start codes.
  const auto video = ReadAll(*reader_, video_);
  const auto audio = ReadAll(*reader_, audio_);
  size_t i = 0, k = 0;
  while (i < video.size() || k < audio.size()) {
    if (k >= audio.size() || (i < video.size() && video[i].rec.decode_ms <= audio[k].rec.decode_ms)) {
      ASSERT_EQ(w->WriteSample(v, ToAnnexB(video[i].data), video[i].rec), Mp4Status::kOk);
      ++i;
    } else {
      ASSERT_EQ(w->WriteSample(a, audio[k].data, audio[k].rec), Mp4Status::kOk);
      ++k;
    }
  }
  ASSERT_EQ(w->Finish(), Mp4Status::kOk);
  EXPECT_FALSE(fs::exists(side));

  const std::string decoded = DecodedFrames(out);
  EXPECT_EQ(decoded, DecodedFrames(source_));
  EXPECT_EQ(Count("\n" + decoded, "\n0,"), video.size());
  const std::string probe = testsupport::Shell("ffprobe -v error -show_streams '" + out + "'");
  EXPECT_NE(probe.find("handler_name=Core Media"), std::string::npos) << probe;
  EXPECT_NE(probe.find("handler_name=SoundHandler"), std::string::npos);

  // Our reader gets back the samples as stored: lengths, times and key frames.
  std::unique_ptr<Mp4Reader> again;
  ASSERT_EQ(Mp4Reader::Open(out, &again), Mp4Status::kOk);
  const auto video2 = ReadAll(*again, TrackOf(*again, kHandlerVideo));
  const auto audio2 = ReadAll(*again, TrackOf(*again, kHandlerSound));
  ASSERT_EQ(video2.size(), video.size());
  ASSERT_EQ(audio2.size(), audio.size());
  for (size_t n = 0; n < video.size(); ++n) {
    EXPECT_EQ(video2[n].data, video[n].data) << n;
    EXPECT_NEAR(video2[n].rec.decode_ms, video[n].rec.decode_ms, 0.02) << n;
    EXPECT_EQ(video2[n].rec.sync, video[n].rec.sync) << n;
  }
  for (size_t n = 0; n < audio.size(); ++n) {
    EXPECT_EQ(audio2[n].data, audio[n].data) << n;
    // The source's audio starts before 0 (encoder delay); the copy is shifted by its edit list.
    EXPECT_NEAR(audio2[n].rec.decode_ms, audio[n].rec.decode_ms, 1e-6) << n;
  }
}

TEST_F(TrackIoTest, SettingsShapeTheFileAndMisuseIsRefused) {
  const std::string out = dir_ + "/front.mp4", side = dir_ + "/side.dat";
  std::unique_ptr<Mp4Writer> w;
  ASSERT_EQ(Mp4Writer::Create(out, side, &w), Mp4Status::kOk);
  const int v = AddAnnexBVideo(*w);
  ASSERT_EQ(w->SetTrackSetting(v, kTrackSettingFlags, 1), Mp4Status::kOk);
  ASSERT_EQ(w->SetTrackSetting(v, kTrackSettingChunkSamples, 4), Mp4Status::kOk);
  ASSERT_EQ(w->SetFileSetting(kFileSettingMovieFirst, 1), Mp4Status::kOk);
  EXPECT_EQ(w->SetTrackSetting(v, 1234, 1), Mp4Status::kBadArgument);
  EXPECT_EQ(w->SetTrackSetting(7, kTrackSettingFlags, 1), Mp4Status::kBadArgument);

  const auto video = ReadAll(*reader_, video_);
  for (size_t i = 0; i < 10; ++i) {
    SampleRecord rec = video[i].rec;
    rec.decode_ms = rec.composition_ms = 500 + 40.0 * i;  // the track starts at 0.5 s
    ASSERT_EQ(w->WriteSample(v, ToAnnexB(video[i].data), rec), Mp4Status::kOk);
  }
  SampleRecord back = video[0].rec;
  EXPECT_EQ(w->WriteSample(v, ToAnnexB(video[0].data), back), Mp4Status::kBadArgument);  // time went back
  // The parameter sets may be given again while they stay the same, not changed.
  EXPECT_EQ(w->SetDecoderConfig(v, ParameterSetsAnnexB(reader_->decoder_config(video_))), Mp4Status::kOk);
  const Bytes other = {0, 0, 0, 1, 0x67, 0x64, 0, 0x1f, 0xac, 0, 0, 0, 1, 0x68, 0xeb};
  EXPECT_EQ(w->SetDecoderConfig(v, other), Mp4Status::kBadArgument);
  ASSERT_EQ(w->Finish(), Mp4Status::kOk);
  EXPECT_EQ(w->Finish(), Mp4Status::kOk);

  Mp4File file;
  ASSERT_EQ(ReadMp4File(out, &file), FileStatus::kOk);
  ASSERT_GE(file.boxes.size(), 3u);
  EXPECT_EQ(file.boxes[1].box.type, TypeCode("moov"));
  EXPECT_EQ(file.boxes[2].box.type, TypeCode("mdat"));
  std::vector<Box*> found;
  FindAll(file.boxes[1].box.children, TypeCode("tkhd"), &found);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(LoadBE32(found[0]->data.data()) & 0xffffff, 1u);
  found.clear();
  FindAll(file.boxes[1].box.children, TypeCode("stsc"), &found);
  ASSERT_EQ(found.size(), 1u);
  const Bytes& stsc = found[0]->data;
  for (size_t i = 8; i + 12 <= stsc.size(); i += 12) EXPECT_LE(LoadBE32(&stsc[i + 4]), 4u);

  const std::string probe = testsupport::Shell(
      "ffprobe -v error -count_frames -show_entries "
      "stream=start_time,nb_read_frames -of csv=p=0 '" +
      out + "'");
  EXPECT_EQ(probe, "0.500000,10\n");
}

// Runs `write` on a writer of `out` and `side` in a child process that is then killed.
template <typename Write>
void WriteAndDie(const std::string& out, const std::string& side, const Write& write) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::unique_ptr<Mp4Writer> w;
    if (Mp4Writer::Create(out, side, &w) != Mp4Status::kOk) _exit(1);
    write(*w);
    raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
}

TEST_F(TrackIoTest, KilledRecordingIsFinishedUpToItsLastSample) {
  const std::string out = dir_ + "/killed.mp4", side = dir_ + "/headerinfo.dat";
  const auto video = ReadAll(*reader_, video_);
  constexpr int kWritten = 20;
  WriteAndDie(out, side, [&](Mp4Writer& w) {
    const int v = AddAnnexBVideo(w);
    for (int i = 0; i < kWritten; ++i)
      if (w.WriteSample(v, ToAnnexB(video[i].data), video[i].rec) != Mp4Status::kOk) _exit(2);
  });
  EXPECT_EQ(SideFileTarget(side), fs::absolute(out).string());

  // A power loss may also leave half a record and stray data behind.
  {
    std::FILE* f = std::fopen(side.c_str(), "ab");
    std::fwrite("\0\0\0\x30smpl\x01\x02", 1, 10, f);
    std::fclose(f);
    f = std::fopen(out.c_str(), "ab");
    std::fwrite(video[30].data.data(), 1, video[30].data.size() / 2, f);
    std::fclose(f);
  }
  RecoveryReport report;
  ASSERT_EQ(RecoverMp4(side, {}, &report), Mp4Status::kOk);
  EXPECT_EQ(report.samples, static_cast<uint64_t>(kWritten));
  EXPECT_TRUE(report.replaced);
  EXPECT_EQ(report.output, out);
  EXPECT_FALSE(fs::exists(side));
  const std::string decoded = DecodedFrames(out);
  EXPECT_EQ(Count(decoded, "\n"), static_cast<size_t>(kWritten));
  EXPECT_EQ(Count(decoded, "?"), 0u) << decoded;
  // Exactly the source's first frames.
  EXPECT_EQ(decoded, DecodedFrames(source_, 0).substr(0, decoded.size()));
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A recording killed after 2.4 s, whose side file is then cut short, damaged or lost, as a
// power loss or a careless hand leaves it: recovery never touches the recording, and what
// the side file lost comes back from the index copies in the media data.
TEST_F(TrackIoTest, RecoveryFromADamagedOrLostSideFileKeepsTheRecordingAndAllButItsLastSecond) {
  const std::string out = dir_ + "/torn.mp4", side = dir_ + "/headerinfo.dat";
  const auto video = ReadAll(*reader_, video_);
  const auto audio = ReadAll(*reader_, audio_);
  constexpr int kFrames = 40;
  WriteAndDie(out, side, [&](Mp4Writer& w) {
    const int v = AddAnnexBVideo(w);
    int a = -1;
    if (w.AddTrack(reader_->description(audio_), &a) != Mp4Status::kOk ||
        w.SetDecoderConfig(a, reader_->decoder_config(audio_)) != Mp4Status::kOk)
      _exit(2);
    size_t next_audio = 0;
    for (int i = 0; i < kFrames; ++i) {
      for (; next_audio < audio.size() && audio[next_audio].rec.decode_ms <= video[i].rec.decode_ms; ++next_audio)
        if (w.WriteSample(a, audio[next_audio].data, audio[next_audio].rec) != Mp4Status::kOk) _exit(3);
      if (w.WriteSample(v, ToAnnexB(video[i].data), video[i].rec) != Mp4Status::kOk) _exit(4);
      usleep(60000);
    }
  });
  const std::string recording = Contents(out), records = Contents(side);
  ASSERT_GT(records.size(), 5000u);
  const std::string source_frames = DecodedFrames(source_, video_);

  struct Case {
    const char* name;
    std::string side;  // what is left of the side file; empty: none
    bool whole;        // every sample comes back
  };
  std::string damaged = records;
  for (size_t i = 1500; i < 1510; ++i) damaged[i] = static_cast<char>(damaged[i] ^ 0x5a);
  const Case cases[] = {
      {"cut", records.substr(0, 1000), false},
      {"damaged", damaged, true},
      {"lost", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = dir_ + "/" + c.name;
    fs::create_directory(dir);
    const std::string mp4 = dir + "/torn.mp4", copy = dir + "/headerinfo.dat";
    std::ofstream(mp4, std::ios::binary) << recording;
    if (!c.side.empty()) std::ofstream(copy, std::ios::binary) << c.side;
    RecoveryReport report;
    ASSERT_EQ(RecoverMp4(c.side.empty() ? std::string() : copy, mp4, &report), Mp4Status::kOk);
    EXPECT_EQ(report.replaced, c.whole);
    const int frames = static_cast<int>(report.video_frames);
    if (c.whole) {
      EXPECT_EQ(report.output, mp4);
      EXPECT_EQ(frames, kFrames);
      EXPECT_FALSE(fs::exists(copy));
    } else {
      // The recording and what is left of its side file stay as they were.
      EXPECT_EQ(report.output, dir + "/torn_recovered.mp4");
      EXPECT_EQ(Contents(mp4), recording);
      if (!c.side.empty()) {
        EXPECT_EQ(Contents(copy), c.side);
      }
      // Index copies come every second: at most the last second's frames (25 per second
      // here, written every 60 ms) are missing.
      EXPECT_GE(frames, kFrames - 17);
      EXPECT_LT(frames, kFrames);
      EXPECT_GT(report.from_media_data, 0u);
      EXPECT_GT(report.tail_bytes, 0u);
    }
    EXPECT_EQ(report.lost_bytes, 0u);
    // The frames recovered are the source's first ones, decoded without an error.
    const std::string decoded = DecodedFrames(report.output, 0);
    EXPECT_EQ(Count(decoded, "\n"), static_cast<size_t>(frames));
    EXPECT_EQ(Count(decoded, "?"), 0u) << decoded;
    EXPECT_EQ(decoded, source_frames.substr(0, decoded.size()));
  }
}

// Frames written after the last index copy of a recording whose side file was cut short are
// whole frames, not a frame the writer was killed in: such a recovery is written beside the
// recording, which keeps them. A recording itself is never taken for a side file (its
// copies hold side-file records, and the name of where it was first written).
TEST_F(TrackIoTest, FramesAfterTheLastIndexCopyAreNeverCutFromTheRecording) {
  const std::string out = dir_ + "/late.mp4", side = dir_ + "/headerinfo.dat";
  const auto video = ReadAll(*reader_, video_);
  WriteAndDie(out, side, [&](Mp4Writer& w) {
    const int v = AddAnnexBVideo(w);
    for (int i = 0; i < 12; ++i) {
      if (i == 10) usleep(1100000);  // frame 10 is followed by an index copy
      if (w.WriteSample(v, ToAnnexB(video[i].data), video[i].rec) != Mp4Status::kOk) _exit(2);
    }
  });
  const std::string recording = Contents(out);
  fs::resize_file(side, 600);  // the head and the track's state are left
  EXPECT_EQ(SideFileTarget(out), "");
  RecoveryReport report;
  ASSERT_EQ(RecoverMp4(side, {}, &report), Mp4Status::kOk);
  EXPECT_FALSE(report.replaced);
  EXPECT_EQ(report.video_frames, 11u);
  EXPECT_EQ(report.output, dir_ + "/late_recovered.mp4");
  EXPECT_TRUE(Contents(out) == recording) << "the recording was changed";
  EXPECT_TRUE(fs::exists(side));
}

TEST_F(TrackIoTest, RecoveryWaitsForALiveWriterAndNeedsItsFiles) {
  const std::string out = dir_ + "/live.mp4", side = dir_ + "/headerinfo.dat";
  std::unique_ptr<Mp4Writer> w;
  ASSERT_EQ(Mp4Writer::Create(out, side, &w), Mp4Status::kOk);
  std::unique_ptr<Mp4Writer> second;
  EXPECT_EQ(Mp4Writer::Create(dir_ + "/other.mp4", side, &second), Mp4Status::kBusy);
  EXPECT_FALSE(fs::exists(dir_ + "/other.mp4"));
  EXPECT_EQ(RecoverMp4(side), Mp4Status::kBusy);
  w.reset();  // the process ends without finishing: the side file stays
  ASSERT_TRUE(fs::exists(side));
  EXPECT_EQ(RecoverMp4(dir_ + "/missing.dat"), Mp4Status::kCannotOpen);
  // Not the recording the side file names.
  EXPECT_EQ(RecoverMp4(side, source_), Mp4Status::kDamaged);
  EXPECT_TRUE(fs::exists(side));
  // Its own recording holds no sample: nothing to recover, and nothing is changed.
  EXPECT_EQ(RecoverMp4(side), Mp4Status::kDamaged);
  EXPECT_TRUE(fs::exists(side));
  EXPECT_TRUE(fs::exists(out));
}

// Media data past 4 GiB: offsets in 'co64' and a 64-bit 'mdat' size. The file is sparse:
// half of the frames lie before a 4.5 GiB hole, half after it.
TEST_F(TrackIoTest, OffsetsPastFourGibUseSixtyFourBits) {
  const std::string out = dir_ + "/big.mp4", side_path = dir_ + "/big.dat";
  const auto video = ReadAll(*reader_, video_);
  {
    const int fd = ::open(out.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    Bytes head = camgen::Concat({camgen::Box("ftyp", {'i', 's', 'o', 'm', 0, 0, 2, 0, 'i', 's', 'o', 'm'}),
                                 Bytes{0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 0}});
    ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    SideFileWriter side;
    ASSERT_EQ(side.Create(side_path), Mp4Status::kOk);
    ASSERT_EQ(side.Append(SideHead{out, head.size() - 16, false}), Mp4Status::kOk);
    SideTrack t;
    t.description = reader_->description(video_);
    t.config.assign(reader_->decoder_config(video_).begin(), reader_->decoder_config(video_).end());
    ASSERT_EQ(side.Append(t), Mp4Status::kOk);
    uint64_t at = head.size();
    for (size_t i = 0; i < video.size(); ++i) {
      if (i == video.size() / 2) at += 4608ull << 20;
      ASSERT_EQ(::pwrite(fd, video[i].data.data(), video[i].data.size(), static_cast<off_t>(at)),
                static_cast<ssize_t>(video[i].data.size()));
      const int64_t dts = std::llround(video[i].rec.decode_ms * t.description.timescale / 1000);
      ASSERT_EQ(
          side.Append(SideSample{0, at, static_cast<uint32_t>(video[i].data.size()), dts, 0, 0, video[i].rec.sync}),
          Mp4Status::kOk);
      at += video[i].data.size();
    }
    ::close(fd);
  }
  SideFileReader reader;
  ASSERT_EQ(reader.Open(side_path), Mp4Status::kOk);
  uint64_t kept = 0;
  ASSERT_EQ(FinishFromSide(reader, -1, {}, &kept), Mp4Status::kOk);
  EXPECT_EQ(kept, video.size());

  Mp4File file;
  ASSERT_EQ(ReadMp4File(out, &file), FileStatus::kOk);
  const Box* mdat = file.Find(TypeCode("mdat"));
  ASSERT_NE(mdat, nullptr);
  EXPECT_GT(mdat->source_size, 4ull << 30);
  std::vector<Box*> co64;
  FindAll(file.boxes[2].box.children, TypeCode("co64"), &co64);
  EXPECT_EQ(co64.size(), 1u);

  std::unique_ptr<Mp4Reader> again;
  ASSERT_EQ(Mp4Reader::Open(out, &again), Mp4Status::kOk);
  const auto back = ReadAll(*again, 0);
  ASSERT_EQ(back.size(), video.size());
  EXPECT_EQ(back.back().data, video.back().data);
  EXPECT_EQ(DecodedFrames(out), DecodedFrames(source_, 0));
}

}  // namespace
}  // namespace spherolux::mp4
