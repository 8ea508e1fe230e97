#include "calib/panorama_xmp.h"

#include <array>

namespace spherolux {
namespace {

constexpr char kText[] =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
    "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
    "<rdf:Description rdf:about=\"\" xmlns:GPano=\"http://ns.google.com/photos/1.0/panorama/\"\n"
    "GPano:UsePanoramaViewer=\"True\"\n"
    "GPano:ProjectionType=\"equirectangular\"\n"
    "GPano:CroppedAreaImageHeightPixels=\"2688\"\n"
    "GPano:CroppedAreaImageWidthPixels=\"5376\"\n"
    "GPano:FullPanoHeightPixels=\"2688\"\n"
    "GPano:FullPanoWidthPixels=\"5376\"\n"
    "GPano:CroppedAreaTopPixels=\"0\"\n"
    "GPano:CroppedAreaLeftPixels=\"0\"\n"
    "GPano:PoseHeadingDegrees=\"0.0\"\n"
    "GPano:StitchingSoftware=\"Arvelo Instrument\"\n"
    "GPano:PosePitchDegrees=\"0.0\"\n"
    "GPano:PoseRollDegrees=\"0.0\"/>\n"
    "</rdf:RDF>\n"
    "</x:xmpmeta>\n";
static_assert(sizeof kText - 1 == kPanoramaXmpTextSize);

// XMP in JPEG: APP1 whose data starts with this namespace identifier and a NUL (XMP
// Specification Part 3, 1.1.3).
constexpr char kXmpIdentifier[] = "http://ns.adobe.com/xap/1.0/";
static_assert(sizeof kXmpIdentifier == 29);

constexpr std::array<uint8_t, kPanoramaXmpSegmentSize> MakeSegment() {
  std::array<uint8_t, kPanoramaXmpSegmentSize> s{};
  s[0] = 0xFF;
  s[1] = 0xE1;
  s[2] = uint8_t(kPanoramaXmpSegmentLength >> 8);
  s[3] = uint8_t(kPanoramaXmpSegmentLength & 0xFF);
  size_t o = 4;
  for (size_t i = 0; i < sizeof kXmpIdentifier; ++i) s[o++] = uint8_t(kXmpIdentifier[i]);  // with its NUL
  for (size_t i = 0; i < kPanoramaXmpTextSize; ++i) s[o++] = uint8_t(kText[i]);
  s[o++] = 0;
  return s;
}

}  // namespace

const std::string_view kPanoramaXmpText(kText, kPanoramaXmpTextSize);
const std::array<uint8_t, kPanoramaXmpSegmentSize> kPanoramaXmpSegment = MakeSegment();

}  // namespace spherolux
