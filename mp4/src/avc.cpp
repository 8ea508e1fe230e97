#include "avc.h"

#include "base/bytes.h"

namespace spherolux::mp4 {
namespace {

constexpr int kNalSps = 7;
constexpr int kNalPps = 8;

// Reads the bits of an RBSP (emulation prevention bytes already removed), MSB first.
// Reads past the end give zero bits and set `overrun`.
class BitReader {
 public:
  explicit BitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint32_t Bit() {
    if (pos_ >= bytes_.size() * 8) {
      overrun = true;
      return 0;
    }
    const uint32_t b = (bytes_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
    ++pos_;
    return b;
  }
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 1 | Bit();
    return v;
  }
  // ue(v), H.264 9.1.
  uint32_t Golomb() {
    int zeros = 0;
    while (Bit() == 0 && !overrun && zeros < 32) ++zeros;
    if (zeros >= 32) {
      overrun = true;
      return 0;
    }
    return (uint32_t{1} << zeros) - 1 + Bits(zeros);
  }
  bool overrun = false;

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

std::vector<uint8_t> Unescape(std::span<const uint8_t> nal) {
  std::vector<uint8_t> out;
  out.reserve(nal.size());
  int zeros = 0;
  for (uint8_t b : nal) {
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
  return out;
}

// Profiles whose SPS carries chroma_format_idc and bit depths (H.264 7.3.2.1.1).
bool HasChromaFields(int profile) {
  switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
      return true;
    default:
      return false;
  }
}

void PutParameterSets(const std::vector<std::span<const uint8_t>>& sets, std::vector<uint8_t>* out) {
  for (auto s : sets) {
    const size_t at = out->size();
    out->resize(at + 2);
    StoreBE16(out->data() + at, static_cast<uint16_t>(s.size()));
    out->insert(out->end(), s.begin(), s.end());
  }
}

}  // namespace

bool AvcConfigFromAnnexB(std::span<const uint8_t> stream, std::vector<uint8_t>* avcc) {
  std::vector<std::span<const uint8_t>> sps, pps;
  ForEachAnnexBNal(stream, [&](std::span<const uint8_t> nal) {
    // A length must fit the record's 16-bit field; at most 31 SPS and 255 PPS.
    if (nal.size() > 0xffff) return;
    if (NalType(nal) == kNalSps && nal.size() >= 4 && sps.size() < 31) sps.push_back(nal);
    if (NalType(nal) == kNalPps && pps.size() < 255) pps.push_back(nal);
  });
  if (sps.empty() || pps.empty()) return false;
  const auto& first = sps.front();
  const int profile = first[1];
  avcc->assign({1, first[1], first[2], first[3], 0xff /* 6 reserved bits, lengthSizeMinusOne 3 */,
                static_cast<uint8_t>(0xe0 | sps.size())});
  PutParameterSets(sps, avcc);
  avcc->push_back(static_cast<uint8_t>(pps.size()));
  PutParameterSets(pps, avcc);
  // ISO/IEC 14496-15 5.3.3.1.2: the High profiles add chroma format and bit depths.
  if (profile == 100 || profile == 110 || profile == 122 || profile == 144) {
    const std::vector<uint8_t> rbsp = Unescape(first);
    BitReader bits(std::span<const uint8_t>(rbsp).subspan(4));  // after header, profile, flags, level
    bits.Golomb();                                              // seq_parameter_set_id
    uint32_t chroma = 1, luma_depth = 0, chroma_depth = 0;
    if (HasChromaFields(profile)) {
      chroma = bits.Golomb();
      if (chroma == 3) bits.Bit();  // separate_colour_plane_flag
      luma_depth = bits.Golomb();
      chroma_depth = bits.Golomb();
    }
    if (bits.overrun || chroma > 3 || luma_depth > 7 || chroma_depth > 7) return false;
    avcc->push_back(static_cast<uint8_t>(0xfc | chroma));
    avcc->push_back(static_cast<uint8_t>(0xf8 | luma_depth));
    avcc->push_back(static_cast<uint8_t>(0xf8 | chroma_depth));
    avcc->push_back(0);  // numOfSequenceParameterSetExt
  }
  return true;
}

void AnnexBToLengthPrefixed(std::span<const uint8_t> stream, std::vector<uint8_t>* out) {
  ForEachAnnexBNal(stream, [&](std::span<const uint8_t> nal) {
    const size_t at = out->size();
    out->resize(at + 4);
    StoreBE32(out->data() + at, static_cast<uint32_t>(nal.size()));
    out->insert(out->end(), nal.begin(), nal.end());
  });
}

}  // namespace spherolux::mp4
