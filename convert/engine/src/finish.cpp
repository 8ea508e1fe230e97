#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <vector>

#include "base/bytes.h"
#include "convert/engine.h"
#include "jobs.h"

namespace spherolux::convert {
namespace {

constexpr uint32_t kMoov = FourCC("moov"), kMdat = FourCC("mdat"), kFree = FourCC("free"), kSkip = FourCC("skip");

// Moves `size` bytes at `from` to `to` inside the file, in blocks, in the order that never
// overwrites bytes not yet moved.
int MoveBytes(int fd, int64_t from, int64_t to, int64_t size, JobContext& ctx) {
  constexpr int64_t kBlock = 4 << 20;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(kBlock, std::max<int64_t>(size, 1))));
  for (int64_t done = 0; done < size;) {
    if (ctx.stopped()) return CONVERT_ERR_STOPPED;
    const int64_t n = std::min<int64_t>(kBlock, size - done);
    // Forward moves go from the end, backward moves from the start.
    const int64_t at = to > from ? size - done - n : done;
    if (::pread(fd, buffer.data(), n, from + at) != n) return WriteError(errno);
    if (::pwrite(fd, buffer.data(), n, to + at) != n) return WriteError(errno);
    done += n;
  }
  return CONVERT_OK;
}

}  // namespace

int WriteError(int error) {
  error = error < 0 ? -error : error;
  return error == ENOSPC || error == EDQUOT ? CONVERT_ERR_DISK_FULL : CONVERT_ERR_WRITE;
}

mp4::SphericalBoxes SphericalBoxesOf(const std::string& path) {
  mp4::Mp4File file;
  mp4::FileStatus st = mp4::ReadMp4File(path, &file);
  if (st != mp4::FileStatus::kOk && st != mp4::FileStatus::kTruncated) return {};
  return mp4::ReadSphericalBoxes(&file);
}

int CheckInputFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == EACCES ? CONVERT_ERR_PERMISSION : CONVERT_ERR_OPEN_INPUT;
  return S_ISREG(st.st_mode) ? CONVERT_OK : CONVERT_ERR_NOT_A_FILE;
}

int JobFiles::Create(const Job& job, const std::vector<std::string>& inputs) {
  OutputOptions options;
  options.overwrite = job.overwrite;
  options.claim = !job.overwrite && !job.unclaimed;
  options.inputs = inputs;  // never replaced by the output, whatever name it is given
  switch (file.Create(job.output, options)) {
    case OutputStatus::kOk:
      return CONVERT_OK;
    case OutputStatus::kExists:
      return CONVERT_ERR_OUTPUT_EXISTS;
    case OutputStatus::kIsInput:
      return CONVERT_ERR_OUTPUT_IS_INPUT;
    default:
      return file.error() == EACCES || file.error() == EPERM || file.error() == EROFS ? CONVERT_ERR_PERMISSION
                                                                                      : CONVERT_ERR_CREATE_OUTPUT;
  }
}

// The muxer wrote [ftyp][free][mdat][moov]. The file is rewritten in place, with no second
// copy of the media data: the header boxes and the movie box (spherical metadata added,
// chunk offsets moved) go to the front and the media data moves up behind them.
int JobFiles::Finish(const mp4::SphericalBoxes& boxes, JobContext& ctx) {
  mp4::Mp4File parsed;
  if (mp4::ReadMp4File(file.path(), &parsed) != mp4::FileStatus::kOk) return CONVERT_ERR_WRITE;
  if (boxes.any() && !mp4::PutSphericalBoxes(&parsed, boxes)) return CONVERT_ERR_WRITE;
  // The new layout: every box but padding, in its order, then the one media data box.
  std::erase_if(parsed.boxes, [](const mp4::TopBox& top) { return top.box.type == kFree || top.box.type == kSkip; });
  const auto is_media = [](const mp4::TopBox& top) { return top.box.type == kMdat; };
  if (std::count_if(parsed.boxes.begin(), parsed.boxes.end(), is_media) != 1 || !parsed.Find(kMoov))
    return CONVERT_ERR_WRITE;  // the muxer writes one media data box and one movie box
  std::stable_partition(parsed.boxes.begin(), parsed.boxes.end(),
                        [&](const mp4::TopBox& top) { return !is_media(top); });
  const mp4::TopBox& media = parsed.boxes.back();
  if (media.source_start < 0) return CONVERT_ERR_WRITE;
  mp4::FixChunkOffsets(&parsed);
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < parsed.boxes.size(); ++i)
    if (!mp4::SerializeBox(parsed.boxes[i].box, &bytes)) return CONVERT_ERR_WRITE;
  const int64_t head_size = static_cast<int64_t>(bytes.size());
  const int64_t media_size = static_cast<int64_t>(media.source_size);
  int rc = MoveBytes(file.fd(), media.source_start, head_size, media_size, ctx);
  if (rc != CONVERT_OK) return rc;
  if (::pwrite(file.fd(), bytes.data(), bytes.size(), 0) != head_size) return WriteError(errno);
  if (::ftruncate(file.fd(), head_size + media_size) != 0) return WriteError(errno);
  switch (file.Publish()) {
    case OutputStatus::kOk:
      return CONVERT_OK;
    case OutputStatus::kExists:
      return CONVERT_ERR_OUTPUT_EXISTS;
    case OutputStatus::kIsInput:
      return CONVERT_ERR_OUTPUT_IS_INPUT;
    case OutputStatus::kInputChanged:
      return CONVERT_ERR_INPUT_CHANGED;
    case OutputStatus::kWriteFailed:
      return WriteError(file.error());
    default:
      return CONVERT_ERR_CREATE_OUTPUT;
  }
}

int CurrentExceptionCode() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return CONVERT_ERR_NO_MEMORY;
  } catch (...) {
    return CONVERT_ERR_SYSTEM;
  }
}

}  // namespace spherolux::convert
