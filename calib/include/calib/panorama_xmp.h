// The panorama XMP packet that every JPEG written by the system carries, and the maker
// string that marks it as ours.
//
// The segment is a complete APP1 marker segment: FF E1, length 662 (big-endian, counting
// itself and 660 data bytes), the XMP namespace identifier with its NUL, the 630-byte
// packet text (Photo Sphere XMP, GPano properties), and a closing NUL.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace spherolux {

constexpr size_t kPanoramaXmpTextSize = 630;
constexpr size_t kPanoramaXmpSegmentLength = 662;                          // the length field
constexpr size_t kPanoramaXmpSegmentSize = 2 + kPanoramaXmpSegmentLength;  // with the marker

// The packet text alone: 630 bytes, LF-separated lines, ending in LF.
extern const std::string_view kPanoramaXmpText;
// The whole APP1 segment, marker included: 664 bytes.
extern const std::array<uint8_t, kPanoramaXmpSegmentSize> kPanoramaXmpSegment;

// "Arvelo Instrument", written as GPano:StitchingSoftware.
inline constexpr std::string_view kMakerString = "Arvelo Instrument";

}  // namespace spherolux
