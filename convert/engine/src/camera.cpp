#include "camera.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

#include "calib/calibration.h"
#include "stitch/lens_model.h"
#include "stitch/single_lens.h"
#include "stitch/stitch_context.h"

namespace spherolux::convert {
namespace {

class DualLensMapper : public FrameMapper {
 public:
  explicit DualLensMapper(StitchContext* ctx) : ctx_(ctx) {}
  ~DualLensMapper() override { DestroyStitchContext(ctx_); }
  // Two slices: the stitch stage then keeps up with the encoder on two cores.
  void Map(const uint8_t* src, uint8_t* dst) override { StitchImage(ctx_, src, dst, 2); }
  bool ReadsPlanes() const override { return true; }
  bool MapPlanes(const uint8_t* const planes[3], const int strides[3], uint8_t* dst, int first_row,
                 int end_row) override {
    if (strides[1] != strides[2]) return false;
    return StitchImagePlaneRows(ctx_, {planes[0], planes[1], planes[2], strides[0], strides[1]}, dst, first_row,
                                end_row, 2);
  }

 private:
  StitchContext* ctx_;
};

class SingleLensMapper : public FrameMapper {
 public:
  SingleLensMapper(std::vector<SingleLensRemapEntry> table, int src_w, int src_h, int w, int h)
      : table_(std::move(table)), src_w_(src_w), src_h_(src_h), w_(w), h_(h) {}
  void Map(const uint8_t* src, uint8_t* dst) override {
    RemapSingleLens(src, src_w_, src_h_, dst, w_, h_, table_.data());
  }

 private:
  std::vector<SingleLensRemapEntry> table_;
  int src_w_, src_h_, w_, h_;
};

}  // namespace

CameraInfo ProbeCamera(const std::string& path) {
  CameraInfo info;
  PhotoCalibration cal;
  const int type = ReadCameraCalibration(path.c_str(), &cal);
  if (type == kCameraStitchedReported) {
    info.kind = CameraInfo::Kind::kStitchedByCamera;
  } else if (cal.camera_type == kCameraDualLens) {
    info.kind = CameraInfo::Kind::kDualLens;
    info.dual = cal.dual;
  } else if (cal.camera_type == kCameraSingleLens) {
    info.kind = CameraInfo::Kind::kSingleLens;
    info.single = cal.single;
  }
  return info;
}

std::unique_ptr<FrameMapper> MakeFrameMapper(const CameraInfo& camera, int src_width, int src_height, int rotation,
                                             int* out_width, int* out_height) {
  (void)src_height;
  (void)rotation;
  // A 2:1 panorama as wide as the source (a multiple of 4, so that both sides are even).
  const int w = src_width & ~3;
  const int h = w / 2;
  *out_width = w;
  *out_height = h;
  if (w < 4) return nullptr;
  if (camera.kind == CameraInfo::Kind::kDualLens) {
    // The stitching context has a width bound: wider panoramas are stitched at the bound
    // and scaled up by the caller.
    if (w > kMaxStitchWidth) {
      *out_width = kMaxStitchWidth & ~3;
      *out_height = *out_width / 2;
    }
    // The maps are built before any frame flows, so every core can take a share. Every
    // frame of the video goes through them: they are compiled for the per-frame work (when
    // memory for that is short, the maps serve as they are).
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    StitchContext* ctx = CreateStitchContext(&camera.dual, src_width, src_height, *out_width, *out_height, kStitchI420,
                                             rotation, GenerationForCode(camera.dual.lModel), false, threads);
    if (ctx) {
      CompileStitchContext(ctx, threads);
      return std::make_unique<DualLensMapper>(ctx);
    }
    return nullptr;
  }
  if (camera.kind == CameraInfo::Kind::kSingleLens) {
    const auto& c = camera.single.stPfCenter;
    for (float v : {c.x, c.y, camera.single.fRadius})
      if (!std::isfinite(v) || std::fabs(v) > 1e6f) return nullptr;
    const SingleLensCircle circle = SingleLensCircleForFrame(camera.single, src_width, src_height);
    if (circle.radius <= 0) return nullptr;
    std::vector<SingleLensRemapEntry> table(size_t(w) * h);
    if (!BuildSingleLensRemap(src_width, src_height, static_cast<float>(circle.x), static_cast<float>(circle.y), 190.0f,
                              circle.radius, table.data(), w, h, rotation))
      return nullptr;
    return std::make_unique<SingleLensMapper>(std::move(table), src_width, src_height, w, h);
  }
  return nullptr;
}

}  // namespace spherolux::convert
