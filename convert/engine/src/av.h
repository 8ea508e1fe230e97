// Owners for FFmpeg objects, and small helpers shared by the jobs.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace spherolux::convert {

struct InputCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;

struct OutputCloser {
  void operator()(AVFormatContext* c) const {
    if (!c) return;
    if (c->pb && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
using OutputPtr = std::unique_ptr<AVFormatContext, OutputCloser>;

struct CodecCloser {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;

struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct SwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using SwsPtr = std::unique_ptr<SwsContext, SwsFree>;

struct PoolFree {
  void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
};
using PoolPtr = std::unique_ptr<AVBufferPool, PoolFree>;

// H.265 sample entries: 'hvc1' keeps the parameter sets in the sample entry only, 'hev1'
// allows them in the samples too.
inline constexpr uint32_t kHvc1 = MKTAG('h', 'v', 'c', '1');
inline constexpr uint32_t kHev1 = MKTAG('h', 'e', 'v', '1');

// The codec tag of a stream copied into an MP4: H.265 keeps the input's sample entry, as
// its samples are written for it; anything else lets the muxer choose (0).
inline uint32_t CopiedSampleEntry(const AVCodecParameters* in) {
  const bool hevc_entry = in->codec_id == AV_CODEC_ID_HEVC && (in->codec_tag == kHvc1 || in->codec_tag == kHev1);
  return hevc_entry ? in->codec_tag : 0;
}

inline FramePtr MakeFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr MakePacket() { return PacketPtr(av_packet_alloc()); }

}  // namespace spherolux::convert
