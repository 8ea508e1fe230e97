#include "probe/probe.h"

#include <strings.h>

#include <new>

#include "base/bytes.h"
#include "calib/calibration.h"
#include "calib/locator.h"
#include "calib/stitch_state.h"
#include "mp4/file.h"
#include "mp4/spherical.h"
#include "probe/extract.h"

namespace spherolux {
namespace {

bool IsLensCamera(int camera_type) { return camera_type == kCameraSingleLens || camera_type == kCameraDualLens; }

// Gives both tables their full size; false when memory runs out.
bool SizeGrids(ViewGrids* grids) {
  try {
    grids->table_a.resize(kGridFloats);
    grids->table_b.resize(kGridFloats);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// The extraction that fits the camera type: single-lens for type 1, dual-lens for any other.
void Extract(const char* path, const FrameSize& frame, ViewGrids* grids, FileProbe* probe) {
  probe->extracted = true;
  if (grids != nullptr && !SizeGrids(grids)) {
    probe->extraction = kCalibNoMemory;
    return;
  }
  const ContainerWalker walker = probe->kind == MediaKind::kPhoto ? &WalkJpegExif : &WalkMp4Udta;
  float* table_a = grids != nullptr ? grids->table_a.data() : nullptr;
  if (probe->camera_type == kCameraSingleLens) {
    probe->extraction = LoadSingleLensGrid(walker, path, frame.width, frame.height, table_a);
    probe->refresh = probe->extraction == 1;
    probe->grids_built = table_a != nullptr && (probe->extraction == 0 || probe->extraction == 1);
  } else {
    float* table_b = grids != nullptr ? grids->table_b.data() : nullptr;
    probe->extraction = LoadSphereGrids(walker, path, frame.width, frame.height, table_a, table_b);
    // 1 (a camera type of 1000 or more) builds nothing.
    probe->grids_built = table_a != nullptr && probe->extraction == 0;
  }
}

}  // namespace

MediaKind MediaKindOfPath(std::string_view path) {
  if (path.size() < 4) return MediaKind::kVideo;
  const std::string_view ext = path.substr(path.size() - 4);
  return strncasecmp(ext.data(), ".jpg", 4) == 0 || strncasecmp(ext.data(), ".bmp", 4) == 0 ? MediaKind::kPhoto
                                                                                            : MediaKind::kVideo;
}

StitchClass ClassifyStitchState(int camera_type, int stitched_test, const int* extraction_code) {
  if (IsLensCamera(camera_type) && extraction_code != nullptr && *extraction_code >= kCalibNoPath) {
    return StitchClass::kUnusableCalibration;
  }
  switch (camera_type) {
    case kCameraDualLens:
      return StitchClass::kDualLens;
    case kCameraSingleLens:
      return StitchClass::kSingleLens;
    case kCameraStitchedReported:
      return StitchClass::kStitchedByCamera;
    default:
      return stitched_test == 1 ? StitchClass::kStitched : StitchClass::kNotPanorama;
  }
}

std::string_view StitchClassName(StitchClass cls) {
  switch (cls) {
    case StitchClass::kDualLens:
      return "dual-lens";
    case StitchClass::kSingleLens:
      return "single-lens";
    case StitchClass::kUnusableCalibration:
      return "unusable-calibration";
    case StitchClass::kStitchedByCamera:
      return "stitched-by-camera";
    case StitchClass::kStitched:
      return "stitched";
    case StitchClass::kNotPanorama:
      return "not-panorama";
  }
  return "not-panorama";
}

FileProbe ProbeFile(const char* path, MediaKind kind, const FrameSize* frame, ViewGrids* grids) {
  FileProbe probe;
  probe.kind = kind;
  probe.camera_type = QueryCameraType(path);
  probe.view_mode = probe.camera_type == kCameraSingleLens ? 3 : 2;
  probe.stitched_test = StitchedTest(path, kind);
  if (frame != nullptr) Extract(path, *frame, grids, &probe);
  probe.cls =
      ClassifyStitchState(probe.camera_type, probe.stitched_test, probe.extracted ? &probe.extraction : nullptr);
  return probe;
}

int StitchedTest(const char* path, MediaKind kind) {
  if (kind == MediaKind::kPhoto) return IsStitchedPhoto(path) == 1 || IsEquirectangularXmpPhoto(path) == 1 ? 1 : 0;
  return SphericalVideoFlag(path) == 1 || IsEquirectangularV2Video(path) == 1 ? 1 : 0;
}

int IsEquirectangularV2Video(const char* path) {
  mp4::Mp4File file;
  const mp4::FileStatus status = mp4::ReadMp4File(path, &file);
  if (status != mp4::FileStatus::kOk && status != mp4::FileStatus::kTruncated) return 0;
  const mp4::SphericalBoxes boxes = mp4::ReadSphericalBoxes(&file);
  if (!boxes.sv3d) return 0;
  const mp4::Box* projection = boxes.sv3d->Find(FourCC("proj"));
  return projection != nullptr && projection->Find(FourCC("equi")) != nullptr ? 1 : 0;
}

int IsNestedTooDeep(const char* path) {
  mp4::Mp4File file;
  const mp4::FileStatus status = mp4::ReadMp4File(path, &file);
  if (status != mp4::FileStatus::kOk && status != mp4::FileStatus::kTruncated) return 0;
  for (const mp4::TopBox& top : file.boxes) {
    if (mp4::NestsTooDeep({&top.box, 1})) return 1;
  }
  return 0;
}

bool ShownByPlayer(const FileProbe& probe) {
  return probe.cls != StitchClass::kUnusableCalibration && probe.cls != StitchClass::kNotPanorama;
}

Qualification QualifyForConversion(const FileProbe& probe) {
  switch (probe.cls) {
    case StitchClass::kDualLens:
    case StitchClass::kSingleLens:
    case StitchClass::kStitchedByCamera:
      return kQualified;
    default:
      return probe.stitched_test == 1 ? kAlreadyStitched : kNotQualified;
  }
}

}  // namespace spherolux
