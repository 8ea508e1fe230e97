#include "side_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

Mp4Status SideFileWriter::AppendRecord(uint32_t kind, const std::vector<uint8_t>& payload) {
  if (fd_ < 0) return Mp4Status::kWriteFailed;
  std::vector<uint8_t> rec(12 + payload.size());
  StoreBE32(rec.data(), static_cast<uint32_t>(payload.size()));
  StoreBE32(rec.data() + 4, kind);
  std::memcpy(rec.data() + 8, payload.data(), payload.size());
  StoreBE32(rec.data() + 8 + payload.size(), Crc32(std::span<const uint8_t>(rec).subspan(4, 4 + payload.size())));
  const off_t at = ::lseek(fd_, 0, SEEK_END);
  if (at < 0) return Mp4Status::kWriteFailed;
  if (!WriteAll(fd_, rec.data(), rec.size())) {
    // A record cut short would end every later read at this point: take it back.
    if (::ftruncate(fd_, at) != 0) {
      // Nothing more can be done; readers stop at the damaged record.
    }
    return Mp4Status::kWriteFailed;
  }
  return Mp4Status::kOk;
}

Mp4Status SideFileWriter::Append(const SideHead& head) {
  Put p;
  p.U32(kSideVersion);
  p.U64(head.mdat_start);
  p.U8(head.movie_first ? 1 : 0);
  p.Text(head.mp4_path);
  return AppendRecord(kHead, p.bytes);
}

Mp4Status SideFileWriter::Append(const SideTrack& t) {
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
  return AppendRecord(kTrak, p.bytes);
}

Mp4Status SideFileWriter::Append(const SideSample& s) {
  Put p;
  p.U32(s.track);
  p.U64(s.offset);
  p.U32(s.size);
  p.U64(static_cast<uint64_t>(s.dts));
  p.U64(static_cast<uint64_t>(s.cts_offset));
  p.U64(static_cast<uint64_t>(s.duration));
  p.U8(s.sync ? 1 : 0);
  return AppendRecord(kSmpl, p.bytes);
}

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
}

bool SideFileReader::Fill(size_t need) {
  if (end_ - begin_ >= need) return true;
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
  if (fd_ < 0 || !Fill(8)) return Kind::kEnd;
  const uint32_t length = LoadBE32(buffer_.data() + begin_);
  const uint32_t kind = LoadBE32(buffer_.data() + begin_ + 4);
  if (length > kMaxRecord || !Fill(12 + size_t{length})) return Kind::kEnd;
  const std::span<const uint8_t> checked(buffer_.data() + begin_ + 4, 4 + size_t{length});
  if (Crc32(checked) != LoadBE32(buffer_.data() + begin_ + 8 + length)) return Kind::kEnd;
  ByteReader g(checked.subspan(4));
  begin_ += 12 + size_t{length};
  switch (kind) {
    case kHead: {
      SideHead h;
      if (g.U32() != kSideVersion) return Kind::kEnd;
      h.mdat_start = g.U64();
      h.movie_first = g.U8() != 0;
      h.mp4_path = Text(g);
      if (g.bad) return Kind::kEnd;
      head_ = std::move(h);
      return Kind::kHead;
    }
    case kTrak: {
      SideTrack t;
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
      if (g.bad || d.timescale == 0) return Kind::kEnd;
      track_ = std::move(t);
      return Kind::kTrack;
    }
    case kSmpl: {
      SideSample s;
      s.track = g.U32();
      s.offset = g.U64();
      s.size = g.U32();
      s.dts = static_cast<int64_t>(g.U64());
      s.cts_offset = static_cast<int64_t>(g.U64());
      s.duration = static_cast<int64_t>(g.U64());
      s.sync = g.U8() != 0;
      if (g.bad) return Kind::kEnd;
      sample_ = s;
      return Kind::kSample;
    }
    default:
      return Kind::kOther;
  }
}

}  // namespace spherolux::mp4
