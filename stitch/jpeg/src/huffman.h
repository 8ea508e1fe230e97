// Huffman tables of T.81 Annex C in the forms the decoder and the encoder use.
#pragma once

#include <cstdint>

namespace spherolux::jpeg {

inline constexpr int kHuffmanLookupBits = 9;

struct HuffmanDecodeTable {
  // Codes of up to kHuffmanLookupBits bits, indexed by the next bits of the stream:
  // (code length << 8) | value, or 0 when the code is longer.
  uint16_t lookup[1 << kHuffmanLookupBits];
  int32_t max_code[18];      // largest code of each length, -1 when there is none
  int32_t value_offset[18];  // index into values of code 0 of each length
  uint8_t values[256];
  // For AC tables: a code and the extra bits of its coefficient together within
  // kHuffmanLookupBits bits, indexed the same way: (coefficient << 16) | (run << 8) | bits
  // used, or 0 when the pair does not fit.
  int32_t fast_ac[1 << kHuffmanLookupBits];
  bool defined;
};

struct HuffmanEncodeTable {
  uint16_t code[256];
  uint8_t size[256];  // 0: the value has no code
};

// Builds the tables from the counts of codes per length (BITS) and the values (HUFFVAL),
// following C.2 and F.2.2.3. Returns false when the counts exceed 256 values or the code
// space (the all-ones code of each length is reserved).
bool BuildDecodeTable(const uint8_t counts[16], const uint8_t* values, int value_count, HuffmanDecodeTable* out);
bool BuildEncodeTable(const uint8_t counts[16], const uint8_t* values, int value_count, HuffmanEncodeTable* out);

}  // namespace spherolux::jpeg
