// RAII file handle with 64-bit positions.
//
// A thin owner of a stdio FILE*: closed on destruction, positions as int64_t through
// fseeko/ftello so that files above 4 GiB work. Paths are UTF-8 narrow strings.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>

namespace spherolux {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

inline UniqueFile OpenFile(const char* path, const char* mode) {
  return UniqueFile(path ? std::fopen(path, mode) : nullptr);
}

inline bool SeekTo(std::FILE* f, int64_t pos) { return fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0; }
inline int64_t Tell(std::FILE* f) { return static_cast<int64_t>(ftello(f)); }

// Size of an open file in bytes, or -1. Leaves the position at the start.
inline int64_t FileSize(std::FILE* f) {
  if (fseeko(f, 0, SEEK_END) != 0) return -1;
  int64_t size = Tell(f);
  if (!SeekTo(f, 0)) return -1;
  return size;
}

// Reads exactly n bytes; false on a short read.
inline bool ReadExact(std::FILE* f, void* dst, size_t n) { return std::fread(dst, 1, n, f) == n; }

}  // namespace spherolux
