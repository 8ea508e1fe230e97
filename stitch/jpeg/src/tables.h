// Constant tables of ITU-T T.81 shared by the decoder and the encoder.
#pragma once

#include <cstdint>

namespace spherolux::jpeg {

// Zig-zag position k -> natural (row-major) index (T.81 figure A.6). Entries 64..79 map
// to 63 so that a corrupt run past the end of a block stays inside it.
extern const uint8_t kZigzagToNatural[80];

// Annex K.1 / K.2 quantisation tables, natural order.
extern const uint8_t kLuminanceQuant[64];
extern const uint8_t kChrominanceQuant[64];

// Annex K.3 typical Huffman tables: 16 code counts, then the values.
struct HuffmanSpec {
  uint8_t counts[16];
  const uint8_t* values;
  int value_count;
};
extern const HuffmanSpec kDcLuminance;
extern const HuffmanSpec kAcLuminance;
extern const HuffmanSpec kDcChrominance;
extern const HuffmanSpec kAcChrominance;

// Quality 1..100 (clamped) to a table in natural order: S = 5000 / q below 50, else
// 200 - 2q; entry = (S * base + 50) / 100 clamped to 1..255. The chrominance table caps S
// at 240.
void ScaleQuantTable(int quality, bool chrominance, uint16_t out[64]);

}  // namespace spherolux::jpeg
