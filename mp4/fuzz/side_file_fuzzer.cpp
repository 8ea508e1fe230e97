// Side-file records on arbitrary bytes, read both ways recovery reads them: record by record
// through damage (SideFileReader) and searched for anywhere (ScanForRecords). Neither may
// crash, hang, or report a record reaching outside the bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "side_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace spherolux::mp4;
  const int fd = memfd_create("side", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  SideFileReader reader;
  if (reader.Attach(dup(fd)) == Mp4Status::kOk) {
    uint64_t records = 0;
    while (reader.Next() != SideKind::kEnd) ++records;
    // Every byte is either in a record (12 bytes at least) or stepped over.
    if (reader.damaged_bytes() + 12 * records > size) std::abort();
  }
  ScanForRecords(fd, 0, size, [&](const SideRecord&, uint64_t offset, uint64_t length) {
    if (offset + length > size) std::abort();
  });
  close(fd);
  return 0;
}
