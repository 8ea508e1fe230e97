#include "h264_encoder.h"

namespace spherolux::record {

bool H264Encoder::Open(int width, int height, int fps) {
  x264_param_t p;
  x264_param_default(&p);
  p.i_log_level = X264_LOG_ERROR;
  p.i_csp = X264_CSP_I420;
  p.i_width = width;
  p.i_height = height;
  p.i_fps_num = static_cast<uint32_t>(fps) * 1000;
  p.i_fps_den = 1000;
  p.i_keyint_max = 30;
  p.rc.i_rc_method = X264_RC_ABR;
  p.rc.i_bitrate = 10485760 / 1000;
  p.i_frame_reference = 1;
  p.i_bframe = 0;
  p.i_bframe_adaptive = 0;
  p.b_cabac = 0;
  p.analyse.b_transform_8x8 = 0;
  p.analyse.i_weighted_pred = 0;
  p.rc.i_lookahead = 0;
  p.b_vfr_input = 0;
  p.analyse.inter = X264_ANALYSE_I4x4 | X264_ANALYSE_I8x8;
  p.analyse.i_me_method = X264_ME_DIA;
  p.analyse.i_me_range = 8;
  p.analyse.i_subpel_refine = 0;
  p.rc.i_aq_mode = 0;
  p.analyse.b_mixed_references = 0;
  p.analyse.i_trellis = 0;
  p.rc.b_mb_tree = 0;
  p.analyse.b_dct_decimate = 0;
  p.b_repeat_headers = 1;
  p.b_annexb = 1;
  encoder_.reset(x264_encoder_open(&p));
  width_ = width;
  height_ = height;
  return encoder_ != nullptr;
}

bool H264Encoder::Encode(uint8_t* i420, int64_t pts, bool key, const Output& out) {
  if (!encoder_) return false;
  x264_picture_t pic;
  x264_picture_init(&pic);
  pic.i_type = key ? X264_TYPE_IDR : X264_TYPE_P;
  pic.i_pts = pts;
  pic.img.i_csp = X264_CSP_I420;
  pic.img.i_plane = 3;
  const size_t luma = static_cast<size_t>(width_) * height_;
  pic.img.plane[0] = i420;
  pic.img.plane[1] = i420 + luma;
  pic.img.plane[2] = i420 + luma + luma / 4;
  pic.img.i_stride[0] = width_;
  pic.img.i_stride[1] = pic.img.i_stride[2] = width_ / 2;
  return Emit(&pic, out);
}

void H264Encoder::Flush(const Output& out) {
  while (encoder_ && x264_encoder_delayed_frames(encoder_.get()) > 0) {
    if (!Emit(nullptr, out)) break;
  }
}

bool H264Encoder::Emit(x264_picture_t* in, const Output& out) {
  x264_nal_t* nals = nullptr;
  int count = 0;
  x264_picture_t pic_out;
  const int size = x264_encoder_encode(encoder_.get(), &nals, &count, in, &pic_out);
  if (size < 0) return false;
  if (size > 0 && count > 0)
    out(std::span<const x264_nal_t>(nals, static_cast<size_t>(count)), pic_out.i_pts, pic_out.b_keyframe != 0);
  return true;
}

}  // namespace spherolux::record
