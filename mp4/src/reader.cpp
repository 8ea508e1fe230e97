#include "mp4/reader.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "base/bytes.h"
#include "base/file.h"
#include "byte_reader.h"
#include "mp4/file.h"

namespace spherolux::mp4 {
namespace {

// Tracks with more samples than this are left out: their tables would take gigabytes.
constexpr uint64_t kMaxSamples = 1u << 24;

struct Sample {
  uint64_t offset;
  int64_t dts;  // media ticks
  uint32_t size;
  uint32_t duration;
  int32_t cts_offset;
  bool sync;
};

struct Track {
  TrackDescription description;
  std::vector<uint8_t> config;
  std::vector<Sample> samples;
  int64_t shift = 0;  // presentation time = media time + shift (ticks), from the edit list
  size_t next = 0;    // read position
};

// A full box's body after version and flags; empty when the box is too short or a container.
std::span<const uint8_t> FullBody(const Box* b, uint8_t* version) {
  if (!b || b->container || b->data.size() < 4) return {};
  *version = b->data[0];
  return std::span<const uint8_t>(b->data).subspan(4);
}

const Box* Path(const Box* b, std::initializer_list<const char*> types) {
  for (const char* t : types) b = b ? b->Find(TypeCode(t)) : nullptr;
  return b;
}

// An ISO/IEC 14496-1 descriptor length: up to four bytes of 7 bits.
size_t DescriptorLength(ByteReader& c) {
  size_t n = 0;
  for (int i = 0; i < 4; ++i) {
    const uint8_t b = c.U8();
    n = n << 7 | (b & 0x7f);
    if (!(b & 0x80)) break;
  }
  return n;
}

// 'esds' (ISO/IEC 14496-14 3.1.2): the object type, bit rate and DecoderSpecificInfo.
void ReadEsds(std::span<const uint8_t> body, Track* t) {
  ByteReader c(body);
  c.Skip(4);  // version, flags
  if (c.U8() != 0x03) return;
  DescriptorLength(c);
  c.Skip(2);
  const uint8_t flags = c.U8();
  if (flags & 0x80) c.Skip(2);
  if (flags & 0x40) c.Skip(c.U8());
  if (flags & 0x20) c.Skip(2);
  if (c.U8() != 0x04) return;
  DescriptorLength(c);
  t->description.object_type = c.U8();
  c.Skip(8);  // stream type, buffer size, max bit rate
  c.U32();    // average bit rate (the tables give the real one)
  if (c.bad || c.U8() != 0x05) return;
  const size_t n = DescriptorLength(c);
  if (c.bad || !c.Has(n)) return;
  const auto info = c.Rest().first(n);
  t->config.assign(info.begin(), info.end());
}

// The fields of a visual or audio sample entry and its decoder configuration.
void ReadSampleEntry(const Box& entry, Track* t) {
  TrackDescription& d = t->description;
  d.codec = entry.type;
  SerializeBox(entry, &d.sample_entry);
  if (entry.container) {  // visual entries are parsed as containers (box.h)
    if (entry.prefix.size() >= 28) {
      d.width = LoadBE16(entry.prefix.data() + 24);
      d.height = LoadBE16(entry.prefix.data() + 26);
    }
    for (const char* type : {"avcC", "hvcC", "vpcC", "av1C"}) {
      if (const Box* b = entry.Find(TypeCode(type)); b && !b->container) {
        t->config = b->data;
        break;
      }
    }
    return;
  }
  if (t->description.handler != kHandlerSound) return;
  // 12.2.3 AudioSampleEntry; QuickTime versions 1 and 2 add fields before the child boxes.
  ByteReader c(entry.data);
  c.Skip(8);
  const uint16_t version = c.U16();
  c.Skip(6);
  d.channels = c.U16();
  d.sample_bits = c.U16();
  c.Skip(4);
  d.sample_rate = c.U32() >> 16;
  if (version == 1) c.Skip(16);
  if (version == 2) {
    c.Skip(4);
    const uint64_t rate = c.U64();
    d.sample_rate = static_cast<uint32_t>(std::clamp(std::bit_cast<double>(rate), 0.0, 1e7));
    d.channels = static_cast<uint16_t>(c.U32());
    c.Skip(20);
  }
  if (c.bad) return;
  std::vector<Box> children;
  ParseBoxes(c.Rest(), &children, 8);
  for (const Box& b : children) {
    if (b.type == TypeCode("esds")) ReadEsds(b.data, t);
    if (b.type == TypeCode("wave")) {  // QuickTime: 'wave' { 'frma', 'mp4a', 'esds', ... }
      std::vector<Box> wave;
      ParseBoxes(b.data, &wave, 9);
      for (const Box& w : wave)
        if (w.type == TypeCode("esds")) ReadEsds(w.data, t);
    }
  }
}

// Expands the sample tables (8.6.1.2 stts, 8.6.1.3 ctts, 8.6.2 stss, 8.7.3 stsz, 8.7.4
// stsc, 8.7.5 stco/co64) into one record per sample. False when they do not fit together.
bool ReadSampleTables(const Box& stbl, int64_t file_size, Track* t) {
  uint8_t v = 0;
  ByteReader stsz(FullBody(stbl.Find(TypeCode("stsz")), &v));
  const uint32_t uniform = stsz.U32();
  uint64_t count = stsz.U32();
  if (stsz.bad) return false;
  if (uniform == 0) count = std::min<uint64_t>(count, stsz.left() / 4);
  // Every real sample holds at least a byte of the file.
  count = std::min({count, kMaxSamples, static_cast<uint64_t>(std::max<int64_t>(file_size, 0))});

  const bool wide = stbl.Find(TypeCode("co64")) != nullptr;
  ByteReader chunks(FullBody(stbl.Find(TypeCode(wide ? "co64" : "stco")), &v));
  const size_t entry = wide ? 8 : 4;
  const uint64_t chunk_count = std::min<uint64_t>(chunks.U32(), chunks.left() / entry);
  const std::span<const uint8_t> offsets = chunks.Rest();
  auto chunk_offset = [&](uint64_t c) {  // c from 1
    const uint8_t* p = offsets.data() + (c - 1) * entry;
    return wide ? LoadBE64(p) : LoadBE32(p);
  };
  ByteReader stsc(FullBody(stbl.Find(TypeCode("stsc")), &v));
  const uint64_t runs = std::min<uint64_t>(stsc.U32(), stsc.left() / 12);
  if (chunks.bad || stsc.bad) return false;

  t->samples.reserve(static_cast<size_t>(count));
  uint64_t chunk = 1;
  // Samples stop at the first one that is not wholly inside the file (a cut recording).
  bool inside = true;
  for (uint64_t r = 0; r < runs && inside && t->samples.size() < count; ++r) {
    const uint32_t first = stsc.U32();
    const uint32_t per_chunk = stsc.U32();
    stsc.U32();
    if (first < chunk || first == 0) break;  // runs must ascend
    // This run covers chunks [first, next run's first); the last run every chunk left.
    ByteReader peek(stsc.Rest());
    const uint64_t last = r + 1 < runs ? peek.U32() : chunk_count + 1;
    for (chunk = first; chunk < last && chunk <= chunk_count && inside && t->samples.size() < count; ++chunk) {
      uint64_t offset = chunk_offset(chunk);
      for (uint32_t k = 0; k < per_chunk && t->samples.size() < count; ++k) {
        const uint32_t size = uniform ? uniform : stsz.U32();
        if (offset > static_cast<uint64_t>(file_size) || size > static_cast<uint64_t>(file_size) - offset) {
          inside = false;
          break;
        }
        t->samples.push_back({offset, 0, size, 0, 0, true});
        offset += size;
      }
    }
  }

  ByteReader stts(FullBody(stbl.Find(TypeCode("stts")), &v));
  uint64_t entries = stts.U32();
  int64_t dts = 0;
  size_t i = 0;
  for (; entries > 0 && !stts.bad && i < t->samples.size(); --entries) {
    const uint32_t n = stts.U32(), delta = stts.U32();
    for (uint32_t k = 0; k < n && i < t->samples.size() && !stts.bad; ++k, ++i) {
      t->samples[i].dts = dts;
      t->samples[i].duration = delta;
      dts += delta;
    }
  }
  t->samples.resize(i);  // samples without a time are dropped

  const Box* ctts_box = stbl.Find(TypeCode("ctts"));
  ByteReader ctts(FullBody(ctts_box, &v));
  entries = ctts_box ? ctts.U32() : 0;
  for (i = 0; entries > 0 && !ctts.bad && i < t->samples.size(); --entries) {
    const uint32_t n = ctts.U32();
    const int32_t offset = static_cast<int32_t>(ctts.U32());  // signed in practice in version 0 too
    for (uint32_t k = 0; k < n && i < t->samples.size() && !ctts.bad; ++k, ++i) t->samples[i].cts_offset = offset;
  }

  if (const Box* stss_box = stbl.Find(TypeCode("stss"))) {
    ByteReader stss(FullBody(stss_box, &v));
    for (auto& s : t->samples) s.sync = false;
    for (uint64_t n = stss.U32(); n > 0 && !stss.bad; --n) {
      const uint32_t number = stss.U32();
      if (number >= 1 && number <= t->samples.size()) t->samples[number - 1].sync = true;
    }
  }
  return !t->samples.empty();
}

// 8.6.6: leading empty edits delay the track; the first media edit's start is shown at
// that point.
int64_t EditShift(const Box& trak, uint32_t movie_timescale, uint32_t timescale) {
  uint8_t version = 0;
  ByteReader elst(FullBody(Path(&trak, {"edts", "elst"}), &version));
  int64_t delay = 0;
  for (uint32_t n = elst.U32(); n > 0 && !elst.bad; --n) {
    const uint64_t duration = version == 1 ? elst.U64() : elst.U32();
    const int64_t media_time = version == 1 ? static_cast<int64_t>(elst.U64()) : static_cast<int32_t>(elst.U32());
    elst.U32();
    if (elst.bad) break;
    if (media_time == -1) {
      if (movie_timescale > 0)
        delay += static_cast<int64_t>(static_cast<double>(duration) * timescale / movie_timescale);
      continue;
    }
    return delay - media_time;
  }
  return delay;
}

double ToMs(int64_t ticks, uint32_t timescale) { return static_cast<double>(ticks) * 1000.0 / timescale; }

class ReaderImpl final : public Mp4Reader {
 public:
  Mp4Status Open(const std::string& path) {
    Mp4File file;
    const FileStatus fs = ReadMp4File(path, &file);
    if (fs == FileStatus::kCannotOpen) return Mp4Status::kCannotOpen;
    const Box* moov = file.Find(TypeCode("moov"));
    if (!moov || (fs != FileStatus::kOk && fs != FileStatus::kTruncated)) return Mp4Status::kNotMp4;
    file_ = OpenFile(path.c_str(), "rb");
    if (!file_) return Mp4Status::kCannotOpen;
    const int64_t size = FileSize(file_.get());
    uint8_t version = 0;
    ByteReader mvhd(FullBody(moov->Find(TypeCode("mvhd")), &version));
    mvhd.Skip(version == 1 ? 16 : 8);
    const uint32_t movie_timescale = mvhd.U32();
    for (const Box& trak : moov->children)
      if (trak.type == TypeCode("trak")) ReadTrack(trak, size, movie_timescale);
    return tracks_.empty() ? Mp4Status::kNotMp4 : Mp4Status::kOk;
  }

  int track_count() const override { return static_cast<int>(tracks_.size()); }
  const TrackDescription& description(int track) const override {
    static const TrackDescription kNone;
    const Track* t = Find(track);
    return t ? t->description : kNone;
  }
  std::span<const uint8_t> decoder_config(int track) const override {
    const Track* t = Find(track);
    return t ? std::span<const uint8_t>(t->config) : std::span<const uint8_t>();
  }
  uint32_t sample_count(int track) const override {
    const Track* t = Find(track);
    return t ? static_cast<uint32_t>(t->samples.size()) : 0;
  }
  std::vector<double> PresentationTimes(int track) const override {
    std::vector<double> times;
    if (const Track* t = Find(track)) {
      times.reserve(t->samples.size());
      for (const Sample& s : t->samples)
        times.push_back(ToMs(s.dts + s.cts_offset + t->shift, t->description.timescale));
    }
    return times;
  }

  Mp4Status SeekToTime(int track, double ms, double* reached_ms) override {
    Track* t = Find(track);
    if (!t) return Mp4Status::kBadArgument;
    const uint32_t ts = t->description.timescale;
    // The last sample whose presentation start is at or before `ms`.
    const double target = ms * ts / 1000.0 - static_cast<double>(t->shift);
    auto it = std::upper_bound(t->samples.begin(), t->samples.end(), target,
                               [](double v, const Sample& s) { return v < static_cast<double>(s.dts); });
    t->next = it == t->samples.begin() ? 0 : static_cast<size_t>(it - t->samples.begin()) - 1;
    const Sample& last = t->samples.back();
    if (target >= static_cast<double>(last.dts) + last.duration) {
      t->next = t->samples.size();
      if (reached_ms) *reached_ms = ToMs(last.dts + last.duration + t->shift, ts);
      return Mp4Status::kEndOfTrack;
    }
    if (reached_ms) *reached_ms = ToMs(t->samples[t->next].dts + t->shift, ts);
    return Mp4Status::kOk;
  }

  Mp4Status SeekToSyncBefore(int track, double ms, double* reached_ms) override {
    Mp4Status status = SeekToTime(track, ms, reached_ms);
    Track* t = Find(track);
    if (status == Mp4Status::kBadArgument || t->samples.empty()) return status;
    if (status == Mp4Status::kEndOfTrack) t->next = t->samples.size() - 1;
    while (t->next > 0 && !t->samples[t->next].sync) --t->next;
    if (reached_ms) *reached_ms = ToMs(t->samples[t->next].dts + t->shift, t->description.timescale);
    return Mp4Status::kOk;
  }

  Mp4Status ReadSample(int track, uint8_t* buffer, size_t capacity, SampleRecord* rec) override {
    Track* t = Find(track);
    if (!t || !rec) return Mp4Status::kBadArgument;
    if (t->next >= t->samples.size()) return Mp4Status::kEndOfTrack;
    const Sample& s = t->samples[t->next];
    const uint32_t ts = t->description.timescale;
    *rec = SampleRecord{};
    rec->size = s.size;
    if (capacity < s.size || (!buffer && s.size > 0)) return Mp4Status::kBufferTooSmall;
    if (!SeekTo(file_.get(), static_cast<int64_t>(s.offset)) || !ReadExact(file_.get(), buffer, s.size))
      return Mp4Status::kCannotOpen;
    rec->decode_ms = ToMs(s.dts + t->shift, ts);
    rec->composition_ms = ToMs(s.dts + s.cts_offset + t->shift, ts);
    rec->duration_ms = ToMs(s.duration, ts);
    rec->sync = s.sync;
    ++t->next;
    return Mp4Status::kOk;
  }

 private:
  const Track* Find(int track) const {
    return track >= 0 && static_cast<size_t>(track) < tracks_.size() ? &tracks_[static_cast<size_t>(track)] : nullptr;
  }
  Track* Find(int track) { return const_cast<Track*>(static_cast<const ReaderImpl*>(this)->Find(track)); }

  void ReadTrack(const Box& trak, int64_t file_size, uint32_t movie_timescale) {
    Track t;
    TrackDescription& d = t.description;
    uint8_t version = 0;
    ByteReader hdlr(FullBody(Path(&trak, {"mdia", "hdlr"}), &version));
    hdlr.Skip(4);
    d.handler = hdlr.U32();
    ByteReader mdhd(FullBody(Path(&trak, {"mdia", "mdhd"}), &version));
    mdhd.Skip(version == 1 ? 16 : 8);
    d.timescale = mdhd.U32();
    const Box* stbl = Path(&trak, {"mdia", "minf", "stbl"});
    const Box* stsd = stbl ? stbl->Find(TypeCode("stsd")) : nullptr;
    if (hdlr.bad || mdhd.bad || d.timescale == 0 || !stsd || !stsd->container || stsd->children.empty()) return;
    ReadSampleEntry(stsd->children.front(), &t);
    if (!ReadSampleTables(*stbl, file_size, &t)) return;
    t.shift = EditShift(trak, movie_timescale, d.timescale);

    const Sample& last = t.samples.back();
    const double seconds = static_cast<double>(last.dts + last.duration) / d.timescale;
    uint64_t bytes = 0;
    for (const Sample& s : t.samples) {
      bytes += s.size;
      d.max_sample_size = std::max(d.max_sample_size, s.size);
    }
    d.duration_ms = seconds * 1000;
    if (seconds > 0) {
      d.bit_rate = static_cast<uint32_t>(std::min(4e9, static_cast<double>(bytes) * 8 / seconds));
      if (d.handler == kHandlerVideo) d.frame_rate = static_cast<double>(t.samples.size()) / seconds;
    }
    tracks_.push_back(std::move(t));
  }

  UniqueFile file_;
  std::vector<Track> tracks_;
};

}  // namespace

Mp4Status Mp4Reader::Open(const std::string& path, std::unique_ptr<Mp4Reader>* out) {
  auto r = std::make_unique<ReaderImpl>();
  if (Mp4Status s = r->Open(path); s != Mp4Status::kOk) return s;
  *out = std::move(r);
  return Mp4Status::kOk;
}

}  // namespace spherolux::mp4
