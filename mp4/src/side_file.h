// The writer's side file: the sample tables of a recording as it goes (format in
// mp4/writer.h), appended record by record and read back to finish or recover the file.
// The same records are also laid into the recording's media data now and then (its index
// copies), where ScanForRecords finds them when the side file is lost or damaged.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "mp4/track.h"

namespace spherolux::mp4 {

struct SideHead {
  std::string mp4_path;     // absolute
  uint64_t mdat_start = 0;  // offset of the 'mdat' header (16 bytes, 64-bit size)
  bool movie_first = false;
};

struct SideTrack {
  uint32_t index = 0;
  TrackDescription description;  // timescale always set
  std::string handler_name;
  std::vector<uint8_t> config;  // 'avcC' record or AudioSpecificConfig as stored
  uint32_t flags = 3;
  uint32_t chunk_samples = 0;
};

struct SideSample {
  uint32_t track = 0;
  uint64_t offset = 0;
  uint32_t size = 0;
  int64_t dts = 0;         // track ticks
  int64_t cts_offset = 0;  // composition minus decode time, track ticks
  int64_t duration = 0;    // track ticks; 0 unknown
  bool sync = false;
};

enum class SideKind { kHead, kTrack, kSample, kEnd };

// One record as read: `kind` says which of the three fields holds it.
struct SideRecord {
  SideKind kind = SideKind::kEnd;
  SideHead head;
  SideTrack track;
  SideSample sample;
};

// The bytes of one record (length, kind, payload, CRC).
std::vector<uint8_t> EncodeRecord(const SideHead& head);
std::vector<uint8_t> EncodeRecord(const SideTrack& track);
std::vector<uint8_t> EncodeRecord(const SideSample& sample);

// Calls `found(record, offset, length)` for every whole, intact record of a known kind that
// lies anywhere in [from, to) of the file `fd`, in file order; bytes between records are
// skipped. Records longer than 64 KiB are not looked for (index copies are far smaller).
void ScanForRecords(int fd, uint64_t from, uint64_t to,
                    const std::function<void(const SideRecord&, uint64_t offset, uint64_t length)>& found);

// Appends records to a side file through a file descriptor, so that each record reaches the
// operating system when Append returns. The file is locked exclusively while open.
class SideFileWriter {
 public:
  ~SideFileWriter();
  // kBusy when another process holds the file's lock, kCannotCreate when it cannot be made.
  Mp4Status Create(const std::string& path);
  Mp4Status Append(const SideHead& head);
  Mp4Status Append(const SideTrack& track);
  Mp4Status Append(const SideSample& sample);
  bool Sync();
  // Releases the lock and deletes the file.
  void Remove();
  int fd() const { return fd_; }

 private:
  Mp4Status AppendRecord(const std::vector<uint8_t>& record);
  std::string path_;
  int fd_ = -1;
};

// Reads the records of a side file in order, through a buffer.
class SideFileReader {
 public:
  using Kind = SideKind;
  ~SideFileReader();
  // Opens and locks the file; kBusy while a writer still holds it.
  Mp4Status Open(const std::string& path);
  // Reads through `fd` (owned from now on; a writer passes a dup of its own descriptor,
  // which shares its lock). Reads never move the descriptor's file offset.
  Mp4Status Attach(int fd);
  // The next record; kEnd at the end of the file. Damaged bytes (a record cut short or
  // failing its CRC) are stepped over to the next intact record and counted.
  Kind Next();
  void Rewind();
  // Bytes stepped over as damaged since the last Rewind.
  uint64_t damaged_bytes() const { return damaged_; }
  const SideHead& head() const { return record_.head; }
  const SideTrack& track() const { return record_.track; }
  const SideSample& sample() const { return record_.sample; }

 private:
  bool Fill(size_t need);
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  size_t end_ = 0;
  int64_t file_pos_ = 0;  // where the next read into the buffer starts
  bool eof_ = false;
  uint64_t damaged_ = 0;
  SideRecord record_;
};

// CRC-32 (ISO 3309, polynomial 0x04C11DB7 reflected) of `bytes`, continuing from `crc`.
uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

}  // namespace spherolux::mp4
