#include "screen_recording.h"

#include "media/media_player.h"
#include "render/opengl_render.h"

namespace spherolux::app {

bool RecorderBridge::Start(const std::string& source, const std::string& output, int64_t time_ms) {
  render::COpenglRender* renderer = window_ && window_->player() ? window_->player()->renderer() : nullptr;
  if (renderer == nullptr) return false;
  renderer->AttachRecorder(&recorder_);
  return recorder_.Start(source, output, time_ms) == record::kRecordOk;
}

ScreenRecorder::Failure RecorderBridge::failure() const {
  switch (recorder_.failure()) {
    case record::kRecordNotFailed:
      return Failure::kNone;
    case record::kRecordDiskFull:
      return Failure::kDiskFull;
    case record::kRecordFileGone:
      return Failure::kFileGone;
    case record::kRecordWriteError:
      break;
  }
  return Failure::kWriteError;
}

}  // namespace spherolux::app
