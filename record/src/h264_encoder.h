// x264 opened with the screen recorder's parameters, one I420 picture at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

extern "C" {
#include <x264.h>
}

namespace spherolux::record {

class H264Encoder {
 public:
  // Receives each encoded frame: its NAL units (Annex B, laid out back to back in memory),
  // the pts given with its picture, and whether it is a key frame. Valid during the call.
  using Output = std::function<void(std::span<const x264_nal_t> nals, int64_t pts, bool key)>;

  // x264's defaults with the recorder's settings: average bit rate 10,485 kbit/s, one
  // reference, no B-frames, CAVLC, no 8x8 transform, no weighted prediction or lookahead,
  // intra 4x4/8x8 partitions only, diamond search of range 8, subpel refine 0, no AQ, no
  // mixed references, trellis, MB-tree or DCT decimation; constant frame rate `fps`; key
  // frame interval 30; parameter sets before every key frame. False when x264 refuses.
  bool Open(int width, int height, int fps);
  // Encodes a picture (Y, then U, then V, packed) as an IDR picture when `key`, else as a
  // P picture. False when x264 fails.
  bool Encode(uint8_t* i420, int64_t pts, bool key, const Output& out);
  // Drains the frames x264 still holds (its frame threads delay output).
  void Flush(const Output& out);

 private:
  bool Emit(x264_picture_t* in, const Output& out);
  struct Closer {
    void operator()(x264_t* e) const { x264_encoder_close(e); }
  };
  std::unique_ptr<x264_t, Closer> encoder_;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace spherolux::record
