#include "probe/extract.h"

#include <cmath>
#include <cstdint>
#include <mutex>

#include "base/log.h"
#include "base/numeric.h"
#include "calib/block.h"
#include "calib/calibration.h"
#include "stitch/lens_model.h"

namespace spherolux {
namespace {

constexpr int kSingleLensColumns = 180;
constexpr int kSingleLensRings = 48;
constexpr float kSingleLensFieldOfView = 192.0f;

// The single-lens circles shared by every single-lens extraction of the process: the
// current one and the one the refresh decision compares with. Guarded by `mutex`.
struct SingleLensState {
  std::mutex mutex;
  SingleLensCircle current;
  int previous_x = 0;
  int previous_y = 0;
  int previous_radius = 0;
};

SingleLensState& State() {
  static SingleLensState state;
  return state;
}

// Locates the payload with `walker` and decodes the block. Returns 0 or a result code. A
// photo's block is found by the photo locator, the one its stitching uses too; when it finds
// none, a single-lens extraction reports the photo as without Exif payload.
int LocateAndDecode(ContainerWalker walker, const char* path, bool dual, DecodedBlock* block) {
  PayloadSpan span;
  if (walker == &WalkJpegExif) {
    const int rc = LocatePhotoBlock(path, &span);
    if (!dual && (rc != 0 || span.size <= 0)) return kCalibNoExif;
    if (rc) return rc;
  } else {
    if (walker != nullptr) walker(path, &span);
    if (span.size <= 0) return kCalibNoUdta;
  }
  return DecodeLocatedBlock(span.bytes, {kCalibNoSync, kCalibNoMemory, kCalibEmptyText, kCalibDecrypt}, block);
}

}  // namespace

int LoadSphereGrids(ContainerWalker walker, const char* path, int width, int height, float* table_a, float* table_b) {
  if (static_cast<int64_t>(width) != 2 * static_cast<int64_t>(height)) return kCalibBadSize;
  if (path == nullptr) return kCalibNoPath;
  DecodedBlock block;
  if (int rc = LocateAndDecode(walker, path, true, &block)) return rc;
  const auto type = block.CameraType();
  if (!type) return kCalibNoCameraType;
  if (*type >= kCameraStitchingTypes) return 1;
  auto rec = block.Find(kRecordLensPara);
  if (!rec || (rec->size() != kDoubleFisheyeParaSize && rec->size() != kDoubleFisheyeParaSizeLong)) {
    return kCalibBadRecord;
  }
  DoubleFisheyeCameraPara para;
  if (!DecodeDoubleFisheyeCameraPara(rec->data(), rec->size(), &para)) return kCalibBadRecord;
  const bool generation = GenerationForCode(para.lModel);
  if (table_a != nullptr && table_b != nullptr) {
    BuildSphereGrids(para, width, height, kGridColumns, kGridRings, generation, table_a, table_b);
  }
  return 0;
}

SingleLensCircle CurrentSingleLensCircle() {
  SingleLensState& state = State();
  std::lock_guard lock(state.mutex);
  return state.current;
}

int LoadSingleLensGrid(ContainerWalker walker, const char* path, int width, int height, float* grid) {
  if (path == nullptr) return kCalibNoPath;
  DecodedBlock block;
  if (int rc = LocateAndDecode(walker, path, false, &block)) return rc;
  if (!block.CameraType()) {
    Logf("could not find camera type");
    return kCalibNoCameraType;
  }
  auto rec = block.Find(kRecordLensPara);
  if (!rec || rec->size() != kSingleFisheyeParaSize) return kCalibBadRecord;
  SingleFisheyeCameraPara para;
  if (!DecodeSingleFisheyeCameraPara(rec->data(), rec->size(), &para)) return kCalibBadRecord;

  const SingleLensCircle circle = SingleLensCircleForFrame(para, width, height);
  if (grid != nullptr) {
    BuildSingleLensGrid(width, height, kSingleLensColumns, kSingleLensRings, static_cast<float>(circle.x),
                        static_cast<float>(circle.y), kSingleLensFieldOfView, circle.radius, grid);
  }
  const int radius = SaturatingTrunc(circle.radius);
  SingleLensState& state = State();
  std::lock_guard lock(state.mutex);
  state.current = circle;
  if (circle.x == state.previous_x && circle.y == state.previous_y && radius == state.previous_radius) return 0;
  state.previous_x = circle.x;
  state.previous_y = circle.y;
  state.previous_radius = radius;
  return 1;
}

}  // namespace spherolux
