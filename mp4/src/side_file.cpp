#include "side_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>

#include "base/bytes.h"
#include "byte_reader.h"

namespace spherolux::mp4 {
namespace {

constexpr uint32_t kHead = FourCC("head");
constexpr uint32_t kTrak = FourCC("trak");
constexpr uint32_t kSmpl = FourCC("smpl");
constexpr uint32_t kSideVersion = 1;
// A record larger than this is damage, not data: the largest real one is a track record
// with its sample entry, far below it.
constexpr uint32_t kMaxRecord = 16u << 20;

class Put {
 public:
  void U8(uint8_t v) { bytes.push_back(v); }
  void U16(uint16_t v) {
    Grow(2, [&](uint8_t* p) { StoreBE16(p, v); });
  }
  void U32(uint32_t v) {
    Grow(4, [&](uint8_t* p) { StoreBE32(p, v); });
  }
  void U64(uint64_t v) {
    Grow(8, [&](uint8_t* p) { StoreBE64(p, v); });
  }
  void F64(double v) { U64(std::bit_cast<uint64_t>(v)); }
  void Blob(std::span<const uint8_t> b) {
    U32(static_cast<uint32_t>(b.size()));
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  void Text(const std::string& s) { Blob({reinterpret_cast<const uint8_t*>(s.data()), s.size()}); }
  std::vector<uint8_t> bytes;

 private:
  template <typename Fn>
  void Grow(size_t n, const Fn& store) {
    bytes.resize(bytes.size() + n);
    store(bytes.data() + bytes.size() - n);
  }
};

// Side-file fields beyond the integers: doubles by their bits, byte strings behind a 32-bit
// length.
double F64(ByteReader& r) { return std::bit_cast<double>(r.U64()); }
std::vector<uint8_t> Blob(ByteReader& r) {
  const auto b = r.Bytes(r.U32());
  return {b.begin(), b.end()};
}
std::string Text(ByteReader& r) {
  const auto b = r.Bytes(r.U32());
  return {b.begin(), b.end()};
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Takes the lock without waiting; false when another open file description holds it.
bool Lock(int fd, int how) { return ::flock(fd, how | LOCK_NB) == 0; }

// [length][kind][payload][CRC-32 of kind and payload].
std::vector<uint8_t> Frame(uint32_t kind, const std::vector<uint8_t>& payload);

bool KnownKind(uint32_t kind) { return kind == kHead || kind == kTrak || kind == kSmpl; }

enum class Parsed { kRecord, kInvalid, kShort };

// The record at the start of `bytes`. kShort when they end first, with *length set to the
// bytes needed; kInvalid when no intact record starts there.
Parsed ParseRecord(std::span<const uint8_t> bytes, uint32_t max_length, SideRecord* out, size_t* length) {
  if (bytes.size() < 8) {
    *length = 8;
    return Parsed::kShort;
  }
  const uint32_t payload = LoadBE32(bytes.data());
  const uint32_t kind = LoadBE32(bytes.data() + 4);
  // Only the kinds a writer makes: a cheap test that keeps the search through damaged bytes
  // from checksumming at every step.
  if (!KnownKind(kind) || payload > max_length) return Parsed::kInvalid;
  *length = 12 + size_t{payload};
  if (bytes.size() < *length) return Parsed::kShort;
  const std::span<const uint8_t> checked = bytes.subspan(4, 4 + size_t{payload});
  if (Crc32(checked) != LoadBE32(bytes.data() + 8 + payload)) return Parsed::kInvalid;
  ByteReader g(checked.subspan(4));
  switch (kind) {
    case kHead: {
      SideHead& h = out->head;
      if (g.U32() != kSideVersion) return Parsed::kInvalid;
      h.mdat_start = g.U64();
      h.movie_first = g.U8() != 0;
      h.mp4_path = Text(g);
      out->kind = SideKind::kHead;
      break;
    }
    case kTrak: {
      SideTrack& t = out->track;
      TrackDescription& d = t.description;
      t.index = g.U32();
      d.handler = g.U32();
      d.codec = g.U32();
      d.timescale = g.U32();
      d.duration_ms = F64(g);
      d.bit_rate = g.U32();
      d.max_sample_size = g.U32();
      d.width = g.U16();
      d.height = g.U16();
      d.frame_rate = F64(g);
      d.channels = g.U16();
      d.sample_bits = g.U16();
      d.sample_rate = g.U32();
      d.object_type = g.U8();
      d.annex_b = g.U8() != 0;
      d.sample_entry = Blob(g);
      t.handler_name = Text(g);
      t.config = Blob(g);
      t.flags = g.U32();
      t.chunk_samples = g.U32();
      if (d.timescale == 0) return Parsed::kInvalid;
      out->kind = SideKind::kTrack;
      break;
    }
    case kSmpl: {
      SideSample& s = out->sample;
      s.track = g.U32();
      s.offset = g.U64();
      s.size = g.U32();
      s.dts = static_cast<int64_t>(g.U64());
      s.cts_offset = static_cast<int64_t>(g.U64());
      s.duration = static_cast<int64_t>(g.U64());
      s.sync = g.U8() != 0;
      out->kind = SideKind::kSample;
      break;
    }
  }
  return g.bad ? Parsed::kInvalid : Parsed::kRecord;
}

}  // namespace

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (uint8_t b : bytes) crc = table[(crc ^ b) & 0xff] ^ (crc >> 8);
  return ~crc;
}

namespace {
std::vector<uint8_t> Frame(uint32_t kind, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> rec(12 + payload.size());
  StoreBE32(rec.data(), static_cast<uint32_t>(payload.size()));
  StoreBE32(rec.data() + 4, kind);
  std::memcpy(rec.data() + 8, payload.data(), payload.size());
  StoreBE32(rec.data() + 8 + payload.size(), Crc32(std::span<const uint8_t>(rec).subspan(4, 4 + payload.size())));
  return rec;
}
}  // namespace

std::vector<uint8_t> EncodeRecord(const SideHead& head) {
  Put p;
  p.U32(kSideVersion);
  p.U64(head.mdat_start);
  p.U8(head.movie_first ? 1 : 0);
  p.Text(head.mp4_path);
  return Frame(kHead, p.bytes);
}

std::vector<uint8_t> EncodeRecord(const SideTrack& t) {
  const TrackDescription& d = t.description;
  Put p;
  p.U32(t.index);
  p.U32(d.handler);
  p.U32(d.codec);
  p.U32(d.timescale);
  p.F64(d.duration_ms);
  p.U32(d.bit_rate);
  p.U32(d.max_sample_size);
  p.U16(d.width);
  p.U16(d.height);
  p.F64(d.frame_rate);
  p.U16(d.channels);
  p.U16(d.sample_bits);
  p.U32(d.sample_rate);
  p.U8(d.object_type);
  p.U8(d.annex_b ? 1 : 0);
  p.Blob(d.sample_entry);
  p.Text(t.handler_name);
  p.Blob(t.config);
  p.U32(t.flags);
  p.U32(t.chunk_samples);
  return Frame(kTrak, p.bytes);
}

std::vector<uint8_t> EncodeRecord(const SideSample& s) {
  Put p;
  p.U32(s.track);
  p.U64(s.offset);
  p.U32(s.size);
  p.U64(static_cast<uint64_t>(s.dts));
  p.U64(static_cast<uint64_t>(s.cts_offset));
  p.U64(static_cast<uint64_t>(s.duration));
  p.U8(s.sync ? 1 : 0);
  return Frame(kSmpl, p.bytes);
}

SideFileWriter::~SideFileWriter() {
  if (fd_ >= 0) ::close(fd_);
}

Mp4Status SideFileWriter::Create(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return Mp4Status::kCannotCreate;
  if (!Lock(fd, LOCK_EX)) {
    ::close(fd);
    return Mp4Status::kBusy;
  }
  if (::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return Mp4Status::kCannotCreate;
  }
  path_ = path;
  fd_ = fd;
  return Mp4Status::kOk;
}

Mp4Status SideFileWriter::AppendRecord(const std::vector<uint8_t>& rec) {
  if (fd_ < 0) return Mp4Status::kWriteFailed;
  const off_t at = ::lseek(fd_, 0, SEEK_END);
  if (at < 0) return Mp4Status::kWriteFailed;
  if (!WriteAll(fd_, rec.data(), rec.size())) {
    // Readers would step over a record cut short; take it back all the same.
    if (::ftruncate(fd_, at) != 0) {
      // Nothing more can be done.
    }
    return Mp4Status::kWriteFailed;
  }
  return Mp4Status::kOk;
}

Mp4Status SideFileWriter::Append(const SideHead& head) { return AppendRecord(EncodeRecord(head)); }
Mp4Status SideFileWriter::Append(const SideTrack& track) { return AppendRecord(EncodeRecord(track)); }
Mp4Status SideFileWriter::Append(const SideSample& sample) { return AppendRecord(EncodeRecord(sample)); }

bool SideFileWriter::Sync() { return fd_ >= 0 && ::fdatasync(fd_) == 0; }

void SideFileWriter::Remove() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

SideFileReader::~SideFileReader() {
  if (fd_ >= 0) ::close(fd_);
}

Mp4Status SideFileReader::Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Mp4Status::kCannotOpen;
  if (!Lock(fd, LOCK_EX)) {
    ::close(fd);
    return Mp4Status::kBusy;
  }
  return Attach(fd);
}

Mp4Status SideFileReader::Attach(int fd) {
  if (fd < 0) return Mp4Status::kCannotOpen;
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  buffer_.resize(1 << 20);
  Rewind();
  return Mp4Status::kOk;
}

void SideFileReader::Rewind() {
  begin_ = end_ = 0;
  file_pos_ = 0;
  eof_ = false;
  damaged_ = 0;
}

bool SideFileReader::Fill(size_t need) {
  if (end_ - begin_ >= need) return true;
  if (eof_) return false;
  if (need > buffer_.size()) buffer_.resize(need);
  std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  while (end_ < need && !eof_) {
    const ssize_t r = ::pread(fd_, buffer_.data() + end_, buffer_.size() - end_, file_pos_);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      eof_ = true;
      break;
    }
    end_ += static_cast<size_t>(r);
    file_pos_ += r;
  }
  return end_ - begin_ >= need;
}

SideFileReader::Kind SideFileReader::Next() {
  if (fd_ < 0) return Kind::kEnd;
  for (size_t need = 8;;) {
    Fill(need);
    const std::span<const uint8_t> bytes(buffer_.data() + begin_, end_ - begin_);
    if (bytes.empty()) return Kind::kEnd;
    SideRecord rec;
    const Parsed parsed = ParseRecord(bytes, kMaxRecord, &rec, &need);
    if (parsed == Parsed::kShort && !eof_) continue;  // read more first
    if (parsed == Parsed::kRecord) {
      begin_ += need;
      record_ = std::move(rec);
      return record_.kind;
    }
    // No intact record starts here: damage, or a record the writer never finished. Step
    // over one byte and look again; an intact record after it is still good.
    ++begin_;
    ++damaged_;
    need = 8;
  }
}

void ScanForRecords(int fd, uint64_t from, uint64_t to,
                    const std::function<void(const SideRecord&, uint64_t offset, uint64_t length)>& found) {
  constexpr size_t kWindow = 4u << 20;
  constexpr uint32_t kLongest = 64u << 10;
  std::vector<uint8_t> window;
  for (uint64_t base = from; base < to;) {
    // Each window reaches one longest record past the part scanned from it, so that no
    // record is missed at a seam.
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kWindow + 12 + kLongest, to - base));
    window.resize(want);
    size_t got = 0;
    while (got < want) {
      const ssize_t r = ::pread(fd, window.data() + got, want - got, static_cast<off_t>(base + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    const bool last = got < want || base + got >= to;
    const size_t scan_end = last ? got : kWindow;
    size_t i = 0;
    while (i < scan_end && i + 8 <= got) {
      size_t length = 0;
      SideRecord rec;
      if (ParseRecord(std::span<const uint8_t>(window.data() + i, got - i), kLongest, &rec, &length) ==
          Parsed::kRecord) {
        found(rec, base + i, length);
        i += length;
      } else {
        ++i;
      }
    }
    if (last) break;
    base += i;
  }
}

}  // namespace spherolux::mp4
