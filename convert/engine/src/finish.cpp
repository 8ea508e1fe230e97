#include "convert/engine.h"
#include "jobs.h"

namespace spherolux::convert {

mp4::SphericalBoxes SphericalBoxesOf(const std::string& path) {
  mp4::Mp4File file;
  mp4::FileStatus st = mp4::ReadMp4File(path, &file);
  if (st != mp4::FileStatus::kOk && st != mp4::FileStatus::kTruncated) return {};
  return mp4::ReadSphericalBoxes(&file);
}

int FinishMp4(const std::string& raw, const std::string& final_path, const mp4::SphericalBoxes& boxes,
              JobContext& ctx) {
  mp4::Mp4File file;
  if (mp4::ReadMp4File(raw, &file) != mp4::FileStatus::kOk) return CONVERT_ERR_WRITE;
  if (!mp4::MoveMoovToFront(&file)) return CONVERT_ERR_WRITE;
  if (boxes.any() && !mp4::PutSphericalBoxes(&file, boxes)) return CONVERT_ERR_WRITE;
  mp4::WriteOptions options;
  options.cancelled = [&ctx] { return ctx.stopped(); };
  switch (mp4::WriteMp4File(file, final_path, options)) {
    case mp4::FileStatus::kOk:
      return CONVERT_OK;
    case mp4::FileStatus::kCancelled:
      return CONVERT_ERR_STOPPED;
    case mp4::FileStatus::kCannotCreate:
      return CONVERT_ERR_CREATE_OUTPUT;
    default:
      return CONVERT_ERR_WRITE;
  }
}

}  // namespace spherolux::convert
