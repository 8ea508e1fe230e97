// The video thumbnail, a module of its own: one key frame, found and read by our MP4 reader
// and decoded by FFmpeg's decoder, stitched at the thumbnail's size. FFmpeg's demuxer is not
// used: loading it and the libraries it links took a fifth of the whole run.

#include <algorithm>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "base/input_file.h"
#include "calib/calibration.h"
#include "mp4/reader.h"
#include "probe/probe.h"
#include "stitch/lens_model.h"
#include "stitch/single_lens.h"
#include "stitch/stitch_context.h"
#include "thumbnail.h"

namespace spherolux::thumbnailer {

namespace {

struct CodecCloser {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameCloser {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScalerCloser {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct ContextCloser {
  void operator()(StitchContext* c) const { DestroyStitchContext(c); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameCloser>;

// How the picture becomes a panorama.
enum class Kind { kDualLens, kSingleLens, kPanorama };

// The decoder of a sample entry's codec; none for codecs a camera does not record.
AVCodecID CodecOf(uint32_t entry) {
  switch (entry) {
    case FourCC("avc1"):
    case FourCC("avc3"):
      return AV_CODEC_ID_H264;
    case FourCC("hvc1"):
    case FourCC("hev1"):
      return AV_CODEC_ID_HEVC;
    case FourCC("vp09"):
      return AV_CODEC_ID_VP9;
    case FourCC("av01"):
      return AV_CODEC_ID_AV1;
    default:
      return AV_CODEC_ID_NONE;
  }
}

// The first picture decoded from the key frame at or before a tenth of the duration.
FramePtr DecodeKeyFrame(const std::string& path) {
  std::unique_ptr<mp4::Mp4Reader> reader;
  if (mp4::Mp4Reader::Open(AbsolutePath(path), &reader) != mp4::Mp4Status::kOk) return nullptr;
  int track = 0;
  while (track < reader->track_count() && reader->description(track).handler != mp4::kHandlerVideo) ++track;
  if (track == reader->track_count()) return nullptr;
  const mp4::TrackDescription& d = reader->description(track);
  const AVCodec* codec = avcodec_find_decoder(CodecOf(d.codec));
  if (codec == nullptr) return nullptr;
  std::unique_ptr<AVCodecContext, CodecCloser> decoder(avcodec_alloc_context3(codec));
  if (!decoder) return nullptr;
  decoder->width = d.width;
  decoder->height = d.height;
  // The sample entry's configuration record ('avcC', 'hvcC', ...), as FFmpeg takes it.
  const std::span<const uint8_t> config = reader->decoder_config(track);
  if (!config.empty()) {
    decoder->extradata = static_cast<uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (decoder->extradata == nullptr) return nullptr;
    std::copy(config.begin(), config.end(), decoder->extradata);
    decoder->extradata_size = static_cast<int>(config.size());
  }
  // One picture is wanted: slice threads only, so that no frames are queued up.
  decoder->thread_type = FF_THREAD_SLICE;
  decoder->thread_count = 0;
  // A picture shown at a fifteenth of its width: the deblocking filter cannot be seen there.
  decoder->skip_loop_filter = AVDISCARD_ALL;
  decoder->flags2 |= AV_CODEC_FLAG2_FAST;
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return nullptr;

  double reached = 0;
  if (reader->SeekToSyncBefore(track, d.duration_ms / 10, &reached) != mp4::Mp4Status::kOk) return nullptr;
  std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  if (!packet || !frame) return nullptr;
  // A damaged file may hold no decodable picture: the samples read, and their size, are bounded.
  constexpr uint32_t kLargestSample = 64u << 20;
  std::vector<uint8_t> data;
  for (int samples = 0; samples < 600; ++samples) {
    mp4::SampleRecord rec;
    mp4::Mp4Status status = reader->ReadSample(track, data.data(), data.size(), &rec);
    if (status == mp4::Mp4Status::kBufferTooSmall && rec.size <= kLargestSample) {
      data.resize(rec.size);
      status = reader->ReadSample(track, data.data(), data.size(), &rec);
    }
    if (status != mp4::Mp4Status::kOk) {
      avcodec_send_packet(decoder.get(), nullptr);
      return avcodec_receive_frame(decoder.get(), frame.get()) == 0 ? std::move(frame) : nullptr;
    }
    if (av_new_packet(packet.get(), static_cast<int>(rec.size)) < 0) return nullptr;
    std::copy_n(data.data(), rec.size, packet->data);
    if (rec.sync) packet->flags |= AV_PKT_FLAG_KEY;
    avcodec_send_packet(decoder.get(), packet.get());
    av_packet_unref(packet.get());
    if (avcodec_receive_frame(decoder.get(), frame.get()) == 0) return frame;
  }
  return nullptr;
}

// The frame as back-to-back I420 planes of `width` x `height`, scaled by area.
bool ToI420(const AVFrame* frame, int width, int height, std::vector<uint8_t>* out) {
  std::unique_ptr<SwsContext, ScalerCloser> scaler(
      sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), width, height,
                     AV_PIX_FMT_YUV420P, SWS_AREA, nullptr, nullptr, nullptr));
  if (!scaler) return false;
  const size_t len = static_cast<size_t>(width) * height;
  out->assign(len * 3 / 2, 0);
  uint8_t* planes[4] = {out->data(), out->data() + len, out->data() + len + len / 4, nullptr};
  const int strides[4] = {width, width / 2, width / 2, 0};
  return sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) == height;
}

}  // namespace

// The module's one entry (kVideoEntry).
extern "C" __attribute__((visibility("default"))) ThumbnailResult spherolux_video_thumbnail(const std::string& path,
                                                                                            int size, Thumbnail* out) {
  if (InputStateOf(path) != InputState::kReadable) return ThumbnailResult::kUnreadable;
  PhotoCalibration calibration;
  const int type = ReadCameraCalibration(path.c_str(), &calibration);
  Kind kind;
  if (calibration.camera_type == kCameraDualLens) {
    kind = Kind::kDualLens;
  } else if (calibration.camera_type == kCameraSingleLens) {
    kind = Kind::kSingleLens;
  } else if (type == kCameraStitchedReported || StitchedTest(path.c_str(), MediaKind::kVideo) == 1) {
    kind = Kind::kPanorama;
  } else {
    return ThumbnailResult::kNotPanorama;
  }
  if (IsNestedTooDeep(path.c_str()) == 1) return ThumbnailResult::kUnreadable;
  const FramePtr frame = DecodeKeyFrame(path);
  if (!frame || frame->width < 4 || frame->height < 4) return ThumbnailResult::kUnreadable;

  const int width = std::max(4, size & ~3), height = width / 2;
  // The source is brought to at most four times the panorama's width (even sides, the
  // frame's shape kept) so that the stitcher's samples do not skip pixels.
  int source_w = frame->width, source_h = frame->height;
  if (source_w > 4 * width) {
    source_h = static_cast<int>(int64_t{source_h} * 4 * width / source_w);
    source_w = 4 * width;
  }
  source_w &= ~1;
  source_h = std::max(2, source_h & ~1);
  if (kind == Kind::kPanorama) source_w = width, source_h = height;
  std::vector<uint8_t> source;
  if (!ToI420(frame.get(), source_w, source_h, &source)) return ThumbnailResult::kUnreadable;
  out->width = width;
  out->height = height;
  out->full_range = frame->color_range == AVCOL_RANGE_JPEG;
  if (kind == Kind::kPanorama) {
    out->i420 = std::move(source);
    return ThumbnailResult::kOk;
  }
  out->i420.assign(static_cast<size_t>(width) * height * 3 / 2, 0);
  if (kind == Kind::kDualLens) {
    const std::unique_ptr<StitchContext, ContextCloser> context(
        CreateStitchContext(&calibration.dual, source_w, source_h, width, height, kStitchI420, 0,
                            GenerationForCode(calibration.dual.lModel), false));
    if (!context) return ThumbnailResult::kUnreadable;
    StitchImage(context.get(), source.data(), out->i420.data());
    return ThumbnailResult::kOk;
  }
  const SingleLensCircle circle = SingleLensCircleForFrame(calibration.single, source_w, source_h);
  std::vector<SingleLensRemapEntry> table(static_cast<size_t>(width) * height);
  if (circle.radius <= 0 ||
      !BuildSingleLensRemap(source_w, source_h, static_cast<float>(circle.x), static_cast<float>(circle.y), 190.0f,
                            circle.radius, table.data(), width, height, 0))
    return ThumbnailResult::kUnreadable;
  RemapSingleLens(source.data(), source_w, source_h, out->i420.data(), width, height, table.data());
  return ThumbnailResult::kOk;
}

}  // namespace spherolux::thumbnailer
