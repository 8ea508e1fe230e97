#include "mp4/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "avc.h"
#include "base/bytes.h"
#include "movie.h"
#include "side_file.h"

namespace spherolux::mp4 {
namespace {

// How often both files are synchronised to the disk: the most a power loss can take.
constexpr auto kSyncInterval = std::chrono::seconds(2);
// How often a copy of the recent records goes into the media data: the most that is lost
// with the side file.
constexpr auto kIndexInterval = std::chrono::seconds(1);
constexpr uint64_t kMdatStart = 32;  // after the 'ftyp' below

// 'ftyp' (4.3): major brand isom, minor version 512, compatible with isom, iso2, avc1, mp41.
constexpr uint8_t kFtyp[32] = {0,   0,   0,   32,  'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0,   0,   2,   0,
                               'i', 's', 'o', 'm', 'i', 's', 'o', '2', 'a', 'v', 'c', '1', 'm', 'p', '4', '1'};
// 'mdat' with a 64-bit size, filled in when the file is finished.
constexpr uint8_t kMdatHeader[16] = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 0};

bool PWriteAll(int fd, const uint8_t* p, size_t n, uint64_t at) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(at));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
    at += static_cast<uint64_t>(w);
  }
  return true;
}

int64_t ToTicks(double ms, uint32_t timescale) { return std::llround(ms * timescale / 1000.0); }

class WriterImpl final : public Mp4Writer {
 public:
  ~WriterImpl() override {
    if (fd_ >= 0) ::close(fd_);
  }

  Mp4Status Open(const std::string& path, const std::string& side_path) {
    if (Mp4Status s = side_.Create(side_path); s != Mp4Status::kOk) return s;
    std::error_code ec;
    path_ = std::filesystem::absolute(path, ec).string();
    if (ec) path_ = path;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    head_.mp4_path = path_;
    head_.mdat_start = kMdatStart;
    if (fd_ < 0 || !PWriteAll(fd_, kFtyp, sizeof kFtyp, 0) ||
        !PWriteAll(fd_, kMdatHeader, sizeof kMdatHeader, kMdatStart) || side_.Append(head_) != Mp4Status::kOk) {
      if (fd_ >= 0) ::unlink(path_.c_str());
      side_.Remove();
      return Mp4Status::kCannotCreate;
    }
    end_ = kMdatStart + sizeof kMdatHeader;
    last_sync_ = last_index_ = std::chrono::steady_clock::now();
    return Mp4Status::kOk;
  }

  Mp4Status AddTrack(const TrackDescription& description, int* track) override {
    TrackDescription d = description;
    if (finished_ || d.handler == 0 || d.codec == 0) return Mp4Status::kBadArgument;
    if (d.codec == kCodecAvc && (d.width == 0 || d.height == 0)) return Mp4Status::kBadArgument;
    if (d.codec == kCodecAac && (d.sample_rate == 0 || d.channels == 0)) return Mp4Status::kBadArgument;
    if (d.timescale == 0) {
      d.timescale =
          d.handler == kHandlerVideo ? 90000 : (d.handler == kHandlerSound && d.sample_rate ? d.sample_rate : 1000);
    }
    Track t;
    t.state.index = static_cast<uint32_t>(tracks_.size());
    t.state.description = std::move(d);
    if (Mp4Status s = side_.Append(t.state); s != Mp4Status::kOk) return s;
    tracks_.push_back(std::move(t));
    *track = static_cast<int>(tracks_.size()) - 1;
    return Mp4Status::kOk;
  }

  Mp4Status SetHandlerName(int track, std::string_view name) override {
    Track* t = Find(track);
    if (!t) return Mp4Status::kBadArgument;
    t->state.handler_name.assign(name.substr(0, 255));
    return side_.Append(t->state);
  }

  Mp4Status SetDecoderConfig(int track, std::span<const uint8_t> config) override {
    Track* t = Find(track);
    if (!t) return Mp4Status::kBadArgument;
    std::vector<uint8_t> stored(config.begin(), config.end());
    const TrackDescription& d = t->state.description;
    if (d.codec == kCodecAvc) {
      if (d.annex_b && !AvcConfigFromAnnexB(config, &stored)) return Mp4Status::kBadArgument;
      if (stored.size() < 7 || stored[0] != 1) return Mp4Status::kBadArgument;  // 14496-15 5.3.3.1
    }
    if (stored == t->state.config) return Mp4Status::kOk;
    // A sample entry describes every sample of the track: it cannot change under them.
    if (t->samples > 0) return Mp4Status::kBadArgument;
    t->state.config = std::move(stored);
    return side_.Append(t->state);
  }

  Mp4Status SetTrackSetting(int track, int setting, int64_t value) override {
    Track* t = Find(track);
    if (!t || value < 0) return Mp4Status::kBadArgument;
    if (setting == kTrackSettingFlags && value <= 0xffffff) {
      t->state.flags = static_cast<uint32_t>(value);
    } else if (setting == kTrackSettingChunkSamples && value <= 0xffffffff) {
      t->state.chunk_samples = static_cast<uint32_t>(value);
    } else {
      return Mp4Status::kBadArgument;
    }
    return side_.Append(t->state);
  }

  Mp4Status SetFileSetting(int setting, int64_t value) override {
    if (finished_ || setting != kFileSettingMovieFirst || (value != 0 && value != 1)) return Mp4Status::kBadArgument;
    head_.movie_first = value == 1;
    return side_.Append(head_);
  }

  Mp4Status WriteSample(int track, std::span<const uint8_t> data, const SampleRecord& record) override {
    Track* t = Find(track);
    if (!t) return Mp4Status::kBadArgument;
    const TrackDescription& d = t->state.description;
    SideSample s;
    s.track = t->state.index;
    s.dts = ToTicks(record.decode_ms, d.timescale);
    if (t->samples > 0 && s.dts < t->last_dts) return Mp4Status::kBadArgument;
    std::span<const uint8_t> payload = data;
    if (d.codec == kCodecAvc && d.annex_b) {
      scratch_.clear();
      AnnexBToLengthPrefixed(data, &scratch_);
      if (scratch_.empty()) return Mp4Status::kBadArgument;
      payload = scratch_;
    }
    if (payload.size() > 0xffffffffull) return Mp4Status::kBadArgument;
    s.offset = end_;
    s.size = static_cast<uint32_t>(payload.size());
    s.cts_offset = ToTicks(record.composition_ms, d.timescale) - s.dts;
    s.duration = ToTicks(record.duration_ms, d.timescale);
    s.sync = record.sync;
    // The data first, then its record: a record never points at data that was not written.
    if (!PWriteAll(fd_, payload.data(), payload.size(), end_)) return Mp4Status::kWriteFailed;
    if (Mp4Status st = side_.Append(s); st != Mp4Status::kOk) return st;
    end_ += payload.size();
    ++t->samples;
    t->last_dts = s.dts;
    const std::vector<uint8_t> rec = EncodeRecord(s);
    index_.insert(index_.end(), rec.begin(), rec.end());
    const auto now = std::chrono::steady_clock::now();
    if (now - last_index_ >= kIndexInterval) {
      WriteIndexCopy();
      last_index_ = now;
    }
    if (now - last_sync_ >= kSyncInterval) {
      // Data before records here too, so that after a power loss the synchronised records
      // describe synchronised data.
      if (::fdatasync(fd_) != 0 || !side_.Sync()) return Mp4Status::kWriteFailed;
      last_sync_ = now;
    }
    return Mp4Status::kOk;
  }

  Mp4Status Finish() override {
    if (finished_) return finish_status_;
    finished_ = true;
    // A file whose name was removed meanwhile (its folder deleted, say) would be finished
    // where nobody can ever find it: say so instead.
    struct stat mine {
    }, named{};
    if (::fstat(fd_, &mine) != 0 || ::stat(path_.c_str(), &named) != 0 || mine.st_dev != named.st_dev ||
        mine.st_ino != named.st_ino) {
      ::close(fd_);
      fd_ = -1;
      return finish_status_ = Mp4Status::kFileGone;
    }
    SideFileReader reader;
    finish_status_ = reader.Attach(::dup(side_.fd()));
    if (finish_status_ == Mp4Status::kOk) finish_status_ = FinishFromSide(reader, fd_, path_, nullptr);
    ::close(fd_);
    fd_ = -1;
    if (finish_status_ == Mp4Status::kOk) side_.Remove();
    return finish_status_;
  }

 private:
  struct Track {
    SideTrack state;
    uint64_t samples = 0;
    int64_t last_dts = 0;
  };

  // Lays the head, every track's state and the records of the samples since the last copy
  // into the media data after the last sample, where no reader looks but recovery finds
  // them when the side file is lost. A copy that cannot be written is dropped: the side
  // file still holds its records.
  void WriteIndexCopy() {
    std::vector<uint8_t> copy = EncodeRecord(head_);
    for (const Track& t : tracks_) {
      const std::vector<uint8_t> rec = EncodeRecord(t.state);
      copy.insert(copy.end(), rec.begin(), rec.end());
    }
    copy.insert(copy.end(), index_.begin(), index_.end());
    index_.clear();
    if (PWriteAll(fd_, copy.data(), copy.size(), end_)) end_ += copy.size();
  }

  Track* Find(int track) {
    if (finished_ || track < 0 || static_cast<size_t>(track) >= tracks_.size()) return nullptr;
    return &tracks_[static_cast<size_t>(track)];
  }

  std::string path_;
  int fd_ = -1;
  SideFileWriter side_;
  SideHead head_;
  uint64_t end_ = 0;  // where the next sample's data goes
  std::vector<Track> tracks_;
  std::vector<uint8_t> scratch_;
  std::vector<uint8_t> index_;  // records of the samples since the last index copy
  std::chrono::steady_clock::time_point last_sync_, last_index_;
  bool finished_ = false;
  Mp4Status finish_status_ = Mp4Status::kOk;
};

}  // namespace

const char* StatusText(Mp4Status status) {
  switch (status) {
    case Mp4Status::kOk:
      return "ok";
    case Mp4Status::kCannotOpen:
      return "the file cannot be opened or read";
    case Mp4Status::kNotMp4:
      return "not an MP4 file with tracks";
    case Mp4Status::kCannotCreate:
      return "the file cannot be created";
    case Mp4Status::kWriteFailed:
      return "writing failed";
    case Mp4Status::kBadArgument:
      return "bad argument";
    case Mp4Status::kBufferTooSmall:
      return "buffer too small";
    case Mp4Status::kEndOfTrack:
      return "end of track";
    case Mp4Status::kDamaged:
      return "the recording's files are damaged";
    case Mp4Status::kBusy:
      return "the recording is still being written";
    case Mp4Status::kFileGone:
      return "the file or its folder was removed while it was written";
  }
  return "unknown";
}

Mp4Status Mp4Writer::Create(const std::string& path, const std::string& side_path, std::unique_ptr<Mp4Writer>* out) {
  auto w = std::make_unique<WriterImpl>();
  if (Mp4Status s = w->Open(path, side_path); s != Mp4Status::kOk) return s;
  *out = std::move(w);
  return Mp4Status::kOk;
}

std::string SideFileTarget(const std::string& side_path) {
  SideFileReader reader;
  if (reader.Attach(::open(side_path.c_str(), O_RDONLY | O_CLOEXEC)) != Mp4Status::kOk) return {};
  // The head opens a side file; a recording holds copies of it further in, after its own bytes.
  return reader.Next() == SideFileReader::Kind::kHead && reader.damaged_bytes() == 0 ? reader.head().mp4_path
                                                                                     : std::string();
}

std::string FindSideFile(const std::string& mp4_path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path mp4 = fs::absolute(mp4_path, ec);
  for (const fs::path& side : {mp4.parent_path() / kSideFileName, fs::path(mp4.string() + kSideFileSuffix)}) {
    const std::string target = SideFileTarget(side.string());
    if (!target.empty() && fs::equivalent(target, mp4, ec)) return side.string();
  }
  return {};
}

}  // namespace spherolux::mp4
