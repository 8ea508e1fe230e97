// What the engine learns about a camera recording, and the per-frame mapping that turns its
// fisheye frames into an equirectangular panorama.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "calib/camera_para.h"

namespace spherolux::convert {

struct CameraInfo {
  enum class Kind { kNone, kSingleLens, kDualLens, kStitchedByCamera } kind = Kind::kNone;
  DoubleFisheyeCameraPara dual;
  SingleFisheyeCameraPara single;
};

// Reads the calibration block of an MP4 recording. kNone when it has none usable.
CameraInfo ProbeCamera(const std::string& path);

// Maps one I420 source frame to one I420 panorama. Map and MapPlanes may run on any one
// thread at a time per mapper.
class FrameMapper {
 public:
  virtual ~FrameMapper() = default;
  // A frame whose planes lie back to back (strides = widths).
  virtual void Map(const uint8_t* src, uint8_t* dst) = 0;
  // True when MapPlanes reads frames in place, so that a decoded frame needs no copy.
  virtual bool ReadsPlanes() const { return false; }
  // A frame as Y, U and V planes with their own row strides in bytes (each at least its
  // plane's width, U and V alike), panorama rows [first_row, end_row) only (both even; the
  // other rows of dst are left as they are). False, with nothing written, when the mapper
  // does not read planes or the strides or rows do not fit.
  virtual bool MapPlanes(const uint8_t* const planes[3], const int strides[3], uint8_t* dst, int first_row,
                         int end_row) {
    (void)planes;
    (void)strides;
    (void)dst;
    (void)first_row;
    (void)end_row;
    return false;
  }
};

// A mapper for frames of src_width x src_height; sets the size of the panorama it writes,
// which is smaller than the W x W/2 the job wants when the stitcher has a width bound.
// Null when the calibration or size cannot be handled.
std::unique_ptr<FrameMapper> MakeFrameMapper(const CameraInfo& camera, int src_width, int src_height, int rotation,
                                             int* out_width, int* out_height);

}  // namespace spherolux::convert
