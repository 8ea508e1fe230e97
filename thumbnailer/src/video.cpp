// The video thumbnail, a module of its own: one key frame through FFmpeg, stitched at the
// thumbnail's size.

#include <algorithm>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "base/input_file.h"
#include "calib/calibration.h"
#include "probe/probe.h"
#include "stitch/lens_model.h"
#include "stitch/single_lens.h"
#include "stitch/stitch_context.h"
#include "thumbnail.h"

namespace spherolux::thumbnailer {

namespace {

struct InputCloser {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
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

// The first picture decoded at or after the key frame before a tenth of the duration.
FramePtr DecodeKeyFrame(const std::string& path) {
  // Only the file protocol: a name never reaches the network, whatever it reads like.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  AVFormatContext* raw = nullptr;
  const int opened = avformat_open_input(&raw, AbsolutePath(path).c_str(), nullptr, &options);
  av_dict_free(&options);
  if (opened < 0) return nullptr;
  std::unique_ptr<AVFormatContext, InputCloser> input(raw);
  // MP4 headers give the codec and the frame size: the stream information is looked for (by
  // decoding the first frames) only when they do not.
  const bool known =
      input->nb_streams > 0 && std::all_of(input->streams, input->streams + input->nb_streams, [](const AVStream* s) {
        return s->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (s->codecpar->width > 0 && s->codecpar->height > 0);
      });
  if (!known && avformat_find_stream_info(input.get(), nullptr) < 0) return nullptr;
  const AVCodec* codec = nullptr;
  const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (index < 0 || codec == nullptr) return nullptr;
  AVStream* stream = input->streams[index];
  std::unique_ptr<AVCodecContext, CodecCloser> decoder(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) return nullptr;
  // One picture is wanted: slice threads only, so that no frames are queued up.
  decoder->thread_type = FF_THREAD_SLICE;
  decoder->thread_count = 0;
  // A picture shown at a fifteenth of its width: the deblocking filter cannot be seen there.
  decoder->skip_loop_filter = AVDISCARD_ALL;
  decoder->flags2 |= AV_CODEC_FLAG2_FAST;
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return nullptr;

  if (input->duration > 0) {
    const int64_t at = av_rescale_q(
        input->start_time == AV_NOPTS_VALUE ? input->duration / 10 : input->start_time + input->duration / 10,
        AV_TIME_BASE_Q, stream->time_base);
    if (av_seek_frame(input.get(), index, at, AVSEEK_FLAG_BACKWARD) < 0)
      av_seek_frame(input.get(), index, 0, AVSEEK_FLAG_BACKWARD);
  }
  std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  if (!packet || !frame) return nullptr;
  // A damaged file may hold no decodable picture: the packets read are bounded.
  for (int packets = 0; packets < 600; ++packets) {
    const int read = av_read_frame(input.get(), packet.get());
    if (read < 0) {
      avcodec_send_packet(decoder.get(), nullptr);
    } else if (packet->stream_index != index) {
      av_packet_unref(packet.get());
      continue;
    } else {
      avcodec_send_packet(decoder.get(), packet.get());
      av_packet_unref(packet.get());
    }
    if (avcodec_receive_frame(decoder.get(), frame.get()) == 0) return frame;
    if (read < 0) return nullptr;
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
