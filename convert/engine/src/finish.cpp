#include <new>

#include "convert/engine.h"
#include "jobs.h"

namespace spherolux::convert {

mp4::SphericalBoxes SphericalBoxesOf(const std::string& path) {
  mp4::Mp4File file;
  mp4::FileStatus st = mp4::ReadMp4File(path, &file);
  if (st != mp4::FileStatus::kOk && st != mp4::FileStatus::kTruncated) return {};
  return mp4::ReadSphericalBoxes(&file);
}

int JobFiles::Create(const std::string& output) {
  OutputOptions options;
  options.overwrite = true;
  if (raw.Create(output, options) != OutputStatus::kOk || finished.Create(output, options) != OutputStatus::kOk)
    return CONVERT_ERR_CREATE_OUTPUT;
  return CONVERT_OK;
}

int JobFiles::Finish(const mp4::SphericalBoxes& boxes, JobContext& ctx) {
  mp4::Mp4File file;
  if (mp4::ReadMp4File(raw.path(), &file) != mp4::FileStatus::kOk) return CONVERT_ERR_WRITE;
  if (!mp4::MoveMoovToFront(&file)) return CONVERT_ERR_WRITE;
  if (boxes.any() && !mp4::PutSphericalBoxes(&file, boxes)) return CONVERT_ERR_WRITE;
  mp4::WriteOptions options;
  options.cancelled = [&ctx] { return ctx.stopped(); };
  switch (mp4::WriteMp4File(file, finished.path(), options)) {
    case mp4::FileStatus::kOk:
      break;
    case mp4::FileStatus::kCancelled:
      return CONVERT_ERR_STOPPED;
    case mp4::FileStatus::kCannotCreate:
      return CONVERT_ERR_CREATE_OUTPUT;
    default:
      return CONVERT_ERR_WRITE;
  }
  raw.Discard();  // its space is free before the output appears
  switch (finished.Publish()) {
    case OutputStatus::kOk:
      return CONVERT_OK;
    case OutputStatus::kWriteFailed:
      return CONVERT_ERR_WRITE;
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
