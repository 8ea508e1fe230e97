#include "probe/extract.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>

#include "base/bytes.h"
#include "base/log.h"
#include "calib/block.h"
#include "calib/calibration.h"

namespace spherolux {
namespace {

constexpr int kStitchedCameraType = 1000;
constexpr int kSingleLensColumns = 180;
constexpr int kSingleLensRings = 48;
constexpr float kSingleLensFieldOfView = 192.0f;

// Truncates toward zero into an int; NaN gives 0 and values beyond the int range saturate.
int SaturatingTrunc(double v) {
  if (!(v == v)) return 0;
  if (v >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
  if (v <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

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

// Locates the payload with `walker` and decodes the block. Returns 0 or a result code;
// `photo_fallback` selects the whole-file read of photos when the walk finds nothing.
int LocateAndDecode(ContainerWalker walker, const char* path, bool dual, DecodedBlock* block) {
  const bool photo = walker == &WalkJpegExif;
  PayloadSpan span;
  if (walker != nullptr) walker(path, &span);
  if (span.size <= 0) {
    if (!photo) return kCalibNoUdta;
    if (!dual) return kCalibNoExif;
    span = PayloadSpan{};
    switch (ReadBlockFromWholeFile(path, &span)) {
      case WholeFileResult::kOk:
        break;
      case WholeFileResult::kCannotOpen:
        return kCalibCannotOpen;
      case WholeFileResult::kEmpty:
        return kCalibEmptyFile;
    }
  }
  return DecodeLocatedBlock(span.bytes, {kCalibNoSync, kCalibNoMemory, kCalibEmptyText, kCalibDecrypt}, block);
}

// The camera-type record; a record too short to hold the value counts as missing.
std::optional<int32_t> CameraType(const DecodedBlock& block) {
  auto rec = block.Find(kRecordCameraType);
  if (!rec || rec->size() < 4) return std::nullopt;
  return LoadLEI32(rec->data());
}

}  // namespace

int LoadSphereGrids(ContainerWalker walker, const char* path, int width, int height, float* table_a, float* table_b) {
  if (static_cast<int64_t>(width) != 2 * static_cast<int64_t>(height)) return kCalibBadSize;
  if (path == nullptr) return kCalibNoPath;
  DecodedBlock block;
  if (int rc = LocateAndDecode(walker, path, true, &block)) return rc;
  const auto type = CameraType(block);
  if (!type) return kCalibNoCameraType;
  if (*type >= kStitchedCameraType) return 1;
  auto rec = block.Find(kRecordLensPara);
  if (!rec || (rec->size() != kDoubleFisheyeParaSize && rec->size() != kDoubleFisheyeParaSizeLong)) {
    return kCalibBadRecord;
  }
  DoubleFisheyeCameraPara para;
  if (!DecodeDoubleFisheyeCameraPara(rec->data(), rec->size(), &para)) return kCalibBadRecord;
  const bool generation = para.lModel >= 300;
  if (table_a != nullptr && table_b != nullptr) {
    BuildSphereGrids(para, width, height, kGridColumns, kGridRings, generation, table_a, table_b);
  }
  return 0;
}

SingleLensCircle ComputeSingleLensCircle(const SingleFisheyeCameraPara& para, int width, int height) {
  const int64_t w = width;
  const int64_t h = height;
  const int64_t x = SaturatingTrunc(para.stPfCenter.x);
  const int64_t y = SaturatingTrunc(para.stPfCenter.y);
  const float r = static_cast<float>(para.fRadius - 10.0);
  const float s = static_cast<float>(height) / 1080.0f;
  SingleLensCircle c;
  if (3 * w == 4 * h) {
    c.x = SaturatingTrunc(static_cast<float>(x - 240) * s);
  } else if (10 * w == 18 * h) {
    c.x = SaturatingTrunc(static_cast<float>(x) * s + static_cast<float>((w - (16 * h) / 9) / 2));
  } else if (w == h) {
    c.x = SaturatingTrunc(static_cast<float>(x - 420) * s);
  } else {
    c.x = SaturatingTrunc(static_cast<float>(x) * s);
  }
  c.y = SaturatingTrunc(static_cast<float>(y) * s);
  c.radius = r * s;
  return c;
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
  if (!CameraType(block)) {
    Logf("could not find camera type");
    return kCalibNoCameraType;
  }
  auto rec = block.Find(kRecordLensPara);
  if (!rec || rec->size() != kSingleFisheyeParaSize) return kCalibBadRecord;
  SingleFisheyeCameraPara para;
  if (!DecodeSingleFisheyeCameraPara(rec->data(), rec->size(), &para)) return kCalibBadRecord;

  const SingleLensCircle circle = ComputeSingleLensCircle(para, width, height);
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
