#include "camera.h"

namespace spherolux::convert {

CameraInfo ProbeCamera(const std::string& path) {
  (void)path;
  return {};
}

std::unique_ptr<FrameMapper> MakeFrameMapper(const CameraInfo& camera, int src_width, int src_height, int rotation,
                                             int* out_width, int* out_height) {
  (void)camera;
  (void)src_width;
  (void)src_height;
  (void)rotation;
  *out_width = *out_height = 0;
  return nullptr;
}

}  // namespace spherolux::convert
