// The track reader on arbitrary files: opening, seeking and reading every sample must never
// crash, hang or read outside the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "mp4/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace spherolux::mp4;
  // The reader reads files: give it one in memory.
  const int fd = memfd_create("mp4", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  std::unique_ptr<Mp4Reader> reader;
  if (Mp4Reader::Open("/proc/self/fd/" + std::to_string(fd), &reader) == Mp4Status::kOk) {
    std::vector<uint8_t> buffer(64);
    for (int t = 0; t < reader->track_count(); ++t) {
      double reached = 0;
      reader->SeekToTime(t, 1000, &reached);
      reader->SeekToTime(t, -5, &reached);
      SampleRecord rec;
      for (Mp4Status s; (s = reader->ReadSample(t, buffer.data(), buffer.size(), &rec)) != Mp4Status::kEndOfTrack;) {
        if (s == Mp4Status::kBufferTooSmall) {
          // A sample never claims more than the file holds.
          if (rec.size > size) std::abort();
          buffer.resize(rec.size);
        } else if (s != Mp4Status::kOk) {
          break;
        }
      }
    }
  }
  close(fd);
  return 0;
}
