// Random-access byte sources: an open file or a memory buffer.
//
// Container readers (base/jpeg_segments.h, base/mp4_boxes.h and their callers) are written
// once against this interface, so that a file on disk and the bytes a fuzz target or a test
// hands in run the same code. A source is used by one thread at a time; it owns its file, and
// a MemorySource only borrows the bytes, which must outlive it.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "base/file.h"

namespace spherolux {

// What a container reader over a byte source reports.
enum class ReadStatus {
  kOk,
  kEnd,        // nothing more to read in the range
  kShort,      // the source ends before what its structure announces
  kMalformed,  // a structure that cannot be read as such
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Total size in bytes (>= 0).
  virtual int64_t Size() const = 0;
  // Moves the read position; false when pos is negative or the seek fails. Positions past
  // the end are allowed (the next read is then short).
  virtual bool Seek(int64_t pos) = 0;
  virtual int64_t Position() const = 0;
  // Reads exactly n bytes; false on a short read.
  virtual bool Read(void* dst, size_t n) = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  // The bytes are borrowed: a temporary buffer would be gone before the first read.
  explicit MemorySource(std::vector<uint8_t>&&) = delete;
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  bool Seek(int64_t pos) override {
    if (pos < 0) return false;
    pos_ = pos;
    return true;
  }
  int64_t Position() const override { return pos_; }
  bool Read(void* dst, size_t n) override {
    const auto size = static_cast<uint64_t>(bytes_.size());
    const auto pos = static_cast<uint64_t>(pos_);
    if (pos > size || n > size - pos) {
      pos_ = Size();
      return false;
    }
    if (n) std::memcpy(dst, bytes_.data() + pos, n);
    pos_ += static_cast<int64_t>(n);
    return true;
  }

 private:
  std::span<const uint8_t> bytes_;
  int64_t pos_ = 0;
};

class FileSource final : public ByteSource {
 public:
  // Opens `path` for reading; ok() is false when it cannot be opened or sized.
  explicit FileSource(const char* path) : file_(OpenFile(path, "rb")) {
    if (file_) size_ = FileSize(file_.get());
  }
  bool ok() const { return file_ && size_ >= 0; }
  int64_t Size() const override { return size_; }
  bool Seek(int64_t pos) override { return pos >= 0 && SeekTo(file_.get(), pos); }
  int64_t Position() const override { return Tell(file_.get()); }
  bool Read(void* dst, size_t n) override { return ReadExact(file_.get(), dst, n); }

 private:
  UniqueFile file_;
  int64_t size_ = -1;
};

}  // namespace spherolux
