#include "photo/stitch_photo.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "base/file.h"
#include "base/output_file.h"
#include "calib/calibration.h"
#include "jpeg/codec.h"
#include "stitch/single_lens.h"
#include "stitch/stitch_context.h"

namespace spherolux {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Buffer = std::unique_ptr<T, FreeDeleter>;

template <typename T>
Buffer<T> Allocate(size_t count) {
  return Buffer<T>(static_cast<T*>(std::malloc(count * sizeof(T))));
}

struct DecoderCloser {
  void operator()(JpegDecoder* d) const { JpegDecoderDestroy(d); }
};
struct EncoderCloser {
  void operator()(JpegEncoder* e) const { JpegEncoderDestroy(e); }
};

// The maps of the last dual-lens photo (KeepStitchingMaps), and what they were built for.
struct MapsKey {
  std::array<uint8_t, kDoubleFisheyeParaSize> calibration{};
  int width = 0, height = 0, pano_width = 0, pano_height = 0, rotation = 0;
  bool nadir_patch = false;
  bool operator==(const MapsKey&) const = default;
};

class KeptMaps {
 public:
  std::shared_ptr<const StitchContext> Find(const MapsKey& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return context_ && key_ == key ? context_ : nullptr;
  }
  void Keep(const MapsKey& key, std::shared_ptr<const StitchContext> context) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!keep_) return;
    key_ = key;
    context_ = std::move(context);
  }
  void SetKeeping(bool keep) {
    std::shared_ptr<const StitchContext> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    keep_ = keep;
    if (!keep) dropped = std::exchange(context_, nullptr);
  }

 private:
  std::mutex mutex_;
  bool keep_ = false;
  MapsKey key_;
  std::shared_ptr<const StitchContext> context_;
};

KeptMaps& Kept() {
  static KeptMaps kept;
  return kept;
}

// A stitching context built on its own thread; taken once, or waited for and freed when the
// run ends early. Built on the caller's thread when no thread can be started.
class PendingContext {
 public:
  PendingContext() = default;
  PendingContext(const PendingContext&) = delete;
  PendingContext& operator=(const PendingContext&) = delete;
  ~PendingContext() { DestroyStitchContext(Take()); }

  template <typename Build>
  void Start(Build build) {
    try {
      thread_ = std::thread([this, build] { context_ = build(); });
    } catch (const std::system_error&) {
      context_ = build();
    }
  }

  StitchContext* Take() {
    if (thread_.joinable()) thread_.join();
    return std::exchange(context_, nullptr);
  }

 private:
  std::thread thread_;
  StitchContext* context_ = nullptr;
};

int RoundEven(int v) { return (v + 1) & ~1; }

// The result code of a file error.
int FileError(int error, int otherwise) {
  if (error == ENOSPC || error == EDQUOT) return kPhotoDiskFull;
  if (error == EACCES || error == EPERM || error == EROFS) return kPhotoPermission;
  return otherwise;
}

// Whether a picture of width x height can be stitched, and a file of `file_size` bytes can
// hold it: the entropy-coded data gives every 8x8 block of the luma at least one bit.
int CheckDeclaredSize(int width, int height, int64_t file_size) {
  if (!WithinPhotoLimits(width, height)) return kPhotoTooLarge;
  const int64_t blocks = (int64_t{width} + 7) / 8 * ((int64_t{height} + 7) / 8);
  return file_size < blocks / 8 ? kPhotoDamaged : kPhotoOk;
}

// The source photo open in the decoder, with what the decoder reports of it.
struct Source {
  UniqueFile file;
  std::unique_ptr<JpegDecoder, DecoderCloser> decoder;
  int32_t image[2] = {};   // width, height
  int32_t output[2] = {};  // at the decoder's scale
  int32_t sampling = 0;
  int64_t file_size = 0;

  int Open(const char* path) {
    // Opened without waiting (a pipe put in the photo's place would block) and checked to be
    // a regular file before anything is read.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return FileError(errno, kPhotoCannotOpen);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
      ::close(fd);
      return kPhotoNotAFile;
    }
    file.reset(::fdopen(fd, "rb"));
    if (!file) {
      ::close(fd);
      return kPhotoNoMemory;
    }
    file_size = st.st_size;
    JpegDecoderStream ds;
    ds.file = file.get();
    ds.alloc = std::malloc;
    ds.release = std::free;
    JpegDecoder* raw = nullptr;
    int rc = JpegDecoderCreate(&raw, ds);
    if (rc != kJpegOk) return rc;
    decoder.reset(raw);
    int32_t components = 0, process = 0;
    const int32_t budget = 10240;
    if ((rc = JpegDecoderGet(raw, kJpegDecImageSize, image, 8)) != kJpegOk) return rc;
    if ((rc = CheckDeclaredSize(image[0], image[1], file_size)) != kPhotoOk) return rc;
    if ((rc = JpegDecoderGet(raw, kJpegDecOutputSize, output, 8)) != kJpegOk) return rc;
    if ((rc = JpegDecoderGet(raw, kJpegDecSampling, &sampling, 4)) != kJpegOk) return rc;
    if ((rc = JpegDecoderGet(raw, kJpegDecComponents, &components, 4)) != kJpegOk) return rc;
    if ((rc = JpegDecoderGet(raw, kJpegDecProcess, &process, 4)) != kJpegOk) return rc;
    if ((rc = JpegDecoderSet(raw, kJpegDecIndexBudget, &budget, 4)) != kJpegOk) return rc;
    // Only 4:2:0, 4:2:2 and 4:4:4 can be brought to 4:2:0; the others end here, before
    // anything is decoded.
    if (sampling != kJpegSampling420 && sampling != kJpegSampling422 && sampling != kJpegSampling444)
      return kPhotoBadSampling;
    return kPhotoOk;
  }

  // Decodes at the smallest DCT scale (1/8, 1/4 or 1/2) that still gives at least
  // `min_width` columns; at full size when none does.
  int ScaleDownTo(int min_width) {
    for (int32_t denominator : {8, 4, 2}) {
      if (image[0] / denominator < min_width) continue;
      int rc = JpegDecoderSet(decoder.get(), kJpegDecScale, &denominator, 4);
      if (rc == kJpegOk) rc = JpegDecoderGet(decoder.get(), kJpegDecOutputSize, output, 8);
      return rc;
    }
    return kJpegOk;
  }

  void Close() {
    decoder.reset();
    file.reset();
  }
};

// The decoded photo: its planes at the source's own sampling, sides rounded up to even,
// zero-filled where the photo does not reach.
struct WorkingPicture {
  Buffer<uint8_t> bytes;
  int w = 0, h = 0;
  int32_t sampling = 0;
  int chroma_stride = 0;
  size_t len = 0;       // w * h
  size_t v_offset = 0;  // of the V plane

  const uint8_t* plane(int c) const { return bytes.get() + (c == 0 ? 0 : c == 1 ? len : v_offset); }
};

int DecodePicture(Source& source, int w, int h, WorkingPicture* pic) {
  pic->w = w;
  pic->h = h;
  pic->sampling = source.sampling;
  pic->len = static_cast<size_t>(w) * h;
  pic->bytes.reset(static_cast<uint8_t*>(std::calloc(pic->len * 3, 1)));
  if (!pic->bytes) return kPhotoNoMemory;
  pic->chroma_stride = source.sampling == kJpegSampling444 ? w : w / 2;
  pic->v_offset = source.sampling == kJpegSampling420   ? pic->len + pic->len / 4
                  : source.sampling == kJpegSampling422 ? pic->len + pic->len / 2
                                                        : 2 * pic->len;
  uint8_t* planes[3] = {pic->bytes.get(), pic->bytes.get() + pic->len, pic->bytes.get() + pic->v_offset};
  const int32_t strides[3] = {w, pic->chroma_stride, pic->chroma_stride};
  // 16-row strips. A damaged strip still delivers its rows, but the photo is not passed off
  // as whole: damaged data ends the pipeline.
  for (int left = source.output[1]; left > 0;) {
    int32_t rows = std::min(16, left);
    left -= rows;
    const int32_t rc = JpegDecoderDecodeRows(source.decoder.get(), planes, strides, nullptr, &rows);
    if (rc == kJpegCorrupt || rows <= 0) return kPhotoDamaged;
    if (rc != kJpegOk) return rc;
    const int chroma_rows = source.sampling == kJpegSampling420 ? (rows + 1) / 2 : rows;
    planes[0] += static_cast<size_t>(rows) * w;
    planes[1] += static_cast<size_t>(chroma_rows) * pic->chroma_stride;
    planes[2] += static_cast<size_t>(chroma_rows) * pic->chroma_stride;
  }
  return kPhotoOk;
}

// The picture in 4:2:0 (Y, then U and V of (w/2) x (h/2)): the working picture itself, or
// a copy in `converted` with every second chroma row (4:2:2) or sample in both directions
// (4:4:4, point sampling).
int ToI420(const WorkingPicture& pic, Buffer<uint8_t>* converted, const uint8_t** picture) {
  if (pic.sampling == kJpegSampling420) {
    *picture = pic.bytes.get();
    return kPhotoOk;
  }
  *converted = Allocate<uint8_t>(pic.len * 3 / 2);
  if (!*converted) return kPhotoNoMemory;
  uint8_t* out = converted->get();
  std::memcpy(out, pic.bytes.get(), pic.len);
  const int cw = pic.w / 2;
  for (int c = 0; c < 2; ++c) {
    uint8_t* dst = out + pic.len + c * (pic.len / 4);
    for (int i = 0; i < pic.h / 2; ++i) {
      const uint8_t* row = pic.plane(c + 1) + static_cast<size_t>(2 * i) * pic.chroma_stride;
      uint8_t* dst_row = dst + static_cast<size_t>(i) * cw;
      if (pic.sampling == kJpegSampling422) {
        std::memcpy(dst_row, row, static_cast<size_t>(cw));
      } else {
        for (int j = 0; j < cw; ++j) dst_row[j] = row[2 * j];
      }
    }
  }
  *picture = out;
  return kPhotoOk;
}

// A pw x ph I420 panorama: Y, then U and V.
struct Panorama {
  Buffer<uint8_t> bytes;
  int w = 0, h = 0;
  size_t len() const { return static_cast<size_t>(w) * h; }
  uint8_t* plane(int c) const { return bytes.get() + (c == 0 ? 0 : len() + (c - 1) * (len() / 4)); }
  // Black: luma 0, chroma 128, where nothing is drawn.
  void Clear() const {
    std::memset(bytes.get(), 0, len());
    std::memset(bytes.get() + len(), 128, len() / 2);
  }
};

int UnwrapSingleLens(const SingleFisheyeCameraPara& single, const uint8_t* picture, int w, int h, int rotation,
                     const Panorama& pano) {
  const SingleLensCircle circle = PhotoSingleLensCircle(single, h);
  Buffer<SingleLensRemapEntry> table = Allocate<SingleLensRemapEntry>(pano.len());
  if (!table) return kPhotoNoMemory;
  BuildSingleLensRemap(w, h, static_cast<float>(circle.x), static_cast<float>(circle.y), 190.0f, circle.radius,
                       table.get(), pano.w, pano.h, rotation);
  pano.Clear();
  RemapSingleLens(picture, w, h, pano.bytes.get(), pano.w, pano.h, table.get());
  return kPhotoOk;
}

// A photo the camera stitched: the picture itself, plane by plane; one that is not 2:1 is
// cut or padded with black.
void CopyStitchedByCamera(const uint8_t* picture, int w, int h, const Panorama& pano) {
  pano.Clear();
  const size_t len = static_cast<size_t>(w) * h;
  for (int c = 0; c < 3; ++c) {
    const int sw = c == 0 ? w : w / 2, sh = c == 0 ? h : h / 2;
    const int dw = c == 0 ? pano.w : pano.w / 2, dh = c == 0 ? pano.h : pano.h / 2;
    const uint8_t* src = picture + (c == 0 ? 0 : len + (c - 1) * (len / 4));
    uint8_t* dst = pano.plane(c);
    for (int y = 0; y < std::min(sh, dh); ++y)
      std::memcpy(dst + static_cast<size_t>(y) * dw, src + static_cast<size_t>(y) * sw,
                  static_cast<size_t>(std::min(sw, dw)));
  }
}

// A photo the camera stitched, scaled to the panorama's size: each output sample is the mean
// of the source samples its area covers (at least one), so that a small picture does not
// alias.
void ScaleStitchedByCamera(const uint8_t* picture, int w, int h, const Panorama& pano) {
  const size_t len = static_cast<size_t>(w) * h;
  for (int c = 0; c < 3; ++c) {
    const int sw = c == 0 ? w : w / 2, sh = c == 0 ? h : h / 2;
    const int dw = c == 0 ? pano.w : pano.w / 2, dh = c == 0 ? pano.h : pano.h / 2;
    const uint8_t* src = picture + (c == 0 ? 0 : len + (c - 1) * (len / 4));
    uint8_t* dst = pano.plane(c);
    for (int y = 0; y < dh; ++y) {
      const int y0 = static_cast<int>(int64_t{y} * sh / dh);
      const int y1 = std::max(y0 + 1, static_cast<int>(int64_t{y + 1} * sh / dh));
      for (int x = 0; x < dw; ++x) {
        const int x0 = static_cast<int>(int64_t{x} * sw / dw);
        const int x1 = std::max(x0 + 1, static_cast<int>(int64_t{x + 1} * sw / dw));
        uint32_t sum = 0;
        for (int yy = y0; yy < y1; ++yy)
          for (int xx = x0; xx < x1; ++xx) sum += src[static_cast<size_t>(yy) * sw + xx];
        const uint32_t count = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
        dst[static_cast<size_t>(y) * dw + x] = static_cast<uint8_t>((sum + count / 2) / count);
      }
    }
  }
}

// Encodes the panorama into a temporary beside the output and puts it in place only when
// it is complete. A file the encoder could not write is a file error, whatever code the
// codec gave for it.
int EncodePanorama(const Panorama& pano, int quality_index, OutputFile& out) {
  const int fd = ::dup(out.fd());
  UniqueFile file(fd >= 0 ? ::fdopen(fd, "wb") : nullptr);
  if (!file) {
    if (fd >= 0) ::close(fd);
    return kPhotoCannotWrite;
  }
  JpegEncoderStream es;
  es.file = file.get();
  es.width = pano.w;
  es.height = pano.h;
  es.pixel_format = 1;
  es.alloc = std::malloc;
  es.release = std::free;
  JpegEncoder* raw = nullptr;
  int rc = JpegEncoderCreate(&raw, es);
  if (rc != kJpegOk) return rc;
  std::unique_ptr<JpegEncoder, EncoderCloser> encoder(raw);
  const int32_t quality = quality_index == 0 ? 90 : quality_index == 1 ? 99 : 100;
  const int32_t rounding = 1, no_budget = 0;
  if ((rc = JpegEncoderSet(raw, kJpegEncQuality, &quality, 4)) != kJpegOk) return rc;
  if ((rc = JpegEncoderSet(raw, kJpegEncRounding, &rounding, 4)) != kJpegOk) return rc;
  if ((rc = JpegEncoderSet(raw, kJpegEncIndexBudget, &no_budget, 4)) != kJpegOk) return rc;
  const uint8_t* planes[3] = {pano.plane(0), pano.plane(1), pano.plane(2)};
  const int32_t strides[3] = {pano.w, pano.w / 2, pano.w / 2};
  rc = JpegEncoderEncodeRows(raw, planes, strides, 0, pano.h);
  if (rc == kJpegOk) rc = JpegEncoderFinish(raw);
  if (rc != kJpegOk) return std::ferror(file.get()) ? FileError(errno, kPhotoCannotWrite) : rc;
  encoder.reset();
  if (std::fclose(file.release()) != 0) return FileError(errno, kPhotoCannotWrite);
  switch (out.Publish()) {
    case OutputStatus::kOk:
      return kPhotoOk;
    case OutputStatus::kExists:
      return kPhotoOutputExists;
    case OutputStatus::kIsInput:
      return kPhotoOutputIsInput;
    case OutputStatus::kInputChanged:
      return kPhotoInputChanged;
    default:
      return FileError(out.error(), kPhotoCannotWrite);
  }
}

// Claims the output (or makes ready to replace it) before any work is done, so that a name
// that cannot be had fails at once.
int CreateOutput(const char* source_path, const char* output_path, const PhotoOutputOptions& options, OutputFile* out) {
  OutputOptions file_options;
  file_options.overwrite = options.overwrite;
  file_options.claim = options.claim && !options.overwrite;
  file_options.inputs = {source_path};
  switch (out->Create(output_path, file_options)) {
    case OutputStatus::kOk:
      return kPhotoOk;
    case OutputStatus::kExists:
      return kPhotoOutputExists;
    case OutputStatus::kIsInput:
      return kPhotoOutputIsInput;
    default:
      return FileError(out->error(), kPhotoCannotWrite);
  }
}

// Decodes the photo at `source_path` and stitches it into `pano`, which is sized and
// allocated here: the photo's own panorama size when `preview_width` is 0, else
// preview_width (see StitchPhotoPreview) with the photo decoded at a DCT scale.
// A panorama stitched earlier (`stitched`) is scaled like one the camera stitched.
int RenderPanorama(const char* source_path, int rotation, bool nadir_patch, int preview_width, bool stitched,
                   Panorama* pano) {
  PhotoCalibration calibration;
  const int camera_type = stitched ? 0 : LoadPhotoCalibration(source_path, &calibration);

  Source source;
  int rc = source.Open(source_path);
  if (rc != kPhotoOk) return rc;
  // Only a photo the camera stitched itself may go out as it came in; any other photo
  // without lens calibration would be a fisheye picture marked as a panorama.
  const bool lens = camera_type == kCameraDualLens || camera_type == kCameraSingleLens;
  if (!lens && !stitched && QueryCameraType(source_path) != kCameraStitchedReported) return kPhotoNoCalibration;
  if (preview_width > 0) {
    if ((rc = source.ScaleDownTo(preview_width)) != kJpegOk) return rc;
    PanoramaSize(preview_width, &pano->w, &pano->h);
  }
  const int w = RoundEven(source.output[0]), h = RoundEven(source.output[1]);
  if (preview_width <= 0) PanoramaSize(w, &pano->w, &pano->h);
  const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  // A dual-lens photo's stitching maps depend only on the calibration and the sizes: they
  // are built while the picture is decoded. The source is the whole decoded picture (w x h),
  // whatever its shape, so that the context never reads past it.
  PendingContext pending;
  MapsKey key{{}, w, h, pano->w, pano->h, rotation, nadir_patch};
  std::shared_ptr<const StitchContext> context;
  if (camera_type == kCameraDualLens) {
    EncodeDoubleFisheyeCameraPara(calibration.dual, key.calibration.data());
    context = Kept().Find(key);
    if (!context) {
      pending.Start([&calibration, w, h, pw = pano->w, ph = pano->h, rotation, nadir_patch, threads] {
        return CreateStitchContext(&calibration.dual, w, h, pw, ph, kStitchI420, rotation, false, nadir_patch, threads);
      });
    }
  }

  WorkingPicture work;
  if ((rc = DecodePicture(source, w, h, &work)) != kPhotoOk) return rc;
  source.Close();
  Buffer<uint8_t> converted;
  const uint8_t* picture = nullptr;
  if ((rc = ToI420(work, &converted, &picture)) != kPhotoOk) return rc;

  pano->bytes = Allocate<uint8_t>(pano->len() * 3 / 2);
  if (!pano->bytes) return kPhotoNoMemory;
  if (camera_type == kCameraDualLens) {
    if (!context) {
      context = std::shared_ptr<const StitchContext>(
          pending.Take(), [](const StitchContext* c) { DestroyStitchContext(const_cast<StitchContext*>(c)); });
      if (!context) return kPhotoNoMemory;
      Kept().Keep(key, context);
    }
    StitchImage(context.get(), picture, pano->bytes.get(), threads);
  } else if (camera_type == kCameraSingleLens) {
    return UnwrapSingleLens(calibration.single, picture, w, h, rotation, *pano);
  } else if (preview_width > 0) {
    ScaleStitchedByCamera(picture, w, h, *pano);
  } else {
    CopyStitchedByCamera(picture, w, h, *pano);
  }
  return kPhotoOk;
}

// Refuses what is no regular file before anything opens it.
int CheckSource(const char* source_path) {
  struct stat st;
  if (::stat(source_path, &st) != 0) return FileError(errno, kPhotoCannotOpen);
  return S_ISREG(st.st_mode) ? kPhotoOk : kPhotoNotAFile;
}

}  // namespace

void PanoramaSize(int photo_width, int* width, int* height) {
  const int w = RoundEven(photo_width) & ~3;
  *width = std::max(w, 4);
  *height = *width / 2;
}

int StitchPhoto(const char* source_path, const char* output_path, int rotation, bool nadir_patch, int quality_index,
                const PhotoOutputOptions& options) {
  if (!source_path || !output_path) return kPhotoCannotOpen;
  int rc = CheckSource(source_path);
  if (rc != kPhotoOk) return rc;
  OutputFile out;
  if ((rc = CreateOutput(source_path, output_path, options, &out)) != kPhotoOk) return rc;
  Panorama pano;
  if ((rc = RenderPanorama(source_path, rotation, nadir_patch, 0, false, &pano)) != kPhotoOk) return rc;
  return EncodePanorama(pano, quality_index, out);
}

void KeepStitchingMaps(bool keep) { Kept().SetKeeping(keep); }

int StitchPhotoPreview(const char* source_path, int width, bool stitched, PanoramaImage* out) {
  if (!source_path || !out || width < 4 || width > kMaxPhotoWidth) return kPhotoCannotOpen;
  int rc = CheckSource(source_path);
  if (rc != kPhotoOk) return rc;
  Panorama pano;
  if ((rc = RenderPanorama(source_path, 0, false, width, stitched, &pano)) != kPhotoOk) return rc;
  out->width = pano.w;
  out->height = pano.h;
  out->bytes.assign(pano.bytes.get(), pano.bytes.get() + pano.len() * 3 / 2);
  return kPhotoOk;
}

}  // namespace spherolux
