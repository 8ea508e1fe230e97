// RAII file handle with 64-bit positions.
//
// A thin owner of a stdio FILE*: closed on destruction, positions as int64_t through
// fseeko/ftello so that files above 4 GiB work. Paths are UTF-8 narrow strings.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

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

// The process's file-creation mask, read without changing it where the kernel reports it
// (/proc/self/status, Linux 4.7 and later).
inline mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Creates a new file with a unique name from `pattern` (ending in "XXXXXX", replaced in
// place) and returns its descriptor, or -1. Unlike mkstemp's 0600, the file gets the
// permissions of any new file (0666 less the umask): outputs are written under such a name
// and renamed into place, and must not end up private to their writer.
inline int CreateUniqueFile(std::string& pattern) {
  const int fd = ::mkstemp(pattern.data());
  if (fd >= 0) ::fchmod(fd, 0666 & ~CurrentUmask());
  return fd;
}

}  // namespace spherolux
