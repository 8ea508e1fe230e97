// The conversion job: [start, start + duration) of one video, stitched or transcoded to
// H.264 in three threads (read and decode, stitch, encode and write), or stream-copied.
#include <stdio.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <system_error>
#include <thread>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include "audio.h"
#include "av.h"
#include "base/queue.h"
#include "camera.h"
#include "convert/engine.h"
#include "jobs.h"
#include "reframe/rectilinear.h"
#include "reframe/view_path.h"

namespace spherolux::convert {
namespace {

// Frames within this distance of a range bound count as inside: timestamps are rounded to
// their stream's time base.
constexpr double kTimeEpsilon = 1e-4;

double ToSeconds(int64_t ts, AVRational tb) { return ts == AV_NOPTS_VALUE ? NAN : double(ts) * av_q2d(tb); }

int64_t PacketTime(const AVPacket* p) { return p->pts != AV_NOPTS_VALUE ? p->pts : p->dts; }

// The libx265 settings given as its own parameters: references and B-frames (not every
// version of FFmpeg's wrapper reads them from the codec context), no encoder banner in the
// parameter sets (it names the machine's thread counts, and parts encoded on different
// machines must share their parameter sets to be merged), and only errors on stderr.
std::string X265Params(const EncoderOptions& o) {
  std::string params = "log-level=error:info=0";
  if (o.refs > 0) params += ":ref=" + std::to_string(o.refs);
  if (o.bframes >= 0) params += ":bframes=" + std::to_string(o.bframes);
  return params;
}

// Whether the system refuses this process another thread now. libx264 reports a failed open
// the same way whatever the cause; when it could not start its threads, the job's fault is
// the system's, not the options'.
bool SystemRefusesThreads() {
  try {
    std::thread([] {}).join();
    return false;
  } catch (const std::system_error&) {
    return true;
  }
}

// The input, opened with the job's stop check as interrupt callback.
struct Input {
  InputPtr fmt;
  int video = -1;
  int audio = -1;
  double origin = 0;     // the file's start time in seconds: media times are counted from it
  double duration = 0;   // seconds; 0 when unknown
  double video_end = 0;  // media time where the index says the video ends; 0 when unknown
  double frame_duration = 0.04;
};

// Whether the video read ended before the range did although the file's index promises more:
// media data missing or cut off. `last_end` is the end of the last frame read (media time).
bool EndsEarly(const Input& in, double range_end, double last_end) {
  if (in.video_end <= 0) return false;
  const double promised = std::min(range_end, in.video_end);
  return last_end < promised - std::max(0.25, 3 * in.frame_duration);
}

// The frames of the range: those the input's index holds, and those the job read and
// decoded.
struct FrameCounts {
  int64_t expected = -1;  // -1: the input has no index
  int64_t converted = 0;
};

// The frames whose presentation time lies in [start, end), counted from the container's
// index (an MP4's sample table, ISO/IEC 14496-12, 8.6) without reading media data, so that
// samples cut off or never written still count. The index holds decoding times; a constant
// shift (the first frame's presentation time less its decoding time) gives presentation
// times. -1 when the demuxer keeps no index for the stream.
int64_t IndexedFrames(const Input& in, double start, double end) {
  AVStream* vs = in.fmt->streams[in.video];
  const int n = avformat_index_get_entries_count(vs);
  if (n <= 0) return -1;
  int64_t first_dts = AV_NOPTS_VALUE;
  for (int i = 0; i < n; ++i) {
    const AVIndexEntry* e = avformat_index_get_entry(vs, i);
    if (!(e->flags & AVINDEX_DISCARD_FRAME) && (first_dts == AV_NOPTS_VALUE || e->timestamp < first_dts))
      first_dts = e->timestamp;
  }
  if (first_dts == AV_NOPTS_VALUE) return -1;
  const int64_t shift = vs->start_time != AV_NOPTS_VALUE ? vs->start_time - first_dts : 0;
  int64_t count = 0;
  for (int i = 0; i < n; ++i) {
    const AVIndexEntry* e = avformat_index_get_entry(vs, i);
    if (e->flags & AVINDEX_DISCARD_FRAME) continue;
    const double t = ToSeconds(e->timestamp + shift, vs->time_base) - in.origin;
    if (t >= start - kTimeEpsilon && t < end - kTimeEpsilon) ++count;
  }
  return count;
}

// CONVERT_ERR_MISSING_FRAMES when more than one frame that the index holds for the range was
// not converted, unless the job allows it.
int CheckFrameCounts(const Job& job, const FrameCounts& counts) {
  if (job.allow_missing || counts.expected < 0 || counts.expected - counts.converted <= 1) return CONVERT_OK;
  return CONVERT_ERR_MISSING_FRAMES;
}

// Writes the counts to the job's report descriptor, if it has one.
void ReportFrameCounts(const Job& job, const FrameCounts& counts) {
  if (job.report_fd < 0) return;
  dprintf(job.report_fd, "frames_expected=%lld\nframes_converted=%lld\n", static_cast<long long>(counts.expected),
          static_cast<long long>(counts.converted));
}

int OpenInput(const std::string& path, JobContext& ctx, Input* in) {
  AVFormatContext* fmt = avformat_alloc_context();
  if (!fmt) return CONVERT_ERR_NO_MEMORY;
  fmt->interrupt_callback = {&JobContext::Interrupt, &ctx};
  const int opened = avformat_open_input(&fmt, FileUrl(path).c_str(), nullptr, nullptr);
  if (opened < 0) return opened == AVERROR(EACCES) ? CONVERT_ERR_PERMISSION : CONVERT_ERR_OPEN_INPUT;
  in->fmt.reset(fmt);
  if (avformat_find_stream_info(fmt, nullptr) < 0) return CONVERT_ERR_OPEN_INPUT;
  in->video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (in->video < 0) return CONVERT_ERR_NO_VIDEO;
  const AVCodecParameters* vp = fmt->streams[in->video]->codecpar;
  if (vp->width <= 0 || vp->height <= 0) return CONVERT_ERR_NO_VIDEO;
  in->audio = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, in->video, nullptr, 0);
  if (in->audio < 0) in->audio = -1;
  in->origin = fmt->start_time == AV_NOPTS_VALUE ? 0 : double(fmt->start_time) / AV_TIME_BASE;
  in->duration = fmt->duration > 0 ? double(fmt->duration) / AV_TIME_BASE : 0;
  const AVStream* vs = fmt->streams[in->video];
  const double video_start =
      vs->start_time != AV_NOPTS_VALUE ? ToSeconds(vs->start_time, vs->time_base) - in->origin : 0;
  in->video_end = vs->duration > 0 ? video_start + ToSeconds(vs->duration, vs->time_base) : in->duration;
  const AVRational rate = vs->avg_frame_rate.num > 0 ? vs->avg_frame_rate : vs->r_frame_rate;
  if (rate.num > 0 && rate.den > 0) in->frame_duration = av_q2d(av_inv_q(rate));
  return CONVERT_OK;
}

int SeekTo(Input& in, double start) {
  if (start <= 0) return CONVERT_OK;
  const int64_t target = llround((start + in.origin) * AV_TIME_BASE);
  // The key frame at or before the start: decoding begins there and drops what precedes it.
  if (avformat_seek_file(in.fmt.get(), -1, std::numeric_limits<int64_t>::min(), target, target, 0) < 0)
    return CONVERT_ERR_OPEN_INPUT;
  return CONVERT_OK;
}

// An MP4 muxer writing to `path`.
int OpenOutput(const std::string& path, JobContext& ctx, OutputPtr* out) {
  AVFormatContext* oc = nullptr;
  if (avformat_alloc_output_context2(&oc, nullptr, "mp4", path.c_str()) < 0 || !oc) return CONVERT_ERR_NO_MEMORY;
  out->reset(oc);
  oc->interrupt_callback = {&JobContext::Interrupt, &ctx};
  if (avio_open2(&oc->pb, FileUrl(path).c_str(), AVIO_FLAG_WRITE, &oc->interrupt_callback, nullptr) < 0)
    return CONVERT_ERR_CREATE_OUTPUT;
  return CONVERT_OK;
}

// Adds a stream copying `par`; false when MP4 cannot store its codec.
AVStream* AddCopyStream(AVFormatContext* oc, const AVStream* in) {
  if (avformat_query_codec(oc->oformat, in->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1) return nullptr;
  AVStream* s = avformat_new_stream(oc, nullptr);
  if (!s || avcodec_parameters_copy(s->codecpar, in->codecpar) < 0) return nullptr;
  s->codecpar->codec_tag = CopiedSampleEntry(in->codecpar);
  s->time_base = in->time_base;
  return s;
}

int WritePacket(AVFormatContext* oc, AVPacket* pkt) {
  const int r = av_interleaved_write_frame(oc, pkt);
  return r < 0 ? WriteError(r) : CONVERT_OK;
}

int WriteTrailer(AVFormatContext* oc) {
  const int r = av_write_trailer(oc);
  return r < 0 ? WriteError(r) : CONVERT_OK;
}

// Stream copy from the key frame at or before the start.
class Copier {
 public:
  Copier(const Job& job, Input& in, JobContext& ctx, FrameCounts& counts)
      : job_(job), in_(in), ctx_(ctx), counts_(counts) {}

  int Run(const mp4::SphericalBoxes& boxes, JobFiles& files) {
    int rc = OpenMuxer(files.path());
    if (rc == CONVERT_OK) rc = SeekTo(in_, job_.start);
    if (rc == CONVERT_OK) rc = CopyPackets();
    if (rc != CONVERT_OK) return rc;
    out_.reset();
    return files.Finish(boxes, ctx_);
  }

 private:
  // The muxer with the video stream and the audio (copied, or as AAC), header written.
  int OpenMuxer(const std::string& raw) {
    int rc = OpenOutput(raw, ctx_, &out_);
    if (rc != CONVERT_OK) return rc;
    AVFormatContext* oc = out_.get();
    in_v_ = in_.fmt->streams[in_.video];
    out_v_ = AddCopyStream(oc, in_v_);
    if (!out_v_) return CONVERT_ERR_CODEC;
    in_a_ = in_.audio >= 0 ? in_.fmt->streams[in_.audio] : nullptr;
    if (in_a_ && !(out_a_ = AddCopyStream(oc, in_a_))) {
      aac_ = std::make_unique<AacReencoder>();
      if ((rc = aac_->Open(in_a_, oc)) != CONVERT_OK) return rc;
    }
    return avformat_write_header(oc, nullptr) < 0 ? CONVERT_ERR_WRITE : CONVERT_OK;
  }

  int CopyPackets() {
    AVFormatContext* oc = out_.get();
    const double end = job_.duration < 0 ? std::numeric_limits<double>::infinity() : job_.start + job_.duration;
    const double span = std::isinf(end) ? std::max(in_.duration - job_.start, 1e-3) : job_.duration;
    double origin = NAN;   // media time of the first copied key frame
    double last_end = -1;  // media time where the last video packet read ends
    bool video_done = false, audio_done = in_a_ == nullptr;
    int copied = 0, rc = CONVERT_OK;
    PacketPtr pkt = MakePacket();
    while (!(video_done && audio_done)) {
      if (ctx_.stopped()) return CONVERT_ERR_STOPPED;
      if (av_read_frame(in_.fmt.get(), pkt.get()) < 0) break;
      const int si = pkt->stream_index;
      AVStream* is = in_.fmt->streams[si];
      const double t = ToSeconds(PacketTime(pkt.get()), is->time_base) - in_.origin;
      AVStream* os = nullptr;
      if (si == in_.video && !std::isnan(t))
        last_end = std::max(last_end, t + (pkt->duration > 0 ? ToSeconds(pkt->duration, is->time_base) : 0));
      if (si == in_.video && !video_done) {
        if (std::isnan(origin)) {
          if (!(pkt->flags & AV_PKT_FLAG_KEY) || std::isnan(t)) {
            av_packet_unref(pkt.get());
            continue;
          }
          origin = t;
        }
        const double dts = ToSeconds(pkt->dts, is->time_base) - in_.origin;
        if (!std::isnan(dts) && dts >= end - kTimeEpsilon) {
          video_done = true;
        } else if (ToSeconds(pkt->pts, is->time_base) - in_.origin < end - kTimeEpsilon) {
          os = out_v_;
        }
      } else if (in_a_ && si == in_.audio && !audio_done && !std::isnan(origin) && !std::isnan(t)) {
        if (t >= end - kTimeEpsilon) {
          audio_done = true;
        } else if (t >= origin - kTimeEpsilon) {
          if (aac_) {
            if ((rc = aac_->Feed(pkt.get(), oc)) != CONVERT_OK) return rc;
          } else {
            os = out_a_;
          }
        }
      }
      if (os) {
        const int64_t shift = llround((origin + in_.origin) / av_q2d(is->time_base));
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= shift;
        if (pkt->dts != AV_NOPTS_VALUE) pkt->dts -= shift;
        pkt->stream_index = os->index;
        pkt->pos = -1;
        av_packet_rescale_ts(pkt.get(), is->time_base, os->time_base);
        if ((rc = WritePacket(oc, pkt.get())) != CONVERT_OK) return rc;
        if (si == in_.video) {
          ++copied;
          if (t >= job_.start - kTimeEpsilon) ++counts_.converted;
          ctx_.SetProgress(float(std::clamp(100.0 * (t - job_.start) / span, 0.0, 99.0)));
        }
      }
      av_packet_unref(pkt.get());
    }
    if (copied == 0) return in_.duration > 0 && job_.start >= in_.duration ? CONVERT_ERR_RANGE : CONVERT_ERR_DECODE;
    if (!job_.allow_missing && !video_done && EndsEarly(in_, end, last_end)) return CONVERT_ERR_DAMAGED_INPUT;
    if ((rc = CheckFrameCounts(job_, counts_)) != CONVERT_OK) return rc;
    if (aac_ && (rc = aac_->Flush(oc)) != CONVERT_OK) return rc;
    return WriteTrailer(oc);
  }

  const Job& job_;
  Input& in_;
  JobContext& ctx_;
  FrameCounts& counts_;
  OutputPtr out_;
  AVStream* in_v_ = nullptr;
  AVStream* out_v_ = nullptr;
  AVStream* in_a_ = nullptr;
  AVStream* out_a_ = nullptr;
  std::unique_ptr<AacReencoder> aac_;  // set when the audio cannot be copied
};

// Pipeline items: a video frame or an audio packet in file order, then one end marker.
struct Item {
  enum class Kind { kVideo, kAudio, kEnd } kind = Kind::kEnd;
  FramePtr frame;
  PacketPtr packet;
  double t = 0;  // seconds from the start of the range
  int error = CONVERT_OK;
};

// An I420 frame whose planes lie back to back in one pooled buffer (strides = widths), as
// the stitcher reads and writes them.
FramePtr PooledFrame(AVBufferPool* pool, int w, int h) {
  FramePtr f = MakeFrame();
  if (!f) return f;
  f->buf[0] = av_buffer_pool_get(pool);
  if (!f->buf[0]) return nullptr;
  uint8_t* base = f->buf[0]->data;
  f->data[0] = base;
  f->data[1] = base + size_t(w) * h;
  f->data[2] = f->data[1] + size_t(w / 2) * (h / 2);
  f->linesize[0] = w;
  f->linesize[1] = f->linesize[2] = w / 2;
  f->width = w;
  f->height = h;
  f->format = AV_PIX_FMT_YUV420P;
  return f;
}

// The pipeline queues give up waiting once the job is stopped.
std::function<bool()> StopCheck(const JobContext& ctx) {
  return [&ctx] { return ctx.stopped(); };
}

class Transcoder {
 public:
  Transcoder(const Job& job, Input& in, JobContext& ctx, FrameCounts& counts, const reframe::ViewPath* path)
      : job_(job), in_(in), ctx_(ctx), counts_(counts), path_(path), q1_(4, StopCheck(ctx)), q2_(4, StopCheck(ctx)) {}

  int Run(const CameraInfo& camera, int rotation, const mp4::SphericalBoxes& boxes, JobFiles& files);

 private:
  int OpenDecoder();
  int PrepareFrames(const CameraInfo& camera, int rotation);
  int OpenMuxer(const std::string& raw, OutputPtr* out);
  int OpenEncoder(AVFormatContext* oc);
  bool ReadsInPlace(const AVFrame& f) const;
  int RunPipeline(AVFormatContext* oc);
  template <typename Loop>
  void RunGuarded(const Loop& loop);
  void ReadLoop();
  void MapLoop();
  int EncodeLoop(AVFormatContext* oc);
  int Drain(AVFormatContext* oc, bool flush);

  const Job& job_;
  Input& in_;
  JobContext& ctx_;
  FrameCounts& counts_;            // converted: written by the read thread before its end item
  const reframe::ViewPath* path_;  // a flat view along this path instead of the panorama; may be null
  CodecPtr dec_, enc_;
  std::unique_ptr<FrameMapper> mapper_;
  int src_w_ = 0, src_h_ = 0;  // decoded frames are read in place or converted to this I420 size
  int map_w_ = 0, map_h_ = 0;  // size the mapper writes
  int out_w_ = 0, out_h_ = 0;  // encoded size
  PoolPtr src_pool_, map_pool_, out_pool_;
  SwsPtr sws_;
  SwsPtr upscale_;  // map size to encoded size, used by the map thread only
  AVStream* out_v_ = nullptr;
  AVStream* out_a_ = nullptr;
  std::unique_ptr<AacReencoder> aac_;  // set when the audio cannot be copied
  double end_ = 0, span_ = 1;
  BoundedQueue<Item> q1_, q2_;
  int read_error_ = CONVERT_OK;                // written by the read thread before its end item
  std::atomic<int> thread_error_{CONVERT_OK};  // the first exception of a pipeline thread
  int64_t next_pts_ = 0;                       // next output frame number at a fixed output rate
};

int Transcoder::OpenDecoder() {
  const AVStream* s = in_.fmt->streams[in_.video];
  const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
  if (!codec) return CONVERT_ERR_DECODE;
  dec_.reset(avcodec_alloc_context3(codec));
  if (!dec_ || avcodec_parameters_to_context(dec_.get(), s->codecpar) < 0) return CONVERT_ERR_NO_MEMORY;
#if defined(__SANITIZE_THREAD__)
  // The decoder's frame threads hand each picture over through atomics inside FFmpeg, which
  // is not instrumented: ThreadSanitizer would report every later use of a decoded picture
  // (its conversion, stitching and release) as racing the frame thread that made it. Checked
  // builds decode on the calling thread; the engine's own threads run as always.
  dec_->thread_count = 1;
#else
  dec_->thread_count = 2;
#endif
  dec_->pkt_timebase = s->time_base;
  if (avcodec_open2(dec_.get(), codec, nullptr) < 0) return CONVERT_ERR_DECODE;
  return CONVERT_OK;
}

int Transcoder::OpenEncoder(AVFormatContext* oc) {
  const EncoderOptions& o = job_.encoder;
  const bool hevc = o.codec == "libx265";
  const AVCodec* codec = avcodec_find_encoder_by_name(o.codec.c_str());
  if (!codec) return CONVERT_ERR_ENCODER;
  enc_.reset(avcodec_alloc_context3(codec));
  if (!enc_) return CONVERT_ERR_NO_MEMORY;
  const AVStream* s = in_.fmt->streams[in_.video];
  enc_->width = out_w_;
  enc_->height = out_h_;
  enc_->pix_fmt = AV_PIX_FMT_YUV420P;
  enc_->sample_aspect_ratio = {1, 1};
  AVRational rate = s->avg_frame_rate.num > 0 ? s->avg_frame_rate : s->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = {25, 1};
  if (o.fps > 0) {
    enc_->time_base = {1, o.fps};
    enc_->framerate = {o.fps, 1};
  } else {
    enc_->time_base = s->time_base;
    enc_->framerate = rate;
  }
  if (o.bit_rate > 0) enc_->bit_rate = o.bit_rate;
  if (o.refs > 0) enc_->refs = o.refs;
  if (o.bframes >= 0) enc_->max_b_frames = o.bframes;
  enc_->thread_count = 0;
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* opts = nullptr;
  if (!o.preset.empty()) av_dict_set(&opts, "preset", o.preset.c_str(), 0);
  if (!o.profile.empty()) av_dict_set(&opts, "profile", o.profile.c_str(), 0);
  if (hevc) av_dict_set(&opts, "x265-params", X265Params(o).c_str(), 0);
  const int ret = avcodec_open2(enc_.get(), codec, &opts);
  av_dict_free(&opts);
  if (ret < 0) return SystemRefusesThreads() ? CONVERT_ERR_SYSTEM : CONVERT_ERR_ENCODER;
  out_v_ = avformat_new_stream(oc, nullptr);
  if (!out_v_ || avcodec_parameters_from_context(out_v_->codecpar, enc_.get()) < 0) return CONVERT_ERR_NO_MEMORY;
  // 'hvc1': the parameter sets only in the sample entry, the form every player reads.
  if (hevc) out_v_->codecpar->codec_tag = kHvc1;
  out_v_->time_base = enc_->time_base;
  out_v_->avg_frame_rate = enc_->framerate;
  return CONVERT_OK;
}

// Whether the map thread can read a decoded frame in place instead of a back-to-back I420
// copy: planar 4:2:0 of the source size, both chroma planes on one stride. Full-range
// frames (yuvj420p) are still converted, which maps them to the video range the output
// is encoded in; so are other formats and odd sizes.
bool Transcoder::ReadsInPlace(const AVFrame& f) const {
  return mapper_ && mapper_->ReadsPlanes() && f.format == AV_PIX_FMT_YUV420P && f.width == src_w_ &&
         f.height == src_h_ && f.linesize[0] >= src_w_ && f.linesize[1] >= src_w_ / 2 && f.linesize[1] == f.linesize[2];
}

// Read thread: demuxes, decodes the video, keeps what lies in the range and queues the
// frames with the audio packets in file order. Frames the map thread cannot read in place
// are converted to back-to-back I420 first; the others are handed over as they are (the
// decoder's frames are reference-counted, and it never writes a frame it has output).
void Transcoder::ReadLoop() {
  AVStream* vs = in_.fmt->streams[in_.video];
  AVStream* as = in_.audio >= 0 ? in_.fmt->streams[in_.audio] : nullptr;
  PacketPtr pkt = MakePacket();
  FramePtr frame = MakeFrame();
  bool video_done = false, audio_done = !as, eof = false;
  double last_t = -1;
  auto take_frames = [&]() -> bool {
    while (true) {
      int r = avcodec_receive_frame(dec_.get(), frame.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return true;  // a damaged frame: go on with the next
      double t = ToSeconds(frame->best_effort_timestamp, vs->time_base) - in_.origin;
      if (std::isnan(t)) t = last_t + 1.0 / 25;
      last_t = t;
      if (video_done || t < job_.start - kTimeEpsilon) {
        av_frame_unref(frame.get());
        continue;
      }
      if (t >= end_ - kTimeEpsilon) {
        video_done = true;
        av_frame_unref(frame.get());
        continue;
      }
      Item item;
      item.kind = Item::Kind::kVideo;
      item.t = t - job_.start;
      const bool in_place = ReadsInPlace(*frame);
      item.frame = in_place ? MakeFrame() : PooledFrame(src_pool_.get(), src_w_, src_h_);
      if (!item.frame) {
        read_error_ = CONVERT_ERR_NO_MEMORY;
        return false;
      }
      if (in_place) {
        av_frame_move_ref(item.frame.get(), frame.get());
      } else {
        sws_ = SwsPtr(sws_getCachedContext(sws_.release(), frame->width, frame->height, AVPixelFormat(frame->format),
                                           src_w_, src_h_, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!sws_) {
          read_error_ = CONVERT_ERR_DECODE;
          return false;
        }
        sws_scale(sws_.get(), frame->data, frame->linesize, 0, frame->height, item.frame->data, item.frame->linesize);
        av_frame_unref(frame.get());
      }
      ++counts_.converted;
      if (!q1_.Push(std::move(item))) return false;
    }
  };
  while (!(video_done && audio_done) && !eof) {
    if (ctx_.stopped()) break;
    int r = av_read_frame(in_.fmt.get(), pkt.get());
    if (r < 0) {
      eof = true;
      break;
    }
    if (pkt->stream_index == in_.video && !video_done) {
      if (avcodec_send_packet(dec_.get(), pkt.get()) == AVERROR(EAGAIN)) {
        if (!take_frames()) break;
        avcodec_send_packet(dec_.get(), pkt.get());
      }
      av_packet_unref(pkt.get());
      if (!take_frames()) break;
    } else if (as && pkt->stream_index == in_.audio && !audio_done) {
      const double t = ToSeconds(PacketTime(pkt.get()), as->time_base) - in_.origin;
      if (!std::isnan(t) && t >= end_ - kTimeEpsilon) {
        audio_done = true;
      } else if (!std::isnan(t) && t >= job_.start - kTimeEpsilon) {
        Item item;
        item.kind = Item::Kind::kAudio;
        item.t = t - job_.start;
        item.packet = MakePacket();
        av_packet_move_ref(item.packet.get(), pkt.get());
        if (!q1_.Push(std::move(item))) break;
      }
      av_packet_unref(pkt.get());
    } else {
      av_packet_unref(pkt.get());
    }
  }
  if (eof && !video_done && !ctx_.stopped()) {
    avcodec_send_packet(dec_.get(), nullptr);
    take_frames();
    if (read_error_ == CONVERT_OK && !job_.allow_missing && !video_done &&
        EndsEarly(in_, end_, last_t + in_.frame_duration))
      read_error_ = CONVERT_ERR_DAMAGED_INPUT;
  }
  Item end;
  end.error = read_error_;
  q1_.Push(std::move(end));
}

// Map thread: stitches each frame into a pooled panorama frame.
void Transcoder::MapLoop() {
  // Ends the job with `error`: the encoder learns it, the reader stops.
  const auto fail = [this](int error) {
    Item end;
    end.error = error;
    q2_.Push(std::move(end));
    q1_.Close();
  };
  while (auto item = q1_.Pop()) {
    // A flat view needs only the panorama rows it sees.
    reframe::ViewState view;
    int first_row = 0, end_row = map_h_;
    if (item->kind == Item::Kind::kVideo && path_) {
      view = path_->At(item->t);
      if (mapper_) reframe::PanoramaRows(map_w_, map_h_, view, out_w_, out_h_, &first_row, &end_row);
    }
    if (item->kind == Item::Kind::kVideo && mapper_) {
      FramePtr out = PooledFrame(map_pool_.get(), map_w_, map_h_);
      const AVFrame* in = item->frame.get();
      if (out && mapper_->ReadsPlanes()) {
        // Back-to-back copies are planes too, with strides equal to the widths.
        if (!mapper_->MapPlanes(in->data, in->linesize, out->data[0], first_row, end_row)) {
          fail(CONVERT_ERR_STITCH);
          return;
        }
      } else if (out) {
        mapper_->Map(in->data[0], out->data[0]);
      }
      if (out && upscale_) {
        // Stitched at the stitcher's width bound: scale up to the panorama size.
        FramePtr big = PooledFrame(out_pool_.get(), out_w_, out_h_);
        if (big) sws_scale(upscale_.get(), out->data, out->linesize, 0, map_h_, big->data, big->linesize);
        out = std::move(big);
      }
      if (!out) {
        fail(CONVERT_ERR_NO_MEMORY);
        return;
      }
      item->frame = std::move(out);
    }
    if (item->kind == Item::Kind::kVideo && path_) {
      // The flat view of the panorama at the frame's time, in two slices as the stitcher works.
      const AVFrame* pano = item->frame.get();
      FramePtr flat = PooledFrame(out_pool_.get(), out_w_, out_h_);
      if (!flat) {
        fail(CONVERT_ERR_NO_MEMORY);
        return;
      }
      reframe::RenderRectilinear({pano->data[0], pano->data[1], pano->data[2], pano->linesize[0], pano->linesize[1]},
                                 pano->width & ~1, pano->height & ~1, view, flat->data[0], out_w_, out_h_, 2);
      item->frame = std::move(flat);
    }
    const bool last = item->kind == Item::Kind::kEnd;
    if (!q2_.Push(std::move(*item))) {
      q1_.Close();
      return;
    }
    if (last) return;
  }
  q1_.Close();
}

int Transcoder::Drain(AVFormatContext* oc, bool flush) {
  if (flush && avcodec_send_frame(enc_.get(), nullptr) < 0) return CONVERT_ERR_ENCODER;
  PacketPtr pkt = MakePacket();
  while (true) {
    int r = avcodec_receive_packet(enc_.get(), pkt.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return CONVERT_OK;
    if (r < 0) return CONVERT_ERR_ENCODER;
    pkt->stream_index = out_v_->index;
    av_packet_rescale_ts(pkt.get(), enc_->time_base, out_v_->time_base);
    if (const int rc = WritePacket(oc, pkt.get()); rc != CONVERT_OK) return rc;
    if (flush && ctx_.stopped()) return CONVERT_ERR_STOPPED;
  }
}

int Transcoder::EncodeLoop(AVFormatContext* oc) {
  AVStream* as = in_.audio >= 0 ? in_.fmt->streams[in_.audio] : nullptr;
  int64_t encoded = 0;
  while (auto item = q2_.Pop()) {
    if (item->kind == Item::Kind::kEnd) {
      if (item->error != CONVERT_OK) return item->error;
      if (encoded == 0) return in_.duration > 0 && job_.start >= in_.duration ? CONVERT_ERR_RANGE : CONVERT_ERR_DECODE;
      int rc = CheckFrameCounts(job_, counts_);
      if (rc != CONVERT_OK) return rc;
      rc = Drain(oc, true);
      if (rc != CONVERT_OK) return rc;
      if (aac_ && (rc = aac_->Flush(oc)) != CONVERT_OK) return rc;
      return WriteTrailer(oc);
    }
    if (item->kind == Item::Kind::kAudio) {
      AVPacket* p = item->packet.get();
      if (aac_) {
        int rc = aac_->Feed(p, oc);
        if (rc != CONVERT_OK) return rc;
        continue;
      }
      const int64_t shift = llround((job_.start + in_.origin) / av_q2d(as->time_base));
      if (p->pts != AV_NOPTS_VALUE) p->pts -= shift;
      if (p->dts != AV_NOPTS_VALUE) p->dts -= shift;
      p->stream_index = out_a_->index;
      p->pos = -1;
      av_packet_rescale_ts(p, as->time_base, out_a_->time_base);
      if (const int rc = WritePacket(oc, p); rc != CONVERT_OK) return rc;
      continue;
    }
    AVFrame* f = item->frame.get();
    if (job_.encoder.fps > 0) {
      // Fixed output rate: each frame takes the nearest output slot; frames that would
      // repeat a slot already filled are dropped.
      const int64_t slot = llround(item->t * job_.encoder.fps);
      if (slot < next_pts_) continue;
      f->pts = slot;
      next_pts_ = slot + 1;
    } else {
      f->pts = llround(item->t / av_q2d(enc_->time_base));
      if (f->pts < next_pts_) continue;
      next_pts_ = f->pts + 1;
    }
    f->pict_type = AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(enc_.get(), f) < 0) return CONVERT_ERR_ENCODER;
    ++encoded;
    int rc = Drain(oc, false);
    if (rc != CONVERT_OK) return rc;
    ctx_.SetProgress(float(std::clamp(100.0 * item->t / span_, 0.0, 99.0)));
  }
  return ctx_.stopped() ? CONVERT_ERR_STOPPED : CONVERT_ERR_DECODE;
}

// Sizes, the frame mapper of a camera recording and the frame pools.
int Transcoder::PrepareFrames(const CameraInfo& camera, int rotation) {
  const AVCodecParameters* vp = in_.fmt->streams[in_.video]->codecpar;
  src_w_ = vp->width & ~1;
  src_h_ = vp->height & ~1;
  if (src_w_ < 2 || src_h_ < 2 || src_w_ > 16384 || src_h_ > 16384) return CONVERT_ERR_DECODE;
  if (camera.kind == CameraInfo::Kind::kSingleLens || camera.kind == CameraInfo::Kind::kDualLens) {
    mapper_ = MakeFrameMapper(camera, src_w_, src_h_, rotation, &map_w_, &map_h_);
    if (!mapper_) return CONVERT_ERR_STITCH;
    out_w_ = src_w_ & ~3;
    out_h_ = out_w_ / 2;
    if (map_w_ != out_w_ && !path_) {
      upscale_.reset(sws_getContext(map_w_, map_h_, AV_PIX_FMT_YUV420P, out_w_, out_h_, AV_PIX_FMT_YUV420P,
                                    SWS_BILINEAR, nullptr, nullptr, nullptr));
      if (!upscale_) return CONVERT_ERR_NO_MEMORY;
    }
  } else {
    out_w_ = src_w_;
    out_h_ = src_h_;
  }
  if (path_) {
    // The flat view is rendered from the panorama as the stitcher makes it.
    out_w_ = job_.view_width;
    out_h_ = job_.view_height;
  }
  src_pool_.reset(av_buffer_pool_init(size_t(src_w_) * src_h_ * 3 / 2 + 64, av_buffer_alloc));
  out_pool_.reset(av_buffer_pool_init(size_t(out_w_) * out_h_ * 3 / 2 + 64, av_buffer_alloc));
  map_pool_.reset(av_buffer_pool_init(size_t(std::max(map_w_, 2)) * std::max(map_h_, 2) * 3 / 2 + 64, av_buffer_alloc));
  if (!src_pool_ || !out_pool_ || !map_pool_) return CONVERT_ERR_NO_MEMORY;
  return CONVERT_OK;
}

// The muxer with the encoded video stream and the audio (copied, or as AAC), header
// written, and the input at the start of the range.
int Transcoder::OpenMuxer(const std::string& raw, OutputPtr* out) {
  int rc = OpenOutput(raw, ctx_, out);
  if (rc != CONVERT_OK) return rc;
  AVFormatContext* oc = out->get();
  if ((rc = OpenEncoder(oc)) != CONVERT_OK) return rc;
  if (in_.audio >= 0) {
    out_a_ = AddCopyStream(oc, in_.fmt->streams[in_.audio]);
    if (!out_a_) {
      aac_ = std::make_unique<AacReencoder>();
      if ((rc = aac_->Open(in_.fmt->streams[in_.audio], oc)) != CONVERT_OK) return rc;
    }
  }
  if (avformat_write_header(oc, nullptr) < 0) return CONVERT_ERR_WRITE;
  if ((rc = SeekTo(in_, job_.start)) != CONVERT_OK) return rc;
  end_ = job_.duration < 0 ? std::numeric_limits<double>::infinity() : job_.start + job_.duration;
  span_ = std::isinf(end_) ? std::max(in_.duration - job_.start, 1e-3) : job_.duration;
  return CONVERT_OK;
}

// Runs a pipeline loop; an exception it throws (no memory) ends the pipeline with a code
// instead of the process.
template <typename Loop>
void Transcoder::RunGuarded(const Loop& loop) {
  try {
    loop();
  } catch (...) {
    int none = CONVERT_OK;
    thread_error_.compare_exchange_strong(none, CurrentExceptionCode());
    q1_.Close();
    q2_.Close();
  }
}

// Read and map threads feed the encoding loop on this thread. Every thread that started is
// joined on every path, also when the second one cannot start.
int Transcoder::RunPipeline(AVFormatContext* oc) {
  std::thread reader, mapper;
  int rc = CONVERT_OK;
  try {
    reader = std::thread([this] { RunGuarded([this] { ReadLoop(); }); });
    mapper = std::thread([this] { RunGuarded([this] { MapLoop(); }); });
  } catch (const std::system_error&) {
    rc = CONVERT_ERR_SYSTEM;
  }
  if (rc == CONVERT_OK) RunGuarded([&] { rc = EncodeLoop(oc); });
  q2_.Close();
  q1_.Close();
  if (mapper.joinable()) mapper.join();
  if (reader.joinable()) reader.join();
  if (thread_error_ != CONVERT_OK) rc = thread_error_;
  return rc;
}

int Transcoder::Run(const CameraInfo& camera, int rotation, const mp4::SphericalBoxes& boxes, JobFiles& files) {
  int rc = OpenDecoder();
  if (rc == CONVERT_OK) rc = PrepareFrames(camera, rotation);
  OutputPtr out;
  if (rc == CONVERT_OK) rc = OpenMuxer(files.path(), &out);
  if (rc == CONVERT_OK) rc = RunPipeline(out.get());
  if (rc != CONVERT_OK) return ctx_.stopped() ? CONVERT_ERR_STOPPED : rc;
  out.reset();
  return files.Finish(boxes, ctx_);
}

}  // namespace

int RunConvert(const Job& job, int rotation, JobContext& ctx) {
  int rc = CheckInputFile(job.input);
  if (rc != CONVERT_OK) return rc;
  JobFiles files;
  if ((rc = files.Create(job, {job.input})) != CONVERT_OK) return rc;
  Input in;
  if ((rc = OpenInput(job.input, ctx, &in)) != CONVERT_OK) return rc;
  if (in.duration > 0 && job.start >= in.duration) return CONVERT_ERR_RANGE;

  reframe::ViewPath path;
  std::string path_error;
  if (!job.view_path.empty() && !reframe::ViewPath::ReadFile(job.view_path, &path, &path_error))
    return CONVERT_ERR_VIEW_PATH;
  CameraInfo camera;
  bool copy = job.copy;
  mp4::SphericalBoxes boxes = SphericalBoxesOf(job.input);
  if (job.stitch) {
    camera = ProbeCamera(job.input);
    if (camera.kind == CameraInfo::Kind::kNone) return CONVERT_ERR_CALIBRATION;
    if (camera.kind == CameraInfo::Kind::kStitchedByCamera) {
      // The camera stitched it already: copy, and say what it is.
      copy = true;
      if (!boxes.any()) boxes = mp4::EquirectangularBoxes(kSoftwareName);
    } else if (!copy) {
      boxes = mp4::EquirectangularBoxes(kSoftwareName);
    }
  }
  if (!job.view_path.empty()) {
    // A flat video: rendered from the panorama whoever stitched it, and marked as nothing.
    copy = false;
    boxes = {};
  }
  FrameCounts counts;
  counts.expected = IndexedFrames(
      in, job.start, job.duration < 0 ? std::numeric_limits<double>::infinity() : job.start + job.duration);
  rc = copy ? Copier(job, in, ctx, counts).Run(boxes, files)
            : Transcoder(job, in, ctx, counts, job.view_path.empty() ? nullptr : &path)
                  .Run(camera, rotation, boxes, files);
  if (rc != CONVERT_ERR_STOPPED) ReportFrameCounts(job, counts);
  return rc;
}

}  // namespace spherolux::convert
