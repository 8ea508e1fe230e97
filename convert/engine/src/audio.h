// Audio that MP4 cannot store as it is (PCM from MOV recordings, for instance) is decoded
// and encoded again as AAC; everything else is copied.
#pragma once

#include <memory>

#include "av.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

namespace spherolux::convert {

class AacReencoder {
 public:
  AacReencoder() = default;
  ~AacReencoder();
  AacReencoder(const AacReencoder&) = delete;
  AacReencoder& operator=(const AacReencoder&) = delete;

  // Sets up decoding of `in` and an AAC stream in `oc` (before its header is written).
  // Returns a result code.
  int Open(const AVStream* in, AVFormatContext* oc);
  // Decodes one packet of the input stream and writes the AAC packets that are complete.
  int Feed(AVPacket* packet, AVFormatContext* oc);
  // Writes what is left at the end.
  int Flush(AVFormatContext* oc);

 private:
  int EncodeFrom(AVFormatContext* oc, bool final);
  int Drain(AVFormatContext* oc);
  CodecPtr dec_, enc_;
  SwrContext* swr_ = nullptr;
  AVAudioFifo* fifo_ = nullptr;
  AVStream* out_ = nullptr;
  FramePtr decoded_, converted_;
  int64_t next_pts_ = 0;
};

}  // namespace spherolux::convert
