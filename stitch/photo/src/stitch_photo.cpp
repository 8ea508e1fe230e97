#include "photo/stitch_photo.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "base/file.h"
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

struct DecoderCloser {
  void operator()(JpegDecoder* d) const { JpegDecoderDestroy(d); }
};
struct EncoderCloser {
  void operator()(JpegEncoder* e) const { JpegEncoderDestroy(e); }
};
struct ContextCloser {
  void operator()(StitchContext* c) const { DestroyStitchContext(c); }
};

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

// A temporary file beside the output, renamed onto it on success and removed otherwise.
class TempOutput {
 public:
  explicit TempOutput(const std::string& final_path) : final_(final_path) {
    std::string templ = final_path + ".tmp-XXXXXX";
    const int fd = CreateUniqueFile(templ);
    if (fd < 0) return;
    path_ = templ;
    file_ = fdopen(fd, "wb");
    if (!file_) ::close(fd);
  }
  ~TempOutput() {
    if (file_) std::fclose(file_);
    if (!path_.empty()) std::remove(path_.c_str());
  }
  std::FILE* file() const { return file_; }
  bool Commit() {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed || std::rename(path_.c_str(), final_.c_str()) != 0) return false;
    path_.clear();
    return true;
  }

 private:
  std::string final_, path_;
  std::FILE* file_ = nullptr;
};

int RoundEven(int v) { return (v + 1) & ~1; }

}  // namespace

void PanoramaSize(int photo_width, int* width, int* height) {
  const int w = RoundEven(photo_width) & ~3;
  *width = std::max(w, 4);
  *height = *width / 2;
}

int StitchPhoto(const char* source_path, const char* output_path, int rotation, bool nadir_patch, int quality_index) {
  if (!source_path || !output_path) return kPhotoCannotOpen;
  PhotoCalibration calibration;
  const int camera_type = LoadPhotoCalibration(source_path, &calibration);

  UniqueFile source = OpenFile(source_path, "rb");
  if (!source) return kPhotoCannotOpen;
  JpegDecoderStream ds;
  ds.file = source.get();
  ds.alloc = std::malloc;
  ds.release = std::free;
  JpegDecoder* raw_decoder = nullptr;
  int rc = JpegDecoderCreate(&raw_decoder, ds);
  if (rc != kJpegOk) return rc;
  std::unique_ptr<JpegDecoder, DecoderCloser> decoder(raw_decoder);

  int32_t image[2], output[2], sampling = 0, components = 0, process = 0;
  const int32_t budget = 10240;
  if ((rc = JpegDecoderGet(decoder.get(), kJpegDecImageSize, image, 8)) != kJpegOk) return rc;
  if ((rc = JpegDecoderGet(decoder.get(), kJpegDecOutputSize, output, 8)) != kJpegOk) return rc;
  if ((rc = JpegDecoderGet(decoder.get(), kJpegDecSampling, &sampling, 4)) != kJpegOk) return rc;
  if ((rc = JpegDecoderGet(decoder.get(), kJpegDecComponents, &components, 4)) != kJpegOk) return rc;
  if ((rc = JpegDecoderGet(decoder.get(), kJpegDecProcess, &process, 4)) != kJpegOk) return rc;
  if ((rc = JpegDecoderSet(decoder.get(), kJpegDecIndexBudget, &budget, 4)) != kJpegOk) return rc;
  // Only 4:2:0, 4:2:2 and 4:4:4 can be brought to 4:2:0 below; the others end here, before
  // anything is decoded.
  if (sampling != kJpegSampling420 && sampling != kJpegSampling422 && sampling != kJpegSampling444)
    return kPhotoBadSampling;

  // Working picture: the decoder's planes at the source's own sampling, sides rounded up to
  // even, zero-filled.
  const int w = RoundEven(output[0]), h = RoundEven(output[1]);
  int pw = 0, ph = 0;
  PanoramaSize(w, &pw, &ph);
  const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  // A dual-lens photo's stitching maps depend only on the calibration and the sizes: they
  // are built while the picture is decoded. The source is the whole decoded picture (w x h),
  // whatever its shape, so that the context never reads past it.
  PendingContext pending;
  if (camera_type == kCameraDualLens) {
    pending.Start([&calibration, w, h, pw, ph, rotation, nadir_patch, threads] {
      return CreateStitchContext(&calibration.dual, w, h, pw, ph, kStitchI420, rotation, false, nadir_patch, threads);
    });
  }
  const size_t len = static_cast<size_t>(w) * h;
  Buffer<uint8_t> work(static_cast<uint8_t*>(std::calloc(len * 3, 1)));
  if (!work) return kPhotoNoMemory;
  const int chroma_stride = sampling == kJpegSampling444 ? w : w / 2;
  const size_t v_offset = sampling == kJpegSampling420   ? len + len / 4
                          : sampling == kJpegSampling422 ? len + len / 2
                                                         : 2 * len;
  uint8_t* planes[3] = {work.get(), work.get() + len, work.get() + v_offset};
  const int32_t strides[3] = {w, chroma_stride, chroma_stride};
  // 16-row strips; a damaged strip still delivers its rows, so decoding goes on.
  for (int left = image[1]; left > 0;) {
    int32_t rows = std::min(16, left);
    left -= rows;
    JpegDecoderDecodeRows(decoder.get(), planes, strides, nullptr, &rows);
    const int chroma_rows = sampling == kJpegSampling420 ? (rows + 1) / 2 : rows;
    planes[0] += static_cast<size_t>(rows) * w;
    planes[1] += static_cast<size_t>(chroma_rows) * chroma_stride;
    planes[2] += static_cast<size_t>(chroma_rows) * chroma_stride;
  }
  decoder.reset();
  source.reset();

  // The 4:2:0 picture: Y, then U and V of (w/2) x (h/2).
  Buffer<uint8_t> converted;
  const uint8_t* picture = work.get();
  if (sampling != kJpegSampling420) {
    converted.reset(static_cast<uint8_t*>(std::malloc(len * 3 / 2)));
    if (!converted) return kPhotoNoMemory;
    std::memcpy(converted.get(), work.get(), len);
    for (int c = 0; c < 2; ++c) {
      const uint8_t* src = work.get() + (c == 0 ? len : v_offset);
      uint8_t* dst = converted.get() + len + c * (len / 4);
      for (int i = 0; i < h / 2; ++i) {
        const uint8_t* row = src + static_cast<size_t>(2 * i) * chroma_stride;  // even rows only
        if (sampling == kJpegSampling422) {
          std::memcpy(dst + static_cast<size_t>(i) * (w / 2), row, static_cast<size_t>(w / 2));
        } else {
          for (int j = 0; j < w / 2; ++j) dst[static_cast<size_t>(i) * (w / 2) + j] = row[2 * j];  // point sampling
        }
      }
    }
    picture = converted.get();
  }

  const size_t plen = static_cast<size_t>(pw) * ph;
  Buffer<uint8_t> panorama(static_cast<uint8_t*>(std::malloc(plen * 3 / 2)));
  if (!panorama) return kPhotoNoMemory;

  if (camera_type == kCameraDualLens) {
    const std::unique_ptr<StitchContext, ContextCloser> context(pending.Take());
    if (!context) return kPhotoNoMemory;
    StitchImage(context.get(), picture, panorama.get(), threads);
  } else if (camera_type == kCameraSingleLens) {
    const SingleLensCircle circle = PhotoSingleLensCircle(calibration.single, h);
    Buffer<SingleLensRemapEntry> table(
        static_cast<SingleLensRemapEntry*>(std::malloc(plen * sizeof(SingleLensRemapEntry))));
    if (!table) return kPhotoNoMemory;
    BuildSingleLensRemap(w, h, static_cast<float>(circle.x), static_cast<float>(circle.y), 190.0f, circle.radius,
                         table.get(), pw, ph, rotation);
    std::memset(panorama.get(), 0, plen);
    std::memset(panorama.get() + plen, 128, plen / 2);
    RemapSingleLens(picture, w, h, panorama.get(), pw, ph, table.get());
  } else {
    // No calibration: the picture itself, plane by plane; a photo that is not 2:1 is cut or
    // padded with black.
    std::memset(panorama.get(), 0, plen);
    std::memset(panorama.get() + plen, 128, plen / 2);
    for (int c = 0; c < 3; ++c) {
      const int sw = c == 0 ? w : w / 2, sh = c == 0 ? h : h / 2;
      const int dw = c == 0 ? pw : pw / 2, dh = c == 0 ? ph : ph / 2;
      const uint8_t* src = picture + (c == 0 ? 0 : len + (c - 1) * (len / 4));
      uint8_t* dst = panorama.get() + (c == 0 ? 0 : plen + (c - 1) * (plen / 4));
      for (int y = 0; y < std::min(sh, dh); ++y)
        std::memcpy(dst + static_cast<size_t>(y) * dw, src + static_cast<size_t>(y) * sw,
                    static_cast<size_t>(std::min(sw, dw)));
    }
  }
  converted.reset();
  work.reset();

  TempOutput out(output_path);
  if (!out.file()) return kPhotoNoMemory;
  JpegEncoderStream es;
  es.file = out.file();
  es.width = pw;
  es.height = ph;
  es.pixel_format = 1;
  es.alloc = std::malloc;
  es.release = std::free;
  JpegEncoder* raw_encoder = nullptr;
  if ((rc = JpegEncoderCreate(&raw_encoder, es)) != kJpegOk) return rc;
  std::unique_ptr<JpegEncoder, EncoderCloser> encoder(raw_encoder);
  const int32_t quality = quality_index == 0 ? 90 : quality_index == 1 ? 99 : 100;
  const int32_t rounding = 1, no_budget = 0;
  if ((rc = JpegEncoderSet(encoder.get(), kJpegEncQuality, &quality, 4)) != kJpegOk) return rc;
  if ((rc = JpegEncoderSet(encoder.get(), kJpegEncRounding, &rounding, 4)) != kJpegOk) return rc;
  if ((rc = JpegEncoderSet(encoder.get(), kJpegEncIndexBudget, &no_budget, 4)) != kJpegOk) return rc;
  const uint8_t* pplanes[3] = {panorama.get(), panorama.get() + plen, panorama.get() + plen + plen / 4};
  const int32_t pstrides[3] = {pw, pw / 2, pw / 2};
  if ((rc = JpegEncoderEncodeRows(encoder.get(), pplanes, pstrides, 0, ph)) != kJpegOk) return rc;
  if ((rc = JpegEncoderFinish(encoder.get())) != kJpegOk) return rc;
  uint64_t written = 0;
  JpegEncoderWrittenSize(encoder.get(), &written);
  encoder.reset();
  if (!out.Commit()) return kPhotoNoMemory;
  return kPhotoOk;
}

}  // namespace spherolux
