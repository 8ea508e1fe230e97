// MP4 files on disk: read the top-level boxes of a file, edit them, write a new file.
//
// Top-level 'mdat', 'free', 'skip' and 'wide' boxes and any leaf larger than
// kMaxInMemoryBody stay in the source file and are copied when writing, so a file of many
// gigabytes costs only its metadata in memory. Writing moves media data, so every chunk
// offset ('stco', 'co64'; ISO/IEC 14496-12, 8.7.5) that points into a top-level box of
// the source is shifted by how far that box moved; an 'stco' whose offsets no longer fit
// 32 bits becomes a 'co64'. Sizes above 32 bits are written as 64-bit sizes.
//
// One Mp4File per thread; the functions keep no global state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mp4/box.h"

namespace spherolux::mp4 {

constexpr uint64_t kMaxInMemoryBody = 64ull << 20;

struct TopBox {
  Box box;
  int64_t source_start = -1;  // offset of the box header in the source file; -1 for new boxes
  uint64_t source_size = 0;   // its size there
};

struct Mp4File {
  std::string source_path;  // file the ranges refer to; empty for a file built in memory
  std::vector<TopBox> boxes;

  Box* Find(uint32_t type);
  const Box* Find(uint32_t type) const;
};

enum class FileStatus {
  kOk,
  kCannotOpen,    // the source cannot be opened or read
  kNotMp4,        // no box structure at the start of the file
  kTruncated,     // the last box runs past the end of the file (read as far as it goes)
  kTooLarge,      // a metadata box is larger than kMaxInMemoryBody can hold in memory
  kCannotCreate,  // the output cannot be created
  kWriteFailed,   // writing or copying failed (disk full, source changed)
  kCancelled,     // the cancel callback asked to stop
};

// Reads the top-level structure of `path`. kTruncated still fills `out`.
FileStatus ReadMp4File(const std::string& path, Mp4File* out);

struct WriteOptions {
  // Called between copied blocks of media data; returning true stops the write.
  std::function<bool()> cancelled;
  // Called with the bytes written so far and the total.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

// Writes `file` to `path` (created or truncated) with chunk offsets fixed. On failure the
// partly written file is removed.
FileStatus WriteMp4File(const Mp4File& file, const std::string& path, const WriteOptions& options = {});

// Sets every chunk offset for the boxes laid out one after another as `file->boxes` stand:
// each offset moves with the source box it points into, and an 'stco' whose offsets no
// longer fit 32 bits becomes a 'co64'. WriteMp4File does this itself; it is for callers that
// put the boxes in place themselves.
void FixChunkOffsets(Mp4File* file);

// Puts 'moov' before the first 'mdat' (progressive download, "fast start"). Returns false
// when the file has no 'moov'.
bool MoveMoovToFront(Mp4File* file);

// The 'trak' boxes under 'moov' whose handler ('mdia'/'hdlr') is `handler` ("vide", "soun").
std::vector<Box*> TracksWithHandler(Mp4File* file, uint32_t handler);

}  // namespace spherolux::mp4
