#include "calib/calibration.h"

#include <mutex>
#include <string>

#include "base/bytes.h"
#include "calib/block.h"
#include "calib/locator.h"

namespace spherolux {
namespace {

constexpr size_t kMaxUuidLength = 36;

// The photo store: the last records loaded by LoadPhotoCalibration. Written by any thread
// that loads a photo's calibration, read through PhotoStore(); always under the mutex.
struct GuardedPhotoStore {
  std::mutex mutex;
  PhotoCalibration store;
};

GuardedPhotoStore& Store() {
  static GuardedPhotoStore s;
  return s;
}

// Locates and decodes the block the way the camera-type query does: MP4 udta walk, then
// the photo locator. Returns 0 or the query's failure code.
int LocateAndDecodeAnyFile(const char* path, DecodedBlock* block) {
  if (!path) return kCalibCannotOpen;
  PayloadSpan span;
  WalkMp4Udta(path, &span);
  if (span.size <= 0) {
    if (int rc = LocatePhotoBlock(path, &span)) return rc;
  }
  // Every failure to find or decode the block reads as "nothing located" but a failed
  // decryption.
  return DecodeLocatedBlock(span.bytes, {kCalibCannotOpen, kCalibCannotOpen, kCalibCannotOpen, kCalibDecryptFailed},
                            block);
}

int CameraTypeOf(const DecodedBlock& block) {
  const auto type = block.CameraType();
  if (!type) return kCalibNoTypeRecord;
  return *type >= kCameraStitchingTypes ? kCameraStitchedReported : *type;
}

// Copies the type-7 record of a camera of type 1 or 2 into `out`. False when it is missing
// or of the wrong length for that type.
bool TakeLensRecord(const DecodedBlock& block, int camera_type, PhotoCalibration* out) {
  auto rec = block.Find(kRecordLensPara);
  if (!rec) return false;
  if (camera_type == kCameraSingleLens) {
    if (rec->size() != kSingleFisheyeParaSize) return false;
    return DecodeSingleFisheyeCameraPara(rec->data(), rec->size(), &out->single);
  }
  if (camera_type == kCameraDualLens) {
    if (rec->size() != kDoubleFisheyeParaSize && rec->size() != kDoubleFisheyeParaSizeLong) return false;
    return DecodeDoubleFisheyeCameraPara(rec->data(), rec->size(), &out->dual);
  }
  return false;
}

}  // namespace

int ReadBlockFromWholeFileCode(const char* path, PayloadSpan* span) {
  // The block alone, without holding the whole file in memory.
  switch (ReadBlockFromWholeFile(path, span)) {
    case WholeFileResult::kOk:
      return 0;
    case WholeFileResult::kCannotOpen:
      return kCalibCannotOpen;
    case WholeFileResult::kEmpty:
      return kCalibEmptyFile;
  }
  return kCalibCannotOpen;
}

int LocatePhotoBlock(const char* path, PayloadSpan* span) {
  WalkJpegExif(path, span);
  if (span->size > 0 && FindSyncWord(span->bytes.data(), span->bytes.size(), nullptr, nullptr)) return 0;
  *span = PayloadSpan{};
  return ReadBlockFromWholeFileCode(path, span);
}

int QueryCameraType(const char* path) {
  DecodedBlock block;
  if (int rc = LocateAndDecodeAnyFile(path, &block)) return rc;
  return CameraTypeOf(block);
}

int ReadCameraCalibration(const char* path, PhotoCalibration* out) {
  if (out) *out = PhotoCalibration{};
  DecodedBlock block;
  if (int rc = LocateAndDecodeAnyFile(path, &block)) return rc;
  const int type = CameraTypeOf(block);
  if (out && (type == kCameraSingleLens || type == kCameraDualLens)) {
    PhotoCalibration record;
    if (TakeLensRecord(block, type, &record)) {
      record.camera_type = type;
      *out = record;
    }
  }
  return type;
}

int LoadPhotoCalibration(const char* path, PhotoCalibration* out) {
  if (!path) return kCalibNoPath;
  PayloadSpan span;
  if (LocatePhotoBlock(path, &span) != 0 || span.size <= 0) return kCalibNoPath;
  DecodedBlock block;
  if (int rc =
          DecodeLocatedBlock(span.bytes, {kCalibNoPath, kCalibNoPath, kCalibNoPath, kCalibDecryptFailed}, &block)) {
    return rc;
  }

  const auto type = block.CameraType();
  if (!type || (*type != kCameraSingleLens && *type != kCameraDualLens)) return kCalibBadRecord;
  auto uuid = block.Find(kRecordUuid);
  if (!uuid || uuid->size() > kMaxUuidLength) return kCalibNoCameraType;
  // The unit's GUID is required to be present but is not used further.
  const std::string unit_guid(uuid->begin(), uuid->end());
  (void)unit_guid;

  PhotoCalibration loaded;
  if (!TakeLensRecord(block, *type, &loaded)) return kCalibEmptyText;
  loaded.camera_type = *type;

  GuardedPhotoStore& s = Store();
  std::lock_guard lock(s.mutex);
  s.store.camera_type = loaded.camera_type;
  if (loaded.camera_type == kCameraSingleLens) {
    s.store.single = loaded.single;
  } else {
    s.store.dual = loaded.dual;
  }
  if (out) *out = s.store;
  return loaded.camera_type;
}

PhotoCalibration PhotoStore() {
  GuardedPhotoStore& s = Store();
  std::lock_guard lock(s.mutex);
  return s.store;
}

}  // namespace spherolux
