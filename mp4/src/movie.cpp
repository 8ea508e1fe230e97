#include "movie.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "base/bytes.h"
#include "base/file.h"
#include "base/output_file.h"
#include "mp4/file.h"

namespace spherolux::mp4 {
namespace {

// Writes boxes to a file through a buffer, from a given position on. Begin reserves a box
// header and End back-patches its size (the way ISO/IEC 14496-12 4.2 sizes are filled in
// once the body is known).
class BoxSink {
 public:
  BoxSink(int fd, uint64_t pos) : fd_(fd), base_(pos) {}

  uint64_t pos() const { return base_ + buf_.size(); }
  bool ok() const { return ok_; }

  void Bytes(const uint8_t* p, size_t n) {
    buf_.insert(buf_.end(), p, p + n);
    if (buf_.size() >= (1u << 20)) Flush();
  }
  void U8(uint8_t v) { Bytes(&v, 1); }
  void U16(uint16_t v) {
    uint8_t b[2];
    StoreBE16(b, v);
    Bytes(b, 2);
  }
  void U32(uint32_t v) {
    uint8_t b[4];
    StoreBE32(b, v);
    Bytes(b, 4);
  }
  void U64(uint64_t v) {
    uint8_t b[8];
    StoreBE64(b, v);
    Bytes(b, 8);
  }
  void Zeros(size_t n) {
    for (size_t i = 0; i < n; ++i) U8(0);
  }

  void Begin(uint32_t type) {
    open_.push_back(pos());
    U32(0);
    U32(type);
  }
  // A full box: version and 24-bit flags after the header.
  void BeginFull(uint32_t type, uint8_t version, uint32_t flags) {
    Begin(type);
    U32(uint32_t{version} << 24 | (flags & 0xffffff));
  }
  void End() {
    const uint64_t start = open_.back();
    open_.pop_back();
    const uint64_t size = pos() - start;
    if (size > 0xffffffffull) ok_ = false;
    Patch32(start, static_cast<uint32_t>(size));
  }
  // Overwrites 4 bytes written earlier at file position `at`.
  void Patch32(uint64_t at, uint32_t v) {
    if (at >= base_) {
      StoreBE32(buf_.data() + (at - base_), v);
      return;
    }
    uint8_t b[4];
    StoreBE32(b, v);
    if (::pwrite(fd_, b, 4, static_cast<off_t>(at)) != 4) ok_ = false;
  }
  bool Flush() {
    size_t done = 0;
    while (ok_ && done < buf_.size()) {
      const ssize_t w = ::pwrite(fd_, buf_.data() + done, buf_.size() - done, static_cast<off_t>(base_ + done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) ok_ = false;
      if (w > 0) done += static_cast<size_t>(w);
    }
    base_ += buf_.size();
    buf_.clear();
    return ok_;
  }

 private:
  int fd_;
  uint64_t base_;  // file position of buf_[0]
  std::vector<uint8_t> buf_;
  std::vector<uint64_t> open_;
  bool ok_ = true;
};

// The side file's records in file order, as far as the scan kept them.
SampleVisitor SideSamples(SideFileReader& side, uint64_t count) {
  return [&side, count](const std::function<void(const SideSample&)>& fn) {
    side.Rewind();
    uint64_t seen = 0;
    for (SideFileReader::Kind kind; seen < count && (kind = side.Next()) != SideFileReader::Kind::kEnd;) {
      if (kind != SideFileReader::Kind::kSample) continue;
      ++seen;
      fn(side.sample());
    }
  };
}

// Reads the side file once: the head, the last state of every track, and the samples from
// the start whose data is wholly in the file.
Mp4Status Scan(SideFileReader& side, uint64_t file_size, SideScan* scan) {
  side.Rewind();
  if (side.Next() != SideFileReader::Kind::kHead) return Mp4Status::kDamaged;
  scan->head = side.head();
  scan->data_end = scan->head.mdat_start + kMdatHeaderSize;
  for (SideFileReader::Kind kind; (kind = side.Next()) != SideFileReader::Kind::kEnd;) {
    if (kind == SideFileReader::Kind::kHead) {
      scan->head.movie_first = side.head().movie_first;
    } else if (kind == SideFileReader::Kind::kTrack) {
      scan->tracks[side.track().index].track = side.track();
    } else if (kind == SideFileReader::Kind::kSample && !scan->Add(side.sample(), file_size)) {
      break;
    }
  }
  return Mp4Status::kOk;
}

// Starts a new chunk where a track's samples stop being back to back, or at its limit.
class ChunkTracker {
 public:
  explicit ChunkTracker(uint32_t limit) : limit_(limit) {}
  bool StartsChunk(const SideSample& s) {
    const bool fresh = in_chunk_ == 0 || s.offset != next_offset_ || (limit_ > 0 && in_chunk_ >= limit_);
    if (fresh) in_chunk_ = 0;
    ++in_chunk_;
    next_offset_ = s.offset + s.size;
    return fresh;
  }

 private:
  uint32_t limit_;
  uint32_t in_chunk_ = 0;
  uint64_t next_offset_ = 0;
};

// Run-length table rows (count, value) as 'stts' and 'ctts' store them.
class RunWriter {
 public:
  explicit RunWriter(BoxSink& sink) : sink_(sink) {}
  void Add(uint32_t value) {
    if (count_ > 0 && value == value_) {
      ++count_;
      return;
    }
    Emit();
    value_ = value;
    count_ = 1;
  }
  // Writes the last run; returns the number of rows written.
  uint32_t Finish() {
    Emit();
    return rows_;
  }

 private:
  void Emit() {
    if (count_ == 0) return;
    sink_.U32(count_);
    sink_.U32(value_);
    ++rows_;
  }
  BoxSink& sink_;
  uint32_t count_ = 0;
  uint32_t value_ = 0;
  uint32_t rows_ = 0;
};

class MovieWriter {
 public:
  MovieWriter(const SampleVisitor& samples, const SideScan& scan, BoxSink& sink)
      : samples_(samples), scan_(scan), sink_(sink) {}

  void Write() {
    uint64_t duration = 0;
    uint32_t next_id = 1;
    for (const auto& [index, t] : scan_.tracks)
      if (Writable(t)) duration = std::max(duration, t.PresentationEnd());
    sink_.Begin(FourCC("moov"));
    WriteMvhd(duration, NextTrackId());
    for (const auto& [index, t] : scan_.tracks)
      if (Writable(t)) WriteTrak(index, t, next_id++);
    sink_.End();
  }

 private:
  static bool Writable(const TrackSummary& t) {
    const uint32_t codec = t.track.description.codec;
    return t.count > 0 && (codec == kCodecAvc || codec == kCodecAac || t.track.description.sample_entry.size() >= 8);
  }
  uint32_t NextTrackId() const {
    uint32_t n = 1;
    for (const auto& [index, t] : scan_.tracks) n += Writable(t) ? 1 : 0;
    return n;
  }

  // Calls fn(sample) for every kept sample of `track`, in file order.
  void ForEachSample(uint32_t track, const std::function<void(const SideSample&)>& fn) {
    samples_([&](const SideSample& s) {
      if (s.track == track) fn(s);
    });
  }

  void Matrix() {
    for (uint32_t v : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) sink_.U32(v);
  }
  // A duration field of a version 0 or 1 box (8.2.2, 8.3.2, 8.4.2).
  void Duration(bool wide, uint64_t v) {
    if (wide)
      sink_.U64(v);
    else
      sink_.U32(static_cast<uint32_t>(v));
  }

  void WriteMvhd(uint64_t duration, uint32_t next_id) {
    const bool wide = duration > 0xffffffffull;
    sink_.BeginFull(FourCC("mvhd"), wide ? 1 : 0, 0);
    sink_.Zeros(wide ? 16 : 8);  // creation and modification time
    sink_.U32(kMovieTimescale);
    Duration(wide, duration);
    sink_.U32(0x00010000);  // rate 1.0
    sink_.U16(0x0100);      // volume 1.0
    sink_.Zeros(10);
    Matrix();
    sink_.Zeros(24);  // pre_defined
    sink_.U32(next_id);
    sink_.End();
  }

  void WriteTrak(uint32_t index, const TrackSummary& t, uint32_t id) {
    const TrackDescription& d = t.track.description;
    sink_.Begin(FourCC("trak"));
    const uint64_t shown = t.ShownDuration();
    const uint64_t end = t.PresentationEnd();
    const bool wide = end > 0xffffffffull;
    sink_.BeginFull(FourCC("tkhd"), wide ? 1 : 0, t.track.flags & 0xffffff);
    sink_.Zeros(wide ? 16 : 8);
    sink_.U32(id);
    sink_.U32(0);
    Duration(wide, end);
    sink_.Zeros(8);
    sink_.U16(0);  // layer
    sink_.U16(0);  // alternate_group
    sink_.U16(d.handler == kHandlerSound ? 0x0100 : 0);
    sink_.U16(0);
    Matrix();
    const bool visual = d.handler == kHandlerVideo;
    sink_.U32(visual ? uint32_t{d.width} << 16 : 0);
    sink_.U32(visual ? uint32_t{d.height} << 16 : 0);
    sink_.End();
    WriteEditList(t, shown);
    sink_.Begin(FourCC("mdia"));
    WriteMdhd(t);
    WriteHdlr(d.handler, t.track.handler_name);
    sink_.Begin(FourCC("minf"));
    WriteMediaHeader(d.handler);
    sink_.Begin(FourCC("dinf"));
    sink_.BeginFull(FourCC("dref"), 0, 0);
    sink_.U32(1);
    sink_.BeginFull(FourCC("url "), 0, 1);  // flag 1: the data is in this file
    sink_.End();
    sink_.End();
    sink_.End();
    WriteSampleTable(index, t);
    sink_.End();  // minf
    sink_.End();  // mdia
    sink_.End();  // trak
  }

  // 8.6.6: a track whose first sample is not at time 0 is shifted there by its edit list:
  // an empty edit delays a late start, a media time skips what lies before 0.
  void WriteEditList(const TrackSummary& t, uint64_t shown) {
    if (t.first_dts == 0) return;
    sink_.Begin(FourCC("edts"));
    sink_.BeginFull(FourCC("elst"), 1, 0);
    const bool delay = t.first_dts > 0;
    sink_.U32(delay ? 2 : 1);
    if (delay) {
      sink_.U64(t.ToMovie(t.first_dts));
      sink_.U64(~uint64_t{0});  // media_time -1: empty
      sink_.U32(0x00010000);
    }
    sink_.U64(shown);
    sink_.U64(delay ? 0 : static_cast<uint64_t>(-t.first_dts));
    sink_.U32(0x00010000);  // media rate 1
    sink_.End();
    sink_.End();
  }

  void WriteMdhd(const TrackSummary& t) {
    const uint64_t duration = static_cast<uint64_t>(t.MediaDuration());
    const bool wide = duration > 0xffffffffull;
    sink_.BeginFull(FourCC("mdhd"), wide ? 1 : 0, 0);
    sink_.Zeros(wide ? 16 : 8);
    sink_.U32(t.timescale());
    Duration(wide, duration);
    sink_.U16(0x55c4);  // language "und" (ISO 639-2/T, 5 bits per letter)
    sink_.U16(0);
    sink_.End();
  }

  void WriteHdlr(uint32_t handler, const std::string& name) {
    sink_.BeginFull(FourCC("hdlr"), 0, 0);
    sink_.U32(0);
    sink_.U32(handler);
    sink_.Zeros(12);
    sink_.Bytes(reinterpret_cast<const uint8_t*>(name.data()), std::min<size_t>(name.size(), 255));
    sink_.U8(0);
    sink_.End();
  }

  void WriteMediaHeader(uint32_t handler) {
    if (handler == kHandlerVideo) {
      sink_.BeginFull(FourCC("vmhd"), 0, 1);
      sink_.Zeros(8);  // graphicsmode, opcolor
    } else if (handler == kHandlerSound) {
      sink_.BeginFull(FourCC("smhd"), 0, 0);
      sink_.Zeros(4);  // balance, reserved
    } else {
      sink_.BeginFull(FourCC("nmhd"), 0, 0);
    }
    sink_.End();
  }

  void WriteSampleTable(uint32_t index, const TrackSummary& t) {
    sink_.Begin(FourCC("stbl"));
    WriteStsd(t);
    WriteStts(index, t);
    if (t.any_cts) WriteCtts(index, t);
    if (!t.all_sync) WriteStss(index);
    WriteStsc(index, t);
    WriteStsz(index, t);
    WriteChunkOffsets(index, t);
    sink_.End();
  }

  void WriteStsd(const TrackSummary& t) {
    const TrackDescription& d = t.track.description;
    const auto& config = t.track.config;
    sink_.BeginFull(FourCC("stsd"), 0, 0);
    sink_.U32(1);
    if (d.codec == kCodecAvc && (!config.empty() || d.sample_entry.empty())) {
      // 12.1.3 VisualSampleEntry, ISO/IEC 14496-15 5.4.2 AVCSampleEntry.
      sink_.Begin(kCodecAvc);
      sink_.Zeros(6);
      sink_.U16(1);  // data_reference_index
      sink_.Zeros(16);
      sink_.U16(d.width);
      sink_.U16(d.height);
      sink_.U32(0x00480000);  // 72 dpi
      sink_.U32(0x00480000);
      sink_.U32(0);
      sink_.U16(1);     // frame_count
      sink_.Zeros(32);  // compressorname
      sink_.U16(0x0018);
      sink_.U16(0xffff);
      if (!config.empty()) {
        sink_.Begin(FourCC("avcC"));
        sink_.Bytes(config.data(), config.size());
        sink_.End();
      }
      sink_.End();
    } else if (d.codec == kCodecAac && (!config.empty() || d.sample_entry.empty())) {
      WriteMp4a(t);
    } else {
      sink_.Bytes(d.sample_entry.data(), d.sample_entry.size());
    }
    sink_.End();
  }

  // 12.2.3 AudioSampleEntry with an ISO/IEC 14496-1 ES descriptor (7.2.6.5) in 'esds'.
  void WriteMp4a(const TrackSummary& t) {
    const TrackDescription& d = t.track.description;
    const auto& config = t.track.config;
    sink_.Begin(kCodecAac);
    sink_.Zeros(6);
    sink_.U16(1);
    sink_.Zeros(8);
    sink_.U16(d.channels ? d.channels : 2);
    sink_.U16(d.sample_bits ? d.sample_bits : 16);
    sink_.Zeros(4);
    sink_.U32(d.sample_rate <= 0xffff ? d.sample_rate << 16 : 0);
    sink_.BeginFull(FourCC("esds"), 0, 0);
    const size_t dsi = config.empty() ? 0 : 5 + config.size();
    const size_t dcd = 13 + dsi;
    Descriptor(0x03, 3 + 5 + dcd + 5 + 1);
    sink_.U16(0);  // ES_ID
    sink_.U8(0);   // no stream dependence, URL or OCR stream
    Descriptor(0x04, dcd);
    sink_.U8(d.object_type ? d.object_type : 0x40);
    sink_.U8(0x15);  // streamType 5 (audio) << 2, upStream 0, reserved 1
    sink_.U8(static_cast<uint8_t>(t.max_size >> 16));
    sink_.U16(static_cast<uint16_t>(t.max_size));
    sink_.U32(std::max(t.AverageBitRate(), d.bit_rate));
    sink_.U32(t.AverageBitRate());
    if (!config.empty()) {
      Descriptor(0x05, config.size());
      sink_.Bytes(config.data(), config.size());
    }
    Descriptor(0x06, 1);
    sink_.U8(0x02);  // SLConfigDescriptor predefined 2 (reserved for MP4 files)
    sink_.End();
    sink_.End();
  }
  // Tag and a 4-byte size (7 bits per byte), as most writers store it.
  void Descriptor(uint8_t tag, size_t size) {
    sink_.U8(tag);
    for (int shift = 21; shift > 0; shift -= 7) sink_.U8(static_cast<uint8_t>(0x80 | ((size >> shift) & 0x7f)));
    sink_.U8(static_cast<uint8_t>(size & 0x7f));
  }

  // A table box whose entry count follows the full box header and is known only at the end.
  template <typename Fn>
  void CountedTable(uint32_t type, uint8_t version, const Fn& write_entries) {
    sink_.BeginFull(type, version, 0);
    const uint64_t count_at = sink_.pos();
    sink_.U32(0);
    sink_.Patch32(count_at, write_entries());
    sink_.End();
  }

  void WriteStts(uint32_t index, const TrackSummary& t) {
    CountedTable(FourCC("stts"), 0, [&] {
      RunWriter runs(sink_);
      bool first = true;
      int64_t prev = 0;
      ForEachSample(index, [&](const SideSample& s) {
        if (!first) runs.Add(static_cast<uint32_t>(std::clamp<int64_t>(s.dts - prev, 0, 0xffffffffll)));
        first = false;
        prev = s.dts;
      });
      const int64_t last = t.MediaDuration() - (t.last_dts - t.first_dts);
      runs.Add(static_cast<uint32_t>(std::clamp<int64_t>(last, 0, 0xffffffffll)));
      return runs.Finish();
    });
  }

  void WriteCtts(uint32_t index, const TrackSummary& t) {
    CountedTable(FourCC("ctts"), t.negative_cts ? 1 : 0, [&] {
      RunWriter runs(sink_);
      ForEachSample(index, [&](const SideSample& s) {
        runs.Add(static_cast<uint32_t>(static_cast<int32_t>(std::clamp<int64_t>(s.cts_offset, INT32_MIN, INT32_MAX))));
      });
      return runs.Finish();
    });
  }

  void WriteStss(uint32_t index) {
    CountedTable(FourCC("stss"), 0, [&] {
      uint32_t number = 0, rows = 0;
      ForEachSample(index, [&](const SideSample& s) {
        ++number;
        if (!s.sync) return;
        sink_.U32(number);
        ++rows;
      });
      return rows;
    });
  }

  void WriteStsc(uint32_t index, const TrackSummary& t) {
    CountedTable(FourCC("stsc"), 0, [&] {
      ChunkTracker chunks(t.track.chunk_samples);
      uint32_t chunk = 0, in_chunk = 0, written_run = 0, rows = 0;
      auto close_chunk = [&] {
        if (chunk == 0 || in_chunk == written_run) return;
        sink_.U32(chunk);
        sink_.U32(in_chunk);
        sink_.U32(1);  // sample_description_index
        written_run = in_chunk;
        ++rows;
      };
      ForEachSample(index, [&](const SideSample& s) {
        if (chunks.StartsChunk(s)) {
          close_chunk();
          ++chunk;
          in_chunk = 0;
        }
        ++in_chunk;
      });
      close_chunk();
      return rows;
    });
  }

  void WriteStsz(uint32_t index, const TrackSummary& t) {
    sink_.BeginFull(FourCC("stsz"), 0, 0);
    sink_.U32(0);  // sizes differ: one entry per sample
    sink_.U32(static_cast<uint32_t>(t.count));
    ForEachSample(index, [&](const SideSample& s) { sink_.U32(s.size); });
    sink_.End();
  }

  void WriteChunkOffsets(uint32_t index, const TrackSummary& t) {
    const bool wide = scan_.data_end > 0xffffffffull;
    CountedTable(wide ? FourCC("co64") : FourCC("stco"), 0, [&] {
      ChunkTracker chunks(t.track.chunk_samples);
      uint32_t rows = 0;
      ForEachSample(index, [&](const SideSample& s) {
        if (!chunks.StartsChunk(s)) return;
        if (wide)
          sink_.U64(s.offset);
        else
          sink_.U32(static_cast<uint32_t>(s.offset));
        ++rows;
      });
      return rows;
    });
  }

  const SampleVisitor& samples_;
  const SideScan& scan_;
  BoxSink& sink_;
};

}  // namespace

Mp4Status MoveMovieFirst(const std::string& path) {
  Mp4File file;
  if (ReadMp4File(path, &file) != FileStatus::kOk || !MoveMoovToFront(&file)) return Mp4Status::kDamaged;
  OutputFile out;
  OutputOptions options;
  options.overwrite = true;
  if (out.Create(path, options) != OutputStatus::kOk) return Mp4Status::kCannotCreate;
  if (WriteMp4File(file, out.path()) != FileStatus::kOk || out.Publish() != OutputStatus::kOk)
    return Mp4Status::kWriteFailed;
  return Mp4Status::kOk;
}

bool SideScan::Add(const SideSample& s, uint64_t file_size) {
  auto it = tracks.find(s.track);
  if (it == tracks.end() || s.offset < data_end || s.offset + s.size > file_size) return false;
  TrackSummary& t = it->second;
  if (t.count > 0 && s.dts < t.last_dts) return false;
  if (t.count == 0)
    t.first_dts = s.dts;
  else
    t.last_delta = s.dts - t.last_dts;
  t.last_dts = s.dts;
  t.last_duration = s.duration;
  t.max_size = std::max(t.max_size, s.size);
  t.bytes += s.size;
  t.all_sync = t.all_sync && s.sync;
  t.any_cts = t.any_cts || s.cts_offset != 0;
  t.negative_cts = t.negative_cts || s.cts_offset < 0;
  ++t.count;
  ++samples;
  data_end = s.offset + s.size;
  return true;
}

bool WriteMovie(int fd, const SideScan& scan, const SampleVisitor& samples, uint64_t* end) {
  BoxSink sink(fd, scan.data_end);
  MovieWriter(samples, scan, sink).Write();
  if (!sink.Flush() || !sink.ok()) return false;
  *end = sink.pos();
  return true;
}

Mp4Status FinishFromSide(SideFileReader& side, int mp4_fd, const std::string& mp4_path, uint64_t* samples_kept) {
  side.Rewind();
  if (side.Next() != SideFileReader::Kind::kHead) return Mp4Status::kDamaged;
  const std::string path = mp4_path.empty() ? side.head().mp4_path : mp4_path;
  int own_fd = -1;
  if (mp4_fd < 0) {
    own_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (own_fd < 0) return Mp4Status::kCannotOpen;
    mp4_fd = own_fd;
  }
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) ::close(fd);
    }
  } closer{own_fd};

  struct stat st {};
  if (::fstat(mp4_fd, &st) != 0) return Mp4Status::kCannotOpen;
  SideScan scan;
  if (Mp4Status s = Scan(side, static_cast<uint64_t>(st.st_size), &scan); s != Mp4Status::kOk) return s;
  uint8_t header[kMdatHeaderSize];
  if (::pread(mp4_fd, header, sizeof header, static_cast<off_t>(scan.head.mdat_start)) != sizeof header ||
      LoadBE32(header + 4) != FourCC("mdat"))
    return Mp4Status::kDamaged;

  StoreBE32(header, 1);
  StoreBE64(header + 8, scan.data_end - scan.head.mdat_start);
  if (::pwrite(mp4_fd, header, sizeof header, static_cast<off_t>(scan.head.mdat_start)) != sizeof header)
    return Mp4Status::kWriteFailed;
  uint64_t end = 0;
  if (!WriteMovie(mp4_fd, scan, SideSamples(side, scan.samples), &end) ||
      ::ftruncate(mp4_fd, static_cast<off_t>(end)) != 0 || ::fdatasync(mp4_fd) != 0)
    return Mp4Status::kWriteFailed;
  if (samples_kept) *samples_kept = scan.samples;
  if (scan.head.movie_first) return MoveMovieFirst(path);
  return Mp4Status::kOk;
}

}  // namespace spherolux::mp4
