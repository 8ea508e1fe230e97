#include "audio.h"

#include "convert/engine.h"
#include "jobs.h"

namespace spherolux::convert {

AacReencoder::~AacReencoder() {
  swr_free(&swr_);
  if (fifo_) av_audio_fifo_free(fifo_);
}

int AacReencoder::Open(const AVStream* in, AVFormatContext* oc) {
  const AVCodec* dcodec = avcodec_find_decoder(in->codecpar->codec_id);
  const AVCodec* ecodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!dcodec || !ecodec) return CONVERT_ERR_AUDIO;
  dec_.reset(avcodec_alloc_context3(dcodec));
  enc_.reset(avcodec_alloc_context3(ecodec));
  decoded_ = MakeFrame();
  converted_ = MakeFrame();
  if (!dec_ || !enc_ || !decoded_ || !converted_) return CONVERT_ERR_NO_MEMORY;
  if (avcodec_parameters_to_context(dec_.get(), in->codecpar) < 0) return CONVERT_ERR_AUDIO;
  dec_->pkt_timebase = in->time_base;
  if (avcodec_open2(dec_.get(), dcodec, nullptr) < 0) return CONVERT_ERR_AUDIO;
  if (dec_->sample_rate <= 0 || dec_->ch_layout.nb_channels <= 0) return CONVERT_ERR_AUDIO;
  if (dec_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    const int n = dec_->ch_layout.nb_channels;
    av_channel_layout_uninit(&dec_->ch_layout);
    av_channel_layout_default(&dec_->ch_layout, n);
  }

  enc_->sample_fmt = AV_SAMPLE_FMT_FLTP;
  enc_->sample_rate = dec_->sample_rate;
  av_channel_layout_default(&enc_->ch_layout, std::min(dec_->ch_layout.nb_channels, 8));
  enc_->bit_rate = 64000 * std::min(enc_->ch_layout.nb_channels, 6);
  enc_->time_base = {1, enc_->sample_rate};
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(enc_.get(), ecodec, nullptr) < 0) return CONVERT_ERR_AUDIO;

  if (swr_alloc_set_opts2(&swr_, &enc_->ch_layout, enc_->sample_fmt, enc_->sample_rate, &dec_->ch_layout,
                          dec_->sample_fmt, dec_->sample_rate, 0, nullptr) < 0 ||
      swr_init(swr_) < 0)
    return CONVERT_ERR_AUDIO;
  fifo_ = av_audio_fifo_alloc(enc_->sample_fmt, enc_->ch_layout.nb_channels, enc_->frame_size * 2);
  if (!fifo_) return CONVERT_ERR_NO_MEMORY;

  out_ = avformat_new_stream(oc, nullptr);
  if (!out_ || avcodec_parameters_from_context(out_->codecpar, enc_.get()) < 0) return CONVERT_ERR_NO_MEMORY;
  out_->time_base = enc_->time_base;
  return CONVERT_OK;
}

int AacReencoder::Drain(AVFormatContext* oc) {
  PacketPtr pkt = MakePacket();
  while (true) {
    int r = avcodec_receive_packet(enc_.get(), pkt.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return CONVERT_OK;
    if (r < 0) return CONVERT_ERR_AUDIO;
    pkt->stream_index = out_->index;
    av_packet_rescale_ts(pkt.get(), enc_->time_base, out_->time_base);
    if (const int r = av_interleaved_write_frame(oc, pkt.get()); r < 0) return WriteError(r);
  }
}

// Encodes whole encoder frames from the FIFO; `final` also encodes the last partial one.
int AacReencoder::EncodeFrom(AVFormatContext* oc, bool final) {
  const int frame_size = enc_->frame_size > 0 ? enc_->frame_size : 1024;
  while (av_audio_fifo_size(fifo_) >= frame_size || (final && av_audio_fifo_size(fifo_) > 0)) {
    FramePtr f = MakeFrame();
    if (!f) return CONVERT_ERR_NO_MEMORY;
    f->nb_samples = std::min(frame_size, av_audio_fifo_size(fifo_));
    f->format = enc_->sample_fmt;
    f->sample_rate = enc_->sample_rate;
    if (av_channel_layout_copy(&f->ch_layout, &enc_->ch_layout) < 0 || av_frame_get_buffer(f.get(), 0) < 0)
      return CONVERT_ERR_NO_MEMORY;
    if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(f->data), f->nb_samples) < f->nb_samples)
      return CONVERT_ERR_AUDIO;
    f->pts = next_pts_;
    next_pts_ += f->nb_samples;
    if (avcodec_send_frame(enc_.get(), f.get()) < 0) return CONVERT_ERR_AUDIO;
    int rc = Drain(oc);
    if (rc != CONVERT_OK) return rc;
  }
  return CONVERT_OK;
}

int AacReencoder::Feed(AVPacket* packet, AVFormatContext* oc) {
  if (avcodec_send_packet(dec_.get(), packet) < 0) return CONVERT_OK;  // a damaged packet is skipped
  while (avcodec_receive_frame(dec_.get(), decoded_.get()) >= 0) {
    av_frame_unref(converted_.get());
    converted_->format = enc_->sample_fmt;
    converted_->sample_rate = enc_->sample_rate;
    if (av_channel_layout_copy(&converted_->ch_layout, &enc_->ch_layout) < 0) return CONVERT_ERR_NO_MEMORY;
    // The decoder's layout may be unspecified: resample from the layout set up in Open.
    if (decoded_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_uninit(&decoded_->ch_layout);
      av_channel_layout_copy(&decoded_->ch_layout, &dec_->ch_layout);
    }
    const int r = swr_convert_frame(swr_, converted_.get(), decoded_.get());
    av_frame_unref(decoded_.get());
    if (r < 0) return CONVERT_ERR_AUDIO;
    if (av_audio_fifo_write(fifo_, reinterpret_cast<void**>(converted_->data), converted_->nb_samples) <
        converted_->nb_samples)
      return CONVERT_ERR_NO_MEMORY;
    int rc = EncodeFrom(oc, false);
    if (rc != CONVERT_OK) return rc;
  }
  return CONVERT_OK;
}

int AacReencoder::Flush(AVFormatContext* oc) {
  int rc = Feed(nullptr, oc);
  if (rc != CONVERT_OK) return rc;
  if ((rc = EncodeFrom(oc, true)) != CONVERT_OK) return rc;
  if (avcodec_send_frame(enc_.get(), nullptr) < 0) return CONVERT_ERR_AUDIO;
  return Drain(oc);
}

}  // namespace spherolux::convert
