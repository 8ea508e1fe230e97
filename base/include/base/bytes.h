// Byte-order helpers for reading and writing fixed-layout binary data.
//
// Every value is assembled byte by byte, so the helpers work on any alignment and never
// reinterpret a buffer as a structure. Callers check bounds before calling.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace spherolux {

inline uint16_t LoadBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t LoadBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
inline uint64_t LoadBE64(const uint8_t* p) { return uint64_t{LoadBE32(p)} << 32 | LoadBE32(p + 4); }

inline uint16_t LoadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline int32_t LoadLEI32(const uint8_t* p) { return static_cast<int32_t>(LoadLE32(p)); }
inline float LoadLEFloat(const uint8_t* p) { return std::bit_cast<float>(LoadLE32(p)); }

inline void StoreBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void StoreBE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
inline void StoreBE64(uint8_t* p, uint64_t v) {
  StoreBE32(p, static_cast<uint32_t>(v >> 32));
  StoreBE32(p + 4, static_cast<uint32_t>(v));
}
inline void StoreLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreLEFloat(uint8_t* p, float v) { StoreLE32(p, std::bit_cast<uint32_t>(v)); }

// Four-character code as a 32-bit big-endian value, as MP4 box types are compared.
constexpr uint32_t FourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
         uint32_t(uint8_t(s[3]));
}

}  // namespace spherolux
