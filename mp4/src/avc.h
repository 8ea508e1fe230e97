// H.264 byte stream helpers (ITU-T H.264 Annex B; ISO/IEC 14496-15 5.3 for the MP4 forms).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace spherolux::mp4 {

// Calls fn(nal) for every NAL unit of an Annex B byte stream, without its start code and
// without the zero bytes that pad it before the next start code. Bytes before the first
// start code are ignored.
template <typename Fn>
void ForEachAnnexBNal(std::span<const uint8_t> stream, const Fn& fn) {
  const size_t n = stream.size();
  const uint8_t* p = stream.data();
  // Position just past the first start code at or after `from`, or n.
  auto next_start = [&](size_t from) {
    for (size_t i = from; i + 3 <= n; ++i) {
      if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i + 3;
    }
    return n;
  };
  size_t begin = next_start(0);
  while (begin < n) {
    size_t after = next_start(begin);
    size_t end = after == n ? n : after - 3;
    while (end > begin && p[end - 1] == 0) --end;  // the leading zero of a 4-byte start code
    if (end > begin) fn(stream.subspan(begin, end - begin));
    begin = after;
  }
}

inline int NalType(std::span<const uint8_t> nal) { return nal.empty() ? -1 : nal[0] & 0x1f; }

// Builds an AVCDecoderConfigurationRecord ('avcC' body) from the SPS and PPS NAL units of an
// Annex B stream. False when the stream holds no SPS or no PPS.
bool AvcConfigFromAnnexB(std::span<const uint8_t> stream, std::vector<uint8_t>* avcc);

// Appends the NAL units of an Annex B stream to `out`, each behind a 4-byte big-endian
// length (lengthSizeMinusOne = 3 in the 'avcC' record above).
void AnnexBToLengthPrefixed(std::span<const uint8_t> stream, std::vector<uint8_t>* out);

}  // namespace spherolux::mp4
