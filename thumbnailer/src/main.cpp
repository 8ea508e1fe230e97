// spherolux-thumbnailer: a file manager's thumbnailer for camera photos and videos.
//
//   spherolux-thumbnailer -s SIZE INPUT OUTPUT
//
// Writes OUTPUT, a PNG of the stitched panorama SIZE pixels wide and half as high, as the
// freedesktop thumbnail specification asks of a thumbnailer (the file manager adds its own
// keys). Exit status: 0 written; 1 the file is no camera file or panorama (the file manager
// then falls back to its own thumbnail); 2 wrong arguments; 3 the file cannot be read or is
// damaged; 4 OUTPUT cannot be written; 5 the program's video module cannot be loaded. OUTPUT is replaced in one step
// and never left half written. A run is bounded in memory and time, since it runs on whatever lands in a Downloads
// folder.

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/output_file.h"
#include "thumbnail.h"

namespace {

using spherolux::thumbnailer::ThumbnailResult;

constexpr rlim_t kAddressSpace = rlim_t{3} << 30;  // bytes
constexpr unsigned kSeconds = 30;

int Usage() {
  std::fputs("usage: spherolux-thumbnailer -s SIZE INPUT OUTPUT\n", stderr);
  return 2;
}

// Caps the run, unless the caller set tighter limits.
void Bound() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > kAddressSpace)) {
    limit.rlim_cur = kAddressSpace;
    setrlimit(RLIMIT_AS, &limit);
  }
  alarm(kSeconds);
}

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("spherolux-thumbnailer %s\n", SPHEROLUX_VERSION);
    return 0;
  }
  if (argc != 5 || std::strcmp(argv[1], "-s") != 0) return Usage();
  char* end = nullptr;
  const long size = std::strtol(argv[2], &end, 10);
  if (*end != '\0' || size < 16 || size > 4096) return Usage();
  const std::string input = argv[3], output = argv[4];
  Bound();

  spherolux::thumbnailer::Thumbnail thumbnail;
  switch (spherolux::thumbnailer::MakeThumbnail(input, static_cast<int>(size), &thumbnail)) {
    case ThumbnailResult::kOk:
      break;
    case ThumbnailResult::kNotPanorama:
      std::fprintf(stderr, "spherolux-thumbnailer: %s: no camera calibration and no panorama\n", input.c_str());
      return 1;
    case ThumbnailResult::kUnreadable:
      std::fprintf(stderr, "spherolux-thumbnailer: %s: cannot be read, or damaged\n", input.c_str());
      return 3;
    case ThumbnailResult::kNoVideoModule:
      return 5;
  }
  const std::vector<uint8_t> png = spherolux::thumbnailer::EncodePng(thumbnail);
  spherolux::OutputFile out;
  spherolux::OutputOptions options;
  options.overwrite = true;  // file managers hand over a temporary they made
  options.inputs = {input};
  if (png.empty() || out.Create(output, options) != spherolux::OutputStatus::kOk || !WriteAll(out.fd(), png) ||
      out.Publish() != spherolux::OutputStatus::kOk) {
    std::fprintf(stderr, "spherolux-thumbnailer: %s: cannot be written\n", output.c_str());
    return 4;
  }
  return 0;
}
