#include "mp4/file.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "base/byte_source.h"
#include "base/bytes.h"
#include "base/file.h"
#include "base/mp4_boxes.h"

namespace spherolux::mp4 {
namespace {

constexpr uint32_t kUuid = FourCC("uuid");

bool KeptInSource(uint32_t type, uint64_t body_size) {
  return type == FourCC("mdat") || type == FourCC("free") || type == FourCC("skip") || type == FourCC("wide") ||
         body_size > kMaxInMemoryBody;
}

// A chunk offset table with the values it had in the source file.
struct OffsetTable {
  Box* box;
  std::vector<uint64_t> source_values;
};

bool ReadOffsetTable(Box* box, OffsetTable* table) {
  const bool wide = box->type == FourCC("co64");
  const auto& d = box->data;
  if (box->container || d.size() < 8) return false;
  const uint64_t count = LoadBE32(d.data() + 4);
  const size_t entry = wide ? 8 : 4;
  if (count > (d.size() - 8) / entry) return false;  // damaged table: left as it is
  table->box = box;
  table->source_values.resize(count);
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* p = d.data() + 8 + i * entry;
    table->source_values[i] = wide ? LoadBE64(p) : LoadBE32(p);
  }
  return true;
}

// Rewrites the table from its source values with the given mapping; false when an 'stco'
// value no longer fits 32 bits (the caller turns it into a 'co64').
template <typename Map>
bool WriteOffsetTable(OffsetTable& t, const Map& map) {
  Box* box = t.box;
  const bool wide = box->type == FourCC("co64");
  std::vector<uint8_t> data(box->data.begin(), box->data.begin() + 8);
  data.resize(8 + t.source_values.size() * (wide ? 8 : 4));
  for (size_t i = 0; i < t.source_values.size(); ++i) {
    const uint64_t v = map(t.source_values[i]);
    uint8_t* p = data.data() + 8 + i * (wide ? 8 : 4);
    if (wide) {
      StoreBE64(p, v);
    } else {
      if (v > 0xffffffffull) return false;
      StoreBE32(p, static_cast<uint32_t>(v));
    }
  }
  box->data = std::move(data);
  return true;
}

bool CopyRange(std::FILE* src, int64_t offset, uint64_t size, std::FILE* dst, const WriteOptions& options,
               uint64_t* done, uint64_t total) {
  if (!SeekTo(src, offset)) return false;
  std::vector<uint8_t> buf(1 << 20);
  while (size > 0) {
    if (options.cancelled && options.cancelled()) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, buf.size()));
    if (!ReadExact(src, buf.data(), n)) return false;
    if (std::fwrite(buf.data(), 1, n, dst) != n) return false;
    size -= n;
    *done += n;
    if (options.progress) options.progress(*done, total);
  }
  return true;
}

}  // namespace

Box* Mp4File::Find(uint32_t type) {
  for (auto& b : boxes)
    if (b.box.type == type) return &b.box;
  return nullptr;
}

const Box* Mp4File::Find(uint32_t type) const {
  for (const auto& b : boxes)
    if (b.box.type == type) return &b.box;
  return nullptr;
}

FileStatus ReadMp4File(const std::string& path, Mp4File* out) {
  *out = Mp4File{};
  FileSource src(path.c_str());
  if (!src.ok()) return FileStatus::kCannotOpen;
  out->source_path = path;
  Mp4BoxReader reader(src, 0, src.Size());
  // What ends the walk early: nothing read yet means the file is no MP4 at all.
  auto broken = [&] { return out->boxes.empty() ? FileStatus::kNotMp4 : FileStatus::kTruncated; };
  FileStatus status = FileStatus::kOk;
  for (;;) {
    Mp4Box h;
    const ReadStatus st = reader.Next(&h);
    if (st == ReadStatus::kEnd) {
      if (reader.trailing() > 0) status = broken();
      break;
    }
    if (st == ReadStatus::kShort) return FileStatus::kTruncated;
    if (st == ReadStatus::kMalformed) return broken();
    // Every top-level box type is printable in a real file: this rejects other formats early.
    for (int i = 0; i < 4; ++i) {
      const uint8_t c = static_cast<uint8_t>(h.type >> (24 - 8 * i));
      if (c < 32 || c > 126) return broken();
    }
    Box box;
    box.type = h.type;
    box.wide_size = h.size_field == 1;
    int64_t body_start = h.body();
    if (box.type == kUuid) {
      if (h.body_size() < 16) return h.cut ? FileStatus::kTruncated : broken();
      if (!src.Seek(body_start) || !src.Read(box.usertype.data(), 16)) return FileStatus::kTruncated;
      body_start += 16;
    }
    if (h.cut) {
      // A first box larger than the whole file means this is no MP4 at all.
      if (out->boxes.empty()) return FileStatus::kNotMp4;
      status = FileStatus::kTruncated;
    }
    const uint64_t body = static_cast<uint64_t>(h.end() - body_start);
    TopBox top;
    top.source_start = h.start;
    top.source_size = h.size;
    if (KeptInSource(box.type, body) && body > 0) {
      if (box.type == FourCC("moov")) return FileStatus::kTooLarge;
      box.source_offset = body_start;
      box.source_size = body;
    } else {
      std::vector<uint8_t> bytes(static_cast<size_t>(body));
      if (!src.Seek(body_start) || !src.Read(bytes.data(), bytes.size())) return FileStatus::kCannotOpen;
      // Parse this one box from a buffer holding its header and body, so that the box
      // tree rules (containers, limits) are those of ParseBoxes.
      std::vector<Box> parsed;
      Box probe;
      probe.type = box.type;
      probe.usertype = box.usertype;
      probe.data = std::move(bytes);
      std::vector<uint8_t> serial;
      SerializeBox(probe, &serial);
      ParseBoxes(serial, &parsed, 0);
      if (parsed.size() != 1) return FileStatus::kNotMp4;
      parsed[0].wide_size = box.wide_size;
      box = std::move(parsed[0]);
    }
    top.box = std::move(box);
    out->boxes.push_back(std::move(top));
  }
  if (out->boxes.empty()) return FileStatus::kNotMp4;
  return status;
}

bool MoveMoovToFront(Mp4File* file) {
  auto& v = file->boxes;
  auto moov = std::find_if(v.begin(), v.end(), [](const TopBox& b) { return b.box.type == FourCC("moov"); });
  if (moov == v.end()) return false;
  auto mdat = std::find_if(v.begin(), v.end(), [](const TopBox& b) { return b.box.type == FourCC("mdat"); });
  if (mdat == v.end() || mdat < moov) {
    if (mdat != v.end()) {
      TopBox m = std::move(*moov);
      v.erase(moov);
      v.insert(mdat, std::move(m));
    }
  }
  return true;
}

std::vector<Box*> TracksWithHandler(Mp4File* file, uint32_t handler) {
  std::vector<Box*> out;
  Box* moov = file->Find(FourCC("moov"));
  if (!moov) return out;
  for (auto& trak : moov->children) {
    if (trak.type != FourCC("trak")) continue;
    Box* mdia = trak.Find(FourCC("mdia"));
    const Box* hdlr = mdia ? mdia->Find(FourCC("hdlr")) : nullptr;
    // hdlr (8.4.3): version/flags, pre_defined, handler_type.
    if (hdlr && !hdlr->container && hdlr->data.size() >= 12 && LoadBE32(hdlr->data.data() + 8) == handler)
      out.push_back(&trak);
  }
  return out;
}

namespace {

// Every chunk offset table of the file's top-level containers, with its source values.
std::vector<OffsetTable> CollectOffsetTables(Mp4File& file) {
  std::vector<OffsetTable> tables;
  for (auto& top : file.boxes) {
    if (!top.box.container) continue;
    std::vector<Box*> found;
    FindAll(top.box.children, FourCC("stco"), &found);
    FindAll(top.box.children, FourCC("co64"), &found);
    for (Box* b : found) {
      OffsetTable t;
      if (ReadOffsetTable(b, &t)) tables.push_back(std::move(t));
    }
  }
  return tables;
}

// Lays the boxes out one after another and moves every offset with the box it points into;
// repeats when an 'stco' had to grow into a 'co64' (which moves what follows it).
void FixOffsets(Mp4File& file, std::vector<OffsetTable>& tables) {
  std::vector<uint64_t> new_start(file.boxes.size());
  for (int round = 0; round < 4; ++round) {
    uint64_t pos = 0;
    for (size_t i = 0; i < file.boxes.size(); ++i) {
      new_start[i] = pos;
      pos += file.boxes[i].box.Size();
    }
    auto map = [&](uint64_t v) -> uint64_t {
      for (size_t i = 0; i < file.boxes.size(); ++i) {
        const auto& top = file.boxes[i];
        if (top.source_start < 0) continue;
        const uint64_t s = static_cast<uint64_t>(top.source_start);
        if (v >= s && v < s + top.source_size) return v - s + new_start[i];
      }
      return v;
    };
    bool grew = false;
    for (auto& t : tables) {
      if (!WriteOffsetTable(t, map)) {
        t.box->type = FourCC("co64");
        WriteOffsetTable(t, map);
        grew = true;
      }
    }
    if (!grew) break;
  }
}

// The header of a box whose body stays in the source file, with its size field set.
std::vector<uint8_t> SourceBoxHeader(const Box& b) {
  Box head = b;
  head.source_size = 0;
  head.source_offset = -1;
  head.container = false;
  const uint64_t size = b.Size();
  head.wide_size = b.wide_size || size > 0xffffffffull;
  std::vector<uint8_t> bytes;
  SerializeBox(head, &bytes);
  // Serialised with an empty body: put the real size in.
  if (head.wide_size)
    StoreBE64(bytes.data() + 8, size);
  else
    StoreBE32(bytes.data(), static_cast<uint32_t>(size));
  return bytes;
}

// Writes the boxes in order: in-memory boxes serialised, the others' bodies copied from
// the source.
FileStatus WriteBoxes(const Mp4File& file, std::FILE* dst, const WriteOptions& options) {
  UniqueFile src;
  if (!file.source_path.empty()) src = OpenFile(file.source_path.c_str(), "rb");
  uint64_t total = 0;
  for (const auto& top : file.boxes) total += top.box.Size();
  uint64_t done = 0;
  for (const auto& top : file.boxes) {
    const Box& b = top.box;
    std::vector<uint8_t> bytes;
    if (b.source_size > 0)
      bytes = SourceBoxHeader(b);
    else if (!SerializeBox(b, &bytes))
      return FileStatus::kWriteFailed;
    if (std::fwrite(bytes.data(), 1, bytes.size(), dst) != bytes.size()) return FileStatus::kWriteFailed;
    done += bytes.size();
    if (b.source_size == 0) {
      if (options.progress) options.progress(done, total);
    } else if (!src || !CopyRange(src.get(), b.source_offset, b.source_size, dst, options, &done, total)) {
      return (options.cancelled && options.cancelled()) ? FileStatus::kCancelled : FileStatus::kWriteFailed;
    }
  }
  return FileStatus::kOk;
}

}  // namespace

void FixChunkOffsets(Mp4File* file) {
  std::vector<OffsetTable> tables = CollectOffsetTables(*file);
  FixOffsets(*file, tables);
}

FileStatus WriteMp4File(const Mp4File& file_in, const std::string& path, const WriteOptions& options) {
  Mp4File file = file_in;  // offset tables are rewritten in the copy
  FixChunkOffsets(&file);
  UniqueFile dst = OpenFile(path.c_str(), "wb");
  if (!dst) return FileStatus::kCannotCreate;
  FileStatus status = WriteBoxes(file, dst.get(), options);
  if (std::fflush(dst.get()) != 0) status = FileStatus::kWriteFailed;
  if (std::fclose(dst.release()) != 0 && status == FileStatus::kOk) status = FileStatus::kWriteFailed;
  if (status != FileStatus::kOk) std::remove(path.c_str());
  return status;
}

}  // namespace spherolux::mp4
