// Recovering an unfinished recording (mp4/writer.h): its records are gathered from the side
// file and from the index copies in its media data, the samples they describe are checked
// against the file, and a new file is written beside the recording.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>

#include "base/bytes.h"
#include "base/output_file.h"
#include "movie.h"
#include "mp4/reader.h"
#include "mp4/writer.h"
#include "side_file.h"

namespace spherolux::mp4 {
namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Every record found of one recording, in the order found.
struct Records {
  std::optional<SideHead> head;
  std::map<uint32_t, std::vector<SideTrack>> tracks;
  struct Sample {
    SideSample s;
    bool from_media = false;
  };
  std::vector<Sample> samples;
  std::vector<std::pair<uint64_t, uint64_t>> copies;  // [start, end) of the index copies' records

  void Add(const SideRecord& r, bool from_media) {
    if (r.kind == SideKind::kHead) {
      if (!head) head = r.head;
      head->movie_first = r.head.movie_first;  // the last setting counts
    } else if (r.kind == SideKind::kTrack) {
      tracks[r.track.index].push_back(r.track);
    } else if (r.kind == SideKind::kSample) {
      samples.push_back({r.sample, from_media});
    }
  }
};

// The state a track ended in: its last record, with the decoder configuration of any record
// when the last one lacks it (it is set once, before the first sample).
SideTrack LastState(const std::vector<SideTrack>& states) {
  SideTrack last = states.back();
  for (auto it = states.rbegin(); last.config.empty() && it != states.rend(); ++it) last.config = it->config;
  return last;
}

// Whether a track's samples can be described: H.264 needs its parameter sets.
bool Describable(const SideTrack& t) {
  const TrackDescription& d = t.description;
  if (d.codec == kCodecAvc) return !t.config.empty() || d.sample_entry.size() >= 8;
  return d.codec == kCodecAac || d.sample_entry.size() >= 8;
}

// Where 'mdat' starts: where the head says, else after the 'ftyp' box the writer puts first.
std::optional<uint64_t> MdatStart(int fd, const std::optional<SideHead>& head) {
  uint8_t b[16];
  uint64_t at = 0;
  if (head) {
    at = head->mdat_start;
  } else {
    if (::pread(fd, b, 8, 0) != 8 || LoadBE32(b + 4) != FourCC("ftyp") || LoadBE32(b) < 8) return std::nullopt;
    at = LoadBE32(b);
  }
  if (::pread(fd, b, sizeof b, static_cast<off_t>(at)) != sizeof b || LoadBE32(b + 4) != FourCC("mdat"))
    return std::nullopt;
  return at;
}

bool CopyRange(int from, int to, uint64_t length) {
  loff_t in = 0, out = 0;
  while (length > 0) {
    const ssize_t n = ::copy_file_range(from, &in, to, &out, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) {
      length -= static_cast<uint64_t>(n);
      continue;
    }
    if (n == 0 || (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)) return false;
    // A file system or kernel without the call: copy through a buffer.
    std::vector<uint8_t> buf(1 << 20);
    while (length > 0) {
      const ssize_t r = ::pread(from, buf.data(), std::min<uint64_t>(buf.size(), length), in);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;
      for (ssize_t done = 0; done < r;) {
        const ssize_t w = ::pwrite(to, buf.data() + done, static_cast<size_t>(r - done), out + done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += w;
      }
      in += r;
      out += r;
      length -= static_cast<uint64_t>(r);
    }
  }
  return true;
}

// "DIR/NAME_recovered.mp4", or with "_N" before the extension when that is taken.
std::string RecoveredName(const std::string& path, int n) {
  const std::filesystem::path p(path);
  std::string name = p.stem().string() + "_recovered";
  if (n > 0) name += "_" + std::to_string(n);
  return (p.parent_path() / (name + p.extension().string())).string();
}

// Sums the bytes of [from, to) that the sorted spans cover.
uint64_t Covered(const std::vector<std::pair<uint64_t, uint64_t>>& spans, uint64_t from, uint64_t to) {
  uint64_t covered = 0, reached = from;
  for (const auto& [start, end] : spans) {
    const uint64_t a = std::max(start, reached), b = std::min(end, to);
    if (a < b) {
      covered += b - a;
      reached = b;
    }
  }
  return covered;
}

}  // namespace

Mp4Status RecoverMp4(const std::string& side_path, const std::string& mp4_path, RecoveryReport* report,
                     const RecoveryOptions& options) {
  RecoveryReport local;
  RecoveryReport& r = report ? *report : local;
  r = RecoveryReport{};
  Records records;
  SideFileReader side;
  if (!side_path.empty()) {
    if (Mp4Status s = side.Open(side_path); s != Mp4Status::kOk) return s;
    SideRecord rec;
    for (SideKind kind; (kind = side.Next()) != SideKind::kEnd;) {
      rec.kind = kind;
      if (kind == SideKind::kHead) rec.head = side.head();
      if (kind == SideKind::kTrack) rec.track = side.track();
      if (kind == SideKind::kSample) rec.sample = side.sample();
      records.Add(rec, false);
    }
    r.side_damaged_bytes = side.damaged_bytes();
  }
  const std::string path = !mp4_path.empty() ? mp4_path : records.head ? records.head->mp4_path : std::string();
  if (path.empty()) return Mp4Status::kDamaged;
  Fd in{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat st {};
  if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) return Mp4Status::kCannotOpen;
  const uint64_t file_size = static_cast<uint64_t>(st.st_size);
  const std::optional<uint64_t> mdat = MdatStart(in.fd, records.head);
  if (!mdat) return Mp4Status::kDamaged;
  const uint64_t data_start = *mdat + kMdatHeaderSize;

  // The index copies: what the side file lost, and where the copies lie.
  ScanForRecords(in.fd, data_start, file_size, [&](const SideRecord& rec, uint64_t offset, uint64_t length) {
    records.Add(rec, true);
    records.copies.emplace_back(offset, offset + length);
  });
  if (!records.head) records.head = SideHead{};
  records.head->mdat_start = *mdat;

  SideScan scan;
  scan.head = *records.head;
  scan.data_end = data_start;
  for (const auto& [index, states] : records.tracks) {
    const SideTrack last = LastState(states);
    if (Describable(last)) scan.tracks[index].track = last;
  }
  // Side-file records first, so that they win over a copy of the same sample.
  std::stable_sort(records.samples.begin(), records.samples.end(),
                   [](const Records::Sample& a, const Records::Sample& b) { return a.s.offset < b.s.offset; });
  std::vector<SideSample> kept;
  std::vector<std::pair<uint64_t, uint64_t>> spans = records.copies;
  for (const Records::Sample& sample : records.samples) {
    if (!kept.empty() && sample.s.offset == kept.back().offset) continue;  // the same sample twice
    if (!scan.Add(sample.s, file_size)) continue;
    kept.push_back(sample.s);
    spans.emplace_back(sample.s.offset, sample.s.offset + sample.s.size);
    if (sample.from_media) ++r.from_media_data;
  }
  std::sort(spans.begin(), spans.end());
  r.samples = scan.samples;
  r.lost_bytes = (scan.data_end - data_start) - Covered(spans, data_start, scan.data_end);
  r.tail_bytes = (file_size - scan.data_end) - Covered(spans, scan.data_end, file_size);
  uint32_t largest = 0;
  for (const auto& [index, t] : scan.tracks) {
    if (t.count == 0) continue;
    if (t.track.description.handler == kHandlerVideo) r.video_frames += t.count;
    r.seconds = std::max(r.seconds, static_cast<double>(t.PresentationEnd()) / kMovieTimescale);
    largest = std::max(largest, t.max_size);
  }
  if (scan.samples == 0) return Mp4Status::kDamaged;
  // Data after the last sample is a sample the writer was killed in only when the side file
  // described every sample: after the last index copy of a side file cut short, whole samples
  // may follow that nothing describes.
  const bool whole = r.lost_bytes == 0 && (r.tail_bytes == 0 || (r.from_media_data == 0 && r.tail_bytes <= largest));
  if (!whole && options.only_if_whole) return Mp4Status::kDamaged;

  // The new file: the recording's bytes up to the last kept sample (sample offsets stay
  // valid), the 'mdat' size, and the movie box.
  OutputFile out;
  OutputOptions out_options;
  out_options.overwrite = whole;
  out_options.claim = !whole;
  std::string target = path;
  OutputStatus created = OutputStatus::kExists;
  for (int n = 0; created == OutputStatus::kExists && n < 1000; ++n) {
    if (!whole) target = RecoveredName(path, n);
    created = out.Create(target, out_options);
  }
  if (created != OutputStatus::kOk) return Mp4Status::kCannotCreate;
  uint8_t header[kMdatHeaderSize] = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
  StoreBE64(header + 8, scan.data_end - *mdat);
  const SampleVisitor kept_samples = [&](const std::function<void(const SideSample&)>& fn) {
    for (const SideSample& s : kept) fn(s);
  };
  uint64_t end = 0;
  if (!CopyRange(in.fd, out.fd(), scan.data_end) ||
      ::pwrite(out.fd(), header, sizeof header, static_cast<off_t>(*mdat)) != sizeof header ||
      !WriteMovie(out.fd(), scan, kept_samples, &end) || ::ftruncate(out.fd(), static_cast<off_t>(end)) != 0)
    return Mp4Status::kWriteFailed;

  // Read back before it takes any name.
  std::unique_ptr<Mp4Reader> check;
  if (Mp4Reader::Open(out.path(), &check) != Mp4Status::kOk) return Mp4Status::kWriteFailed;
  uint64_t readable = 0;
  for (int t = 0; t < check->track_count(); ++t) readable += check->sample_count(t);
  check.reset();
  if (readable != scan.samples) return Mp4Status::kWriteFailed;
  if (out.Publish() != OutputStatus::kOk) return Mp4Status::kWriteFailed;
  r.output = target;
  r.replaced = whole;
  if (scan.head.movie_first && MoveMovieFirst(target) != Mp4Status::kOk) return Mp4Status::kWriteFailed;
  if (whole && !side_path.empty()) ::unlink(side_path.c_str());
  return Mp4Status::kOk;
}

}  // namespace spherolux::mp4
