#include "huffman.h"

#include <cstring>

namespace spherolux::jpeg {
namespace {

// Generates the code of each value in order (C.2, figures C.1 and C.2). Returns the number
// of codes, or -1 for an invalid table.
int GenerateCodes(const uint8_t counts[16], int value_count, uint16_t codes[256], uint8_t sizes[256]) {
  int total = 0;
  for (int l = 0; l < 16; ++l) total += counts[l];
  if (total > 256 || total > value_count) return -1;
  uint32_t code = 0;
  int k = 0;
  for (int l = 1; l <= 16; ++l) {
    for (int i = 0; i < counts[l - 1]; ++i) {
      codes[k] = static_cast<uint16_t>(code++);
      sizes[k++] = static_cast<uint8_t>(l);
    }
    if (code >= (1u << l)) return -1;
    code <<= 1;
  }
  return total;
}

}  // namespace

bool BuildDecodeTable(const uint8_t counts[16], const uint8_t* values, int value_count, HuffmanDecodeTable* out) {
  uint16_t codes[256];
  uint8_t sizes[256];
  const int n = GenerateCodes(counts, value_count, codes, sizes);
  if (n < 0) return false;
  std::memset(out, 0, sizeof *out);
  std::memcpy(out->values, values, static_cast<size_t>(n));
  int k = 0;
  for (int l = 1; l <= 16; ++l) {
    if (counts[l - 1] == 0) {
      out->max_code[l] = -1;
      continue;
    }
    out->value_offset[l] = k - codes[k];
    k += counts[l - 1];
    out->max_code[l] = codes[k - 1];
  }
  out->max_code[17] = 0x7FFFFFFF;  // sentinel; never reached for valid lengths
  for (int i = 0; i < n; ++i) {
    if (sizes[i] > kHuffmanLookupBits) continue;
    const int shift = kHuffmanLookupBits - sizes[i];
    const int first = codes[i] << shift;
    for (int j = 0; j < (1 << shift); ++j) out->lookup[first + j] = static_cast<uint16_t>(sizes[i] << 8 | values[i]);
  }
  for (int i = 0; i < (1 << kHuffmanLookupBits); ++i) {
    const int e = out->lookup[i];
    if (e == 0) continue;
    const int len = e >> 8, run = (e >> 4) & 15, size = e & 15;
    if (size == 0 || len + size > kHuffmanLookupBits) continue;
    // The extra bits follow the code; extend them to the coefficient (F.2.2.1).
    const int bits = (i >> (kHuffmanLookupBits - len - size)) & ((1 << size) - 1);
    const int value = bits < (1 << (size - 1)) ? bits - (1 << size) + 1 : bits;
    out->fast_ac[i] = static_cast<int32_t>(static_cast<uint32_t>(value) << 16) | run << 8 | (len + size);
  }
  out->defined = true;
  return true;
}

bool BuildEncodeTable(const uint8_t counts[16], const uint8_t* values, int value_count, HuffmanEncodeTable* out) {
  uint16_t codes[256];
  uint8_t sizes[256];
  const int n = GenerateCodes(counts, value_count, codes, sizes);
  if (n < 0) return false;
  std::memset(out, 0, sizeof *out);
  for (int i = 0; i < n; ++i) {
    out->code[values[i]] = codes[i];
    out->size[values[i]] = sizes[i];
  }
  return true;
}

}  // namespace spherolux::jpeg
